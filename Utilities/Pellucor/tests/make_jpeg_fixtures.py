#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes jpeg_fixtures.h: small JPEG files made by cjpeg, each with the
pixels that djpeg (libjpeg-turbo, default settings) decodes from it.

    python3 Utilities/Pellucor/tests/make_jpeg_fixtures.py > Utilities/Pellucor/tests/jpeg_fixtures.h
    clang-format -i Utilities/Pellucor/tests/jpeg_fixtures.h

Run once, by hand (Debian: libjpeg-turbo-progs); the tests use the output.
The picture is 21 x 10, an asymmetric F in red on a gradient, so that flips,
mirrors and channel swaps show, and so that no side is a whole number of
blocks. The wide pictures are rows of one value each, many blocks wide and
of more than one band of rows, so that every row's words are known
wherever the bands end.
"""
import subprocess
import sys
import tempfile
import os

WIDTH, HEIGHT = 21, 10
F = {(x, y) for y in range(1, 9) for x in (3, 4)} | {(x, y) for x in range(5, 10) for y in (1, 2)} | \
    {(x, y) for x in range(5, 8) for y in (4, 5)}


def picture():
    rows = bytearray()
    for y in range(HEIGHT):
        for x in range(WIDTH):
            rows += bytes((230, 10, 20) if (x, y) in F else (20 + 10 * x, 40 + 15 * y, 200 - 5 * x))
    return rows


# tga.h's 3 x 2 PICTURE and GRAY_PICTURE, for the runs that mix every kind.
SMALL = bytes((255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255, 8, 10, 13, 7, 7, 80))
SMALL_GRAY = bytes((255, 128, 4, 8, 0, 200))


def wide(width, height, color):
    """Stripes of 8 rows of one value: flat blocks, a few bits each."""
    rows = bytearray()
    for y in range(height):
        value = (y // 8 * 53 + 17) % 256
        pixel = bytes((value, 255 - value, (value * 3) % 256)) if color else bytes((value,))
        rows += pixel * width
    return rows


def netpbm(width, height, pixels, color):
    return (b"P6" if color else b"P5") + f"\n{width} {height}\n255\n".encode() + bytes(pixels)


def run(command, data):
    return subprocess.run(command, input=data, stdout=subprocess.PIPE, check=True).stdout


def decoded(jpeg):
    """djpeg's pixels, without the netpbm header."""
    out = run(["djpeg"], jpeg)
    fields, at = [], 0
    while len(fields) < 4:
        while out[at:at + 1].isspace():
            at += 1
        end = at
        while not out[end:end + 1].isspace():
            end += 1
        fields.append(out[at:end])
        at = end
    return out[at + 1:]


def array(name, data):
    lines = [f"inline const Bytes {name} = {{"]
    for start in range(0, len(data), 24):
        lines.append("    " + ", ".join(f"0x{b:02X}" for b in data[start:start + 24]) + ",")
    lines.append("};")
    return "\n".join(lines)


CASES = [
    # name, cjpeg options, gray
    ("BASELINE_420", ["-optimize", "-sample", "2x2"], False),
    ("BASELINE_422", ["-optimize", "-sample", "2x1"], False),
    ("BASELINE_444", ["-optimize", "-sample", "1x1"], False),
    ("PROGRESSIVE_420", ["-progressive", "-sample", "2x2"], False),
    ("RESTARTS_420", ["-optimize", "-sample", "2x2", "-restart", "1B"], False),
    ("ARITHMETIC_420", ["-arithmetic", "-sample", "2x2"], False),
    ("GRAY_BASELINE", ["-optimize", "-grayscale"], True),
    ("GRAY_PROGRESSIVE", ["-progressive", "-grayscale"], True),
]


def main():
    out = ["// SPDX-License-Identifier: MIT",
           "// Written by make_jpeg_fixtures.py: JPEG files made by cjpeg and the pixels",
           "// that djpeg decodes from each, red, green, blue or gray, top row first.",
           "#pragma once", "", '#include "tga.h"', "",
           f"constexpr int JPEG_WIDTH = {WIDTH}, JPEG_HEIGHT = {HEIGHT};", ""]
    source = netpbm(WIDTH, HEIGHT, picture(), True)
    # The codings of one picture mostly decode to the same pixels: those are
    # written once, and named again.
    written = {}
    for name, options, gray in CASES:
        jpeg = run(["cjpeg", "-quality", "90"] + options, source)
        pixels, pixels_name = decoded(jpeg), f"JPEG_{name}_PIXELS"
        out += [f"// cjpeg -quality 90 {' '.join(options)}", array(f"JPEG_{name}", jpeg)]
        if pixels in written:
            out += [f"inline const Bytes& {pixels_name} = {written[pixels]};", ""]
        else:
            written[pixels] = pixels_name
            out += [array(pixels_name, pixels), ""]
    for name, pixels, color, options in (("SMALL", SMALL, True, ["-progressive"]),
                                         ("SMALL_GRAY", SMALL_GRAY, False, ["-grayscale"])):
        jpeg = run(["cjpeg", "-quality", "90"] + options, netpbm(3, 2, pixels, color))
        out += [f"// tga.h's 3 x 2 picture, cjpeg -quality 90 {' '.join(options)}", array(f"JPEG_{name}", jpeg),
                array(f"JPEG_{name}_PIXELS", decoded(jpeg)), ""]
    for name, width, height, color in (("WIDE_GRAY", 6000, 40, False), ("WIDE_444", 2800, 40, True)):
        jpeg = run(["cjpeg", "-optimize"] + (["-sample", "1x1"] if color else []),
                   netpbm(width, height, wide(width, height, color), color))
        pixels = decoded(jpeg)
        size = 3 if color else 1
        row = size * width
        rows = [pixels[y * row:(y + 1) * row] for y in range(height)]
        if any(r != r[:size] * width for r in rows):
            sys.exit(f"{name}: a decoded row is not one value")
        out += [f"// {width} x {height}, cjpeg -optimize{' -sample 1x1' if color else ''}",
                f"constexpr int JPEG_{name}_WIDTH = {width}, JPEG_{name}_HEIGHT = {height};",
                array(f"JPEG_{name}", jpeg), "// Each row's one pixel.",
                array(f"JPEG_{name}_ROW_PIXELS", b"".join(r[:size] for r in rows)), ""]
    sys.stdout.write("\n".join(out))


if __name__ == "__main__":
    main()
