// SPDX-License-Identifier: MIT
// End-to-end tests: run the built binary on frames written to a temporary
// directory and check its console output, exit status and output bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#ifdef __linux__
#include <sys/syscall.h>
#endif
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "jpeg.h"
#include "plv_play.h"
#include "plv_file.h"
#include "png.h"
#include "process.h"
#include "tga.h"

namespace fs = std::filesystem;
using namespace test_process;

namespace {

const std::string BANNER = "Pellucor v1.00\n";
const std::string FORMATS = " (formats: rgb555le rgb555be rgb565le rgb565be bgr555le bgr555be bgr565le bgr565be)\n";
const std::string INSPECTION_USAGE =
    "Usage: pellucor --info FILE, or pellucor --to-png [--format F] FILE PATTERN [WIDTH HEIGHT]\n";
#ifdef PELLUCOR_PNG
std::string to_png_line(const std::string& line)
{
    return line;
}
#else
std::string to_png_line(const std::string&)
{
    return "This build writes no PNG files: --to-png needs libspng\n";
}
#endif
const std::string USAGE = "Pellucor <file format \"ZOVA%04d.TGA\"> <output file> <start frame> <end frame> "
                          "<video width> <video height>\n";

class Cli : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A space in every path, as in "Program Files" or "My Renders".
        std::mt19937 random(std::random_device {}());
        do {
            dir = fs::temp_directory_path() / ("pellucor test-" + std::to_string(random()));
        } while (!fs::create_directory(dir));
#ifdef _WIN32
        // Windows paths: a drive letter and backslashes, in patterns and outputs alike.
        ASSERT_EQ(dir.string().substr(1, 2), ":\\") << dir;
#endif
        console = dir.string() + ".console";
        pattern = (dir / "f%d.tga").string();
        out = (dir / "out.raw").string();
    }
    void TearDown() override
    {
        threads_option = true;
        fs::remove_all(dir);
        fs::remove(console);
        fs::remove(errors_path(console));
    }

    fs::path frame_path(int number) const
    {
        char name[32];
        std::snprintf(name, sizeof name, "f%d.tga", number);
        return dir / name;
    }
    void frame(int number, const Bytes& bytes)
    {
        write(frame_path(number), bytes);
    }
    static void write(const fs::path& path, const Bytes& bytes)
    {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    static Bytes read(const fs::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }

    // The binary and args, through the cross build's emulator if there is one.
    // Where PELLUCOR_TEST_THREADS names a count, a conversion runs on that
    // many threads, and must show and write what one thread does: the same
    // tests, with the same expected bytes and console, run with each.
    static std::vector<std::string> command_line(const std::vector<std::string>& args)
    {
        std::vector<std::string> command;
        const char* threads = std::getenv("PELLUCOR_TEST_THREADS");
        const std::string launcher = PELLUCOR_LAUNCHER;
        for (std::size_t from = 0, end; from < launcher.size(); from = end + 1) {
            end = std::min(launcher.find('|', from), launcher.size());
            command.push_back(launcher.substr(from, end - from));
        }
        command.push_back(PELLUCOR_BINARY);
        if (threads != nullptr && threads_option) {
            command.insert(command.end(), {"--threads", threads});
        }
        command.insert(command.end(), args.begin(), args.end());
        return command;
    }
    // Off in the tests of the command line's own shape, which an option
    // changes.
    static inline bool threads_option = true;
    std::string console_text() const
    {
        const Bytes text = read(console);
        return std::string(text.begin(), text.end());
    }
    // Standard output is the console; standard error is kept apart, in errors.
    Result run(const std::vector<std::string>& args) const
    {
        Result result {"", spawn(command_line(args), console, true), ""};
        result.console = console_text();
        const Bytes errors = read(errors_path(console));
        result.errors.assign(errors.begin(), errors.end());
#ifdef _WIN32
        // Console lines end as Windows text output ends them.
        std::string lf;
        for (std::size_t i = 0; i < result.console.size(); ++i) {
            const char c = result.console[i];
            EXPECT_FALSE(c == '\n' && (i == 0 || result.console[i - 1] != '\r')) << "LF without CR: " << result.console;
            if (c != '\r' || i + 1 == result.console.size() || result.console[i + 1] != '\n') lf += c;
        }
        result.console = lf;
        std::erase(result.errors, '\r');
#endif
        return result;
    }
    // Runs with a failure injected by the fault shim (PELLUCOR_FAULT); false,
    // with the case reported skipped, where the platform has no shim.
    bool run_with_fault(const std::string& fault, const std::vector<std::string>& args, Result& result) const
    {
        const std::string shim = PELLUCOR_FAULT_SHIM;
        if (shim.empty()) {
            std::printf("[ SKIPPED  ] fault %s: no LD_PRELOAD shim on this platform\n", fault.c_str());
            return false;
        }
#ifdef _WIN32
        static_cast<void>(args);
        static_cast<void>(result);
#else
        // LD_PRELOAD takes spaces and colons as separators, with no escape:
        // a shim built under such a path is loaded from a copy.
        std::string preload = shim;
        if (preload.find_first_of(" :") != std::string::npos) {
            preload =
                (fs::temp_directory_path() / ("pellucor-fault-shim-" + std::to_string(getpid()) + ".so")).string();
            fs::copy_file(shim, preload, fs::copy_options::overwrite_existing);
        }
        const char* sanitizer = std::getenv("ASAN_OPTIONS");
        const std::string before = sanitizer != nullptr ? sanitizer : "";
        setenv("PELLUCOR_FAULT", fault.c_str(), 1);
        setenv("LD_PRELOAD", preload.c_str(), 1);
        setenv("ASAN_OPTIONS", (before + ":verify_asan_link_order=0").c_str(), 1);
        result = run(args);
        unsetenv("PELLUCOR_FAULT");
        unsetenv("LD_PRELOAD");
        if (preload != shim) {
            fs::remove(preload);
        }
        before.empty() ? unsetenv("ASAN_OPTIONS") : setenv("ASAN_OPTIONS", before.c_str(), 1);
#endif
        return true;
    }
    // Runs the picture's geometry over frames first..last into out.
    Result run_picture(int first, int last) const
    {
        return run({pattern, out, std::to_string(first), std::to_string(last), "3", "2"});
    }
    // The text without the summary that ends a run on standard error, whose
    // time varies; a failure where it is not there.
    static std::string without_summary(const std::string& text)
    {
        const std::size_t start = text.rfind("pellucor: ", text.empty() ? 0 : text.size() - 1);
        const bool found =
            start != std::string::npos && text.find(" written to ", start) != std::string::npos && text.back() == '\n';
        EXPECT_TRUE(found) << "no summary in " << text;
        return found ? text.substr(0, start) : text;
    }
    std::string frame_line(int number, const std::string& tail) const
    {
        return "Frame " + std::to_string(number) + " ... " + tail;
    }

#ifndef _WIN32
    // Signals sent to a run of 2048 x 2048 frames as its third frame is
    // written, to the process or to a worker thread alone, each case tried
    // a few times, as the faults they guard against show in some runs only:
    // the output holds whole frames, each exact, and the log an "OK" line
    // for each of them and no more.
    void send_signals(bool to_workers)
    {
        constexpr std::uintmax_t FRAME_BYTES = 2 * 2048 * 2048;
        frame(1, gray_tga(Bytes(2048 * 2048, 77), 2048, 2048));
        const Bytes frame_words = gray_words(Bytes(2048 * 2048, 77));
        const fs::path log = dir / "run.log", fifo = dir / "log.fifo";
        fs::remove(fifo);
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        enum Target {PROCESS, WORKER};
        struct Case {
            std::vector<int> signals;  // sent one after the other
            Target target = PROCESS;
            bool piped_log = false;
            int tries = 1;
        };
        std::vector<Case> cases;
        if (to_workers) {
            for (const int signal : {SIGTERM, SIGINT, SIGHUP}) cases.push_back({{signal}, WORKER, false, 5});
            cases.push_back({{SIGTERM}, WORKER, true, 3});
        } else {
            for (const int signal :
                 {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU}) {
                cases.push_back({{ signal }});
            }
            cases.push_back({{SIGTERM}, PROCESS, true, 5});
            cases.push_back({{SIGINT, SIGTERM}, PROCESS, false, 3});
        }
        for (const Case& c : cases) {
            for (int attempt = 0; attempt < c.tries; ++attempt) {
                SCOPED_TRACE(std::to_string(c.signals[0]) + (c.signals.size() > 1 ? " and more" : "") +
                             (c.target == WORKER ? " to a worker" : "") + (c.piped_log ? ", piped log" : "") +
                             ", try " + std::to_string(attempt));
                fs::remove(out);
                fs::remove(log);
                // A worker to hit needs more threads than one.
                std::vector<std::string> args = {(dir / "f1.tga").string(), out, "1", "1000", "2048", "2048"};
                if (c.target == WORKER) {
                    args.insert(args.begin(), {"--threads", "4"});
                }
                threads_option = c.target == PROCESS;
                const pid_t reader =
                    c.piped_log ? start({"cat", fifo.string()}, dir / "cat.console", Stdout::FILE, log) : 0;
                const pid_t child = start(command_line(args), console, Stdout::FILE, c.piped_log ? fifo : log);
                ASSERT_GT(child, 0);
                std::error_code error;
                for (int wait = 0; wait < 120000 && !(fs::file_size(out, error) > 2 * FRAME_BYTES && !error); ++wait) {
                    usleep(500);  // until the third frame is being written
                }
                pid_t target = child;
#ifdef __linux__
                for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(child) + "/task", error)) {
                    const pid_t thread = static_cast<pid_t>(std::stol(task.path().filename().string()));
                    if (c.target == WORKER && thread != child) target = thread;
                }
#endif
                if (c.target == WORKER && target == child) {
                    kill(child, SIGKILL);
                    finish(child);
                    if (reader > 0) finish(reader);
                    std::printf("[ SKIPPED  ] signal to a worker: no worker thread to be found here\n");
                    break;
                }
                for (const int signal : c.signals) {
#ifdef __linux__
                    syscall(SYS_tgkill, child, target, signal);
#else
                    kill(child, signal);
#endif
                }
                const int status = finish(child);
                if (reader > 0) finish(reader);
                EXPECT_TRUE(std::find(c.signals.begin(), c.signals.end(), status - 128) != c.signals.end()) << status;
                const Bytes words = read(out);
                const std::uintmax_t frames = words.size() / FRAME_BYTES;
                EXPECT_EQ(words.size() % FRAME_BYTES, 0u) << words.size();
                for (std::uintmax_t i = 0; i < frames; ++i) {
                    EXPECT_TRUE(std::equal(frame_words.begin(), frame_words.end(), words.begin() + i * FRAME_BYTES))
                        << i;
                }
                const Bytes text = read(log);
                const std::string lines(text.begin(), text.end());
                std::uintmax_t ok = 0;
                for (std::size_t at = lines.find("OK\n"); at != std::string::npos; at = lines.find("OK\n", at + 1))
                    ++ok;
                EXPECT_EQ(ok, frames);
            }
        }
        threads_option = true;
    }
#endif

    fs::path dir, console;
    std::string pattern, out;
};

Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// A file's first bytes, then bytes enough for any TGA header.
Bytes with_tail(Bytes head)
{
    head.resize(head.size() + 64, 0);
    return head;
}
Bytes text(const std::string& line)
{
    return Bytes(line.begin(), line.end());
}
Bytes with_map_type(Bytes tga, std::uint8_t map_type)
{
    tga[1] = map_type;
    return tga;
}
// The words of a PLV output as the player library decodes them, in a frame
// buffer and through a ring alike; the checking reader finds the file sound,
// and finished (index and trailer) unless it was cut short.
Bytes plv_words(const Bytes& file, bool finished = true)
{
    const plv_play::Played played = plv_play::play(file);
    EXPECT_EQ(played.opened, PLV_OK);
    EXPECT_EQ(played.checked, PLV_OK) << "fault " << played.report.fault << " at frame " << played.report.frame;
    EXPECT_EQ(played.report.finished != 0, finished);
    EXPECT_EQ(played.end, PLV_END);
    if (played.report.header.profile == 0) {
        EXPECT_TRUE(played.panel_frames == played.frames) << "frames through a ring";
    }
    return played.words();
}

// Every kind of frame in one run, each with its messages: RLE types say
// "Uncompressing ... " first, gray ones "Grayscale ... ". A frame whose
// header says top row first comes out upside down unless --honor-origin.
TEST_F(Cli, MixedSequenceConverts)
{
    Bytes bgr;
    for (const Rgb& p : PICTURE) append(bgr, {p.b, p.g, p.r});
    Bytes map_indices = {3, 4, 5, 0, 1, 2};  // bottom row first
    Bytes flipped_words(PICTURE_WORDS.begin() + 6, PICTURE_WORDS.end());
    flipped_words.insert(flipped_words.end(), PICTURE_WORDS.begin(), PICTURE_WORDS.begin() + 6);
    frame(1, color_tga(PICTURE, 3, 2));
    frame(2, rle_picture_tga());
    frame(3, gray_tga(GRAY_PICTURE, 3, 2));
    frame(4, color_tga(PICTURE, 3, 2, 200));  // unknown types read as type 2
    frame(5, tga_file({11, 8, one_pixel_packets(bottom_first(GRAY_PICTURE, 1), 1)}));
    frame(6, tga_file({9, 8, one_pixel_packets(map_indices, 1), 0, {}, 0, 6, 24, bgr}));
    frame(7, tga_file({1, 8, map_indices, 0, {'i', 'd'}, 0, 6, 24, bgr}));
    frame(8, tga_file({2, 24, bgr, 0x20}));  // top row first, as FFmpeg writes
    // A color-map type that no TGA has, in a frame that is read all the same.
    frame(9, with_map_type(color_tga(PICTURE, 3, 2), 7));
#ifdef PELLUCOR_PNG
    // PNG frames, told by their signature whatever their name; bytes after
    // the last chunk are let be.
    frame(10, png_file({SPNG_COLOR_TYPE_TRUECOLOR_ALPHA, 8, picture_samples(8, true, false)}));
    frame(11, png_file({SPNG_COLOR_TYPE_GRAYSCALE, 16, picture_samples(16, false, true), true}));
    frame(12, concat({png_file({SPNG_COLOR_TYPE_TRUECOLOR, 8, picture_samples(8, false, false)}), Bytes(100, 0x55)}));
    const std::string png_lines =
        frame_line(10, "OK\n") + frame_line(11, "Grayscale ... OK\n") + frame_line(12, "OK\n");
    const Bytes png_words = concat({PICTURE_WORDS, GRAY_WORDS, PICTURE_WORDS});
    const std::string last = "12";
#else
    const std::string png_lines;
    const Bytes png_words;
    const std::string last = "9";
#endif
#ifdef PELLUCOR_JPEG
    // JPEG frames, as djpeg decodes them.
    const int jpeg_first = std::stoi(last) + 1;
    frame(jpeg_first, JPEG_SMALL);
    frame(jpeg_first + 1, JPEG_SMALL_GRAY);
    const std::string jpeg_lines = frame_line(jpeg_first, "OK\n") + frame_line(jpeg_first + 1, "Grayscale ... OK\n");
    const Bytes jpeg_words = concat({words_of_pixels(JPEG_SMALL_PIXELS, 3, DEFAULT_COLOR_FORMAT),
                                     words_of_pixels(JPEG_SMALL_GRAY_PIXELS, 1, DEFAULT_GRAY_FORMAT)});
    const std::string run_last = std::to_string(jpeg_first + 1);
#else
    const std::string jpeg_lines;
    const Bytes jpeg_words;
    const std::string run_last = last;
#endif
    const std::string lines = BANNER + frame_line(1, "OK\n") + frame_line(2, "Uncompressing ... OK\n") +
                              frame_line(3, "Grayscale ... OK\n") + frame_line(4, "OK\n") +
                              frame_line(5, "Uncompressing ... Grayscale ... OK\n") +
                              frame_line(6, "Uncompressing ... OK\n") + frame_line(7, "OK\n") + frame_line(8, "OK\n") +
                              frame_line(9, "OK\n") + png_lines + jpeg_lines + "Done.\n";
    const Bytes first_seven =
        concat({PICTURE_WORDS, PICTURE_WORDS, GRAY_WORDS, PICTURE_WORDS, GRAY_WORDS, PICTURE_WORDS, PICTURE_WORDS});
    // Standard error, unless --quiet: once, at the first frame read upside
    // down, a hint; after "Done.", the summary.
    const std::string hint = "pellucor: frame 8: " + frame_path(8).string() +
                             ": its header says top row first; --honor-origin reads it that way\n";
    const std::string summary = "pellucor: " + run_last + " frames, " + std::to_string(std::stoi(run_last) * 12) +
                                " bytes, 3x2 rgb555le (color) and rgb565le (gray), written to " + out + " in ";
    for (const bool honor : {false, true}) {
        for (const bool quiet : {false, true}) {
            SCOPED_TRACE(std::to_string(honor) + " " + std::to_string(quiet));
            std::vector<std::string> args = {pattern, out, "1", run_last, "3", "2"};
            if (honor) args.insert(args.begin(), "--honor-origin");
            if (quiet) args.insert(args.begin(), "--quiet");
            const Result r = run(args);
            EXPECT_EQ(r.console, quiet ? "Done.\n" : lines);
            const std::string notes = honor || quiet ? "" : hint;
            EXPECT_EQ(r.errors.substr(0, notes.size()), notes);
            EXPECT_EQ(quiet ? r.errors : without_summary(r.errors), notes);
            EXPECT_EQ(r.errors.find(summary), quiet ? std::string::npos : notes.size()) << r.errors;
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(read(out), concat({first_seven, honor ? PICTURE_WORDS : flipped_words, PICTURE_WORDS, png_words,
                                         jpeg_words}));
        }
    }
    // A PLV file of the same frames, with the same lines.
    for (const bool honor : {false, true}) {
        SCOPED_TRACE(std::to_string(honor) + " PLV");
        std::vector<std::string> args = {"--plv", pattern, out, "1", run_last, "3", "2"};
        if (honor) args.insert(args.begin(), "--honor-origin");
        const Result r = run(args);
        EXPECT_EQ(r.console, lines);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(plv_words(read(out)),
                  concat({first_seven, honor ? PICTURE_WORDS : flipped_words, PICTURE_WORDS, png_words, jpeg_words}));
    }
}

TEST_F(Cli, FrameRangesAndPatterns)
{
    struct Case {
        std::string file;  // the one frame file, in dir
        std::string pattern, first, last;
        int frames;
    };
    const Case cases[] = {
        {"f7.tga", "f%d.tga", "7", "7", 1},
        {"f-005.tga", "f%04d.tga", "-5", "-5", 1},
        {"fixed.tga", "fixed.tga", "1", "3", 3},
        {"100%0a.tga", "100%%%02x.tga", "10", "10", 1},
        {"f.tga", "f.tga", "2147483647", "2147483647", 1},
        {"f.tga", "f.tga", "5", "4", 0},
        {"f.tga", "f.tga", "abc", "0", 1},
        {"f7.tga", "f%d.tga", " +7", "7z", 1},
        {"f.tga", "f.tga", "2147483647", "99999999999", 1},  // saturates, never wraps
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern + " " + c.first + ".." + c.last);
        write(dir / c.file, color_tga(PICTURE, 3, 2));
        const Result r = run({(dir / c.pattern).string(), out, c.first, c.last, "3", "2"});
        EXPECT_EQ(r.status, 0) << r.console;
        Bytes expected;
        for (int i = 0; i < c.frames; ++i) expected = concat({expected, PICTURE_WORDS});
        EXPECT_EQ(read(out), expected);
        // As a PLV file: a range of no frames is a finished file with none.
        EXPECT_EQ(run({"--plv", (dir / c.pattern).string(), out, c.first, c.last, "3", "2"}).status, 0);
        EXPECT_EQ(plv_words(read(out)), expected);
        fs::remove(dir / c.file);
    }
}

// A folder, frames and an output named outside any Western code page: on
// Windows the manifest makes arguments and file names UTF-8. The paths are
// built from UTF-8 text, which std::filesystem takes as such everywhere.
TEST_F(Cli, NamesOutsideTheAsciiRange)
{
    const auto utf8 = [](const fs::path& path) {
        const std::u8string text = path.u8string();
        return std::string(text.begin(), text.end());
    };
    const fs::path folder = dir / u8"\u03A9mega renders";
    fs::create_directory(folder);
    write(folder / u8"\u03A91.tga", color_tga(PICTURE, 3, 2));
    const fs::path output = folder / u8"\u03A9.raw";
    const Result r = run({utf8(folder / u8"\u03A9%d.tga"), utf8(output), "1", "1", "3", "2"});
    EXPECT_EQ(r.status, 0) << r.console;
    EXPECT_EQ(read(output), PICTURE_WORDS);
}

TEST_F(Cli, ZeroSizeReadsEveryFrameAndWritesNothing)
{
    frame(1, tga_header(2, 0, 7, 24));
    const Result r = run({pattern, out, "1", "1", "0", "7"});
    EXPECT_EQ(r.console, BANNER + frame_line(1, "OK\n") + "Done.\n");
    EXPECT_TRUE(fs::exists(out) && fs::file_size(out) == 0);
}

// Bad command lines stop before any file is touched.
TEST_F(Cli, BadCommandLinesTouchNoFile)
{
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::string o = out;
    const Case cases[] = {
        {{"a", o, "1", "2", "3"}, USAGE},
        {{"a", o, "1", "2", "3", "4", "5"}, USAGE},
        {{"f%s", o, "1", "1", "3", "2"}, "Invalid file format f%s\n"},
        {{"f%n", o, "1", "1", "3", "2"}, "Invalid file format f%n\n"},
        {{"f%*d", o, "1", "1", "3", "2"}, "Invalid file format f%*d\n"},
        {{"f%1$d", o, "1", "1", "3", "2"}, "Invalid file format f%1$d\n"},
        {{"f%ld", o, "1", "1", "3", "2"}, "Invalid file format f%ld\n"},
        {{"f%d%d", o, "1", "1", "3", "2"}, "Invalid file format f%d%d\n"},
        {{"f%d%", o, "1", "1", "3", "2"}, "Invalid file format f%d%\n"},
        {{"f%1000d", o, "1", "1", "3", "2"}, "Invalid file format f%1000d\n"},  // can never fit a name
        {{"f%999999999d", o, "1", "1", "3", "2"}, "Invalid file format f%999999999d\n"},
        {{"f%.2147483647d", o, "1", "1", "3", "2"}, "Invalid file format f%.2147483647d\n"},
        {{"f%s", o, "1", "1", "-1", "2"}, "Invalid file format f%s\n"},
        {{"f%d", o, "1", "1", "-1", "2"}, "Invalid video size -1x2\n"},
        {{"f%d", o, "1", "1", "3", "-2"}, "Invalid video size 3x-2\n"},
        {{"f%d", o, "1", "1", "0", "-2"}, "Invalid video size 0x-2\n"},
        {{"f%d", o, "1", "1", "4096", "4097"}, "Invalid video size 4096x4097\n"},
        {{"f%d", o, "1", "1", "16777217", "1"}, "Invalid video size 16777217x1\n"},
        {{"f%d", o, "1", "1", "4294967299", "2"}, "Invalid video size 2147483647x2\n"},
        {{"f%d", o, "1", "1", "3", "-4294967298"}, "Invalid video size 3x-2147483648\n"},
        {{"f%d", o, "1", "1", "65536", "65536"}, "Invalid video size 65536x65536\n"},
        {{"f%d", o, "1", "1", "2147483647", "2147483647"}, "Invalid video size 2147483647x2147483647\n"},
        {{"--format", "rgb888", "f%d", o, "1", "1", "3", "2"}, "Unknown word format rgb888" + FORMATS + USAGE},
        {{"--gray-format=RGB565LE", "f%d", o, "1", "1", "3", "2"}, "Unknown word format RGB565LE" + FORMATS + USAGE},
        {{"--colour-format", "rgb565le", "f%d", o, "1", "1", "3", "2"}, "Unknown option --colour-format\n" + USAGE},
        {{"--format", "rgb565le", "--bogus", "f%d", o, "1", "1", "3", "2"}, "Unknown option --bogus\n" + USAGE},
        {{"--gray-format"}, "Missing word format after --gray-format\n" + USAGE},
        {{"--dither=ordered", "f%d", o, "1", "1", "3", "2"}, "Unknown option --dither=ordered\n" + USAGE},
        {{"--honor-origin=yes", "f%d", o, "1", "1", "3", "2"}, "Unknown option --honor-origin=yes\n" + USAGE},
        {{"--format", "rgb565le", "f%d", o, "1", "1", "3"}, USAGE},
        {{"--format", "rgb565le", "--", "f%d", o, "1", "1", "3", "2", "7"}, USAGE},
        {{"f%d", o, "1", "1", "3", "2", "--format", "rgb565le"}, USAGE},  // options come first
        {{"--quiet", "f%d", o, "1"}, USAGE},                              // no banner; the usage line stays
        {{"--quiet", "--bogus", "f%d", o, "1", "1", "3", "2"}, "Unknown option --bogus\n" + USAGE},
        {{"--fps", "30", "f%d", o, "1", "1", "3", "2"}, "--fps needs --plv\n"},
        {{"--plv-window=8", "f%d", o, "1", "1", "3", "2"}, "--plv-window needs --plv\n"},
        {{"--key-every", "2", "--format", "rgb565le", "f%d", o, "1", "1", "3", "2"}, "--key-every needs --plv\n"},
        {{"--plv", "--plv-window", "0", "f%d", o, "1", "1", "3", "2"},
         "Invalid PLV window 0 (rows from 1, or frame)\n"},
        {{"--plv", "--plv-window=frames", "f%d", o, "1", "1", "3", "2"},
         "Invalid PLV window frames (rows from 1, or frame)\n"},
        {{"--plv", "--plv-window", "-8", "f%d", o, "1", "1", "3", "2"},
         "Invalid PLV window -8 (rows from 1, or frame)\n"},
        {{"--plv", "--plv-window=", "f%d", o, "1", "1", "3", "2"}, "Invalid PLV window  (rows from 1, or frame)\n"},
        {{"--plv", "--key-every", "0", "f%d", o, "1", "1", "3", "2"}, "Invalid key interval 0 (frames from 1)\n"},
        {{"--plv", "--key-every", "1.5", "f%d", o, "1", "1", "3", "2"}, "Invalid key interval 1.5 (frames from 1)\n"},
        {{"--plv", "--fps", "0", "f%d", o, "1", "1", "3", "2"},
         "Invalid frame rate 0 (N or N/D, each from 1 to 4294967295)\n"},
        {{"--plv", "--fps", "30/0", "f%d", o, "1", "1", "3", "2"},
         "Invalid frame rate 30/0 (N or N/D, each from 1 to 4294967295)\n"},
        {{"--plv", "--fps", "4294967296", "f%d", o, "1", "1", "3", "2"},
         "Invalid frame rate 4294967296 (N or N/D, each from 1 to 4294967295)\n"},
        {{"--plv", "--fps=29.97", "f%d", o, "1", "1", "3", "2"},
         "Invalid frame rate 29.97 (N or N/D, each from 1 to 4294967295)\n"},
        {{"--plv", "--fps", "/1", "f%d", o, "1", "1", "3", "2"},
         "Invalid frame rate /1 (N or N/D, each from 1 to 4294967295)\n"},
        {{"--plv", "--fps", "1/2/3", "f%d", o, "1", "1", "3", "2"},
         "Invalid frame rate 1/2/3 (N or N/D, each from 1 to 4294967295)\n"},
        {{"--plv", "--fps"}, "Missing value after --fps\n" + USAGE},
        {{"--plv", "f%d", o, "1", "1", "0", "2"}, "Invalid video size 0x2 for PLV (1 to 65535 each)\n"},
        {{"--plv", "f%d", o, "1", "1", "65536", "1"}, "Invalid video size 65536x1 for PLV (1 to 65535 each)\n"},
        {{"--plv", "f%s", o, "1", "1", "3", "2"}, "Invalid file format f%s\n"},
        {{"--info"}, INSPECTION_USAGE},
        {{"--info", o, "x"}, INSPECTION_USAGE},
        {{"--to-png", o}, to_png_line(INSPECTION_USAGE)},
        {{"--to-png", o, "p%d.png", "3"}, to_png_line(INSPECTION_USAGE)},
        {{"--to-png", "--format", "rgb565le", o, "p%d.png"}, to_png_line(INSPECTION_USAGE)},  // a raw file's
        {{"--to-png", "--format"}, to_png_line(INSPECTION_USAGE)},
        {{"--to-png", "--format", "rgb888", o, "p%d.png", "3", "2"},
         to_png_line("Unknown word format rgb888" + FORMATS)},
        {{"--to-png", o, "p%s.png"}, to_png_line("Invalid file format p%s.png\n")},
        {{"--to-png", o, "p.png"}, to_png_line("Invalid file format p.png\n")},
        {{"--to-png", o, "p%d.png", "0", "2"}, to_png_line("Invalid video size 0x2\n")},
        {{"--to-png", o, "p%d.png", "3", "65536"}, to_png_line("Invalid video size 3x65536\n")},
        {{"--to-png", o, "p%d.png", "4097", "4096"}, to_png_line("Invalid video size 4097x4096\n")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0]);
        for (const bool existed : {false, true}) {
            if (existed) write(out, {1, 2, 3});
            const Result r = run(c.args);
            const bool quiet = c.args[0] == "--quiet";
            const bool usage = c.message.size() >= USAGE.size() &&
                               c.message.compare(c.message.size() - USAGE.size(), USAGE.size(), USAGE) == 0;
            EXPECT_EQ(r.console, (quiet ? "" : BANNER) + c.message);
            EXPECT_EQ(r.errors, usage ? "Try 'pellucor --help'\n" : "");
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(fs::exists(out), existed);
            if (existed) {
                EXPECT_EQ(read(out), (Bytes {1, 2, 3}));
            }
            fs::remove(out);
        }
    }
}

// --help and -h, alone, print the usage line, the options, the formats and
// the exit statuses; --version the path in use. Both exit with status 0 and
// touch no file.
TEST_F(Cli, HelpAndVersion)
{
#ifdef PELLUCOR_JPEG
    const char* const JPEG_VERSION_TEXT = ", JPEG (libjpeg-turbo ";
#else
    const char* const JPEG_VERSION_TEXT = "JPEG frames not in this build\n";
#endif
    // The inflate of PNG frames, on a line of its own: ISA-L's for 8-bit
    // frames where the build has it, unless PELLUCOR_PNG_DECODER sets it aside.
#ifdef PELLUCOR_PNG_INFLATE
    const char* decoder = std::getenv("PELLUCOR_PNG_DECODER");
    const std::string INFLATE_TEXT = decoder != nullptr && std::string(decoder) == "libspng"
                                         ? "\nPNG inflate: zlib via libspng\n"
                                         : "\nPNG inflate: ISA-L 2.";
#elif defined(PELLUCOR_PNG)
    const std::string INFLATE_TEXT = "\nPNG inflate: zlib via libspng\n";
#else
    const std::string INFLATE_TEXT = "\n";
#endif
    threads_option = false;
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> lines;  // that the console holds, after the banner
    };
    const Case cases[] = {
        {{"--help"}, {USAGE, "  --format F ", "  --dither ", "  rgb565be ", "  bgr555le ", "  3  a frame"}},
        {{"-h"}, {USAGE, "  --honor-origin ", "  --version "}},
        {{"--version"}, {"Vector path: ", "Frames: TGA", JPEG_VERSION_TEXT, INFLATE_TEXT}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0]);
        const Result r = run(c.args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.console.rfind(BANNER, 0), 0u) << r.console;
        for (const std::string& line : c.lines) {
            EXPECT_NE(r.console.find(line), std::string::npos) << line << " in " << r.console;
        }
    }
    // -h among other arguments is no option.
    const Result r = run({"-h", "x", "1"});
    EXPECT_EQ(r.console, BANNER + USAGE);
    EXPECT_EQ(r.status, 1);
}

// In a long run on any number of threads, a frame that fails, early or
// late, ends the run there: the frames before it whole in the output, its
// line the last, nothing of the frames after it.
TEST_F(Cli, FailureInALongRunEndsThere)
{
    constexpr int FRAMES = 40;
    const Bytes good = color_tga(PICTURE, 3, 2);
    for (const int failing : {2, 39}) {
        for (const char* threads : {"1", "3", "4", "PLV 1", "PLV 3"}) {
            SCOPED_TRACE(std::to_string(failing) + " on " + threads);
            const bool plv = threads[0] == 'P';
            if (plv) threads += 4;
            fs::remove_all(dir);
            fs::create_directory(dir);
            for (int number = 1; number <= FRAMES; ++number) {
                frame(number, number == failing ? Bytes(good.begin(), good.end() - 1) : good);
            }
            threads_option = false;
            std::vector<std::string> args = {"--threads", threads, pattern, out, "1", std::to_string(FRAMES), "3", "2"};
            if (plv) args.insert(args.begin(), "--plv");
            const Result r = run(args);
            std::string expected = BANNER;
            Bytes words;
            for (int number = 1; number < failing; ++number) {
                expected += frame_line(number, "OK\n");
                words = concat({words, PICTURE_WORDS});
            }
            EXPECT_EQ(r.console, expected + frame_line(failing, "Input file " + pattern + " is incomplete\n"));
            EXPECT_EQ(r.status, 3);
            // A PLV file is finished all the same: its frames play.
            EXPECT_TRUE((plv ? plv_words(read(out)) : read(out)) == words);
        }
    }
}

// --threads takes a count of 1 or more; 0 and what is no number are refused.
TEST_F(Cli, ThreadCounts)
{
    threads_option = false;
    frame(1, color_tga(PICTURE, 3, 2));
    frame(2, gray_tga(GRAY_PICTURE, 3, 2));
    for (const char* threads : {"1", "2", "64", "1000"}) {
        const Result r = run({"--threads", threads, pattern, out, "1", "2", "3", "2"});
        EXPECT_EQ(r.status, 0) << threads << r.console;
        EXPECT_EQ(read(out), concat({PICTURE_WORDS, GRAY_WORDS}));
        const Bytes raw = read(out);
        const Result plv = run({"--plv", "--threads", threads, pattern, out, "1", "2", "3", "2"});
        EXPECT_EQ(plv.console, r.console);
        EXPECT_EQ(plv_words(read(out)), raw);
    }
    for (const std::string threads : {"0", "two", "-1", "2x", ""}) {
        const Result r = run({"--threads=" + threads, pattern, out, "1", "2", "3", "2"});
        EXPECT_EQ(r.console, BANNER + "Invalid thread count " + threads + "\n" + USAGE) << threads;
        EXPECT_EQ(r.status, 1);
    }
    const Result missing = run({"--threads"});
    EXPECT_EQ(missing.console, BANNER + "Missing thread count after --threads\n" + USAGE);
}

// A run that fails before its first frame is written leaves the output as
// it was, and removes one it created: here the first frame is missing or
// broken, or a typo after an option makes a frame the output.
TEST_F(Cli, FailureBeforeTheFirstFrameLeavesTheOutput)
{
    const fs::path start = fs::current_path();
    fs::current_path(dir);
    const Bytes still = color_tga(PICTURE, PICTURE_WIDTH, PICTURE_HEIGHT);
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::string output;  // what the run takes as its output, in dir
        int status;
        std::string console;
        std::string fault = "";
    };
    const std::string missing = BANNER + frame_line(1, "Could not open input file f%d.tga\n");
    const Case cases[] = {
        {"missing first frame", {"f%d.tga", "out.raw", "1", "3", "3", "2"}, "out.raw", 3, missing},
        {"first frame of another size",
         {"still.tga", "out.raw", "1", "3", "2", "3"},
         "out.raw",
         3,
         BANNER + frame_line(1, "Input file still.tga is 3x2, not 2x3\n")},
        {"pellucor -- still.tga out.raw 1 100 4",
         {"--", "still.tga", "out.raw", "1", "100", "4"},
         "still.tga",
         3,
         BANNER + frame_line(0, "Could not open input file --\n")},
        {"pellucor --format rgb565be still.tga out.raw 1 100",
         {"--format", "rgb565be", "still.tga", "out.raw", "1", "100"},
         "rgb565be",
         3,
         BANNER + frame_line(0, "Could not open input file --format\n")},
        {"status of the output cannot be read",
         {"still.tga", "out.raw", "1", "1", "3", "2"},
         "out.raw",
         2,
         BANNER + "Could not open output file out.raw\n",
         "fstat:out.raw"},
    };
    for (const Case& plain : cases) {
        for (const bool plv : {false, true}) {
            // Six arguments that begin with "--" are the six, and no options.
            if (plv && plain.args[0].rfind("--", 0) == 0) continue;
            Case c = plain;
            if (plv) c.args.insert(c.args.begin(), "--plv");
            SCOPED_TRACE(std::string(c.name) + (plv ? " PLV" : ""));
            for (const bool existed : {false, true}) {
                write("still.tga", still);
                fs::remove("out.raw");
                fs::remove("rgb565be");
                const Bytes before = c.output == "still.tga" ? still : Bytes {1, 2, 3};
                if (existed || c.output == "still.tga") write(c.output, before);
                Result r {};
                if (c.fault.empty()) {
                    r = run(c.args);
                } else if (!run_with_fault(c.fault, c.args, r)) {
                    continue;
                }
                EXPECT_EQ(r.console, c.console);
                EXPECT_EQ(r.status, c.status);
                EXPECT_EQ(fs::exists(c.output), existed || c.output == "still.tga");
                if (fs::exists(c.output)) {
                    EXPECT_EQ(read(c.output), before);
                }
            }
        }
    }
    fs::current_path(start);
}

// The output through a link to nothing: its target is made where its folder
// is, as the shell's > makes it; the run never spins on the link.
TEST_F(Cli, OutputThroughALinkToNothing)
{
    frame(1, color_tga(PICTURE, 3, 2));
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> links;  // name, target, in dir
        std::string made;                                        // the file the frames go to
    };
    const Case cases[] = {
        {"target in a folder that exists", {{"link.raw", "made.raw"}}, "made.raw"},
        {"a link to a link to nothing", {{"link.raw", "second.raw"}, {"second.raw", "made.raw"}}, "made.raw"},
        {"target in no folder", {{"link.raw", "no/made.raw"}}, ""},
        {"a loop of links", {{"link.raw", "second.raw"}, {"second.raw", "link.raw"}}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            for (const auto& [name, target] : c.links) {
                fs::remove(dir / name);
                fs::create_symlink(target, dir / name);
            }
        } catch (const fs::filesystem_error& error) {
            std::printf("[ SKIPPED  ] %s: %s\n", c.name, error.what());  // no links on this file system
            continue;
        }
        fs::remove(dir / "made.raw");
        const std::string link = (dir / "link.raw").string();
        const Result r = run({pattern, link, "1", "1", "3", "2"});
        if (c.made.empty()) {
            EXPECT_EQ(r.console, BANNER + "Could not open output file " + link + "\n");
            EXPECT_EQ(r.status, 2);
        } else {
            EXPECT_EQ(r.status, 0) << r.console;
            EXPECT_EQ(read(dir / c.made), PICTURE_WORDS);
        }
    }
}

// Every word format, on the picture's color frame and gray frame: the words,
// written out by hand.
struct FormatWords {
    const char* format;
    Bytes color, gray;
};
const FormatWords FORMAT_WORDS[] = {
    {"rgb555le",
     {0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00, 0xFF, 0x7F, 0x21, 0x04, 0x0A, 0x00},
     {0xFF, 0x7F, 0x10, 0x42, 0x00, 0x00, 0x21, 0x04, 0x00, 0x00, 0x39, 0x67}},
    {"rgb555be",
     {0x7C, 0x00, 0x03, 0xE0, 0x00, 0x1F, 0x7F, 0xFF, 0x04, 0x21, 0x00, 0x0A},
     {0x7F, 0xFF, 0x42, 0x10, 0x00, 0x00, 0x04, 0x21, 0x00, 0x00, 0x67, 0x39}},
    {"rgb565le",
     {0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0xFF, 0xFF, 0x41, 0x08, 0x2A, 0x00},
     {0xFF, 0xFF, 0x10, 0x84, 0x20, 0x00, 0x41, 0x08, 0x00, 0x00, 0x59, 0xCE}},
    {"rgb565be",
     {0xF8, 0x00, 0x07, 0xE0, 0x00, 0x1F, 0xFF, 0xFF, 0x08, 0x41, 0x00, 0x2A},
     {0xFF, 0xFF, 0x84, 0x10, 0x00, 0x20, 0x08, 0x41, 0x00, 0x00, 0xCE, 0x59}},
    {"bgr555le",
     {0x1F, 0x00, 0xE0, 0x03, 0x00, 0x7C, 0xFF, 0x7F, 0x21, 0x04, 0x00, 0x28},
     {0xFF, 0x7F, 0x10, 0x42, 0x00, 0x00, 0x21, 0x04, 0x00, 0x00, 0x39, 0x67}},
    {"bgr555be",
     {0x00, 0x1F, 0x03, 0xE0, 0x7C, 0x00, 0x7F, 0xFF, 0x04, 0x21, 0x28, 0x00},
     {0x7F, 0xFF, 0x42, 0x10, 0x00, 0x00, 0x04, 0x21, 0x00, 0x00, 0x67, 0x39}},
    {"bgr565le",
     {0x1F, 0x00, 0xE0, 0x07, 0x00, 0xF8, 0xFF, 0xFF, 0x41, 0x08, 0x20, 0x50},
     {0xFF, 0xFF, 0x10, 0x84, 0x20, 0x00, 0x41, 0x08, 0x00, 0x00, 0x59, 0xCE}},
    {"bgr565be",
     {0x00, 0x1F, 0x07, 0xE0, 0xF8, 0x00, 0xFF, 0xFF, 0x08, 0x41, 0x50, 0x20},
     {0xFF, 0xFF, 0x84, 0x10, 0x00, 0x20, 0x08, 0x41, 0x00, 0x00, 0xCE, 0x59}},
};
const FormatWords& words_in(const std::string& format)
{
    return *std::find_if(std::begin(FORMAT_WORDS), std::end(FORMAT_WORDS),
                         [&](const FormatWords& words) { return words.format == format; });
}

TEST_F(Cli, EveryWordFormat)
{
    frame(1, color_tga(PICTURE, PICTURE_WIDTH, PICTURE_HEIGHT));
    frame(2, gray_tga(GRAY_PICTURE, PICTURE_WIDTH, PICTURE_HEIGHT));
    for (const FormatWords& c : FORMAT_WORDS) {
        SCOPED_TRACE(c.format);
        const Result r = run({"--format", c.format, pattern, out, "1", "2", "3", "2"});
        EXPECT_EQ(r.status, 0) << r.console;
        EXPECT_EQ(read(out), concat({c.color, c.gray}));
        for (const char* window : {"8", "frame"}) {
            const Result plv =
                run({"--plv", "--plv-window", window, "--format", c.format, pattern, out, "1", "2", "3", "2"});
            EXPECT_EQ(plv.status, 0) << plv.console;
            EXPECT_EQ(plv_words(read(out)), concat({c.color, c.gray})) << window;
        }
    }
}

// A later option overrides an earlier one, one kind of frame at a time, and
// "--" ends the options.
TEST_F(Cli, FormatOptionsOverride)
{
    struct Case {
        std::vector<std::string> options;
        const char *color, *gray;
    };
    const Case cases[] = {
        {{}, "rgb555le", "rgb565le"},
        {{"--"}, "rgb555le", "rgb565le"},
        {{"--format", "bgr565be", "--gray-format", "rgb555le"}, "bgr565be", "rgb555le"},
        {{"--gray-format", "rgb555le", "--format", "bgr565be"}, "bgr565be", "bgr565be"},
        {{"--color-format=rgb565be", "--"}, "rgb565be", "rgb565le"},
        {{"--color-format", "bgr555le", "--color-format", "rgb565le"}, "rgb565le", "rgb565le"},
    };
    frame(1, color_tga(PICTURE, PICTURE_WIDTH, PICTURE_HEIGHT));
    frame(2, gray_tga(GRAY_PICTURE, PICTURE_WIDTH, PICTURE_HEIGHT));
    for (const Case& c : cases) {
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {pattern, out, "1", "2", "3", "2"});
        SCOPED_TRACE(args[0]);
        const Result r = run(args);
        EXPECT_EQ(r.status, 0) << r.console;
        EXPECT_EQ(read(out), concat({words_in(c.color).color, words_in(c.gray).gray}));
    }
}

// Six arguments mean what they always have, even when the first begins with
// "--": here the frame file is named --format and the output rgb565be.
TEST_F(Cli, SixArgumentsAreNeverOptions)
{
    threads_option = false;
    const fs::path start = fs::current_path();
    fs::current_path(dir);
    write("--format", color_tga(PICTURE, PICTURE_WIDTH, PICTURE_HEIGHT));
    write("--f1.tga", color_tga(PICTURE, PICTURE_WIDTH, PICTURE_HEIGHT));
    const Result named = run({"--format", "rgb565be", "1", "1", "3", "2"});
    const Result numbered = run({"--f%d.tga", "out.raw", "1", "1", "3", "2"});
    fs::current_path(start);
    EXPECT_EQ(named.status, 0) << named.console;
    EXPECT_EQ(read(dir / "rgb565be"), PICTURE_WORDS);
    EXPECT_EQ(numbered.status, 0) << numbered.console;
    EXPECT_EQ(read(dir / "out.raw"), PICTURE_WORDS);
}

// An output that is one of the run's own frames, by any path, is refused
// before it is emptied, wherever it lies in the range; a frame just outside
// the range may be the output.
TEST_F(Cli, OutputThatIsAFrameIsRefused)
{
    enum Link { NONE, SYMLINK, HARD_LINK };
    enum Gap { NO_GAP, MISSING, DANGLING };  // what frame 3 is
    constexpr char SEPARATOR = static_cast<char>(fs::path::preferred_separator);
    struct Case {
        const char* name;
        std::string pattern, output;  // in dir
        Link link;                    // output made as a link to f2.tga
        Gap gap;
        std::string first, last;
        int refused;             // the frame named in the message; 0: the run converts
        std::string fault = "";  // injected by the fault shim
    };
    const Case cases[] = {
        {"named like a frame", "f%d.tga", "f3.tga", NONE, NO_GAP, "1", "4", 3},
        {"another spelling", "f%d.tga", std::string {'.', SEPARATOR} + "f4.tga", NONE, NO_GAP, "1", "4", 4},
        {"symlink", "f%d.tga", "link.raw", SYMLINK, NO_GAP, "1", "4", 2},
        {"hard link", "f%d.tga", "link.raw", HARD_LINK, NO_GAP, "1", "4", 2},
        {"no conversion", "f1.tga", "f1.tga", NONE, NO_GAP, "1", "4", 1},
        {"just outside the range", "f%d.tga", "f5.tga", NONE, NO_GAP, "1", "4", 0},
        {"after a gap", "f%d.tga", "f4.tga", NONE, MISSING, "1", "4", 4},
        {"after a dangling link", "f%d.tga", "f4.tga", NONE, DANGLING, "1", "4", 4},
        {"reversed range", "f%d.tga", "f2.tga", NONE, NO_GAP, "2", "1", 2},
        {"reversed, no conversion", "f2.tga", "f2.tga", NONE, NO_GAP, "2", "1", 2},
        {"reversed, between LAST and FIRST", "f%d.tga", "f3.tga", NONE, NO_GAP, "4", "1", 3},
        {"reversed, huge FIRST", "f%d.tga", "f4.tga", NONE, MISSING, "2147483647", "2", 4},
        {"reversed, listing fails partway", "f%d.tga", "f3.tga", NONE, NO_GAP, "5", "1", 3, "readdir:0"},
        {"reversed, just outside", "f%d.tga", "f5.tga", NONE, NO_GAP, "4", "1", 0},
        {"not there yet, named like a missing frame", "f%d.tga", "f3.tga", NONE, MISSING, "1", "4", 3},
        {"huge last, after a gap", "f%d.tga", "f5.tga", NONE, MISSING, "1", "2147483647", 5},
        {"huge last, zero-filled", "f%03d.tga", "f005.tga", NONE, NO_GAP, "1", "2147483647", 5},
        // 100% is a link to the folder: %% there is a plain percent sign, and
        // the folder is listed, not the range walked.
        {"percent sign in the folder", "100%%/f%d.tga", "f5.tga", NONE, MISSING, "1", "2147483647", 5},
        {"listing fails partway", "f%d.tga", "f3.tga", NONE, NO_GAP, "1", "4", 3, "readdir:0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir);
        fs::create_directory(dir);
        for (int number = 1; number <= 5; ++number) frame(number, color_tga(PICTURE, 3, 2));
        write(dir / "f005.tga", color_tga(PICTURE, 3, 2));
        const Bytes frame_bytes = read(frame_path(1));
        try {
            if (c.gap != NO_GAP) fs::remove(frame_path(3));
            if (c.gap == DANGLING) fs::create_symlink(dir / "nowhere", frame_path(3));
            if (c.link == SYMLINK) fs::create_symlink(dir / "f2.tga", dir / c.output);
            if (c.link == HARD_LINK) fs::create_hard_link(dir / "f2.tga", dir / c.output);
            fs::create_directory_symlink(dir, dir / "100%");
        } catch (const fs::filesystem_error& error) {
            std::printf("[ SKIPPED  ] %s: %s\n", c.name, error.what());  // no links on this file system
            continue;
        }
        const std::string output = dir.string() + SEPARATOR + c.output;
        const bool existed = fs::exists(fs::symlink_status(output));
        const std::vector<std::string> args = {(dir / c.pattern).string(), output, c.first, c.last, "3", "2"};
        Result r {};
        if (c.fault.empty()) {
            r = run(args);
        } else if (!run_with_fault(c.fault, args, r)) {
            continue;
        }
        if (c.refused == 0) {
            EXPECT_EQ(r.status, 0) << r.console;
        } else {
            EXPECT_EQ(r.console, BANNER + "Output file " + output + " would overwrite input frame " +
                                     std::to_string(c.refused) + "\n");
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(fs::exists(fs::symlink_status(output)), existed);
        }
        for (int number = 1; number <= 5; ++number) {
            if ((number != 3 || c.gap == NO_GAP) && (number != 5 || c.refused != 0)) {
                EXPECT_EQ(read(frame_path(number)), frame_bytes) << number;
            }
        }
    }
}

// A broken frame fails loudly at that frame; the frames before it stay.
TEST_F(Cli, BrokenFrameKeepsEarlierFrames)
{
    const Bytes good = color_tga(PICTURE, 3, 2);
    const Bytes rle = rle_picture_tga();
    const Bytes gray = gray_tga(GRAY_PICTURE, 3, 2);
#ifdef PELLUCOR_PNG
    // The picture as an RGB PNG, and its rows as its zlib stream holds them.
    const Bytes rgb_png = png_file({SPNG_COLOR_TYPE_TRUECOLOR, 8, picture_samples(8, false, false)});
    const Bytes rgb_rows = unfiltered_rows(picture_samples(8, false, false), 3 * PICTURE_WIDTH);
#endif
    struct Case {
        const char* name;
        std::map<int, Bytes> frames;
        bool directory;  // frame 2 is a directory
        std::string tail;
        std::string fault = "";
        std::string errors = "";  // standard error, %F the frame's name; "*" unchecked
    };
    const std::string open = "Could not open input file %P\n", short_file = "Input file %P is incomplete\n";
    const std::string reason = "pellucor: frame 2: %F: ";
    const Case cases[] = {
        {"missing", {{1, good}, {3, good}}, false, open, "", reason + std::strerror(ENOENT) + "\n"},
#ifdef _WIN32
        {"directory", {{1, good}, {3, good}}, true, open, "", "*"},
#else
        {"directory",
         {{1, good}, {3, good}},
         true,
         "Could not read input file %P\n",
         "",
         reason + std::strerror(EISDIR) + "\n"},
#endif
        {"empty", {{1, good}, {2, {}}, {3, good}}, false, short_file},
        {"short header", {{1, good}, {2, Bytes(good.begin(), good.begin() + 17)}, {3, good}}, false, short_file},
        {"short color", {{1, good}, {2, Bytes(good.begin(), good.end() - 1)}, {3, good}}, false, short_file},
        {"short gray", {{1, good}, {2, Bytes(gray.begin(), gray.end() - 1)}, {3, good}}, false, short_file},
        {"short rle after good rle", {{1, rle}, {2, Bytes(rle.begin(), rle.end() - 1)}, {3, good}}, false, "Uncompressing ... " + short_file},
        {"its status cannot be read", {{1, good}, {2, good}, {3, good}}, false, "Could not read input file %P\n", "fstat:f2.tga"},
        {"another size", {{1, good}, {2, color_tga(PICTURE, 2, 3)}, {3, good}}, false, "Input file %P is 2x3, not 3x2\n"},
        {"larger in the middle of a run", {{1, good}, {2, color_tga(std::vector<Rgb>(12, Rgb{1, 2, 3}), 4, 3)}, {3, good}},
         false, "Input file %P is 4x3, not 3x2\n"},
        {"width and height swapped", {{1, good}, {2, color_tga(PICTURE, 2, 3)}, {3, good}}, false,
         "Input file %P is 2x3, not 3x2\n"},
        {"8-bit color", {{1, good}, {2, tga_file({2, 8, Bytes(6, 1)})}, {3, good}}, false,
         "Input file %P has 8-bit color pixels\n"},
        {"24-bit gray", {{1, good}, {2, tga_file({3, 24, Bytes(18, 1)})}, {3, good}}, false,
         "Input file %P has 24-bit gray pixels\n"},
        {"32-bit indices", {{1, good}, {2, tga_file({1, 32, Bytes(24, 0), 0, {}, 0, 1, 24, {1, 2, 3}})}, {3, good}}, false,
         "Input file %P has 32-bit color-map indices\n"},
        {"no map", {{1, good}, {2, tga_file({1, 8, Bytes(6, 0)})}, {3, good}}, false, "Input file %P has no color map\n"},
        {"12-bit map entries", {{1, good}, {2, tga_file({1, 8, Bytes(6, 0), 0, {}, 0, 1, 12, {1, 2}})}, {3, good}}, false,
         "Input file %P has a color map of 12-bit entries\n"},
        {"index outside the map", {{1, good}, {2, tga_file({9, 8, {0x85, 7}, 0, {}, 5, 2, 24, Bytes(6, 9)})}, {3, good}},
         false, "Uncompressing ... Input file %P has color index 7 outside its color map\n"},
        {"map past the end", {{1, good}, {2, tga_file({1, 8, {}, 0, {}, 0, 300, 24, Bytes(6, 9)})}, {3, good}}, false,
         short_file},
        {"JPEG", {{1, good}, {2, with_tail({0xFF, 0xD8, 0xFF, 0xE0, 0, 0x10, 'J', 'F', 'I', 'F', 0, 1})}, {3, good}}, false,
#ifdef PELLUCOR_JPEG
         "Input file %P is not a valid JPEG: "},  // read as one, and refused by the library
#else
         "Input file %P is a JPEG, which this build cannot read\n"},
#endif
        {"BMP", {{1, good}, {2, with_tail({'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 3, 0})}, {3, good}},
         false, "Input file %P is a BMP image, not a TGA or PNG frame\n"},
        {"GIF", {{1, good}, {2, with_tail({'G', 'I', 'F', '8', '9', 'a', 3, 0, 2, 0, 0x80})}, {3, good}}, false,
         "Input file %P is a GIF image, not a TGA or PNG frame\n"},
        {"WebP", {{1, good}, {2, with_tail({'R', 'I', 'F', 'F', 60, 0, 0, 0, 'W', 'E', 'B', 'P', 'V', 'P', '8', 'L'})}, {3, good}},
         false, "Input file %P is a WebP image, not a TGA or PNG frame\n"},
        {"TIFF, Intel order", {{1, good}, {2, with_tail({'I', 'I', 42, 0, 8, 0, 0, 0})}, {3, good}}, false,
         "Input file %P is a TIFF image, not a TGA or PNG frame\n"},
        {"TIFF, Motorola order", {{1, good}, {2, with_tail({'M', 'M', 0, 42, 0, 0, 0, 8})}, {3, good}}, false,
         "Input file %P is a TIFF image, not a TGA or PNG frame\n"},
        {"QOI", {{1, good}, {2, with_tail({'q', 'o', 'i', 'f', 0, 0, 0, 3, 0, 0, 0, 2, 3, 0})}, {3, good}}, false,
         "Input file %P is a QOI image, not a TGA or PNG frame\n"},
        {"text", {{1, good}, {2, text("P3\n3 2\n255\n255 0 0  0 255 0  0 0 255\n")}, {3, good}}, false,
         "Input file %P is a text file, not a TGA or PNG frame\n"},
        {"short text", {{1, good}, {2, text("hi")}, {3, good}}, false,
         "Input file %P is a text file, not a TGA or PNG frame\n"},
        {"color-map type 7, refused as a TGA too", {{1, good}, {2, with_map_type(tga_file({10, 8, Bytes(6, 1)}), 7)}, {3, good}},
         false, "Input file %P is not a TGA or PNG frame\n"},
        {"color-map type 7, too short for a header", {{1, good}, {2, {0, 7, 2, 0}}, {3, good}}, false,
         "Input file %P is not a TGA or PNG frame\n"},
        {"TGA type 32", {{1, good}, {2, tga_file({32, 24, Bytes(18, 9)})}, {3, good}}, false,
         "Input file %P has TGA image type 32, which is not supported\n"},
        {"TGA type 33, 8-bit indices", {{1, good}, {2, tga_file({33, 8, Bytes(6, 0), 0, {}, 0, 1, 24, {1, 2, 3}})}, {3, good}}, false,
         "Input file %P has TGA image type 33, which is not supported\n"},
        {"rows interleaved two ways", {{1, good}, {2, tga_file({2, 24, Bytes(18, 9), 0x40})}, {3, good}}, false,
         "Input file %P has interleaved rows, which are not supported\n"},
        {"rows interleaved four ways, RLE", {{1, good}, {2, tga_file({10, 24, {0x85, 1, 2, 3}, 0x80})}, {3, good}}, false,
         "Uncompressing ... Input file %P has interleaved rows, which are not supported\n"},
#ifdef PELLUCOR_PNG
        {"PNG of another size", {{1, good}, {2, png_file({SPNG_COLOR_TYPE_GRAYSCALE, 8, std::vector<unsigned>(8, 1), false, {}, {}, 4, 2})}, {3, good}},
         false, "Input file %P is 4x2, not 3x2\n"},
        {"PNG with a flipped CRC byte", {{1, good}, {2, [] {
                                             Bytes png = png_file({SPNG_COLOR_TYPE_TRUECOLOR, 8, picture_samples(8, false, false)});
                                             png[8 + 4 + 4 + 13] ^= 0x01;  // the header chunk's CRC
                                             return png;
                                         }()}, {3, good}},
         false, "Input file %P is not a valid PNG: "},
        {"PNG with a flipped image data CRC byte", {{1, good}, {2, [] {
                                                        Bytes png = png_file({SPNG_COLOR_TYPE_TRUECOLOR, 8, picture_samples(8, false, false)});
                                                        const auto idat = std::search(png.begin(), png.end(), std::begin("IDAT"), std::end("IDAT") - 1);
                                                        idat[4 + idat[-1]] ^= 0x01;  // its data inflates as ever
                                                        return png;
                                                    }()}, {3, good}},
         false, std::string("Input file %P is not a valid PNG: ") + spng_strerror(SPNG_ECHUNK_CRC) + "\n"},
        {"PNG with its Adler-32 damaged, chunk CRC made right", {{1, good}, {2, with_idat_byte_flipped(png_file({SPNG_COLOR_TYPE_TRUECOLOR, 8, picture_samples(8, false, false)}), 1, 0x01)}, {3, good}},
         false, "Input file %P is not a valid PNG: "},
        {"PNG of stored rows with a sample damaged, chunk CRC made right", {{1, good}, {2, with_idat_byte_flipped(png_file({SPNG_COLOR_TYPE_GRAYSCALE, 16, picture_samples(16, false, true), true, {}, {}, PICTURE_WIDTH, PICTURE_HEIGHT, 0}), 5, 0x80)}, {3, good}},
         false, "Input file %P is not a valid PNG: "},
        {"PNG whose zlib stream ends before the last row", {{1, good}, {2, with_image_data(rgb_png, stored_zlib(Bytes(rgb_rows.begin(), rgb_rows.end() - 1)))}, {3, good}},
         false, "Input file %P is not a valid PNG: IDAT stream too short\n"},
        {"PNG whose zlib stream copies from too far back", {{1, good}, {2, with_image_data(rgb_png, TOO_FAR_BACK)}, {3, good}},
         false, "Input file %P is not a valid PNG: IDAT stream error\n"},
        {"PNG with a stored block whose length does not match", {{1, good}, {2, [&] {
                                                                     Bytes stream = stored_zlib(rgb_rows);
                                                                     stream[5] ^= 0x01;  // the block's length, inverted
                                                                     return with_image_data(rgb_png, stream);
                                                                 }()}, {3, good}},
         false, "Input file %P is not a valid PNG: IDAT stream error\n"},
        {"PNG of stored blocks with a bad Adler-32", {{1, good}, {2, with_image_data(rgb_png, stored_zlib(rgb_rows, 7, 1))}, {3, good}},
         false, "Input file %P is not a valid PNG: IDAT stream error\n"},
        {"PNG taller than the video", {{1, good}, {2, png_file({SPNG_COLOR_TYPE_INDEXED, 8, {0, 1, 2, 3, 4, 5, 0, 1, 2}, false, PICTURE, {}, 3, 3})}, {3, good}},
         false, "Input file %P is 3x3, not 3x2\n"},
        {"PNG shorter than the video", {{1, good}, {2, png_file({SPNG_COLOR_TYPE_TRUECOLOR, 8, std::vector<unsigned>(9, 7), false, {}, {}, 3, 1})}, {3, good}},
         false, "Input file %P is 3x1, not 3x2\n"},
#else
        {"PNG in a build without libspng",
         {{1, good}, {2, Bytes {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0}}, {3, good}},
         false,
         "Input file %P is a PNG, which this build cannot read\n"},
#endif
#ifdef PELLUCOR_JPEG
        {"JPEG of another size", {{1, good}, {2, JPEG_BASELINE_420}, {3, good}}, false, "Input file %P is 21x10, not 3x2\n"},
        {"CMYK JPEG", {{1, good}, {2, jpeg_header_only(JPEG_BASELINE, 8, 4, 3, 2)}, {3, good}}, false,
         "Input file %P is a CMYK JPEG, which is not supported\n"},
        {"YCCK JPEG", {{1, good}, {2, jpeg_header_only(JPEG_BASELINE, 8, 4, 3, 2, 2)}, {3, good}}, false,
         "Input file %P is a CMYK JPEG, which is not supported\n"},
        {"12-bit JPEG", {{1, good}, {2, jpeg_header_only(JPEG_EXTENDED, 12, 3, 3, 2)}, {3, good}}, false,
         "Input file %P is a 12-bit JPEG, which is not supported\n"},
        {"JPEG with garbage after its start", {{1, good}, {2, [] {
                                                   Bytes jpeg = JPEG_SMALL;
                                                   jpeg.insert(jpeg.begin() + 2, {1, 2, 3});
                                                   return jpeg;
                                               }()}, {3, good}},
         false, "Input file %P is not a valid JPEG: Corrupt JPEG data: 3 extraneous bytes before marker 0xe0\n"},
        {"JPEG cut short", {{1, good}, {2, Bytes(JPEG_SMALL.begin(), JPEG_SMALL.end() - 20)}, {3, good}}, false,
         "Input file %P is not a valid JPEG: Premature end of JPEG file\n"},
#else
        {"JPEG in a build without libjpeg-turbo",
         {{1, good}, {2, JPEG_SMALL}, {3, good}},
         false,
         "Input file %P is a JPEG, which this build cannot read\n"},
#endif
    };
    for (const bool plv : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (plv ? " PLV" : ""));
            fs::remove_all(dir);
            fs::create_directory(dir);
            for (const auto& [number, bytes] : c.frames) frame(number, bytes);
            if (c.directory) fs::create_directory(dir / "f2.tga");
            Result r {};
            std::vector<std::string> args = {pattern, out, "1", "3", "3", "2"};
            if (plv) args.insert(args.begin(), "--plv");
            if (c.fault.empty()) {
                r = run(args);
            } else if (!run_with_fault(c.fault, args, r)) {
                continue;
            }
            std::string tail = c.tail;
            tail.replace(tail.find("%P"), 2, pattern);
            std::string errors = c.errors;
            if (errors.find("%F") != std::string::npos) errors.replace(errors.find("%F"), 2, frame_path(2).string());
            if (errors != "*") {
                EXPECT_EQ(r.errors, errors);  // a frame's own fault needs no note; the system's reason does
            }
            const std::string first = c.frames.at(1) == rle ? "Uncompressing ... OK\n" : "OK\n";
            if (tail.size() > 2 && tail.compare(tail.size() - 2, 2, ": ") == 0) {
                // The library's reason follows, on the same line.
                EXPECT_EQ(r.console.rfind(BANNER + frame_line(1, first) + frame_line(2, tail), 0), 0u) << r.console;
                EXPECT_EQ(r.console.back(), '\n');
            } else {
                EXPECT_EQ(r.console, BANNER + frame_line(1, first) + frame_line(2, tail));
            }
            EXPECT_EQ(r.status, 3);
            EXPECT_EQ(plv ? plv_words(read(out)) : read(out), PICTURE_WORDS);
        }
    }
}

// Every prefix of an RLE, a color-mapped and an RLE gray frame fails
// cleanly; a header is there from 18 bytes on, and RLE types say so.
TEST_F(Cli, EveryShortPrefixOfAFrameFails)
{
    Bytes bgr;
    for (const Rgb& p : PICTURE) append(bgr, {p.b, p.g, p.r});
    const Bytes files[] = {
        rle_picture_tga(),
        tga_file({1, 8, {3, 4, 5, 0, 1, 2}, 0, {'i', 'd'}, 0, 6, 24, bgr}),
        tga_file({11, 8, one_pixel_packets(bottom_first(GRAY_PICTURE, 1), 1)}),
        tga_file({9, 16, {0x85, 0, 0}, 0, {}, 0, 1, 32, {1, 2, 3, 4}}),
#ifdef PELLUCOR_PNG
        png_file({SPNG_COLOR_TYPE_INDEXED, 8, {0, 1, 2, 3, 4, 5}, true, PICTURE, {0, 9}}),
#endif
#ifdef PELLUCOR_JPEG
        JPEG_SMALL,
#endif
    };
    for (const Bytes& file : files) {
        const bool png = file[0] == 0x89, jpeg = file[0] == 0xFF;
        // A JPEG's every prefix is refused in the stage's own test; here its
        // first 64 and every 16th after, as each run is a process (under an
        // emulator or Wine, a slow one).
        const std::size_t step_from = jpeg ? 64 : file.size(), step = 16;
        for (std::size_t size = 0; size < file.size(); size += size < step_from ? 1 : step) {
            SCOPED_TRACE((png    ? std::string("PNG")
                          : jpeg ? std::string("JPEG")
                                 : "type " + std::to_string(file[2])) +
                         ", " + std::to_string(size) + " bytes");
            frame(1, Bytes(file.begin(), file.begin() + static_cast<long>(size)));
            const Result r = run_picture(1, 1);
            const bool compressed = !png && !jpeg && file[2] >= 9;
            const std::string stage = size < 18 || !compressed ? "" : "Uncompressing ... ";
            if (png && size >= 8) {
                const std::string start = BANNER + frame_line(1, "Input file " + pattern + " is not a valid PNG: ");
                EXPECT_EQ(r.console.rfind(start, 0), 0u) << r.console;
            } else if (png && size >= 2) {
                // 'P' where a TGA has its color-map type, 0 or 1.
                EXPECT_EQ(r.console, BANNER + frame_line(1, "Input file " + pattern + " is not a TGA or PNG frame\n"));
            } else if (jpeg && size >= 2) {
                const std::string start = BANNER + frame_line(1, "Input file " + pattern + " is not a valid JPEG: ");
                EXPECT_EQ(r.console.rfind(start, 0), 0u) << r.console;
                EXPECT_EQ(r.console.back(), '\n');
            } else {
                EXPECT_EQ(r.console, BANNER + frame_line(1, stage + "Input file " + pattern + " is incomplete\n"));
            }
            EXPECT_EQ(r.status, 3);
            EXPECT_FALSE(fs::exists(out));
        }
    }
}

// Display sizes past the old 1,000,000-byte buffers, up to the largest
// frame of 4096 x 4096 pixels and the largest RLE file of that many pixels.
TEST_F(Cli, LargeFramesConvert)
{
    const auto picture = [](int width, int height, int band) {
        std::vector<Rgb> pixels;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const int run = y % 2 ? x / band : x;  // odd rows: band pixels of one color, then the next
                pixels.push_back({static_cast<std::uint8_t>(run * 37 + y), static_cast<std::uint8_t>(y * 3 - run),
                                  static_cast<std::uint8_t>(run ^ y)});
            }
        }
        return pixels;
    };
    const auto gray = [](const std::vector<Rgb>& pixels) {
        Bytes values;
        for (const Rgb& p : pixels) values.push_back(static_cast<std::uint8_t>(p.r + p.b));
        return values;
    };
    struct Case {
        const char* name;
        int width, height;
        Bytes file, words;
    };
    const std::vector<Rgb> panel = picture(800, 480, 1), runs = picture(800, 480, 7);
    const std::vector<Rgb> largest = picture(4096, 4096, 50), wide = picture(65535, 256, 1);
    const Case cases[] = {
        {"800x480 color", 800, 480, color_tga(panel, 800, 480), color_words(panel)},
        {"800x480 RLE", 800, 480, rle_tga(runs, 800, 480), color_words(runs)},
        {"800x480 gray", 800, 480, gray_tga(gray(panel), 800, 480), gray_words(gray(panel))},
        {"4096x4096 gray", 4096, 4096, gray_tga(gray(largest), 4096, 4096), gray_words(gray(largest))},
        {"4096x4096 RLE", 4096, 4096, rle_tga(largest, 4096, 4096), color_words(largest)},
        {"65535x256 RLE, 1-pixel packets", 65535, 256, rle_tga(wide, 65535, 256, true), color_words(wide)},
#ifdef PELLUCOR_JPEG
        // As djpeg decodes them; the wide ones in several bands of rows.
        {"21x10 JPEG 4:2:2", JPEG_WIDTH, JPEG_HEIGHT, JPEG_BASELINE_422,
         words_of_pixels(JPEG_BASELINE_422_PIXELS, 3, DEFAULT_COLOR_FORMAT)},
        {"6000x40 gray JPEG", JPEG_WIDE_GRAY_WIDTH, JPEG_WIDE_GRAY_HEIGHT, JPEG_WIDE_GRAY,
         words_of_pixels(JPEG_WIDE_GRAY_ROW_PIXELS, 1, DEFAULT_GRAY_FORMAT, JPEG_WIDE_GRAY_WIDTH)},
        {"2800x40 JPEG", JPEG_WIDE_444_WIDTH, JPEG_WIDE_444_HEIGHT, JPEG_WIDE_444,
         words_of_pixels(JPEG_WIDE_444_ROW_PIXELS, 3, DEFAULT_COLOR_FORMAT, JPEG_WIDE_444_WIDTH)},
#endif
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        frame(1, c.file);
        const Result r = run({pattern, out, "1", "1", std::to_string(c.width), std::to_string(c.height)});
        EXPECT_EQ(r.status, 0) << r.console;
        EXPECT_TRUE(read(out) == c.words);
    }
}

TEST_F(Cli, LongFileIsReadInPart)
{
    // A file longer than the input buffer is read in part, and still converts.
    Bytes long_file = color_tga(PICTURE, 3, 2);
    long_file.resize(4 * 4096 * 4096 + 1'000'001, 0x55);
    frame(1, long_file);
    Result r = run_picture(1, 1);
    EXPECT_EQ(r.status, 0) << r.console;
    EXPECT_EQ(read(out), PICTURE_WORDS);
#ifdef PELLUCOR_PNG
    // A PNG too, read on from the file to its IEND chunk; what follows is let
    // be, and an IEND chunk cut short is not.
    const Bytes png = png_file({SPNG_COLOR_TYPE_TRUECOLOR, 8, picture_samples(8, false, false)});
    Bytes long_png = concat({Bytes(png.begin(), png.end() - 4), Bytes(8 << 20, 0)});
    frame(1, long_png);
    r = run_picture(1, 1);
    EXPECT_EQ(r.status, 3) << r.console;
    std::copy(png.end() - 4, png.end(), long_png.end() - (8 << 20));
    frame(1, long_png);
    r = run_picture(1, 1);
    EXPECT_EQ(r.status, 0) << r.console;
    EXPECT_EQ(read(out), PICTURE_WORDS);
#endif
#ifdef PELLUCOR_JPEG
    // A JPEG so long is read again from the file; what follows its end of
    // image is not read.
    Bytes long_jpeg = JPEG_SMALL;
    long_jpeg.resize(long_file.size(), 0x55);
    frame(1, long_jpeg);
    fs::remove(out);
    r = run_picture(1, 1);
    EXPECT_EQ(r.status, 0) << r.console;
    EXPECT_EQ(read(out), words_of_pixels(JPEG_SMALL_PIXELS, 3, DEFAULT_COLOR_FORMAT));
#endif
}

#ifndef _WIN32
// A name of 999 characters opens; one of 1000 is refused, never cut to the
// 999 that name an existing file.
TEST_F(Cli, NameLengthLimit)
{
    fs::path folder = dir;
    while (folder.string().size() < 750) folder /= std::string(200, 'd');
    fs::create_directories(folder);
    std::string name = (folder / "").string();
    name.append(999 - name.size(), 'f');
    write(name, color_tga(PICTURE, 3, 2));

    Result r = run({name, out, "1", "1", "3", "2"});
    EXPECT_EQ(r.status, 0) << r.console;
    EXPECT_EQ(read(out), PICTURE_WORDS);

    r = run({name + "f", out, "1", "1", "3", "2"});
    EXPECT_EQ(r.console, BANNER + frame_line(1, "Could not open input file " + name + "f\n"));
    EXPECT_EQ(r.status, 3);
}
#endif

TEST_F(Cli, FailedWriteIsReported)
{
    frame(1, color_tga(PICTURE, 3, 2));
#ifndef _WIN32
    const Result r = run({pattern, "/dev/full", "1", "1", "3", "2"});
    EXPECT_EQ(r.console, BANNER + frame_line(1, "Could not write output file /dev/full\n"));
    EXPECT_EQ(r.errors, "pellucor: /dev/full: " + std::string(std::strerror(ENOSPC)) + "\n");
    EXPECT_EQ(r.status, 2);

    const Result folder = run({pattern, dir.string(), "1", "1", "3", "2"});
    EXPECT_EQ(folder.console, BANNER + "Could not open output file " + dir.string() + "\n");
    EXPECT_EQ(folder.errors, "pellucor: " + dir.string() + ": " + std::strerror(EISDIR) + "\n");
    EXPECT_EQ(folder.status, 2);
#endif

    const std::string missing = (dir / "no" / "out.raw").string();
    const Result missing_dir = run({pattern, missing, "1", "1", "3", "2"});
    EXPECT_EQ(missing_dir.console, BANNER + "Could not open output file " + missing + "\n");
    EXPECT_EQ(missing_dir.errors, "pellucor: " + missing + ": " + std::strerror(ENOENT) + "\n");
    EXPECT_EQ(missing_dir.status, 2);
}

#ifndef _WIN32
// When the video goes to standard output, by whatever name, the messages go
// to standard error and the stream holds frames alone, written from where
// the shell left it (>> appends); where standard error is the same file, the
// messages are dropped. A closed standard output never becomes the video's
// descriptor.
TEST_F(Cli, StandardOutputHoldsOnlyFrames)
{
    frame(1, color_tga(PICTURE, 3, 2));
    frame(2, rle_picture_tga());
    const std::string messages = BANNER + frame_line(1, "OK\n") + frame_line(2, "Uncompressing ... OK\n") + "Done.\n";
    const fs::path stream = dir / "stream.raw";
    const Bytes before = {'b', 'e', 'f', 'o', 'r', 'e'};
    struct Case {
        const char* output;  // empty: out, in the folder
        Stdout standard_output;
        int frames;  // more than a stdio buffer of messages, where standard output is closed
        std::string console;
        int status = 0;
    };
    const Case cases[] = {
        {"/dev/stdout", Stdout::FILE, 2, messages},
        {"/dev/fd/1", Stdout::FILE, 2, messages},
        {"/dev/stdout", Stdout::APPEND, 2, messages},  // pellucor ... /dev/stdout >> stream.raw
        {"/dev/stdout", Stdout::CONSOLE, 2, ""},       // 2>&1: the console is the video, and holds only frames
        {"", Stdout::CLOSED, 400, ""},                 // the messages go to the pipe that stands in
        // Standard output named as the video, closed: nowhere to go.
        {"/dev/stdout", Stdout::CLOSED, 2,
         BANNER + "Could not open output file /dev/stdout\npellucor: /dev/stdout: " + std::strerror(EBADF) + "\n", 2},
        {"/dev/fd/1", Stdout::CLOSED, 2,
         BANNER + "Could not open output file /dev/fd/1\npellucor: /dev/fd/1: " + std::strerror(EBADF) + "\n", 2},
        {"/dev/null", Stdout::CLOSED, 2, ""},  // named for itself, it takes the frames
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.output) + " " + std::to_string(static_cast<int>(c.standard_output)));
        write(stream, before);
        fs::remove(out);
        const std::string output = *c.output ? c.output : out;
        const std::string frames = c.frames == 2 ? pattern : (dir / "f1.tga").string();
        const int status = finish(start(command_line({frames, output, "1", std::to_string(c.frames), "3", "2"}),
                                        console, c.standard_output, stream));
        EXPECT_EQ(status, c.status);
        if (c.status != 0 || std::string(c.output) == "/dev/null") {
            if (c.status != 0) {
                EXPECT_EQ(console_text(), c.console);
            }
            EXPECT_EQ(read(stream), before);
            EXPECT_FALSE(fs::exists(out));
            continue;
        }
        Bytes expected = c.standard_output == Stdout::APPEND ? before : Bytes {};
        for (int i = 0; i < c.frames; ++i) expected = concat({expected, PICTURE_WORDS});
        const fs::path video = c.standard_output == Stdout::CONSOLE ? console : *c.output ? stream : fs::path(out);
        if (c.standard_output != Stdout::CONSOLE) {
            EXPECT_EQ(without_summary(console_text()), c.console);
        }
        EXPECT_TRUE(read(video) == expected);
    }

    // Two runs into one redirection, as { a; b; } > all.raw: both runs' frames.
    std::string line = "{";
    for (int run = 0; run < 2; ++run) {
        for (const std::string& argument : command_line({pattern, "/dev/stdout", "1", "2", "3", "2"})) {
            line += " '" + argument + "'";
        }
        line += " 2>/dev/null;";
    }
    line += " } > '" + stream.string() + "'";
    ASSERT_EQ(std::system(line.c_str()), 0) << line;
    EXPECT_EQ(read(stream), concat({PICTURE_WORDS, PICTURE_WORDS, PICTURE_WORDS, PICTURE_WORDS}));

    // A PLV file on standard output, a file or a pipe, is finished with its
    // index and trailer, never sought: the header's fields known only at the
    // end stay 0. Its offsets count from its header, after what the shell
    // left (>>).
    for (const Stdout mode : {Stdout::FILE, Stdout::APPEND}) {
        write(stream, before);
        const int status =
            finish(start(command_line({"--plv", pattern, "/dev/stdout", "1", "2", "3", "2"}), console, mode, stream));
        EXPECT_EQ(status, 0);
        EXPECT_EQ(without_summary(console_text()), messages);
        Bytes file = read(stream);
        if (mode == Stdout::APPEND) {
            ASSERT_TRUE(std::equal(before.begin(), before.end(), file.begin()));
            file.erase(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(before.size()));
        }
        EXPECT_EQ(plv_words(file), concat({PICTURE_WORDS, PICTURE_WORDS}));
        EXPECT_EQ(plv_play::play(file).report.header.frame_count, 0u);
    }
    std::string piped;
    for (const std::string& argument : command_line({"--plv", pattern, "/dev/stdout", "1", "2", "3", "2"})) {
        piped += " '" + argument + "'";
    }
    piped += " 2>/dev/null | cat > '" + stream.string() + "'";
    ASSERT_EQ(std::system(piped.c_str()), 0) << piped;
    const Bytes file = read(stream);
    EXPECT_EQ(plv_words(file), concat({PICTURE_WORDS, PICTURE_WORDS}));
    EXPECT_EQ(plv_play::play(file).report.header.frame_count, 0u);
}

// A reader that has gone is a failed write, not the end of the process.
TEST_F(Cli, ClosedPipeIsAFailedWrite)
{
    frame(1, color_tga(PICTURE, 3, 2));
    const int status =
        finish(start(command_line({pattern, "/dev/stdout", "1", "1", "3", "2"}), console, Stdout::BROKEN_PIPE));
    EXPECT_EQ(status, 2);
    EXPECT_EQ(console_text(), BANNER + frame_line(1, "Could not write output file /dev/stdout\n") +
                                  "pellucor: /dev/stdout: " + std::strerror(EPIPE) + "\n");
}

// A full file system leaves the frames before the one that did not fit, whole.
TEST_F(Cli, FullDiskLeavesWholeFrames)
{
    const fs::path small = dir / "small";
    fs::create_directory(small);
    const std::string mount = "mount -t tmpfs -o size=64k tmpfs '" + small.string() + "' 2>/dev/null";
    if (std::system(mount.c_str()) != 0) {
        GTEST_SKIP() << "cannot mount a 64 KiB tmpfs here (needs root)";
    }
    frame(1, color_tga(std::vector<Rgb>(100 * 100, Rgb {1, 2, 3}), 100, 100));
    const std::string output = (small / "out.raw").string();
    const Result r = run({(dir / "f1.tga").string(), output, "1", "5", "100", "100"});
    const std::uintmax_t size = fs::file_size(output);
    std::system(("umount '" + small.string() + "'").c_str());
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.console.substr(r.console.rfind("Frame")),
              frame_line(4, "Could not write output file " + output + "\n"));
    EXPECT_EQ(size, 3u * 100 * 100 * 2);
}

// A signal mid-run ends the process as the signal does, with whole frames
// in the output, each exact, and an "OK" line in the log, flushed, for each
// of them and no more: also when the log is a pipe, even one that its
// reader has stopped reading, and when a second signal follows the first.
// A signal while the output is checked removes the output that the run
// created.
TEST_F(Cli, SignalLeavesWholeFrames)
{
    send_signals(false);
    const fs::path fifo = dir / "log.fifo";

    // A log pipe whose reader has stopped: the run stops in the write of an
    // "OK" line, the signal comes, and only then the reader goes on. The
    // frame and its line stay together, both kept or both gone.
    frame(2, gray_tga(Bytes(8, 9), 4, 2));
    fs::remove(out);
    const int reading = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);  // read only once the signal is sent
    ASSERT_GE(reading, 0);
    const pid_t child =
        start(command_line({(dir / "f2.tga").string(), out, "1", "1000000", "4", "2"}), console, Stdout::FILE, fifo);
    ASSERT_GT(child, 0);
    std::error_code error;
    std::uintmax_t size = 0, last_size = 1;
    // Under an emulator on a loaded machine the first frame may take a
    // while: up to a minute.
    for (int wait = 0; wait < 600 && (size == 0 || size != last_size); ++wait) {
        usleep(100000);  // until the output stops growing
        last_size = size;
        size = fs::file_size(out, error);
        if (error) size = 0;
    }
    ASSERT_GT(size, 0u) << "no frame written in a minute";
    kill(child, SIGTERM);
    usleep(100000);
    fcntl(reading, F_SETFL, 0);
    std::string lines;
    char part[4096];
    for (ssize_t got; (got = ::read(reading, part, sizeof part)) > 0;)
        lines.append(part, static_cast<std::size_t>(got));
    close(reading);
    EXPECT_EQ(finish(child), 128 + SIGTERM);
    std::uintmax_t ok = 0;
    for (std::size_t at = lines.find("OK\n"); at != std::string::npos; at = lines.find("OK\n", at + 1)) ++ok;
    EXPECT_EQ(ok, fs::file_size(out) / 16);
    EXPECT_EQ(fs::file_size(out) % 16, 0u);

    // A PLV file cut by a signal holds whole records only, and plays by
    // walking them. Noise frames, each a key frame of its own, stay raw.
    std::mt19937 random(5);
    Bytes noise(2048 * 2048);
    for (std::uint8_t& byte : noise) byte = static_cast<std::uint8_t>(random());
    frame(2, gray_tga(noise, 2048, 2048));
    constexpr std::uintmax_t FRAME_BYTES = 2 * 2048 * 2048;
    const fs::path plv_log = dir / "plv.log";
    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        fs::remove(out);
        const pid_t child = start(
            command_line({"--plv", "--key-every", "1", (dir / "f2.tga").string(), out, "1", "1000", "2048", "2048"}),
            console, Stdout::FILE, plv_log);
        ASSERT_GT(child, 0);
        std::error_code error;
        for (int wait = 0; wait < 120000 && !(fs::file_size(out, error) > 2 * FRAME_BYTES && !error); ++wait) {
            usleep(500);
        }
        kill(child, signal);
        ASSERT_TRUE(fs::exists(out)) << "no frame written in a minute";
        EXPECT_EQ(finish(child), 128 + signal);
        constexpr std::uintmax_t HEADER = 64, RECORD = 12 + FRAME_BYTES;
        EXPECT_EQ((fs::file_size(out) - HEADER) % RECORD, 0u) << fs::file_size(out);
        const Bytes file = read(out);
        const Bytes words = plv_words(file, false);
        EXPECT_EQ(words.size(), (file.size() - HEADER) / RECORD * FRAME_BYTES);
        EXPECT_TRUE(plv_play::play(file).report.cut_short);
    }

    // The check walks the range here, as the conversion lies in the folder part.
    fs::remove(out);
    const pid_t checking =
        start(command_line({(dir / "d%d" / "f.tga").string(), out, "1", "2147483647", "4", "2"}), console);
    ASSERT_GT(checking, 0);
    for (int wait = 0; wait < 120000 && !fs::exists(out); ++wait) usleep(500);
    usleep(100000);
    kill(checking, SIGTERM);
    EXPECT_EQ(finish(checking), 128 + SIGTERM);
    EXPECT_FALSE(fs::exists(out));
}

// A signal sent to a worker thread alone (tgkill) is handled by the thread
// that writes, as one sent to the process.
TEST_F(Cli, SignalToAWorkerLeavesWholeFrames)
{
    send_signals(true);
}

// A second run on an output that a run is writing is refused, and touches
// nothing.
TEST_F(Cli, SecondRunOnTheSameOutputIsRefused)
{
    constexpr std::uintmax_t FRAME_BYTES = 2 * 2048 * 2048;
    frame(1, gray_tga(Bytes(2048 * 2048, 77), 2048, 2048));
    frame(2, gray_tga(Bytes(2048 * 2048, 1), 2048, 2048));
    const pid_t first =
        start(command_line({(dir / "f1.tga").string(), out, "1", "1000", "2048", "2048"}), dir / "first.console");
    ASSERT_GT(first, 0);
    std::error_code error;
    for (int wait = 0; wait < 120000 && !(fs::file_size(out, error) > 0 && !error); ++wait) usleep(500);
    const Result second = run({(dir / "f2.tga").string(), out, "1", "10", "2048", "2048"});
    kill(first, SIGTERM);
    EXPECT_EQ(finish(first), 128 + SIGTERM);
    EXPECT_EQ(second.console, BANNER + "Output file " + out + " is in use by another run\n");
    EXPECT_EQ(second.status, 2);
    const Bytes words = read(out);
    EXPECT_EQ(words.size() % FRAME_BYTES, 0u);
    EXPECT_TRUE(std::all_of(words.begin(), words.end(), [](std::uint8_t byte) { return byte != 0x08; }));
}

// Where the address space is limited, the frame store of a small frame fits
// and that of the largest frame is refused before any file is touched.
TEST_F(Cli, AddressSpaceLimit)
{
    if (!PELLUCOR_ADDRESS_LIMIT) {
        GTEST_SKIP() << "no address-space limit under sanitizers, an emulator or this system";
    }
    frame(1, color_tga(PICTURE, 3, 2));
    const Bytes large = color_tga(std::vector<Rgb>(320 * 240, Rgb {1, 2, 3}), 320, 240);
    write(dir / "large.tga", large);
    struct Case {
        const char* width;
        const char* height;
        int status;
        std::string console;
        std::vector<std::string> options = {};
        int frames = 1;
    };
    std::string many_lines = BANNER;
    for (int number = 1; number <= 100; ++number) many_lines += frame_line(number, "OK\n");
    const Case cases[] = {
        {"3", "2", 0, BANNER + frame_line(1, "OK\n") + "Done.\n"},
        {"4096", "4096", 1, BANNER + "Not enough memory for 4096x4096 frames\n"},
        // Stacks for a few of the 64 threads alone: the run goes on with those.
        {"320", "240", 0, many_lines + "Done.\n", {"--threads", "64"}, 100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.width);
        fs::remove(out);
        std::string line = "ulimit -v 100000; exec";
        std::vector<std::string> args = c.options;
        const std::string frames = c.frames == 1 ? pattern : (dir / "large.tga").string();
        args.insert(args.end(), {frames, out, "1", std::to_string(c.frames), c.width, c.height});
        threads_option = c.options.empty();
        for (const std::string& argument : command_line(args)) {
            line += " '" + argument + "'";
        }
        Result r {"", spawn({"/bin/sh", "-c", line}, console, true), ""};
        r.console = console_text();
        EXPECT_EQ(r.console, c.console);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(fs::exists(out), c.status == 0);
        if (c.frames > 1) {
            EXPECT_EQ(fs::file_size(out), 2u * 320 * 240 * 100);
        }
    }
}
#endif

// The memory figures of the man page and docs/development.md: at most 17
// bytes a pixel and 2 MiB more for each thread that converts frames (15 on
// one thread, which needs no second output buffer), and 4 MiB for the
// process. The frame that touches every buffer: a PNG of stored 16-bit RGBA
// rows, longer than the input buffer and read on from the file; and a TGA
// frame that takes the most of them, 32-bit RLE of one-pixel packets.
#ifdef __linux__
TEST_F(Cli, MemoryWithinTheDocumentedFigures)
{
    if (!PELLUCOR_ADDRESS_LIMIT) {
        GTEST_SKIP() << "no true resident size under sanitizers, an emulator or this system";
    }
    constexpr long long MIB = 1 << 20, PROCESS = 4 * MIB, THREAD = 2 * MIB;
    constexpr long long BYTES_PER_PIXEL = 17, ONE_THREAD_BYTES_PER_PIXEL = 15;
    constexpr int WIDTH = 1280, HEIGHT = 720, FRAMES = 24;
    std::vector<Rgb> pixels;
    for (int i = 0; i < WIDTH * HEIGHT; ++i) {
        pixels.push_back(
            {static_cast<std::uint8_t>(i * 7), static_cast<std::uint8_t>(i / 5), static_cast<std::uint8_t>(i)});
    }
    Bytes tga = tga_file({10, 32, {}, 0, {}, 0, 0, 0, {}, WIDTH, HEIGHT});
    for (const Rgb& p : pixels) append(tga, {0, p.b, p.g, p.r, 255});
    struct Case {
        const char* name;
        Bytes file;
        bool touches_all;  // every byte of every buffer
    };
    std::vector<Case> cases = {{"RLE 32-bit TGA, one-pixel packets", tga, false}};
#ifdef PELLUCOR_PNG
    std::vector<unsigned> samples;
    for (const Rgb& p : pixels) samples.insert(samples.end(), {p.r * 257u, p.g * 257u, p.b * 257u, 65535});
    PngParts png {SPNG_COLOR_TYPE_TRUECOLOR_ALPHA, 16, samples};
    png.width = WIDTH;
    png.height = HEIGHT;
    png.compression = 0;
    cases.push_back({"stored 16-bit RGBA PNG", png_file(png), true});
#endif
    for (const Case& c : cases) {
        write(dir / "frame", c.file);
        for (const int threads : {1, 4}) {
            SCOPED_TRACE(std::string(c.name) + " on " + std::to_string(threads));
            threads_option = false;
            const pid_t child =
                start(command_line({"--threads", std::to_string(threads), (dir / "frame").string(), out, "1",
                                    std::to_string(FRAMES), std::to_string(WIDTH), std::to_string(HEIGHT)}),
                      console, Stdout::FILE, dir / "run.log");
            long long peak = 0;
            EXPECT_EQ(finish(child, peak), 0);
            const long long pixels_bytes = static_cast<long long>(WIDTH) * HEIGHT;
            const long long figure = threads == 1 ? PROCESS + THREAD + ONE_THREAD_BYTES_PER_PIXEL * pixels_bytes
                                                  : PROCESS + threads * (THREAD + BYTES_PER_PIXEL * pixels_bytes);
            EXPECT_LE(peak, figure);
            // The figure is no loose bound: the worst frame comes within a
            // fifth of it.
            if (c.touches_all) {
                EXPECT_GE(peak, figure - figure / 5);
            }
        }
    }
}
#else
TEST_F(Cli, MemoryWithinTheDocumentedFigures)
{
    GTEST_SKIP() << "the resident size is read from /proc, which this system lacks";
}
#endif

// frame03 was written by ImageMagick: no footer, and its pixel data ends in a
// 4-byte run packet. frame04 is Pillow's RLE with a footer. Both hold the
// picture of frame01, uncompressed. frame01-04.words holds the bytes that
// every host must write for the four frames.
TEST_F(Cli, RealEncoderRleMatchesUncompressed)
{
    const fs::path samples = PELLUCOR_SAMPLES;
    const Bytes imagemagick = read(samples / "frame03.tga");
    ASSERT_GE(imagemagick[imagemagick.size() - 4], 0x80);
    constexpr std::ptrdiff_t WIDTH = 16, HEIGHT = 12, FRAMES = 4, FRAME_BYTES = 2 * WIDTH * HEIGHT;
    const Result r = run({(samples / "frame%02d.tga").string(), out, "1", std::to_string(FRAMES), std::to_string(WIDTH),
                          std::to_string(HEIGHT)});
    EXPECT_EQ(r.status, 0) << r.console;
    const Bytes words = read(out);
    ASSERT_EQ(words.size(), static_cast<std::size_t>(FRAMES * FRAME_BYTES));
    const Bytes first(words.begin(), words.begin() + FRAME_BYTES);
    EXPECT_EQ(Bytes(words.begin() + 2 * FRAME_BYTES, words.begin() + 3 * FRAME_BYTES), first);
    EXPECT_EQ(Bytes(words.begin() + 3 * FRAME_BYTES, words.end()), first);
    EXPECT_EQ(words, read(samples / "frame01-04.words"));
}

// --info on PLV files: what a finished file holds; a file cut short, which
// still plays; and each file it refuses, with status 3.
TEST_F(Cli, PlvInfo)
{
    threads_option = false;
    using namespace plv_test;
    Video example;
    example.width = 4;
    example.height = 1;
    example.window = 3;
    example.records = {{PLV_KEY, PLV_RGB565BE, repeat(3, 0xF800) + literal({0x001F})},
                       {PLV_DELTA, PLV_RGB565BE, repeat(1, 0x07E0) + skip(2) + copy(1, 3)},
                       {PLV_RAW, PLV_BGR555LE, Bytes(8, 0x11)}};
    const Bytes finished = build(example);
    Bytes corrupt = finished;
    corrupt[64 + 12] ^= 1;  // the first frame's first code
    Bytes skipped_read =
        build(Video {4,
                     1,
                     64,
                     0,
                     4,
                     30,
                     1,
                     {{PLV_KEY, PLV_RGB565BE, repeat(4, 0xF800)}, {PLV_DELTA, PLV_RGB565BE, skip(2) + copy(2, 2)}}});
    const std::string name = (dir / "v.plv").string();
    const std::string facts = "  Size: 204 bytes\n"
                              "  Picture: 4x1, profile 0 (no frame buffer needed)\n"
                              "  Window: 3 words (the longest copy: 3)\n"
                              "  Word formats: rgb565be bgr555le\n";
    struct Case {
        const char* what;
        Bytes file;
        std::string console;  // after the banner
        int status;
    } cases[] = {
        {"finished", finished,
         "PLV file " + name + "\n" + facts +
             "  Frames: 3 (1 raw, 1 key, 1 delta), at most 2 from one key or raw frame to the next\n"
             "  Frame rate: 30/1 frames a second\n"
             "  Largest record: 24 bytes\n"
             "  Ratio to raw: 0.12 to 1 (raw: 24 bytes)\n"
             "  Finished: index and trailer\n",
         0},
        {"cut inside the raw frame", Bytes(finished.begin(), finished.begin() + 100), "", 0},
        {"not a PLV file", Bytes(200, 0x89), name + " is not a PLV file\n", 3},
        {"cut inside the header", Bytes(finished.begin(), finished.begin() + 40),
         name + " is corrupt in its header: it is cut short\n", 3},
        {"a code changed under its CRC", corrupt, name + " is corrupt at frame 1: its CRC-32 does not match\n", 3},
        {"a copy of a skipped pixel", skipped_read,
         name + " is corrupt at frame 2: a copy reads a pixel the frame skipped\n", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        write(name, c.file);
        const Result r = run({"--info", name});
        EXPECT_EQ(r.status, c.status);
        if (!c.console.empty()) {
            EXPECT_EQ(r.console, BANNER + c.console);
        } else {
            EXPECT_NE(r.console.find("  Cut short: no index or trailer, 1 whole frames\n"), std::string::npos)
                << r.console;
        }
    }
    fs::remove(name);
    EXPECT_EQ(run({"--info", name}).console, BANNER + "Could not open input file " + name + "\n");
    EXPECT_EQ(run({"--info", dir.string()}).status, 3) << "a folder";
}

#ifdef PELLUCOR_PNG
// The pixels of a PNG file, 8-bit RGB.
Bytes png_pixels(const Bytes& file)
{
    spng_ctx* png = spng_ctx_new(0);
    std::size_t size = 0;
    Bytes pixels;
    if (spng_set_png_buffer(png, file.data(), file.size()) == 0 &&
        spng_decoded_image_size(png, SPNG_FMT_RGB8, &size) == 0) {
        pixels.resize(size);
        if (spng_decode_image(png, pixels.data(), size, SPNG_FMT_RGB8, 0) != 0) pixels.clear();
    }
    spng_ctx_free(png);
    return pixels;
}

// --to-png: each frame as the panel shows it, every field widened by
// repeating its top bits; converted back by pellucor, the same words.
TEST_F(Cli, ToPng)
{
    threads_option = false;
    using namespace plv_test;
    const std::string video = (dir / "v.plv").string(), pngs = (dir / "p%d.png").string();
    auto png = [&](int number) { return read(dir / ("p" + std::to_string(number) + ".png")); };
    // A PLV file: red red red blue, then its last two pixels copied from the first two.
    Video plv;
    plv.window = 2;
    plv.records = {{PLV_KEY, PLV_RGB565BE, repeat(3, 0xF800) + literal({0x001F})},
                   {PLV_DELTA, PLV_RGB565BE, skip(1) + literal({0x8410}) + copy(2, 2)}};
    write(video, build(plv));
    Result r = run({"--to-png", video, pngs});
    EXPECT_EQ(r.status, 0) << r.console;
    EXPECT_EQ(r.console, BANNER + "Done.\n");
    EXPECT_EQ(png_pixels(png(1)), (Bytes {255, 0, 0, 255, 0, 0, 255, 0, 0, 0, 0, 255}));
    EXPECT_EQ(png_pixels(png(2)), (Bytes {255, 0, 0, 132, 130, 132, 255, 0, 0, 132, 130, 132}));
    EXPECT_FALSE(fs::exists(dir / "p3.png"));
    // Raw files in every word format, through PNG and back.
    const std::string raw = (dir / "v.raw").string();
    for (const FormatWords& c : FORMAT_WORDS) {
        SCOPED_TRACE(c.format);
        write(raw, concat({c.color, c.gray}));
        r = run({"--to-png", "--format", c.format, raw, pngs, "3", "2"});
        EXPECT_EQ(r.status, 0) << r.console;
        r = run({"--format", c.format, pngs, out, "1", "2", "3", "2"});
        EXPECT_EQ(r.status, 0) << r.console;
        EXPECT_EQ(read(out), concat({c.color, c.gray}));
    }
    // rgb555le unless told; 0x4210 is 16 in each 5-bit field.
    write(raw, {0x10, 0x42});
    EXPECT_EQ(run({"--to-png", raw, pngs, "1", "1"}).status, 0);
    EXPECT_EQ(png_pixels(png(1)), (Bytes {132, 132, 132}));

    // Refused: what is not a whole number of frames, a PNG name that is the
    // input, and a PLV file corrupt at its second frame, whose first stays.
    struct Case {
        const char* what;
        std::vector<std::string> args;
        std::string line;
        int status;
    };
    const std::string named_like_a_png = (dir / "p1.png").string();
    Bytes corrupt = build(plv);
    corrupt[84 + 8] ^= 1;  // the second frame's CRC
    const Case cases[] = {
        {"not whole frames", {"--to-png", raw, pngs, "1", "2"}, raw + " is not a whole number of 1x2 frames\n", 3},
        {"the input itself",
         {"--to-png", named_like_a_png, pngs},
         "The PNG file " + named_like_a_png + " would overwrite the input file\n",
         1},
        {"corrupt second frame",
         {"--to-png", video, pngs},
         video + " is corrupt at frame 2: its CRC-32 does not match\n",
         3},
        {"missing",
         {"--to-png", (dir / "none").string(), pngs},
         "Could not open input file " + (dir / "none").string() + "\n",
         3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (int n = 1; n <= 2; ++n) fs::remove(dir / ("p" + std::to_string(n) + ".png"));
        write(named_like_a_png, build(plv));
        write(video, corrupt);
        r = run(c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.console, BANNER + c.line);
        if (c.args[1] == video) {
            EXPECT_EQ(png_pixels(png(1)), (Bytes {255, 0, 0, 255, 0, 0, 255, 0, 0, 0, 0, 255})) << "frame 1 stays";
        } else {
            EXPECT_EQ(read(named_like_a_png), build(plv)) << "untouched";
        }
    }
}
#endif

}  // namespace
