// End-to-end tests: run the built binary on frames written to a temporary
// directory and check its console output, exit status and output bytes.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "tga.h"

namespace fs = std::filesystem;

namespace {

const std::string BANNER = "Pellucor v1.00\n";
const std::string USAGE = "Pellucor <file format \"ZOVA%04d.TGA\"> <output file> <start frame> <end frame> "
                          "<video width> <video height>\n";

struct Result {
    std::string console;
    int status;
};

class Cli : public ::testing::Test {
protected:
    void SetUp() override
    {
        char name[] = "/tmp/pellucor-test-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
        pattern = (dir / "f%d.tga").string();
        out = (dir / "out.raw").string();
    }
    void TearDown() override { fs::remove_all(dir); }

    void frame(int number, const Bytes& bytes)
    {
        char name[32];
        std::snprintf(name, sizeof name, "f%d.tga", number);
        write(dir / name, bytes);
    }
    static void write(const fs::path& path, const Bytes& bytes)
    {
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
    }
    static Bytes read(const fs::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }

    static Result run(const std::vector<std::string>& args)
    {
        std::string command = PELLUCOR_BINARY;
        for (const std::string& arg : args) {
            command += " '" + arg + "'";
        }
        command += " 2>&1";
        Result result{"", -1};
        std::FILE* pipe = popen(command.c_str(), "r");
        char chunk[4096];
        for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) {
            result.console.append(chunk, n);
        }
        const int status = pclose(pipe);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return result;
    }
    // Runs the picture's geometry over frames first..last into out.
    Result run_picture(int first, int last)
    {
        return run({pattern, out, std::to_string(first), std::to_string(last), "3", "2"});
    }
    std::string frame_line(int number, const std::string& tail) const
    {
        return "Frame " + std::to_string(number) + " ... " + tail;
    }

    fs::path dir;
    std::string pattern, out;
};

Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST_F(Cli, MixedSequenceConverts)
{
    frame(1, color_tga(PICTURE, 3, 2));
    frame(2, rle_picture_tga());
    frame(3, gray_tga(GRAY_PICTURE, 3, 2));
    frame(4, color_tga(PICTURE, 3, 2, 200));  // unknown types pack as color
    const Result r = run_picture(1, 4);
    EXPECT_EQ(r.console, BANNER + frame_line(1, "OK\n") + frame_line(2, "Uncompressing ... OK\n") +
                             frame_line(3, "Grayscale ... OK\n") + frame_line(4, "OK\n") + "Done.\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read(out), concat({PICTURE_WORDS, PICTURE_WORDS, GRAY_WORDS, PICTURE_WORDS}));
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
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern + " " + c.first + ".." + c.last);
        write(dir / c.file, color_tga(PICTURE, 3, 2));
        const Result r = run({(dir / c.pattern).string(), out, c.first, c.last, "3", "2"});
        EXPECT_EQ(r.status, 0) << r.console;
        Bytes expected;
        for (int i = 0; i < c.frames; ++i) expected = concat({expected, PICTURE_WORDS});
        EXPECT_EQ(read(out), expected);
        fs::remove(dir / c.file);
    }
}

TEST_F(Cli, ZeroSizeReadsEveryFrameAndWritesNothing)
{
    frame(1, tga_header(2, 0, 0, 24));
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
        {{"f%s", o, "1", "1", "-1", "2"}, "Invalid file format f%s\n"},
        {{"f%d", o, "1", "1", "-1", "2"}, "Invalid video size -1x2\n"},
        {{"f%d", o, "1", "1", "1000", "501"}, "Invalid video size 1000x501\n"},
        {{"f%d", o, "1", "1", "65536", "65536"}, "Invalid video size 65536x65536\n"},
        {{"f%d", o, "1", "1", "2147483647", "2147483647"}, "Invalid video size 2147483647x2147483647\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0]);
        for (const bool existed : {false, true}) {
            if (existed) write(out, {1, 2, 3});
            const Result r = run(c.args);
            EXPECT_EQ(r.console, BANNER + c.message);
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(fs::exists(out), existed);
            if (existed) {
                EXPECT_EQ(read(out), (Bytes{1, 2, 3}));
            }
            fs::remove(out);
        }
    }
}

// A broken frame fails loudly at that frame; the frames before it stay.
TEST_F(Cli, BrokenFrameKeepsEarlierFrames)
{
    const Bytes good = color_tga(PICTURE, 3, 2);
    const Bytes rle = rle_picture_tga();
    const Bytes gray = gray_tga(GRAY_PICTURE, 3, 2);
    struct Case {
        const char* name;
        std::map<int, Bytes> frames;
        bool directory;  // frame 2 is a directory
        std::string tail;
    };
    const std::string open = "Could not open input file %P\n", short_file = "Input file %P is incomplete\n";
    const Case cases[] = {
        {"missing", {{1, good}, {3, good}}, false, open},
        {"directory", {{1, good}, {3, good}}, true, "Could not read input file %P\n"},
        {"empty", {{1, good}, {2, {}}, {3, good}}, false, short_file},
        {"short header", {{1, good}, {2, Bytes(good.begin(), good.begin() + 17)}, {3, good}}, false, short_file},
        {"short color", {{1, good}, {2, Bytes(good.begin(), good.end() - 1)}, {3, good}}, false, short_file},
        {"short gray", {{1, good}, {2, Bytes(gray.begin(), gray.end() - 1)}, {3, good}}, false, short_file},
        {"short rle after good rle", {{1, rle}, {2, Bytes(rle.begin(), rle.end() - 1)}, {3, good}}, false, "Uncompressing ... " + short_file},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir);
        fs::create_directory(dir);
        for (const auto& [number, bytes] : c.frames) frame(number, bytes);
        if (c.directory) fs::create_directory(dir / "f2.tga");
        const Result r = run_picture(1, 3);
        std::string tail = c.tail;
        tail.replace(tail.find("%P"), 2, pattern);
        const std::string first = c.frames.at(1) == rle ? "Uncompressing ... OK\n" : "OK\n";
        EXPECT_EQ(r.console, BANNER + frame_line(1, first) + frame_line(2, tail));
        EXPECT_EQ(r.status, 3);
        EXPECT_EQ(read(out), PICTURE_WORDS);
    }
}

TEST_F(Cli, EveryShortPrefixOfRleFrameFails)
{
    const Bytes rle = rle_picture_tga();
    for (std::size_t size = 0; size < rle.size(); ++size) {
        frame(1, Bytes(rle.begin(), rle.begin() + static_cast<long>(size)));
        const Result r = run_picture(1, 1);
        const std::string stage = size < 18 ? "" : "Uncompressing ... ";
        EXPECT_EQ(r.console, BANNER + frame_line(1, stage + "Input file " + pattern + " is incomplete\n")) << size;
        EXPECT_EQ(r.status, 3);
        EXPECT_TRUE(read(out).empty());
    }
}

TEST_F(Cli, SizeAndNameLimits)
{
    // 600 x 600 packs into the output buffer but its color pixels overflow the input buffer.
    Result r{"", 0};
    for (const std::uint8_t type : {2, 10, 200}) {
        frame(1, tga_header(type, 600, 600, 24));
        r = run({pattern, out, "1", "1", "600", "600"});
        EXPECT_EQ(r.console, BANNER + frame_line(1, "Video size 600x600 is too large for color frames\n"));
        EXPECT_EQ(r.status, 3);
    }

    frame(1, gray_tga(Bytes(600 * 600, 200), 600, 600));
    r = run({pattern, out, "1", "1", "600", "600"});
    EXPECT_EQ(r.status, 0) << r.console;
    EXPECT_EQ(fs::file_size(out), 2u * 600 * 600);

    const std::string long_pattern = (dir / "%01000d").string();
    r = run({long_pattern, out, "1", "1", "3", "2"});
    EXPECT_EQ(r.console, BANNER + frame_line(1, "Could not open input file " + long_pattern + "\n"));
    EXPECT_EQ(r.status, 3);
}

TEST_F(Cli, FailedWriteIsReported)
{
    frame(1, color_tga(PICTURE, 3, 2));
    const Result r = run({pattern, "/dev/full", "1", "1", "3", "2"});
    EXPECT_EQ(r.console, BANNER + frame_line(1, "Could not write output file /dev/full\n"));
    EXPECT_EQ(r.status, 2);

    const Result missing_dir = run({pattern, (dir / "no" / "out.raw").string(), "1", "1", "3", "2"});
    EXPECT_EQ(missing_dir.console, BANNER + "Could not open output file " + (dir / "no" / "out.raw").string() + "\n");
    EXPECT_EQ(missing_dir.status, 2);
}

}  // namespace

// frame03 was written by ImageMagick: no footer, and its pixel data ends in a
// 4-byte run packet. frame04 is Pillow's RLE with a footer. Both hold the
// picture of frame01, uncompressed.
TEST_F(Cli, RealEncoderRleMatchesUncompressed)
{
    const fs::path samples = PELLUCOR_SAMPLES;
    const Bytes imagemagick = read(samples / "frame03.tga");
    ASSERT_GE(imagemagick[imagemagick.size() - 4], 0x80);
    const Result r = run({(samples / "frame%02d.tga").string(), out, "1", "4", "16", "12"});
    EXPECT_EQ(r.status, 0) << r.console;
    const Bytes words = read(out);
    ASSERT_EQ(words.size(), 4u * 16 * 12 * 2);
    const Bytes first(words.begin(), words.begin() + 384);
    EXPECT_EQ(Bytes(words.begin() + 768, words.begin() + 1152), first);
    EXPECT_EQ(Bytes(words.begin() + 1152, words.end()), first);
}
