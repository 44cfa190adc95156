// Frame store and the checks on a source frame before its pixels are used.
#include "frame_store.h"

std::int32_t video_width = 0;
std::int32_t video_height = 0;
WordFormat color_word_format = DEFAULT_COLOR_FORMAT;
WordFormat gray_word_format = DEFAULT_GRAY_FORMAT;

alignas(64) std::uint8_t input_buffer[INPUT_BUFFER_SIZE];
alignas(64) std::uint8_t output_buffer[OUTPUT_BUFFER_SIZE];
alignas(64) std::uint8_t scratch_buffer[SCRATCH_BUFFER_SIZE];

bool video_size_fits(std::int64_t width, std::int64_t height)
{
    if (width < 0 || height < 0) {
        return false;
    }
    // Both factors are below 2^32, so the product cannot overflow 64 bits.
    return static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) <= MAX_VIDEO_PIXELS;
}

std::size_t video_pixel_count()
{
    if (video_width <= 0 || video_height <= 0) {
        return 0;
    }
    return static_cast<std::size_t>(video_width) * static_cast<std::size_t>(video_height);
}

std::uint8_t frame_type()
{
    return input_buffer[TGA_TYPE_OFFSET];
}

FrameStatus check_frame(std::size_t bytes_read)
{
    if (bytes_read < TGA_HEADER_SIZE) {
        return FrameStatus::incomplete;
    }
    // video_size_fits bounds the pixel count by MAX_VIDEO_PIXELS, so these
    // products stay far below the range of size_t, and every frame of that
    // many pixels fits input_buffer.
    const std::size_t pixels = video_pixel_count();
    const std::uint8_t type = frame_type();
    if (type == TGA_TYPE_RLE_COLOR) {
        return FrameStatus::ok;  // the decoder checks its own packets
    }
    const std::size_t pixel_size = type == TGA_TYPE_GRAY ? GRAY_PIXEL_SIZE : COLOR_PIXEL_SIZE;
    if (bytes_read < TGA_HEADER_SIZE + pixel_size * pixels) {
        return FrameStatus::incomplete;
    }
    return FrameStatus::ok;
}
