// SPDX-License-Identifier: MIT
// Stage microbenchmarks: nanoseconds per pixel for each kernel of the two
// packers and the RLE decoder, on frames shaped like real renders, in cache.
// Each packer figure is also given as a multiple of memcpy of the same input
// bytes (x_memcpy), timed in the same process. Figures only, no verdict; a
// path that this processor lacks is reported as skipped.
//
//   pellucor_stage_bench [--benchmark_filter=REGEX]
//
// With PELLUCOR_BENCH_FRAME naming an RLE TGA file (an FFmpeg render, say),
// or a folder of them, the decoder is also timed on those frames in turn, at
// the size the first one's header gives. One frame decoded again and again
// flatters the decoder, whose branches come to learn it; a folder of a few
// hundred frames does not.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "dither.h"
#include "frame_input.h"
#include "frame_store.h"
#include "pixel_pack.h"
#include "plv_encode.h"
#include "rle_decode.h"
#include "vector_path.h"

namespace {

struct Size {
    int width, height;
};
constexpr Size SIZES[] = {{320, 240}, {640, 480}};

std::string size_name(Size size)
{
    return std::to_string(size.width) + "x" + std::to_string(size.height);
}

void count_pixels(benchmark::State& state, std::size_t pixels)
{
    state.counters["ns/px"] = benchmark::Counter(static_cast<double>(state.iterations() * pixels) * 1e-9,
                                                 benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The best time of memcpy of bytes from input_buffer, in cache.
double memcpy_seconds(std::size_t bytes)
{
    constexpr int RUNS = 200;
    double best = 1e9;
    for (int run = 0; run < RUNS; ++run) {
        const auto start = std::chrono::steady_clock::now();
        std::memcpy(scratch_buffer, input_buffer, bytes);
        benchmark::ClobberMemory();
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

void fill_random(std::size_t bytes)
{
    std::mt19937 random(7);
    for (std::size_t i = 0; i < bytes; ++i) {
        input_buffer[i] = static_cast<std::uint8_t>(random());
    }
}

// Makes the stages use the kernels' path; false, with the benchmark
// skipped, where the processor does not have it.
bool use_path(benchmark::State& state, const Kernels& kernels)
{
    if (!use_vector_path(kernels.path)) {
        state.SkipWithError((std::string("vector path ") + kernels.name + ": skipped, not on this processor").c_str());
        return false;
    }
    return true;
}

void pack(benchmark::State& state, const Kernels& path, Size size, bool gray, const WordFormat& format,
          bool dither = false)
{
    const VectorPath best = kernels().path;
    if (!use_path(state, path)) {
        return;
    }
    video_width = size.width;
    video_height = size.height;
    color_word_format = gray_word_format = format;
    const std::size_t pixels = video_pixel_count();
    const std::size_t input_bytes = TGA_HEADER_SIZE + (gray ? GRAY_PIXEL_SIZE : COLOR_PIXEL_SIZE) * pixels;
    fill_random(input_bytes);
    const double copy = memcpy_seconds(input_bytes);
    for (auto _ : state) {
        SourceFrame frame = {input_buffer + TGA_HEADER_SIZE,
                             input_buffer_size - TGA_HEADER_SIZE,
                             gray ? FrameKind::gray : FrameKind::color,
                             gray ? GRAY_PIXEL_SIZE : COLOR_PIXEL_SIZE,
                             false,
                             false,
                             false};
        pack_frame(frame, dither);
        benchmark::DoNotOptimize(output_buffer);
        benchmark::ClobberMemory();
    }
    count_pixels(state, pixels);
    state.counters["x_memcpy"] = benchmark::Counter(static_cast<double>(state.iterations()) * copy,
                                                    benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    use_vector_path(best);
    color_word_format = DEFAULT_COLOR_FORMAT;
    gray_word_format = DEFAULT_GRAY_FORMAT;
}

// Packet mixes: each packet is drawn from the parts by their shares.
struct Part {
    int percent;
    bool run;
    int low, high;  // pixels per packet
};
struct Mix {
    const char* name;
    Part parts[4];
};
// render: as in an FFmpeg testsrc2 frame, about 95% runs averaging 16 pixels
// (most of 2, many of about 50), the rest raw packets of about 8; long runs:
// flat areas; short raw: noise.
constexpr Mix MIXES[] = {
    {"render", {{57, true, 2, 2}, {22, true, 46, 54}, {16, true, 4, 20}, {5, false, 1, 16}}},
    {"long runs", {{100, true, 128, 128}}},
    {"short raw", {{100, false, 1, 8}}},
};

using Frame = std::vector<std::uint8_t>;

// An RLE file of the given mix of packets.
Frame make_rle_frame(const Mix& mix, std::size_t pixels)
{
    std::mt19937 random(11);
    Frame file(input_buffer_size);
    file[TGA_TYPE_OFFSET] = TGA_TYPE_RLE_COLOR;
    std::size_t at = TGA_HEADER_SIZE;
    for (std::size_t left = pixels; left > 0;) {
        int draw = static_cast<int>(random() % 100);
        const Part* part = mix.parts;
        while (draw >= part->percent) draw -= (part++)->percent;
        const auto span = static_cast<unsigned>(part->high - part->low + 1);
        const std::size_t count =
            std::min<std::size_t>(left, static_cast<std::size_t>(part->low + static_cast<int>(random() % span)));
        file[at++] = static_cast<std::uint8_t>((part->run ? RLE_RUN_BIT : 0) | (count - 1));
        for (std::size_t i = 0; i < (part->run ? 1 : count) * COLOR_PIXEL_SIZE; ++i) {
            file[at++] = static_cast<std::uint8_t>(random());
        }
        left -= count;
    }
    file.resize(at);
    return file;
}

// Times the decoder on the frames in turn, at the current geometry, with
// the kernels of path.
void decode(benchmark::State& state, const Kernels& path, const std::vector<Frame>& frames)
{
    const VectorPath best = kernels().path;
    if (!use_path(state, path)) {
        return;
    }
    std::size_t next = 0;
    for (auto _ : state) {
        const Frame& frame = frames[next];
        next = (next + 1) % frames.size();
        state.PauseTiming();
        std::memcpy(input_buffer, frame.data(), frame.size());
        state.ResumeTiming();
        if (!decompress_rle_frame(frame.size())) {
            state.SkipWithError("frame did not decode");
            break;
        }
        benchmark::DoNotOptimize(input_buffer);
        benchmark::ClobberMemory();
    }
    count_pixels(state, video_pixel_count());
    use_vector_path(best);
}

constexpr std::size_t TGA_WIDTH_OFFSET = 12, TGA_SIZE_END = 16;

// The RLE frames that path names, one file or the files of a folder in name
// order, all of the first one's size.
std::vector<Frame> read_frames(const char* path)
{
    std::error_code error;
    std::vector<std::filesystem::path> names;
    if (std::filesystem::is_directory(path, error)) {
        for (const auto& entry : std::filesystem::directory_iterator(path, error)) {
            names.push_back(entry.path());
        }
        std::sort(names.begin(), names.end());
    } else {
        names.emplace_back(path);
    }
    std::vector<Frame> frames;
    for (const auto& name : names) {
        std::ifstream file(name, std::ios::binary);
        Frame frame((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        const bool rle = frame.size() > TGA_HEADER_SIZE && frame.size() <= input_buffer_size &&
                         frame[TGA_TYPE_OFFSET] == TGA_TYPE_RLE_COLOR;
        if (rle && (frames.empty() || std::equal(frame.begin() + TGA_WIDTH_OFFSET, frame.begin() + TGA_SIZE_END,
                                                 frames[0].begin() + TGA_WIDTH_OFFSET))) {
            frames.push_back(std::move(frame));
        }
    }
    return frames;
}

void decode_files(benchmark::State& state, const Kernels& path)
{
    const char* name = std::getenv("PELLUCOR_BENCH_FRAME");
    const std::vector<Frame> frames = name != nullptr ? read_frames(name) : std::vector<Frame>();
    if (frames.empty()) {
        state.SkipWithError("set PELLUCOR_BENCH_FRAME to an RLE TGA file or a folder of them");
        return;
    }
    const Frame& first = frames[0];
    video_width = first[TGA_WIDTH_OFFSET] | first[TGA_WIDTH_OFFSET + 1] << 8;
    video_height = first[TGA_WIDTH_OFFSET + 2] | first[TGA_WIDTH_OFFSET + 3] << 8;
    state.SetLabel(std::string(name) + ", " + std::to_string(frames.size()) + " frames");
    decode(state, path, frames);
}

// The rows of the kernel table with a decoder of their own: the lowest path
// that has each.
std::vector<const Kernels*> decoder_paths()
{
    std::vector<const Kernels*> paths;
    for (const Kernels& row : kernel_table()) {
        if (row.decode_packets == nullptr) continue;
        const auto same = std::find_if(paths.begin(), paths.end(),
                                       [&](const Kernels* path) { return path->decode_packets == row.decode_packets; });
        if (same != paths.end()) {
            *same = &row;
        } else {
            paths.push_back(&row);
        }
    }
    return paths;
}

// Contents for the PLV coder, as 16-bit words: noise (a camera's, stored
// raw), noise that mostly stays still, and flat shapes that move.
enum class PlvContent { noise, still_noise, shapes };
struct PlvCase {
    const char* name;
    PlvContent content;
    bool delta;
};
constexpr PlvCase PLV_CASES[] = {{"noise/key", PlvContent::noise, false},
                                 {"noise/delta", PlvContent::noise, true},
                                 {"still_noise/delta", PlvContent::still_noise, true},
                                 {"shapes/key", PlvContent::shapes, false},
                                 {"shapes/delta", PlvContent::shapes, true}};

std::vector<std::uint8_t> plv_frame(PlvContent content, Size size, int frame)
{
    std::mt19937 random(static_cast<unsigned>(content == PlvContent::still_noise ? 1 : frame + 1));
    std::vector<std::uint8_t> words(2 * static_cast<std::size_t>(size.width) * size.height);
    for (std::size_t i = 0; i < words.size(); i += 2) {
        const std::size_t x = i / 2 % static_cast<std::size_t>(size.width), y = i / 2 / size.width;
        unsigned value = random();
        if (content == PlvContent::still_noise && (x + y + static_cast<std::size_t>(frame)) % 17 == 0) value = 0;
        if (content == PlvContent::shapes) {
            value = (x + static_cast<std::size_t>(frame)) / 40 % 3 * 0x1111 + (y > 100 && x < 200 ? 0x0F00 : 0);
        }
        words[i] = static_cast<std::uint8_t>(value);
        words[i + 1] = static_cast<std::uint8_t>(value >> 8);
    }
    return words;
}

// The PLV coder on one frame, against the frame before it or alone: where
// a --plv run spends its time beyond the raw run's.
void plv_code(benchmark::State& state, const PlvCase& c, Size size)
{
    const std::vector<std::uint8_t> previous = plv_frame(c.content, size, 0), words = plv_frame(c.content, size, 1);
    std::vector<std::uint32_t> positions(PLV_SEARCH_TABLE_SIZE);
    std::vector<std::uint8_t> codes(words.size());
    const std::size_t pixels = words.size() / 2;
    for (auto _ : state) {
        const PlvCodes coded = plv_code_frame(words.data(), c.delta ? previous.data() : nullptr, pixels,
                                              static_cast<std::size_t>(size.width), 8 * size.width, PlvProfile::stream,
                                              positions.data(), codes.data(), words.size() - words.size() / 16);
        benchmark::DoNotOptimize(coded);
        state.counters["bytes"] = static_cast<double>(coded.fits ? coded.size : words.size());
    }
    count_pixels(state, pixels);
}

}  // namespace

// Every packer kernel at every size in the default formats, then every
// format on the best path; every decoder on every mix and size, and on the
// frames of PELLUCOR_BENCH_FRAME.
int main(int argc, char** argv)
{
    // Buffers for the largest frame; each benchmark sets its own size.
    if (!reserve_frame_store(4096, 4096)) {
        return 1;
    }
    const Kernels& best = kernels();
    for (const bool gray : {false, true}) {
        const char* stage = gray ? "pack_gray_frame/" : "pack_color_frame/";
        const WordFormat& standard = gray ? DEFAULT_GRAY_FORMAT : DEFAULT_COLOR_FORMAT;
        for (const Size size : SIZES) {
            for (const Kernels& path : kernel_table()) {
                benchmark::RegisterBenchmark((stage + size_name(size) + "/" + path.name).c_str(),
                                             [&path, size, gray, &standard](benchmark::State& state) {
                                                 pack(state, path, size, gray, standard);
                                             });
            }
        }
        // Dithered and packed, the pass and the packer together, beside the
        // packer alone above.
        for (const Size size : SIZES) {
            for (const Kernels& path : kernel_table()) {
                benchmark::RegisterBenchmark((stage + size_name(size) + "/" + path.name + "/dither").c_str(),
                                             [&path, size, gray, &standard](benchmark::State& state) {
                                                 pack(state, path, size, gray, standard, true);
                                             });
            }
        }
        for (const WordFormat& format : WORD_FORMATS) {
            benchmark::RegisterBenchmark(
                (stage + size_name(SIZES[0]) + "/" + best.name + "/" + format.name).c_str(),
                [&best, gray, &format](benchmark::State& state) { pack(state, best, SIZES[0], gray, format); });
        }
    }
    for (const Kernels* path : decoder_paths()) {
        for (const Mix& mix : MIXES) {
            for (const Size size : SIZES) {
                benchmark::RegisterBenchmark(
                    (std::string("decompress_rle_frame/") + size_name(size) + "/" + mix.name + "/" + path->name)
                        .c_str(),
                    [path, &mix, size](benchmark::State& state) {
                        video_width = size.width;
                        video_height = size.height;
                        decode(state, *path, {make_rle_frame(mix, video_pixel_count())});
                    });
            }
        }
        benchmark::RegisterBenchmark((std::string("decompress_rle_frame/files/") + path->name).c_str(),
                                     [path](benchmark::State& state) { decode_files(state, *path); });
    }
    for (const PlvCase& c : PLV_CASES) {
        for (const Size size : SIZES) {
            benchmark::RegisterBenchmark((std::string("plv_code_frame/") + size_name(size) + "/" + c.name).c_str(),
                                         [&c, size](benchmark::State& state) { plv_code(state, c, size); });
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
