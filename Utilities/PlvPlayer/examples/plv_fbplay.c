/* SPDX-License-Identifier: MIT */
/* Plays a PLV file on a Linux framebuffer of 16 bits a pixel, at the file's
 * frame rate, looping. The device may also be a plain file: each frame is
 * then written over its start, rows packed.
 *
 *   plv_fbplay [--once | --loops N] FILE DEVICE
 *
 * The file is read through the player's read callback, 64 KiB at a time;
 * the pixel words go to the device unchanged, so the file's word format
 * must be the framebuffer's (rgb565le on most). */
#define _POSIX_C_SOURCE 200809L
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/fb.h>
#include <sys/ioctl.h>
#endif

#include "plv_player.h"

#define READ_SIZE 65536
#define NANOSECONDS 1000000000LL
#define FRAMEBUFFER_BITS 16

static unsigned char read_buffer[READ_SIZE];

static size_t read_file(void* user, const uint8_t** bytes)
{
    ssize_t got;
    do got = read(*(int*)user, read_buffer, sizeof read_buffer);
    while (got < 0 && errno == EINTR);
    *bytes = read_buffer;
    return got > 0 ? (size_t)got : 0;
}

static int seek_file(void* user, uint64_t offset)
{
    return lseek(*(int*)user, (off_t)offset, SEEK_SET) == (off_t)offset ? 0 : -1;
}

static int write_at(int fd, const uint8_t* bytes, size_t size, off_t offset)
{
    while (size > 0) {
        const ssize_t put = pwrite(fd, bytes, size, offset);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return -1;
        bytes += put;
        size -= (size_t)put;
        offset += put;
    }
    return 0;
}

static int usage(void)
{
    fprintf(stderr, "usage: plv_fbplay [--once | --loops N] FILE DEVICE\n");
    return 1;
}

int main(int argc, char** argv)
{
    long loops = -1; /* forever */
    int arg = 1, file, device, status;
    size_t line_bytes, rows, row_bytes, y;
    uint8_t* frame;
    plv_player player;
    struct stat file_stat;
    struct timespec due;
    if (arg < argc && strcmp(argv[arg], "--once") == 0) {
        loops = 1;
        ++arg;
    } else if (arg + 1 < argc && strcmp(argv[arg], "--loops") == 0) {
        char* end;
        loops = strtol(argv[arg + 1], &end, 10);
        if (*end != '\0' || loops < 1) return usage();
        arg += 2;
    }
    if (argc - arg != 2) return usage();
    file = open(argv[arg], O_RDONLY);
    if (file < 0 || fstat(file, &file_stat) != 0) {
        fprintf(stderr, "Could not open %s: %s\n", argv[arg], strerror(errno));
        return 3;
    }
    status = plv_open_stream(&player, read_file, seek_file, &file, (uint64_t)file_stat.st_size);
    if (status != PLV_OK) {
        fprintf(stderr, "%s is not a PLV file the player can play (status %d)\n", argv[arg], status);
        return 3;
    }
    device = open(argv[arg + 1], O_WRONLY | O_CREAT, 0644);
    if (device < 0) {
        fprintf(stderr, "Could not open %s: %s\n", argv[arg + 1], strerror(errno));
        return 3;
    }
    row_bytes = 2 * (size_t)player.info.width;
    line_bytes = row_bytes;
    rows = player.info.height;
#ifdef __linux__
    {
        struct fb_var_screeninfo var;
        struct fb_fix_screeninfo fix;
        if (ioctl(device, FBIOGET_VSCREENINFO, &var) == 0 && ioctl(device, FBIOGET_FSCREENINFO, &fix) == 0) {
            if (var.bits_per_pixel != FRAMEBUFFER_BITS) {
                fprintf(stderr, "%s has %u bits a pixel; the player writes 16\n", argv[arg + 1], var.bits_per_pixel);
                return 3;
            }
            line_bytes = fix.line_length;
            if (row_bytes > 2 * (size_t)var.xres) row_bytes = 2 * (size_t)var.xres;
            if (rows > var.yres) rows = var.yres;
        }
    }
#endif
    frame = malloc(2 * (size_t)player.info.width * player.info.height);
    if (frame == NULL || plv_set_frame_buffer(&player, frame, 2 * (size_t)player.info.width * player.info.height, NULL,
                                              NULL) != PLV_OK) {
        fprintf(stderr, "Not enough memory for a %ux%u frame\n", player.info.width, player.info.height);
        return 3;
    }
    clock_gettime(CLOCK_MONOTONIC, &due);
    for (;;) {
        const long long period = NANOSECONDS * player.info.rate_denominator / player.info.rate_numerator;
        status = plv_next_frame(&player);
        if (status == PLV_END) {
            if (loops > 0 && --loops == 0) break;
            if (player.frame == 0) break; /* no frames: nothing to loop */
            status = plv_rewind(&player);
            if (status == PLV_OK) continue;
        }
        if (status < 0) {
            fprintf(stderr, "%s stops at frame %u (status %d)\n", argv[arg], player.frame + 1, status);
            return 3;
        }
        for (y = 0; y < rows; ++y) {
            if (write_at(device, frame + y * 2 * player.info.width, row_bytes, (off_t)(y * line_bytes)) != 0) {
                fprintf(stderr, "Could not write to %s: %s\n", argv[arg + 1], strerror(errno));
                return 3;
            }
        }
        due.tv_nsec += (long)(period % NANOSECONDS);
        due.tv_sec += (time_t)(period / NANOSECONDS + due.tv_nsec / NANOSECONDS);
        due.tv_nsec %= NANOSECONDS;
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, NULL) == EINTR) continue;
    }
    free(frame);
    return close(device) == 0 ? 0 : 3;
}
