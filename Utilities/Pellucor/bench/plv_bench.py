#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""PLV beside raw and LZ4 HC: sizes and write times on made contents.

    python3 Utilities/Pellucor/bench/plv_bench.py [BUILD_DIR] [--runs N] [--content NAME ...]
        [--frames N] [--option O ...]

Each content is a sequence of frames of 320 x 240 (60 unless --frames says
otherwise), written to a temporary folder:
  ui            desktop, a window with text, a clock, a progress bar, a
                moving cursor and a menu that opens and closes (drawn here)
  cartoon       flat sky and ground, anti-aliased sun, hills and characters
                that move (drawn here)
  testsrc       FFmpeg's testsrc test pattern (moving gradient and counter)
  smptebars     FFmpeg's SMPTE colour bars (a still test pattern)
  natural       FFmpeg's mandelbrot zoom with temporal noise, as a camera
                gives: no runs, no still pixels
  tga           the TGA sequence of run_bench.py (testsrc2, half RLE)
  png           the PNG sequence of run_bench.py (testsrc2 with noise)
The FFmpeg contents are skipped, with a note, where FFmpeg is not installed.

For each content pellucor writes the raw video and the PLV file (--plv, and
each --option O beside it), and pellucor_plv_lz4 gives the size of LZ4 HC
level 9 on the raw words, one block per frame (skipped, with a note, where the
build has no liblz4). A PLV file must never pass raw + 92 + 30 bytes a frame.
The record types come from the file's index.

Write times: the raw run and the --plv run alternate, run after run, each on
a fresh output (removed outside the timed span), on the same frames with the
same threads; the ratio is taken pair by pair, then its median and range.
"""
import argparse
import math
import os
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run_bench  # noqa: E402

WIDTH, HEIGHT = 320, 240
PATTERN = "f%04d.tga"


def write_tga(path, rows):
    """rows: top row first, each a bytes-like of B G R triples."""
    header = bytes([0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, WIDTH & 255, WIDTH >> 8, HEIGHT & 255, HEIGHT >> 8, 24, 0])
    with open(path, "wb") as f:
        f.write(header)
        for row in reversed(rows):
            f.write(row)


def bgr(r, g, b):
    return bytes([b, g, r])


def fill(rows, x0, y0, x1, y1, color):
    x0, x1 = max(0, x0), min(WIDTH, x1)
    for y in range(max(0, y0), min(HEIGHT, y1)):
        rows[y][x0 * 3:x1 * 3] = color * (x1 - x0)


# A 5 x 7 "font": fixed pseudo-random glyphs, so that text has the repeats
# and the variety of real text.
GLYPHS = []
for g in range(48):
    state = g * 2654435761 + 12345
    bits = []
    for _ in range(7):
        state = (state * 1103515245 + 12345) & 0x7FFFFFFF
        bits.append((state >> 8) & 0x1F)
    GLYPHS.append(bits)


def text(rows, x, y, codes, color):
    for i, code in enumerate(codes):
        glyph = GLYPHS[code % len(GLYPHS)]
        for gy, bits in enumerate(glyph):
            yy = y + gy
            if not 0 <= yy < HEIGHT:
                continue
            row = rows[yy]
            for gx in range(5):
                xx = x + i * 6 + gx
                if bits >> gx & 1 and 0 <= xx < WIDTH:
                    row[xx * 3:xx * 3 + 3] = color


CURSOR = ["X", "XX", "X.X", "X..X", "X...X", "X....X", "X.....X", "X..XXXX", "X.X", "XX", "X"]


def ui_frame(n):
    rows = [bytearray(bgr(0, 128, 128) * WIDTH) for _ in range(HEIGHT)]
    fill(rows, 16, 14, 304, 226, bgr(192, 192, 192))
    for x in range(18, 302):  # title bar: a horizontal gradient
        shade = 0x40 + (x - 18) * 0x80 // 284
        for y in range(16, 30):
            rows[y][x * 3:x * 3 + 3] = bgr(0, 0, shade)
    text(rows, 22, 19, [1, 2, 3, 4, 5, 6, 7], bgr(255, 255, 255))
    fill(rows, 22, 36, 298, 180, bgr(255, 255, 255))
    for line in range(12):
        codes = [(line * 7 + i * 3) % 40 for i in range(30 + (line * 5) % 13)]
        text(rows, 26, 40 + line * 11, codes, bgr(0, 0, 0))
    seconds = n // 30
    text(rows, 250, 19, [10 + seconds % 10, 11, 20 + n % 30 // 10, 30 + n % 10], bgr(255, 255, 0))
    fill(rows, 22, 190, 298, 204, bgr(128, 128, 128))  # progress bar
    fill(rows, 23, 191, 23 + min(274, n * 5), 203, bgr(0, 0, 160))
    fill(rows, 22, 208, 80, 222, bgr(212, 208, 200))  # buttons
    fill(rows, 240, 208, 298, 222, bgr(212, 208, 200))
    text(rows, 30, 212, [8, 9], bgr(0, 0, 0))
    text(rows, 250, 212, [12, 13, 14], bgr(0, 0, 0))
    if n // 20 % 2 == 1:  # a menu, open for 20 frames in 40
        fill(rows, 40, 30, 140, 120, bgr(240, 240, 240))
        for item in range(7):
            text(rows, 46, 34 + item * 12, [(item * 5 + i) % 40 for i in range(10)], bgr(0, 0, 0))
    if n % 16 < 8:  # a blinking caret
        fill(rows, 200, 150, 201, 159, bgr(0, 0, 0))
    cx, cy = 60 + n * 3, 60 + n
    for dy, line in enumerate(CURSOR):
        for dx, c in enumerate(line):
            if c != " " and 0 <= cx + dx < WIDTH and 0 <= cy + dy < HEIGHT:
                rows[cy + dy][(cx + dx) * 3:(cx + dx) * 3 + 3] = bgr(0, 0, 0) if c == "X" else bgr(255, 255, 255)
    return rows


def blend(rows, x, y, color, coverage):
    at = x * 3
    row = rows[y]
    for i in range(3):
        row[at + i] = int(row[at + i] + (color[i] - row[at + i]) * coverage + 0.5)


def disc(rows, cx, cy, radius, color):
    """An anti-aliased filled circle: its edge pixels take their coverage."""
    for y in range(max(0, int(cy - radius - 1)), min(HEIGHT, int(cy + radius + 2))):
        for x in range(max(0, int(cx - radius - 1)), min(WIDTH, int(cx + radius + 2))):
            coverage = min(1.0, max(0.0, radius - math.hypot(x + 0.5 - cx, y + 0.5 - cy) + 0.5))
            if coverage >= 1.0:
                rows[y][x * 3:x * 3 + 3] = color
            elif coverage > 0.0:
                blend(rows, x, y, color, coverage)


def cartoon_frame(n):
    sky, ground = bgr(110, 190, 250), bgr(90, 180, 60)
    rows = [bytearray(sky * WIDTH) for _ in range(170)] + [bytearray(ground * WIDTH) for _ in range(HEIGHT - 170)]
    disc(rows, 270, 40, 22, bgr(255, 220, 40))
    disc(rows, 60, 200, 70, bgr(70, 150, 50))  # a hill
    disc(rows, 250, 230, 90, bgr(80, 160, 55))
    for cloud in range(3):
        x = (40 + cloud * 110 + n) % (WIDTH + 60) - 30
        disc(rows, x, 35 + cloud * 12, 14, bgr(255, 255, 255))
        disc(rows, x + 16, 35 + cloud * 12, 11, bgr(255, 255, 255))
    hero = 30 + n * 4  # a character: body, head, eyes
    disc(rows, hero, 150, 18, bgr(230, 60, 50))
    disc(rows, hero, 122, 12, bgr(250, 210, 170))
    disc(rows, hero + 4, 120, 2.5, bgr(20, 20, 20))
    ball_y = 160 - abs(math.sin(n / 6)) * 60
    disc(rows, 200, ball_y, 9, bgr(40, 60, 220))
    return rows


def write_drawn(folder, count, draw):
    for n in range(count):
        write_tga(os.path.join(folder, PATTERN % (n + 1)), [bytes(r) for r in draw(n)])


def write_ffmpeg(folder, count, source, filters=None):
    command = ["ffmpeg", "-v", "error", "-f", "lavfi", "-i", f"{source}=size={WIDTH}x{HEIGHT}:rate=30",
               "-frames:v", str(count), "-vf", ",".join((filters or []) + ["vflip"]), "-rle", "0",
               os.path.join(folder, PATTERN)]
    subprocess.run(command, check=True)


CONTENTS = {
    "ui": lambda folder, count: write_drawn(folder, count, ui_frame),
    "cartoon": lambda folder, count: write_drawn(folder, count, cartoon_frame),
    "testsrc": lambda folder, count: write_ffmpeg(folder, count, "testsrc"),
    "smptebars": lambda folder, count: write_ffmpeg(folder, count, "smptebars"),
    "natural": lambda folder, count: write_ffmpeg(folder, count, "mandelbrot", ["noise=alls=10:allf=t"]),
    "tga": lambda folder, count: run_bench.write_frames_with_ffmpeg(folder, WIDTH, HEIGHT, count),
    "png": lambda folder, count: run_bench.write_frames_with_ffmpeg(folder, WIDTH, HEIGHT, count, png=True),
}
NEEDS_FFMPEG = {"testsrc", "smptebars", "natural", "tga", "png"}


def record_types(path):
    """Counts of raw, key and delta frames, from the index the trailer names."""
    with open(path, "rb") as f:
        data = f.read()
    index_offset, frames = struct.unpack_from("<QI", data, len(data) - 16)
    counts = {0: 0, 1: 0, 2: 0}
    for i in range(frames):
        counts[data[index_offset + 12 + 16 * i + 12]] += 1
    return counts


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", nargs="?", default="build")
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--frames", type=int, default=60)
    parser.add_argument("--content", action="append", choices=list(CONTENTS))
    parser.add_argument("--option", action="append", default=[], help="also time and size --plv with option O")
    args = parser.parse_args()
    binary = os.path.join(args.build, "pellucor")
    lz4 = os.path.join(args.build, "Utilities", "Pellucor", "bench", "pellucor_plv_lz4")
    with open("/proc/cpuinfo") as f:
        model = next((line.split(":", 1)[1].strip() for line in f if line.startswith("model name")), "unknown")
    print(f"processor: {model}, {os.cpu_count()} cores; {args.frames} frames of {WIDTH} x {HEIGHT} each")
    if not os.path.exists(lz4):
        print("LZ4 HC: skipped (the build has no pellucor_plv_lz4: liblz4 not found)")
    ffmpeg = shutil.which("ffmpeg") is not None
    for name in args.content or list(CONTENTS):
        if name in NEEDS_FFMPEG and not ffmpeg:
            print(f"{name}: skipped (needs FFmpeg)")
            continue
        folder = tempfile.mkdtemp(prefix="pellucor-plv-bench-")
        try:
            CONTENTS[name](folder, args.frames)
            pattern = os.path.join(folder, PNG_PATTERN if name == "png" else PATTERN)
            raw = os.path.join(folder, "out.raw")
            frame_args = [pattern, "", "1", str(args.frames), str(WIDTH), str(HEIGHT)]

            def command(options, output):
                return [binary, "--quiet"] + options + [pattern, output] + frame_args[2:]

            subprocess.run(command([], raw), check=True, stdout=subprocess.DEVNULL)
            raw_size = os.path.getsize(raw)
            lz4_size = None
            if os.path.exists(lz4):
                lz4_size = int(subprocess.run([lz4, raw, str(2 * WIDTH * HEIGHT)], check=True,
                                              capture_output=True, text=True).stdout)
            variants = [["--plv"]] + [["--plv", option] for option in args.option]
            line = f"{name:10} raw {raw_size:9}"
            if lz4_size is not None:
                line += f"  LZ4 HC 9 {raw_size / lz4_size:6.1f}x"
            for options in variants:
                plv = os.path.join(folder, "out.plv")
                subprocess.run(command(options, plv), check=True, stdout=subprocess.DEVNULL)
                plv_size = os.path.getsize(plv)
                bound = raw_size + 92 + 30 * args.frames
                types = record_types(plv)
                label = " ".join(options[1:]) or "PLV"
                line += (f"  {label} {raw_size / plv_size:6.1f}x ({plv_size} bytes; raw/key/delta "
                         f"{types[0]}/{types[1]}/{types[2]})")
                if plv_size > bound:
                    line += f"  OVER THE BOUND {bound}"
            print(line)
            commands = {"raw": command([], raw)}
            for options in variants:
                commands[" ".join(options)] = command(options, raw)
            times = run_bench.measure(commands, raw, True, args.runs)
            for label in list(commands)[1:]:
                pairs = list(zip(times[label], times["raw"]))
                print(f"    {label + ' / raw':22} wall {run_bench.ratio_text([p[0] / r[0] for p, r in pairs])}"
                      f"  cpu {run_bench.ratio_text([p[1] / r[1] for p, r in pairs])}"
                      f"  (raw wall {statistics.median(t[0] for t in times['raw']) * 1000:.1f} ms)")
        finally:
            shutil.rmtree(folder)


PNG_PATTERN = run_bench.PNG_PATTERN

if __name__ == "__main__":
    main()
