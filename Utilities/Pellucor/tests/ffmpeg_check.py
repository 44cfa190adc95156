#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Every word format against FFmpeg's exact conversion of the same frames.

    ffmpeg_check.py PELLUCOR FFMPEG

FFmpeg draws a test picture 332 x 100 (no whole number of any vector chunk,
so that every vector loop has a tail; FFmpeg's test source takes only even
sizes); this script writes it as bottom-left TGA files, uncompressed and RLE
color and uncompressed gray. For each format F, pellucor --format F must give
the bytes of ffmpeg -pix_fmt F with scaling that neither interpolates nor
dithers.

Then FFmpeg writes the picture as TGA files itself, in each pixel format its
encoder takes (32-bit bgra, 16-bit rgb555le, color-mapped pal8, gray and
bgr24), raw and RLE, marked top-left: pellucor --honor-origin must give the
bytes of FFmpeg's conversion of those files. Where the build reads PNG
frames, so must pellucor for FFmpeg's PNG files of every pixel format its
encoder takes (RGB, RGBA, gray, gray and alpha, each of 8 and 16 bits,
palette and 1-bit), interlaced or not, every frame of the run. FFmpeg
rounds 16-bit samples to 8 bits, where Pellucor keeps the high byte: for
those, FFmpeg decodes the samples exactly, this script keeps their high
bytes, and FFmpeg packs those.
"""
import os
import subprocess
import sys
import tempfile

WIDTH, HEIGHT, FRAMES = 332, 100, 2
FORMATS = ["rgb555le", "rgb555be", "rgb565le", "rgb565be", "bgr555le", "bgr555be", "bgr565le", "bgr565be"]
TGA_COLOR, TGA_GRAY, TGA_RLE = 2, 3, 10
MAX_PACKET = 128
FFMPEG_TGA = ["bgra", "rgb555le", "pal8", "gray", "bgr24"]
FFMPEG_PNG = ["rgb24", "rgba", "rgb48be", "rgba64be", "gray", "gray16be", "ya8", "ya16be", "pal8", "monob"]
# The 16-bit formats, and the exact 16-bit samples FFmpeg decodes them to.
SIXTEEN_BITS = {"rgb48be": "rgb48be", "rgba64be": "rgb48be", "gray16be": "gray16be", "ya16be": "gray16be"}


def words_of_high_bytes(ffmpeg, pattern, samples, word_format, folder):
    """The words FFmpeg packs from the high bytes of the frames' samples."""
    wide = subprocess.run([ffmpeg, "-v", "error", "-i", pattern, "-f", "rawvideo", "-pix_fmt", samples, "-"],
                          check=True, capture_output=True).stdout
    high = wide[0::2]
    if samples == "rgb48be":
        high = b"".join(high[i:i + 3][::-1] for i in range(0, len(high), 3))  # red green blue to bgr24
    narrow = os.path.join(folder, "narrow.raw")
    with open(narrow, "wb") as f:
        f.write(high)
    return subprocess.run([ffmpeg, "-v", "error", "-f", "rawvideo", "-pixel_format",
                           "bgr24" if samples == "rgb48be" else "gray", "-video_size", f"{WIDTH}x{HEIGHT}", "-i", narrow,
                           "-sws_flags", "neighbor+bitexact", "-sws_dither", "none", "-vf", "format=bgr24",
                           "-f", "rawvideo", "-pix_fmt", word_format, "-"], check=True, capture_output=True).stdout


def tga(image_type, bits, rows):
    """A bottom-left TGA file of the rows, given top row first."""
    header = bytes([0, 0, image_type, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                    WIDTH & 255, WIDTH >> 8, HEIGHT & 255, HEIGHT >> 8, bits, 0])
    pixels = b"".join(reversed(rows))
    if image_type != TGA_RLE:
        return header + pixels
    packets, at = bytearray(), 0
    split = [pixels[i:i + 3] for i in range(0, len(pixels), 3)]
    while at < len(split):
        run = 1
        while at + run < len(split) and run < MAX_PACKET and split[at + run] == split[at]:
            run += 1
        if run > 1:
            packets += bytes([0x80 | (run - 1)]) + split[at]
        else:
            run = 1
            while at + run < len(split) and run < MAX_PACKET and split[at + run] != split[at + run - 1]:
                run += 1
            packets += bytes([run - 1]) + b"".join(split[at:at + run])
        at += run
    return header + bytes(packets)


def main():
    pellucor, ffmpeg = sys.argv[1], sys.argv[2]
    picture = ["-v", "error", "-f", "lavfi", "-i", f"testsrc2=size={WIDTH}x{HEIGHT}:rate=25", "-frames:v", str(FRAMES)]
    failures = 0
    with tempfile.TemporaryDirectory(prefix="pellucor-ffmpeg-") as folder:
        for kind, pixel_format, pixel_size in (("color", "bgr24", 3), ("gray", "gray", 1)):
            raw = subprocess.run([ffmpeg] + picture + ["-f", "rawvideo", "-pix_fmt", pixel_format, "-"],
                                 check=True, capture_output=True).stdout
            row_bytes = WIDTH * pixel_size
            for frame in range(FRAMES):
                start = frame * row_bytes * HEIGHT
                rows = [raw[start + y * row_bytes:start + (y + 1) * row_bytes] for y in range(HEIGHT)]
                image_type = TGA_GRAY if kind == "gray" else (TGA_COLOR, TGA_RLE)[frame % 2]
                with open(os.path.join(folder, f"{kind}{frame + 1:04d}.tga"), "wb") as f:
                    f.write(tga(image_type, 8 * pixel_size, rows))
            pattern = os.path.join(folder, f"{kind}%04d.tga")
            for word_format in FORMATS:
                ours, theirs = os.path.join(folder, "ours.raw"), os.path.join(folder, "theirs.raw")
                subprocess.run([pellucor, "--format", word_format, pattern, ours, "1", str(FRAMES), str(WIDTH),
                                str(HEIGHT)], check=True, stdout=subprocess.DEVNULL)
                subprocess.run([ffmpeg, "-v", "error", "-i", pattern, "-sws_flags", "neighbor+bitexact",
                                "-sws_dither", "none", "-vf", "format=bgr24", "-f", "rawvideo", "-pix_fmt",
                                word_format, "-y", theirs], check=True)
                with open(ours, "rb") as a, open(theirs, "rb") as b:
                    same = a.read() == b.read()
                print(f"{kind} {word_format}: {'same bytes' if same else 'DIFFERENT'}")
                failures += not same
        for pixel_format in FFMPEG_TGA:
            for rle in ("0", "1"):
                pattern = os.path.join(folder, f"{pixel_format}{rle}_%04d.tga")
                subprocess.run([ffmpeg] + picture + ["-pix_fmt", pixel_format, "-rle", rle, pattern], check=True)
                for word_format in ("rgb555le", "rgb565be"):
                    ours, theirs = os.path.join(folder, "ours.raw"), os.path.join(folder, "theirs.raw")
                    subprocess.run([pellucor, "--honor-origin", "--format", word_format, pattern, ours, "1",
                                    str(FRAMES), str(WIDTH), str(HEIGHT)], check=True, stdout=subprocess.DEVNULL)
                    subprocess.run([ffmpeg, "-v", "error", "-i", pattern, "-sws_flags", "neighbor+bitexact",
                                    "-sws_dither", "none", "-vf", "format=bgr24", "-f", "rawvideo",
                                    "-pix_fmt", word_format, "-y", theirs], check=True)
                    with open(ours, "rb") as a, open(theirs, "rb") as b:
                        same = a.read() == b.read()
                    print(f"FFmpeg's {pixel_format} TGA, rle {rle}, {word_format}: {'same bytes' if same else 'DIFFERENT'}")
                    failures += not same
        version = subprocess.run([pellucor, "--version"], capture_output=True, text=True).stdout
        png_formats = FFMPEG_PNG if "PNG (libspng" in version else []
        if not png_formats:
            print("PNG frames: skipped, not in this build")
        for pixel_format in png_formats:
            for interlaced in ("0", "1"):
                pattern = os.path.join(folder, f"{pixel_format}{interlaced}_%04d.png")
                # FFmpeg's PNG encoder interlaces (Adam7) with +ildct.
                interlace = ["-flags", "+ildct"] if interlaced == "1" else []
                subprocess.run([ffmpeg] + picture + ["-pix_fmt", pixel_format, "-pred", "mixed"] + interlace + [pattern],
                               check=True)
                # One thread: each frame is decoded where the one before was.
                for word_format in ("rgb555le", "rgb565be"):
                    ours, theirs = os.path.join(folder, "ours.raw"), os.path.join(folder, "theirs.raw")
                    subprocess.run([pellucor, "--threads", "1", "--format", word_format, pattern, ours, "1",
                                    str(FRAMES), str(WIDTH), str(HEIGHT)], check=True, stdout=subprocess.DEVNULL)
                    if pixel_format in SIXTEEN_BITS:
                        expected = words_of_high_bytes(ffmpeg, pattern, SIXTEEN_BITS[pixel_format], word_format, folder)
                    else:
                        subprocess.run([ffmpeg, "-v", "error", "-i", pattern, "-sws_flags", "neighbor+bitexact",
                                        "-sws_dither", "none", "-vf", "format=bgr24", "-f", "rawvideo",
                                        "-pix_fmt", word_format, "-y", theirs], check=True)
                        with open(theirs, "rb") as b:
                            expected = b.read()
                    with open(ours, "rb") as a:
                        same = a.read() == expected
                    print(f"FFmpeg's {pixel_format} PNG, interlaced {interlaced}, {word_format}: "
                          f"{'same bytes' if same else 'DIFFERENT'}")
                    failures += not same
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
