/* SPDX-License-Identifier: MIT */
/* PLV player: plays a PLV video (16-bit pixel words, coded per frame) into a
 * frame buffer, or with no frame buffer through a small ring of words that
 * hands each painted span of a row to a panel driver.
 *
 * C99, no allocation, nothing beyond string.h, stddef.h and stdint.h. Every
 * buffer and every bound comes from the caller; nothing in the file is
 * trusted before it is checked.
 *
 * A file is read either from memory (plv_open_memory) or through a read
 * callback (plv_open_stream) that hands over any number of bytes at a time,
 * for example one SD card sector: a code that spans two reads is decoded
 * across them. An optional seek callback adds the index (seeking), looping
 * and the trailer's frame count.
 *
 * Playing:
 *
 *     plv_player player;
 *     if (plv_open_memory(&player, file, file_size) != PLV_OK) ...
 *     plv_set_frame_buffer(&player, frame, sizeof frame);    // 2 x width x height bytes
 *     while (plv_next_frame(&player) == PLV_FRAME) show(frame);
 *
 * or, without a frame buffer (profile 0 files only):
 *
 *     plv_set_ring(&player, ring, sizeof ring, paint_span, panel);   // at least 2 x window bytes
 *
 * Pixel words are stored as the two bytes the frame's word format writes, in
 * file order, and reach the frame buffer and the spans unchanged.
 */
#ifndef PLV_PLAYER_H
#define PLV_PLAYER_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* What the calls return. Errors are negative; after one, and after the
 * index record's PLV_END, plv_next_frame returns the same until plv_rewind
 * or plv_seek_frame. */
enum {
    PLV_OK = 0,
    PLV_FRAME = 1,           /* plv_next_frame: a frame was decoded */
    PLV_END = 2,             /* plv_next_frame: no more frames (the index, or the end of a walk) */
    PLV_ERR_CUT = -1,        /* the data ends inside the header or a record */
    PLV_ERR_CORRUPT = -2,    /* a frame or header breaks the format's rules */
    PLV_ERR_CRC = -3,        /* a header or record fails its CRC-32 */
    PLV_ERR_NOT_PLV = -4,    /* the magic is wrong */
    PLV_ERR_VERSION = -5,    /* a version or profile this player does not know */
    PLV_ERR_FRAME_TYPE = -6, /* a reserved frame type (3 to 0x7F): the picture cannot be known */
    PLV_ERR_ARGUMENT = -7,   /* a buffer too small, no output set, a frame out of range, no index */
    PLV_ERR_SEEK = -8        /* no seek callback, or it failed */
};

/* Word formats, the bit numbers of plv_info.formats. */
enum {
    PLV_RGB555LE = 0,
    PLV_RGB555BE = 1,
    PLV_RGB565LE = 2,
    PLV_RGB565BE = 3,
    PLV_BGR555LE = 4,
    PLV_BGR555BE = 5,
    PLV_BGR565LE = 6,
    PLV_BGR565BE = 7
};

/* Record types. */
enum { PLV_RAW = 0, PLV_KEY = 1, PLV_DELTA = 2, PLV_INDEX = 0x81 };

/* Which rule a corrupt file broke: set in plv_player.fault by a build with
 * PLV_CHECKS (the checking reader's), else left 0. */
enum {
    PLV_FAULT_NONE = 0,
    PLV_FAULT_HEADER,          /* a header field out of range, or reserved bytes not 0 */
    PLV_FAULT_RESERVED,        /* a record's reserved bytes or padding not 0 */
    PLV_FAULT_PAST_END,        /* a code runs past the last pixel */
    PLV_FAULT_SHORT,           /* the payload ends inside a code or before the last pixel */
    PLV_FAULT_LONG,            /* the payload goes on after the last pixel */
    PLV_FAULT_KEY_SKIP,        /* a key frame uses SKIP */
    PLV_FAULT_NO_PREVIOUS,     /* a delta frame has no frame before it, or another word format */
    PLV_FAULT_DISTANCE_ZERO,   /* a COPY has D = 0 */
    PLV_FAULT_DISTANCE_WINDOW, /* a COPY has D over the header's window */
    PLV_FAULT_DISTANCE_BEFORE, /* a COPY reaches before the frame's first pixel */
    PLV_FAULT_SKIPPED_READ,    /* profile 0: a COPY reads a pixel this frame skipped */
    PLV_FAULT_RAW_SIZE,        /* a raw frame's payload is not 2 x width x height bytes */
    PLV_FAULT_FORMAT,          /* a word format over 7, or a non-frame record's not 0 */
    PLV_FAULT_INDEX,           /* the index or trailer disagrees with the records */
    PLV_FAULT_FILLED_FIELD     /* a filled-in header field disagrees with the records */
};

/* The header's facts. frame_count is the trailer's when the header's is 0
 * and the index is trusted; the fields the header leaves 0 while unknown
 * (formats, largest_payload, key_interval) stay 0. */
typedef struct plv_info {
    uint32_t width, height;
    uint32_t header_size;
    uint32_t profile; /* 0 stream (no frame buffer needed), 1 frame buffer */
    uint32_t formats; /* bit F set when a frame uses word format F */
    uint32_t window;  /* every COPY distance is at most this */
    uint32_t frame_count;
    uint32_t rate_numerator, rate_denominator; /* frames per second = numerator / denominator */
    uint32_t largest_payload;
    uint32_t key_interval;
} plv_info;

/* Hands over the next bytes of the file: sets *bytes and returns how many
 * (any number, the bytes stay valid until the next call), or 0 at the end
 * of the data or on a read error. */
typedef size_t (*plv_read_fn)(void* user, const uint8_t** bytes);
/* Moves the source so that the next read starts at offset (from the first
 * byte of the PLV header). Returns 0 on success. */
typedef int (*plv_seek_fn)(void* user, uint64_t offset);
/* A painted span of row y from column x: count words, 2 x count bytes in
 * file order. Never called with skipped pixels. */
typedef void (*plv_span_fn)(void* user, uint32_t x, uint32_t y, const uint8_t* words, uint32_t count);

/* The player's state, kept by the caller (sizeof(plv_player) bytes, no
 * other memory). Read info, frame and last_*; leave the rest alone. */
typedef struct plv_player {
    plv_info info;
    uint32_t frame;       /* the number of the next frame, from 0 */
    uint32_t last_type;   /* the type, word format and payload size of */
    uint32_t last_format; /* the frame plv_next_frame decoded last */
    uint32_t last_payload;
    uint32_t last_distance; /* the largest COPY distance of that frame */
    uint64_t last_offset;   /* of the record plv_next_frame read last */
    /* source */
    const uint8_t* memory;
    uint64_t size; /* of the file, 0 when unknown */
    plv_read_fn read;
    plv_seek_fn seek;
    void* source_user;
    const uint8_t* chunk; /* bytes handed over and not used yet */
    size_t chunk_size;
    uint64_t offset; /* of chunk[0] in the file */
    /* output */
    uint8_t* ring;       /* the frame buffer, or the ring */
    uint32_t ring_words; /* width x height for a frame buffer */
    plv_span_fn paint;
    void* paint_user;
    uint8_t* skip_map; /* checking only: a bit per pixel */
    /* index */
    uint64_t index_offset;
    uint32_t index_count;
    uint8_t index_trusted;
    /* play */
    uint8_t check_crc;
    uint8_t strict;          /* checking only: reserved bytes and padding must be 0 */
    uint8_t fault;           /* checking only: which rule a corrupt frame broke */
    int32_t previous_format; /* of the frame before, -1 when none */
    int32_t stopped;         /* the error that stopped play, 0 when none */
    uint8_t scratch[64];
} plv_player;

/* Opens a whole file held in memory: checks the header, and trusts the index
 * when the trailer's tag, the index record and its CRC are right. */
int plv_open_memory(plv_player* player, const uint8_t* file, size_t size);
/* Opens a file read through read. seek may be NULL (no index, no looping);
 * size is the file's, or 0 when unknown (no index). The index is checked
 * here, once, by reading it through. */
int plv_open_stream(plv_player* player, plv_read_fn read, plv_seek_fn seek, void* user, uint64_t size);

/* Decode into a frame buffer of 2 x width x height bytes (frame_bytes is
 * its size, refused when smaller). paint, when not NULL, is also told each
 * painted span. */
int plv_set_frame_buffer(plv_player* player, uint8_t* frame, size_t frame_bytes, plv_span_fn paint, void* user);
/* Decode with no frame buffer, through a ring of ring_bytes / 2 words (at
 * least the header's window, and 1), telling paint each painted span.
 * Refused for profile 1 files, whose copies read skipped pixels. */
int plv_set_ring(plv_player* player, uint8_t* ring, size_t ring_bytes, plv_span_fn paint, void* user);
/* CRC checking of records, on (the default) or off. */
void plv_check_crcs(plv_player* player, int on);

/* Decodes the next frame. Returns PLV_FRAME, PLV_END or an error. A record
 * whose CRC fails is refused before any pixel of it is painted when the
 * whole record is in the bytes at hand (always from memory); else the
 * mismatch is found when the record ends, its pixels already painted. */
int plv_next_frame(plv_player* player);
/* Back to the first frame, for looping. Needs a seek callback on a stream. */
int plv_rewind(plv_player* player);
/* Makes frame the next one plv_next_frame decodes: through the trusted
 * index, decodes from the key or raw frame at or before it (those frames
 * are painted too). */
int plv_seek_frame(plv_player* player, uint32_t frame);

/* The common CRC-32 (zlib's crc32): start with crc 0. */
uint32_t plv_crc32(uint32_t crc, const uint8_t* bytes, size_t size);

#ifdef __cplusplus
}
#endif

#endif
