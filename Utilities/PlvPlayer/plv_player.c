/* SPDX-License-Identifier: MIT */
/* PLV player. The file, every field little-endian:
 *
 *   header   64 bytes or more: magic 89 50 4C 56 0D 0A 1A 0A, version 1,
 *            header size, width, height, profile, formats, window, frame
 *            count, rate N/D, largest payload, key interval, CRC-32 at 60
 *   records  type, word format, 2 reserved, payload size (4), payload CRC
 *            (4), payload, zero padding to a multiple of 4
 *   trailer  index record offset (8), frame count (4), "PLVT"
 *
 * A key or delta frame's payload is 16-bit codes: top two bits the
 * operation, low 14 bits N - 1.
 *
 *   00 SKIP     N pixels keep the previous frame's words (delta frames)
 *   01 LITERAL  N pixel words follow
 *   10 REPEAT   one pixel word follows, painted N times
 *   11 COPY     a distance D follows; each pixel is the one D before it
 *
 * The frame buffer is a ring of width x height words that never wraps; with
 * no frame buffer the ring holds the last window words or more, and each
 * span is handed over before the ring wraps over it.
 */
#include "plv_player.h"

#include <string.h>

#ifndef PLV_CHECKS
#define PLV_CHECKS 0
#endif
#ifndef PLV_CRC_TABLE
#define PLV_CRC_TABLE 0
#endif

#define HEADER_SIZE 64u
#define RECORD_HEADER_SIZE 12u
#define TRAILER_SIZE 16u
#define INDEX_ENTRY_SIZE 16u
#define RECORD_ALIGN 4u
#define MAX_DIMENSION 65535u
#define MAX_PIXELS 16777216u
#define MAX_WINDOW 65535u
#define FORMAT_COUNT 8u
#define FIRST_NON_FRAME 0x80u
#define MAX_PROFILE 1u
#define CODE_OP_SHIFT 14
#define CODE_COUNT_MASK 0x3FFFu
#define WORD_BYTES 2u

/* Header offsets. */
#define H_VERSION 8
#define H_SIZE 10
#define H_WIDTH 12
#define H_HEIGHT 14
#define H_PROFILE 16
#define H_FORMATS 17
#define H_WINDOW 20
#define H_FRAMES 24
#define H_RATE_NUMERATOR 28
#define H_RATE_DENOMINATOR 32
#define H_LARGEST 36
#define H_KEY_INTERVAL 40
#define H_CRC 60

/* Record, index entry and trailer offsets. */
#define R_TYPE 0
#define R_FORMAT 1
#define R_RESERVED 2
#define R_SIZE 4
#define R_CRC 8
#define E_TYPE 12
#define T_FRAMES 8
#define T_TAG 12

enum { OP_SKIP, OP_LITERAL, OP_REPEAT, OP_COPY };

static const uint8_t plv_magic[8] = {0x89, 0x50, 0x4C, 0x56, 0x0D, 0x0A, 0x1A, 0x0A};
static const uint8_t plv_trailer_tag[4] = {0x50, 0x4C, 0x56, 0x54};

#if PLV_CHECKS
#define FAULT(p, f) ((p)->fault = (uint8_t)(f), PLV_ERR_CORRUPT)
#else
#define FAULT(p, f) PLV_ERR_CORRUPT
#endif

static uint32_t get16(const uint8_t* b)
{
    return (uint32_t)b[0] | (uint32_t)b[1] << 8;
}

static uint32_t get32(const uint8_t* b)
{
    return get16(b) | get16(b + 2) << 16;
}

static uint64_t get64(const uint8_t* b)
{
    return (uint64_t)get32(b) | (uint64_t)get32(b + 4) << 32;
}

#if defined(PLV_CRC32_FUNCTION)
/* The platform's own CRC-32 of the same kind, for example the ESP32 ROM's
 * crc32_le: -DPLV_CRC32_FUNCTION=crc32_le. */
uint32_t PLV_CRC32_FUNCTION(uint32_t crc, const uint8_t* bytes, size_t size);
uint32_t plv_crc32(uint32_t crc, const uint8_t* bytes, size_t size)
{
    return PLV_CRC32_FUNCTION(crc, bytes, size);
}
#elif PLV_CRC_TABLE
/* A byte at a time (a table of 1 KiB): hosts and larger cores. */
static const uint32_t crc_table[256] = {
    0x00000000, 0x77073096, 0xEE0E612C, 0x990951BA, 0x076DC419, 0x706AF48F, 0xE963A535, 0x9E6495A3, 0x0EDB8832,
    0x79DCB8A4, 0xE0D5E91E, 0x97D2D988, 0x09B64C2B, 0x7EB17CBD, 0xE7B82D07, 0x90BF1D91, 0x1DB71064, 0x6AB020F2,
    0xF3B97148, 0x84BE41DE, 0x1ADAD47D, 0x6DDDE4EB, 0xF4D4B551, 0x83D385C7, 0x136C9856, 0x646BA8C0, 0xFD62F97A,
    0x8A65C9EC, 0x14015C4F, 0x63066CD9, 0xFA0F3D63, 0x8D080DF5, 0x3B6E20C8, 0x4C69105E, 0xD56041E4, 0xA2677172,
    0x3C03E4D1, 0x4B04D447, 0xD20D85FD, 0xA50AB56B, 0x35B5A8FA, 0x42B2986C, 0xDBBBC9D6, 0xACBCF940, 0x32D86CE3,
    0x45DF5C75, 0xDCD60DCF, 0xABD13D59, 0x26D930AC, 0x51DE003A, 0xC8D75180, 0xBFD06116, 0x21B4F4B5, 0x56B3C423,
    0xCFBA9599, 0xB8BDA50F, 0x2802B89E, 0x5F058808, 0xC60CD9B2, 0xB10BE924, 0x2F6F7C87, 0x58684C11, 0xC1611DAB,
    0xB6662D3D, 0x76DC4190, 0x01DB7106, 0x98D220BC, 0xEFD5102A, 0x71B18589, 0x06B6B51F, 0x9FBFE4A5, 0xE8B8D433,
    0x7807C9A2, 0x0F00F934, 0x9609A88E, 0xE10E9818, 0x7F6A0DBB, 0x086D3D2D, 0x91646C97, 0xE6635C01, 0x6B6B51F4,
    0x1C6C6162, 0x856530D8, 0xF262004E, 0x6C0695ED, 0x1B01A57B, 0x8208F4C1, 0xF50FC457, 0x65B0D9C6, 0x12B7E950,
    0x8BBEB8EA, 0xFCB9887C, 0x62DD1DDF, 0x15DA2D49, 0x8CD37CF3, 0xFBD44C65, 0x4DB26158, 0x3AB551CE, 0xA3BC0074,
    0xD4BB30E2, 0x4ADFA541, 0x3DD895D7, 0xA4D1C46D, 0xD3D6F4FB, 0x4369E96A, 0x346ED9FC, 0xAD678846, 0xDA60B8D0,
    0x44042D73, 0x33031DE5, 0xAA0A4C5F, 0xDD0D7CC9, 0x5005713C, 0x270241AA, 0xBE0B1010, 0xC90C2086, 0x5768B525,
    0x206F85B3, 0xB966D409, 0xCE61E49F, 0x5EDEF90E, 0x29D9C998, 0xB0D09822, 0xC7D7A8B4, 0x59B33D17, 0x2EB40D81,
    0xB7BD5C3B, 0xC0BA6CAD, 0xEDB88320, 0x9ABFB3B6, 0x03B6E20C, 0x74B1D29A, 0xEAD54739, 0x9DD277AF, 0x04DB2615,
    0x73DC1683, 0xE3630B12, 0x94643B84, 0x0D6D6A3E, 0x7A6A5AA8, 0xE40ECF0B, 0x9309FF9D, 0x0A00AE27, 0x7D079EB1,
    0xF00F9344, 0x8708A3D2, 0x1E01F268, 0x6906C2FE, 0xF762575D, 0x806567CB, 0x196C3671, 0x6E6B06E7, 0xFED41B76,
    0x89D32BE0, 0x10DA7A5A, 0x67DD4ACC, 0xF9B9DF6F, 0x8EBEEFF9, 0x17B7BE43, 0x60B08ED5, 0xD6D6A3E8, 0xA1D1937E,
    0x38D8C2C4, 0x4FDFF252, 0xD1BB67F1, 0xA6BC5767, 0x3FB506DD, 0x48B2364B, 0xD80D2BDA, 0xAF0A1B4C, 0x36034AF6,
    0x41047A60, 0xDF60EFC3, 0xA867DF55, 0x316E8EEF, 0x4669BE79, 0xCB61B38C, 0xBC66831A, 0x256FD2A0, 0x5268E236,
    0xCC0C7795, 0xBB0B4703, 0x220216B9, 0x5505262F, 0xC5BA3BBE, 0xB2BD0B28, 0x2BB45A92, 0x5CB36A04, 0xC2D7FFA7,
    0xB5D0CF31, 0x2CD99E8B, 0x5BDEAE1D, 0x9B64C2B0, 0xEC63F226, 0x756AA39C, 0x026D930A, 0x9C0906A9, 0xEB0E363F,
    0x72076785, 0x05005713, 0x95BF4A82, 0xE2B87A14, 0x7BB12BAE, 0x0CB61B38, 0x92D28E9B, 0xE5D5BE0D, 0x7CDCEFB7,
    0x0BDBDF21, 0x86D3D2D4, 0xF1D4E242, 0x68DDB3F8, 0x1FDA836E, 0x81BE16CD, 0xF6B9265B, 0x6FB077E1, 0x18B74777,
    0x88085AE6, 0xFF0F6A70, 0x66063BCA, 0x11010B5C, 0x8F659EFF, 0xF862AE69, 0x616BFFD3, 0x166CCF45, 0xA00AE278,
    0xD70DD2EE, 0x4E048354, 0x3903B3C2, 0xA7672661, 0xD06016F7, 0x4969474D, 0x3E6E77DB, 0xAED16A4A, 0xD9D65ADC,
    0x40DF0B66, 0x37D83BF0, 0xA9BCAE53, 0xDEBB9EC5, 0x47B2CF7F, 0x30B5FFE9, 0xBDBDF21C, 0xCABAC28A, 0x53B39330,
    0x24B4A3A6, 0xBAD03605, 0xCDD70693, 0x54DE5729, 0x23D967BF, 0xB3667A2E, 0xC4614AB8, 0x5D681B02, 0x2A6F2B94,
    0xB40BBE37, 0xC30C8EA1, 0x5A05DF1B, 0x2D02EF8D,
};

uint32_t plv_crc32(uint32_t crc, const uint8_t* bytes, size_t size)
{
    crc = ~crc;
    while (size-- > 0) crc = (crc >> 8) ^ crc_table[(crc ^ *bytes++) & 0xFF];
    return ~crc;
}
#else
uint32_t plv_crc32(uint32_t crc, const uint8_t* bytes, size_t size)
{
    /* Reflected 0x04C11DB7, four bits a step (a table of 64 bytes). */
    static const uint32_t nibble[16] = {0x00000000, 0x1DB71064, 0x3B6E20C8, 0x26D930AC, 0x76DC4190, 0x6B6B51F4,
                                        0x4DB26158, 0x5005713C, 0xEDB88320, 0xF00F9344, 0xD6D6A3E8, 0xCB61B38C,
                                        0x9B64C2B0, 0x86D3D2D4, 0xA00AE278, 0xBDBDF21C};
    crc = ~crc;
    while (size-- > 0) {
        crc ^= *bytes++;
        crc = (crc >> 4) ^ nibble[crc & 15];
        crc = (crc >> 4) ^ nibble[crc & 15];
    }
    return ~crc;
}
#endif

static int stop(plv_player* p, int status)
{
    p->stopped = status;
    return status;
}

/* The bytes at hand, fetched when none are left; 0 at the end of the data. */
static size_t fill(plv_player* p)
{
    if (p->chunk_size == 0) {
        if (p->read != NULL) {
            p->chunk_size = p->read(p->source_user, &p->chunk);
            if (p->chunk == NULL) p->chunk_size = 0;
        } else if (p->offset < p->size) {
            p->chunk = p->memory + p->offset;
            p->chunk_size = (size_t)(p->size - p->offset);
        }
    }
    return p->chunk_size;
}

static void consume(plv_player* p, size_t count)
{
    p->chunk += count;
    p->chunk_size -= count;
    p->offset += count;
}

/* Takes count bytes into to (NULL: drops them), adding them to *crc when
 * crc is not NULL. */
static int pull(plv_player* p, uint8_t* to, uint32_t count, uint32_t* crc)
{
    while (count > 0) {
        size_t part = fill(p);
        if (part == 0) return PLV_ERR_CUT;
        if (part > count) part = count;
        if (crc != NULL) *crc = plv_crc32(*crc, p->chunk, part);
        if (to != NULL) {
            memcpy(to, p->chunk, part);
            to += part;
        }
        consume(p, part);
        count -= (uint32_t)part;
    }
    return PLV_OK;
}

static int seek_to(plv_player* p, uint64_t offset)
{
    if (p->read != NULL && (p->seek == NULL || p->seek(p->source_user, offset) != 0)) return PLV_ERR_SEEK;
    p->chunk_size = 0;
    p->offset = offset;
    return PLV_OK;
}

/* The padding after a payload of size bytes: 0 bytes in a checking build. */
static int skip_padding(plv_player* p, uint32_t size)
{
    const uint32_t padding = (RECORD_ALIGN - size % RECORD_ALIGN) % RECORD_ALIGN;
    uint8_t bytes[RECORD_ALIGN] = {0, 0, 0, 0};
    const int status = pull(p, bytes, padding, NULL);
#if PLV_CHECKS
    if (status == PLV_OK && p->strict && get32(bytes) != 0) return FAULT(p, PLV_FAULT_RESERVED);
#endif
    return status;
}

static int read_header(plv_player* p)
{
    uint8_t* const h = p->scratch;
    plv_info* const info = &p->info;
    const int status = pull(p, h, HEADER_SIZE, NULL);
    if (status != PLV_OK) return status;
    if (memcmp(h, plv_magic, sizeof plv_magic) != 0) return PLV_ERR_NOT_PLV;
    if (get16(h + H_VERSION) != 1) return PLV_ERR_VERSION;
    if (get32(h + H_CRC) != plv_crc32(0, h, H_CRC)) return PLV_ERR_CRC;
    info->header_size = get16(h + H_SIZE);
    info->width = get16(h + H_WIDTH);
    info->height = get16(h + H_HEIGHT);
    info->profile = h[H_PROFILE];
    info->formats = h[H_FORMATS];
    info->window = get32(h + H_WINDOW);
    info->frame_count = get32(h + H_FRAMES);
    info->rate_numerator = get32(h + H_RATE_NUMERATOR);
    info->rate_denominator = get32(h + H_RATE_DENOMINATOR);
    info->largest_payload = get32(h + H_LARGEST);
    info->key_interval = get32(h + H_KEY_INTERVAL);
    if (info->profile > MAX_PROFILE) return PLV_ERR_VERSION;
    if (info->header_size < HEADER_SIZE || info->header_size % RECORD_ALIGN != 0 || info->width == 0 ||
        info->height == 0 || info->width * info->height > MAX_PIXELS || info->window > MAX_WINDOW ||
        info->rate_numerator == 0 || info->rate_denominator == 0)
        return FAULT(p, PLV_FAULT_HEADER);
    /* Bytes of a larger header are not this version's: passed over. */
    return pull(p, NULL, info->header_size - HEADER_SIZE, NULL);
}

/* Trusts the index when the trailer's tag is there, the index record ends
 * where the trailer starts and its CRC is right. */
static void load_index(plv_player* p)
{
    uint8_t* const b = p->scratch;
    uint64_t offset, entries_size;
    uint32_t count, crc = 0;
    if (p->size < (uint64_t)p->info.header_size + RECORD_HEADER_SIZE + TRAILER_SIZE) return;
    if (seek_to(p, p->size - TRAILER_SIZE) != PLV_OK || pull(p, b, TRAILER_SIZE, NULL) != PLV_OK) return;
    if (memcmp(b + T_TAG, plv_trailer_tag, sizeof plv_trailer_tag) != 0) return;
    offset = get64(b);
    count = get32(b + T_FRAMES);
    entries_size = (uint64_t)count * INDEX_ENTRY_SIZE;
    if (offset < p->info.header_size || offset % RECORD_ALIGN != 0 ||
        offset > p->size - TRAILER_SIZE - RECORD_HEADER_SIZE ||
        entries_size != p->size - TRAILER_SIZE - RECORD_HEADER_SIZE - offset)
        return;
    if (p->info.frame_count != 0 && p->info.frame_count != count) return;
    if (seek_to(p, offset) != PLV_OK || pull(p, b, RECORD_HEADER_SIZE, NULL) != PLV_OK) return;
    if (b[R_TYPE] != PLV_INDEX || get32(b + R_SIZE) != entries_size) return;
    if (p->check_crc) {
        const uint32_t expected = get32(b + R_CRC);
        if (pull(p, NULL, (uint32_t)entries_size, &crc) != PLV_OK || crc != expected) return;
    }
    p->index_offset = offset;
    p->index_count = count;
    p->index_trusted = 1;
    p->info.frame_count = count;
}

static int open_source(plv_player* p)
{
    int status;
    p->previous_format = -1;
    p->check_crc = 1;
    status = read_header(p);
    if (status == PLV_OK) {
        load_index(p);
        status = seek_to(p, p->info.header_size);
        /* A stream that cannot seek is still where the records start. */
        if (status == PLV_ERR_SEEK && p->offset == p->info.header_size) status = PLV_OK;
    }
    return stop(p, status);
}

int plv_open_memory(plv_player* player, const uint8_t* file, size_t size)
{
    memset(player, 0, sizeof *player);
    player->memory = file;
    player->size = file != NULL ? size : 0;
    return open_source(player);
}

int plv_open_stream(plv_player* player, plv_read_fn read, plv_seek_fn seek, void* user, uint64_t size)
{
    memset(player, 0, sizeof *player);
    if (read == NULL) return stop(player, PLV_ERR_ARGUMENT);
    player->read = read;
    player->seek = seek;
    player->source_user = user;
    player->size = seek != NULL ? size : 0;
    return open_source(player);
}

static int set_output(plv_player* p, uint8_t* words, uint32_t count, plv_span_fn paint, void* user)
{
    p->ring = words;
    p->ring_words = count;
    p->paint = paint;
    p->paint_user = user;
    return PLV_OK;
}

int plv_set_frame_buffer(plv_player* player, uint8_t* frame, size_t frame_bytes, plv_span_fn paint, void* user)
{
    const uint32_t pixels = player->info.width * player->info.height;
    if (player->stopped < 0 && pixels == 0) return player->stopped;
    if (frame == NULL || frame_bytes / WORD_BYTES < pixels) return PLV_ERR_ARGUMENT;
    return set_output(player, frame, pixels, paint, user);
}

int plv_set_ring(plv_player* player, uint8_t* ring, size_t ring_bytes, plv_span_fn paint, void* user)
{
    const size_t words = ring_bytes / WORD_BYTES;
    if (player->stopped < 0 && player->info.width == 0) return player->stopped;
    if (ring == NULL || paint == NULL || player->info.profile != 0 || words == 0 || words < player->info.window)
        return PLV_ERR_ARGUMENT;
    return set_output(player, ring, words > MAX_PIXELS ? MAX_PIXELS : (uint32_t)words, paint, user);
}

void plv_check_crcs(plv_player* player, int on)
{
    player->check_crc = on != 0;
}

#if PLV_CHECKS
static void mark_pixels(uint8_t* map, uint32_t from, uint32_t count, int skipped)
{
    for (; count > 0; ++from, --count) {
        const uint8_t bit = (uint8_t)(1u << (from & 7));
        map[from >> 3] = (uint8_t)(skipped ? map[from >> 3] | bit : map[from >> 3] & ~bit);
    }
}

static int any_marked(const uint8_t* map, uint32_t from, uint32_t count)
{
    for (; count > 0; ++from, --count)
        if (map[from >> 3] & (1u << (from & 7))) return 1;
    return 0;
}
#endif

/* Hands over the span of painted pixels collected so far. */
static void paint_span(plv_player* p, uint32_t start, uint32_t slot, uint32_t* count)
{
    if (*count != 0 && p->paint != NULL) {
        p->paint(p->paint_user, start % p->info.width, start / p->info.width, p->ring + WORD_BYTES * slot, *count);
    }
    *count = 0;
}

/* Decodes a frame's payload of size bytes, whose record header has been
 * read, into the frame buffer or the ring. */
static int decode(plv_player* p, uint32_t type, uint32_t size, uint32_t expected_crc)
{
    const uint32_t width = p->info.width, pixels = width * p->info.height, ring_words = p->ring_words;
    uint8_t* const ring = p->ring;
    uint32_t crc = 0, *running = NULL;
    uint32_t pos = 0, slot = 0, column = 0, left = 0, op = OP_LITERAL, distance = 0;
    uint32_t span_start = 0, span_slot = 0, span_count = 0;
    uint32_t payload = size;
    uint8_t word[WORD_BYTES] = {0, 0};
    int status;

    p->last_distance = 0;
    if (type == PLV_RAW) {
        if (size != WORD_BYTES * pixels) return FAULT(p, PLV_FAULT_RAW_SIZE);
        left = pixels;
    }
    if (p->check_crc) {
        /* Refused before a pixel is painted when the payload is at hand. */
        if (fill(p) >= size) {
            if (plv_crc32(0, p->chunk, size) != expected_crc) return PLV_ERR_CRC;
        } else {
            running = &crc;
        }
    }
#if PLV_CHECKS
    if (p->skip_map != NULL) memset(p->skip_map, 0, (pixels + 7) / 8);
#endif
    while (pos < pixels) {
        uint32_t piece, done;
        uint8_t* to;
        if (left == 0) {
            if (payload < WORD_BYTES) return FAULT(p, PLV_FAULT_SHORT);
            status = pull(p, word, WORD_BYTES, running);
            if (status != PLV_OK) return status;
            payload -= WORD_BYTES;
            op = get16(word) >> CODE_OP_SHIFT;
            left = (get16(word) & CODE_COUNT_MASK) + 1;
            if (left > pixels - pos) return FAULT(p, PLV_FAULT_PAST_END);
            if (op == OP_SKIP) {
                if (type != PLV_DELTA) return FAULT(p, PLV_FAULT_KEY_SKIP);
                paint_span(p, span_start, span_slot, &span_count);
#if PLV_CHECKS
                if (p->skip_map != NULL) mark_pixels(p->skip_map, pos, left, 1);
#endif
                pos += left;
                slot = (slot + left) % ring_words;
                column = (column + left) % width;
                left = 0;
                continue;
            }
            if (op != OP_LITERAL) {
                if (payload < WORD_BYTES) return FAULT(p, PLV_FAULT_SHORT);
                status = pull(p, word, WORD_BYTES, running);
                if (status != PLV_OK) return status;
                payload -= WORD_BYTES;
            }
            if (op == OP_COPY) {
                distance = get16(word);
                if (distance == 0) return FAULT(p, PLV_FAULT_DISTANCE_ZERO);
                if (distance > p->info.window) return FAULT(p, PLV_FAULT_DISTANCE_WINDOW);
                if (distance > pos) return FAULT(p, PLV_FAULT_DISTANCE_BEFORE);
                if (distance > p->last_distance) p->last_distance = distance;
#if PLV_CHECKS
                if (p->skip_map != NULL && p->info.profile == 0 &&
                    any_marked(p->skip_map, pos - distance, left < distance ? left : distance))
                    return FAULT(p, PLV_FAULT_SKIPPED_READ);
#endif
            }
        }
        /* The piece of this code that fits before the ring's end, and the
         * row's end when spans are handed over. */
        piece = left;
        if (piece > ring_words - slot) piece = ring_words - slot;
        if (p->paint != NULL && piece > width - column) piece = width - column;
        to = ring + WORD_BYTES * slot;
        if (op == OP_LITERAL) {
            /* Words split between two reads are joined by pull. */
            if (piece > payload / WORD_BYTES) piece = payload / WORD_BYTES;
            if (piece == 0) return FAULT(p, PLV_FAULT_SHORT);
            status = pull(p, to, WORD_BYTES * piece, running);
            if (status != PLV_OK) return status;
            payload -= WORD_BYTES * piece;
        } else if (op == OP_REPEAT) {
            to[0] = word[0];
            to[1] = word[1];
            for (done = 1; done < piece; done *= 2) {
                memcpy(to + WORD_BYTES * done, to, WORD_BYTES * (done < piece - done ? done : piece - done));
            }
        } else {
            const uint32_t from = slot >= distance ? slot - distance : slot + ring_words - distance;
            if (piece > ring_words - from) piece = ring_words - from;
            /* At most distance words at a time: a pattern repeats. */
            for (done = 0; done < piece;) {
                const uint32_t part = piece - done < distance ? piece - done : distance;
                memmove(to + WORD_BYTES * done, ring + WORD_BYTES * (from + done), WORD_BYTES * part);
                done += part;
            }
        }
#if PLV_CHECKS
        if (p->skip_map != NULL) mark_pixels(p->skip_map, pos, piece, 0);
#endif
        if (span_count == 0) {
            span_start = pos;
            span_slot = slot;
        }
        span_count += piece;
        pos += piece;
        slot += piece;
        column += piece;
        left -= piece;
        if (slot == ring_words) slot = 0;
        if (column == width) column = 0;
        if (slot == 0 || column == 0) paint_span(p, span_start, span_slot, &span_count);
    }
    paint_span(p, span_start, span_slot, &span_count);
    if (payload != 0) return FAULT(p, PLV_FAULT_LONG);
    if (running != NULL && crc != expected_crc) return PLV_ERR_CRC;
    return PLV_OK;
}

int plv_next_frame(plv_player* p)
{
    uint8_t* const r = p->scratch;
    if (p->stopped != 0) return p->stopped;
    if (p->ring == NULL) return PLV_ERR_ARGUMENT;
    for (;;) {
        uint32_t type, format, size;
        int status;
        p->last_offset = p->offset;
        if (fill(p) == 0) return PLV_END;
        status = pull(p, r, RECORD_HEADER_SIZE, NULL);
        if (status != PLV_OK) return stop(p, status);
        type = r[R_TYPE];
        format = r[R_FORMAT];
        size = get32(r + R_SIZE);
        p->last_type = type;
        p->last_format = format;
        p->last_payload = size;
#if PLV_CHECKS
        if (p->strict && get16(r + R_RESERVED) != 0) return stop(p, FAULT(p, PLV_FAULT_RESERVED));
#endif
        if (type == PLV_INDEX) return stop(p, PLV_END);
        if (type >= FIRST_NON_FRAME) {
            /* Not a frame: passed over by its size (its CRC checked in a
             * checking build). */
#if PLV_CHECKS
            uint32_t crc = 0;
            if (p->strict && format != 0) return stop(p, FAULT(p, PLV_FAULT_FORMAT));
            status = pull(p, NULL, size, p->strict ? &crc : NULL);
            if (status == PLV_OK && p->strict && p->check_crc && crc != get32(r + R_CRC)) status = PLV_ERR_CRC;
#else
            status = pull(p, NULL, size, NULL);
#endif
            if (status == PLV_OK) status = skip_padding(p, size);
            if (status != PLV_OK) return stop(p, status);
            continue;
        }
        if (type > PLV_DELTA) return stop(p, PLV_ERR_FRAME_TYPE);
        if (format >= FORMAT_COUNT) return stop(p, FAULT(p, PLV_FAULT_FORMAT));
        if (type == PLV_DELTA && (uint32_t)p->previous_format != format)
            return stop(p, FAULT(p, PLV_FAULT_NO_PREVIOUS));
        status = decode(p, type, size, get32(r + R_CRC));
        if (status != PLV_OK) return stop(p, status);
        p->previous_format = (int32_t)format;
        ++p->frame;
        /* A frame whose padding is cut off is whole: the walk stops after it. */
        status = skip_padding(p, size);
        if (status != PLV_OK) stop(p, status);
        return PLV_FRAME;
    }
}

static int restart(plv_player* p, uint64_t offset, uint32_t frame)
{
    const int status = seek_to(p, offset);
    if (status != PLV_OK) return stop(p, status);
    p->stopped = 0;
    p->previous_format = -1;
    p->frame = frame;
    return PLV_OK;
}

int plv_rewind(plv_player* player)
{
    if (player->info.width == 0) return player->stopped;
    return restart(player, player->info.header_size, 0);
}

int plv_seek_frame(plv_player* p, uint32_t frame)
{
    uint8_t* const e = p->scratch;
    uint32_t key = frame;
    int status;
    if (!p->index_trusted || frame >= p->index_count || p->ring == NULL) return PLV_ERR_ARGUMENT;
    for (;;) {
        status = seek_to(p, p->index_offset + RECORD_HEADER_SIZE + (uint64_t)key * INDEX_ENTRY_SIZE);
        if (status == PLV_OK) status = pull(p, e, INDEX_ENTRY_SIZE, NULL);
        if (status != PLV_OK) return stop(p, status);
        if (e[E_TYPE] == PLV_RAW || e[E_TYPE] == PLV_KEY) break;
        if (key == 0) return stop(p, FAULT(p, PLV_FAULT_INDEX));
        --key;
    }
    status = restart(p, get64(e), key);
    while (status == PLV_OK && p->frame < frame) {
        status = plv_next_frame(p);
        if (status == PLV_FRAME) status = PLV_OK;
        if (status == PLV_END) status = stop(p, FAULT(p, PLV_FAULT_INDEX));
    }
    return status;
}
