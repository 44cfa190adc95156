// SPDX-License-Identifier: MIT
// Frame store: the geometry, and the buffers reserved once for a run.
#include "frame_store.h"

#include <algorithm>
#include <initializer_list>
#include <new>

std::int32_t video_width = 0;
std::int32_t video_height = 0;
WordFormat color_word_format = DEFAULT_COLOR_FORMAT;
WordFormat gray_word_format = DEFAULT_GRAY_FORMAT;

thread_local constinit std::uint8_t* input_buffer = nullptr;
thread_local constinit std::size_t input_buffer_size = 0;
thread_local constinit std::uint8_t* scratch_buffer = nullptr;
thread_local constinit std::size_t scratch_buffer_size = 0;
thread_local constinit std::uint8_t* output_buffer = nullptr;
thread_local constinit std::size_t output_buffer_size = 0;
thread_local constinit std::uint8_t* color_table = nullptr;

namespace {

// Buffers start on a page of their own.
constexpr std::align_val_t PAGE {4096};

std::uint8_t* reserve(std::size_t bytes)
{
    return static_cast<std::uint8_t*>(::operator new(bytes, PAGE, std::nothrow));
}

}  // namespace

void release_frame_buffers()
{
    for (std::uint8_t** buffer : {&input_buffer, &scratch_buffer, &output_buffer, &color_table}) {
        ::operator delete(*buffer, PAGE);
        *buffer = nullptr;
    }
    input_buffer_size = scratch_buffer_size = output_buffer_size = 0;
}

bool video_size_fits(std::int64_t width, std::int64_t height)
{
    if (width < 0 || height < 0) {
        return false;
    }
    // Both factors are below 2^32, so the product cannot overflow 64 bits.
    return static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) <= MAX_VIDEO_PIXELS;
}

bool reserve_frame_store(std::int32_t width, std::int32_t height)
{
    video_width = width;
    video_height = height;
    return reserve_frame_buffers();
}

bool reserve_frame_buffers()
{
    release_frame_buffers();
    // At most MAX_VIDEO_PIXELS pixels: every size below stays far inside size_t.
    const std::size_t pixels = video_pixel_count();
    const std::size_t input = TGA_MAX_PREAMBLE + RLE_WORST_PIXEL_SIZE * pixels + BUFFER_SLACK;
    const std::size_t scratch = std::max(input, PNG_WORST_PIXEL_SIZE * pixels) + BUFFER_SLACK;
    const std::size_t output = PACKED_PIXEL_SIZE * pixels + BUFFER_SLACK;
    input_buffer = reserve(input);
    scratch_buffer = reserve(scratch);
    output_buffer = reserve(output);
    color_table = reserve(COLOR_TABLE_SIZE);
    if (input_buffer == nullptr || scratch_buffer == nullptr || output_buffer == nullptr || color_table == nullptr) {
        release_frame_buffers();
        return false;
    }
    input_buffer_size = input;
    scratch_buffer_size = scratch;
    output_buffer_size = output;
    return true;
}

std::uint8_t* reserve_spare_output()
{
    return output_buffer_size == 0 ? nullptr : reserve(output_buffer_size);
}

void release_spare_output(std::uint8_t* buffer)
{
    ::operator delete(buffer, PAGE);
}

std::size_t video_pixel_count()
{
    if (video_width <= 0 || video_height <= 0) {
        return 0;
    }
    return static_cast<std::size_t>(video_width) * static_cast<std::size_t>(video_height);
}
