// Stage microbenchmarks: nanoseconds per pixel for the two packers and the
// RLE decoder, on frames shaped like real renders. Figures only, no verdict.
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
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "frame_store.h"
#include "pixel_pack.h"
#include "rle_decode.h"
#include "vector_path.h"

namespace {

constexpr std::uint8_t RUN_BIT = 0x80;

struct Size {
    int width, height;
};
constexpr Size SIZES[] = {{320, 240}, {640, 480}};

void count_pixels(benchmark::State& state, std::size_t pixels)
{
    state.counters["ns/px"] = benchmark::Counter(static_cast<double>(state.iterations() * pixels) * 1e-9,
                                                 benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void fill_random(std::size_t bytes)
{
    std::mt19937 random(7);
    for (std::size_t i = 0; i < bytes; ++i) {
        input_buffer[i] = static_cast<std::uint8_t>(random());
    }
}

constexpr const char* PATH_NAMES[] = {"plain", "ssse3", "avx2", "avx512", "neon"};  // as VECTOR_PATHS

// Makes the stages use the path that argument names; false, with the
// benchmark skipped, where the processor does not have it.
bool use_path_of(benchmark::State& state, int argument)
{
    if (!use_vector_path(VECTOR_PATHS[state.range(argument)])) {
        state.SkipWithError("not on this processor");
        return false;
    }
    return true;
}

void pack(benchmark::State& state, void (*packer)(), std::size_t pixel_size)
{
    const VectorPath best = vector_path();
    if (!use_path_of(state, 1)) {
        return;
    }
    state.SetLabel(PATH_NAMES[state.range(1)]);
    const Size size = SIZES[state.range(0)];
    video_width = size.width;
    video_height = size.height;
    const std::size_t pixels = video_pixel_count();
    fill_random(TGA_HEADER_SIZE + pixel_size * pixels);
    for (auto _ : state) {
        packer();
        benchmark::DoNotOptimize(output_buffer);
        benchmark::ClobberMemory();
    }
    count_pixels(state, pixels);
    use_vector_path(best);
}

void BM_pack_color_frame(benchmark::State& state)
{
    pack(state, pack_color_frame, COLOR_PIXEL_SIZE);
}
void BM_pack_gray_frame(benchmark::State& state)
{
    pack(state, pack_gray_frame, GRAY_PIXEL_SIZE);
}
// Every row loop, by instruction set; the best one is what a run uses.
BENCHMARK(BM_pack_color_frame)->ArgsProduct({{0, 1}, {0, 1, 2, 3, 4}})->ArgNames({"size", "path"});
BENCHMARK(BM_pack_gray_frame)->ArgsProduct({{0, 1}, {0, 1, 2, 3, 4}})->ArgNames({"size", "path"});

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
    Frame file(INPUT_BUFFER_SIZE);
    file[TGA_TYPE_OFFSET] = TGA_TYPE_RLE_COLOR;
    std::size_t at = TGA_HEADER_SIZE;
    for (std::size_t left = pixels; left > 0;) {
        int draw = static_cast<int>(random() % 100);
        const Part* part = mix.parts;
        while (draw >= part->percent) draw -= (part++)->percent;
        const auto span = static_cast<unsigned>(part->high - part->low + 1);
        const std::size_t count =
            std::min<std::size_t>(left, static_cast<std::size_t>(part->low + static_cast<int>(random() % span)));
        file[at++] = static_cast<std::uint8_t>((part->run ? RUN_BIT : 0) | (count - 1));
        for (std::size_t i = 0; i < (part->run ? 1 : count) * COLOR_PIXEL_SIZE; ++i) {
            file[at++] = static_cast<std::uint8_t>(random());
        }
        left -= count;
    }
    file.resize(at);
    return file;
}

// Times the decoder on the frames in turn, at the current geometry, on the
// path of the last argument: plain (16-byte parts) or avx2 (32-byte parts).
void decode(benchmark::State& state, const std::vector<Frame>& frames, int path_argument)
{
    const VectorPath best = vector_path();
    if (!use_path_of(state, path_argument)) {
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

constexpr std::int64_t DECODER_PATHS[] = {0, 2};  // indices into VECTOR_PATHS

void BM_decompress_rle_frame(benchmark::State& state)
{
    const Mix& mix = MIXES[state.range(0)];
    const Size size = SIZES[state.range(1)];
    video_width = size.width;
    video_height = size.height;
    state.SetLabel(std::string(mix.name) + " " + PATH_NAMES[state.range(2)]);
    decode(state, {make_rle_frame(mix, video_pixel_count())}, 2);
}
BENCHMARK(BM_decompress_rle_frame)
    ->ArgsProduct({{0, 1, 2}, {0, 1}, {std::begin(DECODER_PATHS), std::end(DECODER_PATHS)}})
    ->ArgNames({"mix", "size", "path"});

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
        const bool rle = frame.size() > TGA_HEADER_SIZE && frame.size() <= INPUT_BUFFER_SIZE &&
                         frame[TGA_TYPE_OFFSET] == TGA_TYPE_RLE_COLOR;
        if (rle && (frames.empty() || std::equal(frame.begin() + TGA_WIDTH_OFFSET, frame.begin() + TGA_SIZE_END,
                                                 frames[0].begin() + TGA_WIDTH_OFFSET))) {
            frames.push_back(std::move(frame));
        }
    }
    return frames;
}

void BM_decompress_rle_file(benchmark::State& state)
{
    const char* path = std::getenv("PELLUCOR_BENCH_FRAME");
    const std::vector<Frame> frames = path != nullptr ? read_frames(path) : std::vector<Frame>();
    if (frames.empty()) {
        state.SkipWithError("set PELLUCOR_BENCH_FRAME to an RLE TGA file or a folder of them");
        return;
    }
    const Frame& first = frames[0];
    video_width = first[TGA_WIDTH_OFFSET] | first[TGA_WIDTH_OFFSET + 1] << 8;
    video_height = first[TGA_WIDTH_OFFSET + 2] | first[TGA_WIDTH_OFFSET + 3] << 8;
    state.SetLabel(std::string(path) + ", " + std::to_string(frames.size()) + " frames, " +
                   PATH_NAMES[state.range(0)]);
    decode(state, frames, 0);
}
BENCHMARK(BM_decompress_rle_file)->ArgsProduct({{std::begin(DECODER_PATHS), std::end(DECODER_PATHS)}})->ArgNames({"path"});

}  // namespace

BENCHMARK_MAIN();
