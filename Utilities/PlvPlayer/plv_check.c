/* SPDX-License-Identifier: MIT */
/* The checking reader. The player, built with PLV_CHECKS and run strict,
 * enforces the rules of each record as it decodes; this walk adds the
 * header's reserved bytes, the index against the records, the trailer, and
 * the header's filled-in fields against what the records say. */
#include "plv_check.h"

#include <string.h>

#define HEADER_RESERVED 18
#define HEADER_RESERVED_SIZE 2
#define HEADER_RESERVED_2 44
#define HEADER_RESERVED_2_SIZE 16
#define RECORD_HEADER_SIZE 12u
#define TRAILER_SIZE 16u
#define INDEX_ENTRY_SIZE 16u
#define RECORD_ALIGN 4u
#define TRAILER_TAG 12

static const uint8_t trailer_tag[4] = {0x50, 0x4C, 0x56, 0x54};

static uint32_t get32(const uint8_t* b)
{
    return (uint32_t)b[0] | (uint32_t)b[1] << 8 | (uint32_t)b[2] << 16 | (uint32_t)b[3] << 24;
}

static uint64_t get64(const uint8_t* b)
{
    return (uint64_t)get32(b) | (uint64_t)get32(b + 4) << 32;
}

size_t plv_check_frame_bytes(const plv_info* info)
{
    return (size_t)2 * info->width * info->height;
}

size_t plv_check_map_bytes(const plv_info* info)
{
    return ((size_t)info->width * info->height + 7) / 8;
}

const char* plv_fault_text(int fault)
{
    static const char* const texts[] = {
        "no fault",
        "a header field is out of range, or a reserved byte is not 0",
        "a reserved byte or padding is not 0",
        "a code runs past the last pixel",
        "the payload ends inside a code or before the last pixel",
        "the payload goes on after the last pixel",
        "a key frame skips pixels",
        "a delta frame has no frame before it, or another word format",
        "a copy has distance 0",
        "a copy reaches further back than the header's window",
        "a copy reaches before the frame's first pixel",
        "a copy reads a pixel the frame skipped",
        "a raw frame is not 2 x width x height bytes",
        "a word format is not one of the eight",
        "the index or trailer does not match the records",
        "a header field does not match the records",
    };
    return fault >= 0 && (size_t)fault < sizeof texts / sizeof texts[0] ? texts[fault] : "unknown fault";
}

static int refuse(plv_report* r, int status, int fault)
{
    r->status = status;
    r->fault = status == PLV_ERR_CORRUPT ? fault : PLV_FAULT_NONE;
    return status;
}

/* The index entry of frame number against the record just decoded. */
static int entry_matches(const uint8_t* file, const plv_player* p, uint32_t number)
{
    const uint8_t* e = file + p->index_offset + RECORD_HEADER_SIZE + (uint64_t)number * INDEX_ENTRY_SIZE;
    return get64(e) == p->last_offset && get32(e + 8) == p->last_payload && e[12] == p->last_type &&
           e[13] == p->last_format && e[14] == 0 && e[15] == 0;
}

int plv_check_memory(const uint8_t* file, size_t size, uint8_t* frame, size_t frame_bytes, uint8_t* map,
                     size_t map_bytes, plv_report* r)
{
    plv_player p;
    uint32_t run = 0, i;
    int status = plv_open_memory(&p, file, size);
    memset(r, 0, sizeof *r);
    r->header = p.info;
    if (status != PLV_OK) return refuse(r, status, p.fault);
    r->offset = p.info.header_size;
    if (map_bytes < plv_check_map_bytes(&p.info)) return refuse(r, PLV_ERR_ARGUMENT, 0);
    status = plv_set_frame_buffer(&p, frame, frame_bytes, NULL, NULL);
    if (status != PLV_OK) return refuse(r, status, 0);
    {
        uint32_t reserved = (uint32_t)file[HEADER_RESERVED] | file[HEADER_RESERVED + 1];
        for (i = 0; i < HEADER_RESERVED_2_SIZE; ++i) reserved |= file[HEADER_RESERVED_2 + i];
        if (reserved != 0) return refuse(r, PLV_ERR_CORRUPT, PLV_FAULT_HEADER);
    }
    /* The index as stored: the header's own frame count, if filled in, is
     * checked against the records below. */
    r->header.frame_count = get32(file + 24);
    p.skip_map = map;
    p.strict = 1;
    for (;;) {
        status = plv_next_frame(&p);
        r->frame = r->frames;
        r->offset = p.last_offset;
        if (status != PLV_FRAME) break;
        if (p.index_trusted && (r->frames >= p.index_count || !entry_matches(file, &p, r->frames)))
            return refuse(r, PLV_ERR_CORRUPT, PLV_FAULT_INDEX);
        ++r->frames;
        r->formats |= 1u << p.last_format;
        if (p.last_payload > r->largest_payload) r->largest_payload = p.last_payload;
        {
            const uint32_t record = RECORD_HEADER_SIZE + p.last_payload +
                                    (RECORD_ALIGN - 1 - (p.last_payload + RECORD_ALIGN - 1) % RECORD_ALIGN);
            if (record > r->largest_record) r->largest_record = record;
        }
        if (p.last_distance > r->largest_distance) r->largest_distance = p.last_distance;
        if (p.last_type == PLV_DELTA) {
            ++r->delta_frames;
            ++run;
        } else {
            if (p.last_type == PLV_RAW)
                ++r->raw_frames;
            else
                ++r->key_frames;
            run = 1;
        }
        if (run > r->key_interval) r->key_interval = run;
        if (p.stopped == PLV_ERR_CUT) {
            r->offset = p.offset;
            status = PLV_ERR_CUT;
            break;
        }
    }
    if (status == PLV_ERR_CUT) {
        r->cut_short = 1;
        return r->status = PLV_OK;
    }
    if (status != PLV_END) return refuse(r, status, p.fault);
    {
        const int tagged =
            size >= TRAILER_SIZE && memcmp(file + size - TRAILER_SIZE + TRAILER_TAG, trailer_tag, 4) == 0;
        const int at_index = p.last_type == PLV_INDEX && p.offset == p.last_offset + RECORD_HEADER_SIZE;
        if (!at_index) {
            /* The data ends after a whole record: a file cut short. */
            if (tagged) return refuse(r, PLV_ERR_CORRUPT, PLV_FAULT_INDEX);
            r->cut_short = 1;
            return r->status = PLV_OK;
        }
        if (!p.index_trusted) {
            /* Room for the whole index and trailer: not a cut. */
            const uint64_t end = p.offset + p.last_payload +
                                 (RECORD_ALIGN - p.last_payload % RECORD_ALIGN) % RECORD_ALIGN + TRAILER_SIZE;
            if (tagged || size >= end) return refuse(r, PLV_ERR_CORRUPT, PLV_FAULT_INDEX);
            r->cut_short = 1;
            return r->status = PLV_OK;
        }
        if (p.index_offset != p.last_offset || p.index_count != r->frames || p.last_format != 0)
            return refuse(r, PLV_ERR_CORRUPT, PLV_FAULT_INDEX);
    }
    r->finished = 1;
    {
        const plv_info* h = &r->header;
        if ((h->formats != 0 && h->formats != r->formats) || (h->frame_count != 0 && h->frame_count != r->frames) ||
            (h->largest_payload != 0 && h->largest_payload != r->largest_payload) ||
            (h->key_interval != 0 && h->key_interval != r->key_interval))
            return refuse(r, PLV_ERR_CORRUPT, PLV_FAULT_FILLED_FIELD);
    }
    return r->status = PLV_OK;
}
