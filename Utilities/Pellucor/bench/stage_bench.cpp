// Stage microbenchmarks: nanoseconds per pixel for the two packers and the
// RLE decoder, on frames shaped like real renders. Figures only, no verdict.
//
//   pellucor_stage_bench [--benchmark_filter=REGEX]
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>

#include "frame_store.h"
#include "pixel_pack.h"
#include "rle_decode.h"

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

constexpr PackPath PATHS[] = {PackPath::plain, PackPath::ssse3, PackPath::avx2, PackPath::avx512, PackPath::neon};
constexpr const char* PATH_NAMES[] = {"plain", "ssse3", "avx2", "avx512", "neon"};

void pack(benchmark::State& state, void (*packer)(), std::size_t pixel_size)
{
    const PackPath best = pack_path();
    if (!use_pack_path(PATHS[state.range(1)])) {
        state.SkipWithError("not on this processor");
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
    use_pack_path(best);
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

// Packet mixes, as (share of runs in percent, run length range, raw length range).
struct Mix {
    const char* name;
    int run_percent;
    int run_min, run_max, raw_min, raw_max;
};
// mix: a FFmpeg render, about 96% runs of 16.6 pixels on average and short
// raw packets of about 8; long: flat areas; short raw: noise.
constexpr Mix MIXES[] = {
    {"mix", 96, 1, 32, 1, 15},
    {"long runs", 100, 128, 128, 1, 1},
    {"short raw", 0, 1, 1, 1, 8},
};

// Encodes a frame of the given mix into packets; returns the file size.
std::size_t make_rle_frame(const Mix& mix, std::size_t pixels, std::uint8_t* file)
{
    std::mt19937 random(11);
    std::memset(file, 0, TGA_HEADER_SIZE);
    file[TGA_TYPE_OFFSET] = TGA_TYPE_RLE_COLOR;
    std::size_t at = TGA_HEADER_SIZE;
    for (std::size_t left = pixels; left > 0;) {
        const bool run = static_cast<int>(random() % 100) < mix.run_percent;
        const int low = run ? mix.run_min : mix.raw_min, high = run ? mix.run_max : mix.raw_max;
        const std::size_t count = std::min<std::size_t>(left, static_cast<std::size_t>(low + static_cast<int>(random() % static_cast<unsigned>(high - low + 1))));
        file[at++] = static_cast<std::uint8_t>((run ? RUN_BIT : 0) | (count - 1));
        for (std::size_t i = 0; i < (run ? 1 : count) * COLOR_PIXEL_SIZE; ++i) {
            file[at++] = static_cast<std::uint8_t>(random());
        }
        left -= count;
    }
    return at;
}

std::uint8_t rle_file[INPUT_BUFFER_SIZE];

void BM_decompress_rle_frame(benchmark::State& state)
{
    const Mix& mix = MIXES[state.range(0)];
    const Size size = SIZES[state.range(1)];
    video_width = size.width;
    video_height = size.height;
    const std::size_t pixels = video_pixel_count();
    const std::size_t file_size = make_rle_frame(mix, pixels, rle_file);
    state.SetLabel(mix.name);
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(input_buffer, rle_file, file_size);
        state.ResumeTiming();
        if (!decompress_rle_frame(file_size)) {
            state.SkipWithError("frame did not decode");
            break;
        }
        benchmark::DoNotOptimize(input_buffer);
        benchmark::ClobberMemory();
    }
    count_pixels(state, pixels);
}
BENCHMARK(BM_decompress_rle_frame)->ArgsProduct({{0, 1, 2}, {0, 1}})->ArgNames({"mix", "size"});

}  // namespace

BENCHMARK_MAIN();
