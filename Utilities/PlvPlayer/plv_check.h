/* SPDX-License-Identifier: MIT */
/* The checking reader: walks a whole PLV file held in memory and refuses
 * what breaks any rule of the format (every corrupt frame, and the rules of
 * a finished file), telling which rule and where. For tools and tests; a
 * player needs only plv_player.c. */
#ifndef PLV_CHECK_H
#define PLV_CHECK_H

#include "plv_player.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct plv_report {
    plv_info header; /* as stored (frame_count 0 while unknown) */
    int status;      /* PLV_OK when every record walked is sound */
    int fault;       /* the rule broken, PLV_FAULT_* */
    uint32_t frame;  /* where the walk stopped: the frame's number, from 0 */
    uint64_t offset; /* and its record's offset */
    int finished;    /* trailer and index there and right */
    int cut_short;   /* no trailer: the data ends after a whole record, or inside one */
    uint32_t frames; /* frames walked whole */
    uint32_t raw_frames, key_frames, delta_frames;
    uint32_t formats; /* bit F for every frame in word format F */
    uint32_t largest_payload;
    uint32_t largest_record; /* header, payload and padding */
    uint32_t key_interval;
    uint32_t largest_distance;
} plv_report;

/* The memory the check needs for a file whose header plv_open_memory read:
 * a frame buffer and a map of a bit per pixel. */
size_t plv_check_frame_bytes(const plv_info* info);
size_t plv_check_map_bytes(const plv_info* info);

/* What a fault means, in a few words ("a copy reaches before the frame's
 * first pixel"). */
const char* plv_fault_text(int fault);

/* Checks file (size bytes) with the caller's frame buffer and map. Returns
 * report->status. */
int plv_check_memory(const uint8_t* file, size_t size, uint8_t* frame, size_t frame_bytes, uint8_t* map,
                     size_t map_bytes, plv_report* report);

#ifdef __cplusplus
}
#endif

#endif
