/* SPDX-License-Identifier: MIT */
/* A portable example: plays a PLV file from an SD card to an SPI panel with
 * no frame buffer, through a ring of 8 rows of a 320-pixel panel (5 KiB).
 * The card and panel calls are stubs: put the board's own in their place.
 * Builds for a Cortex-M0+ (arm-none-eabi-gcc -mcpu=cortex-m0plus -mthumb). */
#include "plv_player.h"

#define SECTOR_SIZE 512
#define PANEL_WIDTH 320
#define RING_ROWS 8

static uint8_t sector[SECTOR_SIZE];
static uint8_t ring[2 * PANEL_WIDTH * RING_ROWS];
static plv_player player;

/* --- The board's own calls go here. --------------------------------- */

/* Reads the next bytes of the file, for example one sector with FatFs's
 * f_read; returns how many, 0 at the end. */
static size_t card_read(uint8_t* buffer, size_t size)
{
    (void)buffer;
    (void)size;
    return 0;
}

/* Moves the file's read position, for example with FatFs's f_lseek. */
static int card_seek(uint64_t offset)
{
    (void)offset;
    return 0;
}

/* The panel's "set window" (CASET/RASET and RAMWR on an ILI9341 or ST7789). */
static void panel_set_window(uint32_t x, uint32_t y, uint32_t width, uint32_t height)
{
    (void)x;
    (void)y;
    (void)width;
    (void)height;
}

/* The panel's "write pixels": the words go out as they are stored, so the
 * file's word format is the panel's (rgb565be for most SPI panels). */
static void panel_write_pixels(const uint8_t* words, uint32_t count)
{
    (void)words;
    (void)count;
}

/* Waits until the next frame is due: numerator / denominator frames a second. */
static void wait_frame(uint32_t numerator, uint32_t denominator)
{
    (void)numerator;
    (void)denominator;
}

/* -------------------------------------------------------------------- */

static size_t read_bytes(void* user, const uint8_t** bytes)
{
    (void)user;
    *bytes = sector;
    return card_read(sector, sizeof sector);
}

static int seek_bytes(void* user, uint64_t offset)
{
    (void)user;
    return card_seek(offset);
}

/* A span of one row: a window one row high, then its words. */
static void paint(void* user, uint32_t x, uint32_t y, const uint8_t* words, uint32_t count)
{
    (void)user;
    panel_set_window(x, y, count, 1);
    panel_write_pixels(words, count);
}

/* Plays the file over and over; returns the error that stopped it. */
int play_video(uint64_t file_size)
{
    int status = plv_open_stream(&player, read_bytes, seek_bytes, 0, file_size);
    if (status != PLV_OK) return status;
    status = plv_set_ring(&player, ring, sizeof ring, paint, 0);
    if (status != PLV_OK) return status; /* a profile 1 file, or a window over 8 rows */
    for (;;) {
        status = plv_next_frame(&player);
        if (status == PLV_END) status = plv_rewind(&player);
        if (status < 0) return status;
        wait_frame(player.info.rate_numerator, player.info.rate_denominator);
    }
}
