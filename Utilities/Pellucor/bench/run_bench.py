#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Times pellucor against the I/O floor and FFmpeg on generated sequences.

    python3 Utilities/Pellucor/bench/run_bench.py [BUILD_DIR] [--runs N] [--mode fresh|overwrite|both]
        [--baseline OTHER_BUILD_DIR] [--own-frames] [--no-ffmpeg] [--size WxH ...]
        [--format F ...] [--option O ...] [--vector-path P ...] [--gray | --bgra | --png | --jpeg]
        [--ffmpeg-threads default|N]

The sizes are 600 frames of 320 x 240, 150 of 640 x 480, 60 of 1920 x 1080
and 15 of 3840 x 2160; --size picks some of them.

BUILD_DIR holds a Release build (default: build). Each size is a sequence of
frames in a temporary directory, the first half uncompressed and the second
half RLE, written by FFmpeg where it is installed and by this script
otherwise (or with --own-frames). With --gray the frames are uncompressed
8-bit gray, with --bgra 32-bit color (half of them RLE), written by FFmpeg.
--option O also times pellucor with that option (--honor-origin, say).

With --png the frames are PNG, written by FFmpeg from testsrc2 with noise,
so that they compress as real renders do (8-bit gray with --gray, RGBA with
--bgra, at zlib level N with --png-level N), and the floor is the PNG floor
(the same libspng decoding each frame and writing 2 bytes a pixel); FFmpeg
runs on one thread unless --ffmpeg-threads says otherwise ("default": its
own choice, as a user runs it).

With --jpeg the frames are JPEG, written by FFmpeg from the same noisy
testsrc2 at -q:v 2 (4:2:0, as FFmpeg writes JPEGs from video), and the
floor is the JPEG floor (the same libjpeg-turbo decoding each frame with its
defaults and writing 2 bytes a pixel); FFmpeg runs on one thread unless
--ffmpeg-threads says otherwise. FFmpeg decodes with its own JPEG decoder,
not libjpeg-turbo, and upsamples the color differently, so its words
differ from pellucor's at color edges; the work is the same.

Two modes, both reported by default:
  fresh      the output file is removed before each run, outside the timed
             span, so that no run pays for freeing the page cache of the
             run before it;
  overwrite  each run writes over the previous run's output, as a user who
             converts again into the same file does.
Pellucor and the floor alternate, run after run, with nothing between them
(with --baseline, another build's pellucor joins the alternation, for before
and after figures from the same minutes, and so do pellucor with each
--format F and pellucor forced to each --vector-path P, which is reported as
skipped where the processor lacks it), and FFmpeg with them. Each program
gets one warm-up run. Figures are medians of wall time and of CPU time (user + system
of the child); the ratios are taken pair by pair, then their median and range.
"""
import argparse
import os
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

SIZES = [(320, 240, 600), (640, 480, 150), (1920, 1080, 60), (3840, 2160, 15)]
PATTERN = "f%04d.tga"
PNG_PATTERN = "f%04d.png"
JPEG_PATTERN = "f%04d.jpg"


def tga_header(image_type, width, height):
    return bytes([0, 0, image_type, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                  width & 255, width >> 8, height & 255, height >> 8, 24, 0])


def rle_packets(pixels):
    """RLE-encodes a list of 3-byte pixels into TGA packets."""
    out = bytearray()
    i, n = 0, len(pixels)
    while i < n:
        run = 1
        while i + run < n and run < 128 and pixels[i + run] == pixels[i]:
            run += 1
        if run > 1:
            out += bytes([0x80 | (run - 1)]) + pixels[i]
            i += run
            continue
        start = i
        while i < n and i - start < 128 and (i + 1 >= n or pixels[i + 1] != pixels[i]):
            i += 1
        out += bytes([i - start - 1]) + b"".join(pixels[start:i])
    return bytes(out)


def write_frames_ourselves(folder, width, height, count):
    """Flat bands and a moving box, so that RLE has runs as in a render."""
    distinct = 8
    raw, rle = [], []
    for k in range(distinct):
        pixels = []
        for y in range(height):
            band = bytes([(y * 4 + k * 16) & 255, (y * 2) & 255, 200 - (y % 100)])
            row = [band] * width
            if height // 3 <= y < height // 2:
                for x in range(k * 8, k * 8 + width // 4):
                    row[x % width] = bytes([(x * 3) & 255, (x * 5 + y) & 255, (x ^ y) & 255])
            pixels.extend(row)
        raw.append(tga_header(2, width, height) + b"".join(pixels))
        rle.append(tga_header(10, width, height) + rle_packets(pixels))
    for number in range(1, count + 1):
        frames = raw if number <= count // 2 else rle
        with open(os.path.join(folder, PATTERN % number), "wb") as f:
            f.write(frames[number % distinct])


def write_frames_with_ffmpeg(folder, width, height, count, gray=False, bgra=False, png=False, jpeg=False,
                             png_level=None):
    half = count // 2
    source = ["ffmpeg", "-v", "error", "-f", "lavfi", "-i", f"testsrc2=size={width}x{height}:rate=25"]
    target = os.path.join(folder, PATTERN)
    if jpeg:
        subprocess.run(source + ["-frames:v", str(count), "-vf", "noise=alls=12:allf=t+u", "-q:v", "2",
                                 os.path.join(folder, JPEG_PATTERN)], check=True)
        return
    if png:
        pixels = ["-pix_fmt", "gray"] if gray else ["-pix_fmt", "rgba"] if bgra else []
        level = [] if png_level is None else ["-compression_level", str(png_level)]
        subprocess.run(source + ["-frames:v", str(count), "-vf", "noise=alls=12:allf=t+u"] + pixels + level +
                       [os.path.join(folder, PNG_PATTERN)], check=True)
        return
    if gray:
        subprocess.run(source + ["-frames:v", str(count), "-vf", "vflip", "-pix_fmt", "gray", "-rle", "0", target], check=True)
        return
    pixels = ["-pix_fmt", "bgra"] if bgra else []
    subprocess.run(source + ["-frames:v", str(half), "-vf", "vflip", "-rle", "0"] + pixels + [target], check=True)
    subprocess.run(source + ["-ss", str(half / 25), "-frames:v", str(count - half), "-vf", "vflip",
                             "-start_number", str(half + 1)] + pixels + [target], check=True)


# The /proc/cpuinfo flags that each vector path needs (Linux).
PATH_FLAGS = {"avx512": ["avx512f", "avx512bw", "avx512vbmi"], "avx2": ["avx2"], "ssse3": ["ssse3"],
              "neon": ["asimd"], "plain": []}


def processor_name():
    """The processor's model name, as figures are quoted beside it."""
    try:
        with open("/proc/cpuinfo") as f:
            line = next((line for line in f if line.startswith("model name")), "")
    except OSError:
        line = ""
    return line.partition(":")[2].strip() or platform.processor() or "unknown processor"


def processor_has(path):
    try:
        with open("/proc/cpuinfo") as f:
            flags = set(next((line for line in f if line.startswith(("flags", "Features"))), "").split())
    except OSError:
        return False
    return all(flag in flags for flag in PATH_FLAGS[path])


def timed(command, output, fresh):
    """Runs command (a list, or a list and the environment to add) once;
    returns its wall and CPU seconds."""
    command, extra = (command, {}) if isinstance(command[0], str) else command
    if fresh and os.path.exists(output):
        os.remove(output)
    start = time.perf_counter()
    child = subprocess.Popen(command, stdout=subprocess.DEVNULL, env={**os.environ, **extra})
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{command[0]} failed with status {os.waitstatus_to_exitcode(status)}")
    return wall, usage.ru_utime + usage.ru_stime


def ratio_text(ratios):
    return f"{statistics.median(ratios):.2f} ({min(ratios):.2f}-{max(ratios):.2f})"


def measure(commands, output, fresh, runs):
    """Alternates every command, run after run."""
    times = {name: [] for name in commands}
    for command in commands.values():
        timed(command, output, fresh)  # warm-up: frames into the page cache
    for _ in range(runs):
        for name, command in commands.items():
            times[name].append(timed(command, output, fresh))
    return times


def report(times, count):
    for name, samples in times.items():
        wall = statistics.median(s[0] for s in samples)
        cpu = statistics.median(s[1] for s in samples)
        print(f"    {name:14} wall {wall * 1000:7.1f} ms  cpu {cpu * 1000:7.1f} ms  {count / wall:7.0f} fps")
    for name in times:
        if name not in ("floor", "ffmpeg"):
            pairs = list(zip(times[name], times["floor"]))
            print(f"    {name + ' / floor':24} wall {ratio_text([p[0] / f[0] for p, f in pairs])}"
                  f"  cpu {ratio_text([p[1] / f[1] for p, f in pairs])}")
    for name in times:
        if name not in ("pellucor", "baseline", "floor", "ffmpeg"):
            pairs = list(zip(times[name], times["pellucor"]))
            print(f"    {name + ' / pellucor':24} wall {ratio_text([p[0] / f[0] for p, f in pairs])}"
                  f"  cpu {ratio_text([p[1] / f[1] for p, f in pairs])}")
    for name in times if "ffmpeg" in times else []:
        if name not in ("floor", "ffmpeg"):
            pairs = list(zip(times[name], times["ffmpeg"]))
            print(f"    {name + ' / ffmpeg':24} wall {ratio_text([p[0] / f[0] for p, f in pairs])}"
                  f"  cpu {ratio_text([p[1] / f[1] for p, f in pairs])}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", nargs="?", default="build")
    parser.add_argument("--runs", type=int, default=9)
    parser.add_argument("--mode", choices=["fresh", "overwrite", "both"], default="both")
    parser.add_argument("--own-frames", action="store_true", help="write the frames without FFmpeg")
    parser.add_argument("--no-ffmpeg", action="store_true", help="time only pellucor and the floor")
    parser.add_argument("--baseline", help="another build directory whose pellucor joins the alternation")
    names = [f"{w}x{h}" for w, h, _ in SIZES]
    parser.add_argument("--size", action="append", choices=names, help="time only these sizes")
    parser.add_argument("--gray", action="store_true", help="gray frames instead of color ones (needs FFmpeg)")
    parser.add_argument("--bgra", action="store_true", help="32-bit color frames (needs FFmpeg)")
    parser.add_argument("--png", action="store_true", help="PNG frames against the PNG floor (needs FFmpeg)")
    parser.add_argument("--png-level", type=int, choices=range(10), metavar="0-9",
                        help="with --png, FFmpeg's zlib level for the frames (default: its own, 6)")
    parser.add_argument("--jpeg", action="store_true", help="JPEG frames against the JPEG floor (needs FFmpeg)")
    parser.add_argument("--ffmpeg-threads", help="FFmpeg's -threads: 'default' for its own choice "
                        "(default: 1 with --png or --jpeg, else its own choice)")
    parser.add_argument("--format", action="append", default=[], help="also time pellucor --format F")
    parser.add_argument("--option", action="append", default=[], help="also time pellucor with this option")
    parser.add_argument("--vector-path", action="append", default=[], choices=list(PATH_FLAGS),
                        help="also time pellucor forced to this path")
    args = parser.parse_args()
    sizes = [size for size, name in zip(SIZES, names) if not args.size or name in args.size]
    pellucor = os.path.join(args.build, "pellucor")
    floor = os.path.join(args.build, "Utilities", "Pellucor", "bench", "pellucor_io_floor")
    baseline = os.path.join(args.baseline, "pellucor") if args.baseline else None
    for program in filter(None, (pellucor, floor, baseline)):
        if not os.access(program, os.X_OK):
            sys.exit(f"{program} not found: build first (cmake -B {args.build} && cmake --build {args.build})")
    ffmpeg = shutil.which("ffmpeg")
    encode_with_ffmpeg = ffmpeg and not args.own_frames
    if (args.gray or args.bgra or args.png or args.jpeg) and not ffmpeg:
        sys.exit("--gray, --bgra, --png and --jpeg need FFmpeg to write the frames")
    kind = "png" if args.png else "jpeg" if args.jpeg else None
    if kind:
        floor = os.path.join(args.build, "Utilities", "Pellucor", "bench", f"pellucor_{kind}_floor")
        if not os.access(floor, os.X_OK):
            sys.exit(f"{floor} not found: --{kind} needs a build that reads {kind.upper()} frames")
    modes = ["fresh", "overwrite"] if args.mode == "both" else [args.mode]
    print(f"{processor_name()}, {os.cpu_count()} processors")
    print(f"frames by {'FFmpeg' if encode_with_ffmpeg else 'this script'}; medians of {args.runs} runs")
    paths = []
    for path in args.vector_path:
        if processor_has(path):
            paths.append(path)
        else:
            print(f"vector path {path}: skipped, not on this processor")

    for width, height, count in sizes:
        with tempfile.TemporaryDirectory(prefix="pellucor-bench-") as folder:
            if args.gray or args.bgra or kind:
                write_frames_with_ffmpeg(folder, width, height, count, gray=args.gray, bgra=args.bgra, png=args.png,
                                         jpeg=args.jpeg, png_level=args.png_level)
            else:
                (write_frames_with_ffmpeg if encode_with_ffmpeg else write_frames_ourselves)(folder, width, height, count)
            pattern = os.path.join(folder, {"png": PNG_PATTERN, "jpeg": JPEG_PATTERN}.get(kind, PATTERN))
            output = os.path.join(folder, "out.raw")
            geometry = ["1", str(count), str(width), str(height)]
            commands = {"pellucor": [pellucor, pattern, output] + geometry}
            if baseline:
                commands["baseline"] = [baseline, pattern, output] + geometry
            for word_format in args.format:
                commands[word_format] = [pellucor, "--format", word_format, pattern, output] + geometry
            for option in args.option:
                commands[option] = [pellucor, option, pattern, output] + geometry
            for path in paths:
                commands["path " + path] = ([pellucor, pattern, output] + geometry, {"PELLUCOR_VECTOR_PATH": path})
            commands["floor"] = [floor, pattern, output] + geometry
            if ffmpeg and not args.no_ffmpeg:
                ffmpeg_threads = args.ffmpeg_threads or ("1" if kind else "default")
                threads = [] if ffmpeg_threads == "default" else ["-threads", ffmpeg_threads]
                commands["ffmpeg"] = ["ffmpeg", "-v", "error"] + threads + ["-start_number", "1", "-i", pattern,
                                      "-frames:v", str(count), "-sws_flags", "neighbor", "-f", "rawvideo",
                                      "-pix_fmt", "rgb555le", "-y", output]
            megabytes = sum(os.path.getsize(pattern % n) for n in range(1, count + 1)) / 1e6
            print(f"\n{width} x {height}, {count} frames ({megabytes:.1f} MB of {(kind or 'tga').upper()})")
            for mode in modes:
                print(f"  {mode}:")
                report(measure(commands, output, mode == "fresh", args.runs), count)


if __name__ == "__main__":
    main()
