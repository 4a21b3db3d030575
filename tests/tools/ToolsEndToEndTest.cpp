// kelvo-encode and kelvo-render run as a person runs them: the bundled
// sample encoded and rendered in every byte order, each frame's pixels
// checked against its source image through the colour rules and each
// preview against the frame blended at its place; then bad images, damaged
// streams and refused packets, each giving one line, a failing status and
// no output file.
#include "tools/AtomicFile.h"
#include "tools/FramePictures.h"
#include "tools/PacketStream.h"
#include "tools/PngImage.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace Qor::Tools {
namespace {

namespace fs = std::filesystem;

const std::string encodeTool = KELVO_ENCODE_TOOL;
const std::string renderTool = KELVO_RENDER_TOOL;
const std::string sampleTool = KELVO_SAMPLE_TOOL;
const std::string samples = KELVO_SAMPLES_DIRECTORY;

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string fileText(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// Runs a program with `arguments`, its output and errors caught in files.
ToolRun run(const std::string& scratch, std::vector<std::string> arguments)
{
    const std::string outPath = scratch + "/.out";
    const std::string errPath = scratch + "/.err";
    const pid_t child = fork();
    if (child == 0) {
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        std::vector<char*> argv;
        for (std::string& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    ToolRun result;
    int status = 0;
    waitpid(child, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = fileText(outPath);
    result.err = fileText(errPath);
    fs::remove(outPath);
    fs::remove(errPath);
    return result;
}

// Every name in `directory`, sorted, hidden files included.
std::vector<std::string> listing(const std::string& directory)
{
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(directory, error))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class Scratch : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "kelvo-tools-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        directory = pattern;
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(directory, ignored);
    }
    ToolRun tool(std::vector<std::string> arguments) { return run(directory, std::move(arguments)); }
    std::string path(const std::string& name) const { return directory + "/" + name; }

    std::string directory;
};

// One line of samples/streams.txt.
struct SamplePacket {
    std::string stream;
    std::string format;
    std::string picture;
    std::string image;
    int x = 0;
    int y = 0;
    uint32_t timing[2] = {};
};

std::vector<SamplePacket> readSampleList()
{
    std::vector<SamplePacket> packets;
    std::ifstream list(samples + "/streams.txt");
    std::string line;
    while (std::getline(list, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        SamplePacket packet;
        std::string at;
        std::string timing;
        fields >> packet.stream >> packet.format >> packet.picture >> packet.image >> at >> timing;
        char comma = 0;
        std::istringstream(at) >> packet.x >> comma >> packet.y;
        std::istringstream(timing) >> packet.timing[0] >> comma >> packet.timing[1];
        packets.push_back(packet);
    }
    return packets;
}

// The canvas the plug-in measures each sample packet against, worked out
// from streams.txt by the canvas rules: a picture that holds the packet is
// the canvas; otherwise the smallest of 640x480, 960x720, 1440x1080 that
// holds both, and the canvas stays for the packets after.
const std::map<std::string, std::vector<PictureSize>> sampleCanvases = {
    {"station", {{720, 576}, {720, 576}, {720, 576}}},
    // 349,423 fits 640x480; 1129,1043 needs 1440x1080; 175,83 keeps it.
    {"night", {{640, 480}, {1440, 1080}, {1440, 1080}}},
    {"wide", {{1920, 1080}, {1920, 1080}}},
};

// The value of "key" in one manifest line: a number, or an array's numbers.
std::vector<double> jsonNumbers(const std::string& line, const std::string& key)
{
    const size_t at = line.find("\"" + key + "\":");
    if (at == std::string::npos)
        return {};
    const char* p = line.c_str() + at + key.size() + 3;
    std::vector<double> numbers;
    const bool array = *p == '[';
    if (array)
        ++p;
    do {
        char* end = nullptr;
        numbers.push_back(std::strtod(p, &end));
        p = end;
    } while (array && *p++ == ',');
    return numbers;
}

std::string jsonText(const std::string& line, const std::string& key)
{
    const size_t at = line.find("\"" + key + "\":\"");
    if (at == std::string::npos)
        return "";
    const size_t start = at + key.size() + 4;
    return line.substr(start, line.find('"', start) - start);
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> all;
    std::istringstream stream(text);
    std::string line;
    while (std::getline(stream, line))
        all.push_back(line);
    return all;
}

// What each pixel of a source image becomes in a frame. Colour 0 is the
// image's fully transparent colour, or its top-left pixel's colour when it
// has none. "GPHB": colour 0 is four zeros, every other colour opaque.
// "GPHA": each colour keeps its alpha, and alpha 0 is four zeros.
PngImage expectedFrameOf(const PngImage& source, const std::string& format)
{
    bool hasTransparent = false;
    for (uint32_t y = 0; y < source.height; ++y)
        for (uint32_t x = 0; x < source.width; ++x)
            hasTransparent = hasTransparent || source.pixel(x, y).alpha == 0;
    PngImage frame;
    frame.width = source.width;
    frame.height = source.height;
    for (uint32_t y = 0; y < source.height; ++y)
        for (uint32_t x = 0; x < source.width; ++x) {
            const Rgba p = source.pixel(x, y);
            Rgba c = p;
            if (format == "GPHA" && p.alpha == 0)
                c = Rgba{};
            if (format == "GPHB") {
                const bool colourZero = hasTransparent ? p.alpha == 0 : p == source.pixel(0, 0);
                c = colourZero ? Rgba{} : Rgba{p.red, p.green, p.blue, 255};
            }
            frame.rgba.insert(frame.rgba.end(), {c.red, c.green, c.blue, c.alpha});
        }
    return frame;
}

uint8_t blended(uint8_t source, uint8_t under, uint8_t alpha)
{
    return uint8_t(std::lround((source * alpha + under * (255.0 - alpha)) / 255.0));
}

// "" when the two images are the same, or where they first differ.
std::string firstDifference(const PngImage& actual, const PngImage& expected)
{
    if (actual.width != expected.width || actual.height != expected.height)
        return "size " + std::to_string(actual.width) + "x" + std::to_string(actual.height) + ", expected "
            + std::to_string(expected.width) + "x" + std::to_string(expected.height);
    if (actual.palette == expected.palette && actual.indices == expected.indices && actual.rgba == expected.rgba)
        return "";
    for (uint32_t y = 0; y < actual.height; ++y)
        for (uint32_t x = 0; x < actual.width; ++x) {
            const Rgba a = actual.pixel(x, y);
            const Rgba e = expected.pixel(x, y);
            if (a != e)
                return "pixel " + std::to_string(x) + "," + std::to_string(y) + " is " + std::to_string(a.red) + ","
                    + std::to_string(a.green) + "," + std::to_string(a.blue) + "," + std::to_string(a.alpha)
                    + ", expected " + std::to_string(e.red) + "," + std::to_string(e.green) + ","
                    + std::to_string(e.blue) + "," + std::to_string(e.alpha);
        }
    return "";
}

using KelvoEncode = Scratch;
using KelvoRender = Scratch;
using KelvoTools = Scratch;

class RenderedSample : public Scratch, public ::testing::WithParamInterface<const char*> {};

TEST_P(RenderedSample, FramesAndPreviewsFollowTheSourceImages)
{
    const std::string order = GetParam();
    const std::vector<SamplePacket> packets = readSampleList();
    ASSERT_FALSE(packets.empty());
    std::map<std::string, std::vector<SamplePacket>> streams;
    for (const SamplePacket& packet : packets) {
        std::vector<std::string> arguments = {encodeTool, "--format", packet.format, "--picture", packet.picture, "--at",
            std::to_string(packet.x) + "," + std::to_string(packet.y), "--timing",
            std::to_string(packet.timing[0]) + "," + std::to_string(packet.timing[1]), "-o",
            path(packet.stream + ".kps"), samples + "/" + packet.image};
        if (streams.count(packet.stream))
            arguments.push_back("--append");
        const ToolRun encoded = tool(arguments);
        ASSERT_EQ(encoded.status, 0) << encoded.err;
        EXPECT_EQ(encoded.err, "");
        streams[packet.stream].push_back(packet);
    }
    ASSERT_EQ(streams.size(), sampleCanvases.size());

    for (const auto& [name, sources] : streams) {
        SCOPED_TRACE(name);
        const std::string out = path(name);
        // Padded rows: the host reads frames by their stride.
        const ToolRun rendered = tool({renderTool, "--order", order, "--padding", "3", "-o", out, path(name + ".kps")});
        ASSERT_EQ(rendered.status, 0) << rendered.err;
        EXPECT_EQ(rendered.out.rfind("kelvo-render: " + std::to_string(sources.size()) + " packets, "
                      + std::to_string(sources.size()) + " frames in " + out + " (" + order + "; Kelvo Subtitle Decoder, ",
                      0),
            0u)
            << rendered.out;
        const std::vector<std::string> manifest = lines(fileText(out + "/manifest.jsonl"));
        ASSERT_EQ(manifest.size(), sources.size());

        for (size_t n = 0; n < sources.size(); ++n) {
            SCOPED_TRACE("packet " + std::to_string(n + 1));
            const SamplePacket& packet = sources[n];
            const std::string& line = manifest[n];
            const PngReadResult source = readPng(samples + "/" + packet.image);
            ASSERT_TRUE(source) << source.error;
            const uint32_t width = source.image.width;
            const uint32_t height = source.image.height;
            const PictureSize canvas = sampleCanvases.at(name)[n];

            EXPECT_EQ(jsonNumbers(line, "packet"), std::vector<double>{double(n + 1)});
            EXPECT_EQ(jsonNumbers(line, "timing"), (std::vector<double>{double(packet.timing[0]), double(packet.timing[1])}));
            EXPECT_EQ(jsonNumbers(line, "width"), std::vector<double>{double(width)});
            EXPECT_EQ(jsonNumbers(line, "height"), std::vector<double>{double(height)});
            EXPECT_EQ(jsonNumbers(line, "canvas"), (std::vector<double>{double(canvas.width), double(canvas.height)}));
            // Right and bottom are inclusive: the last column and row of the image.
            EXPECT_EQ(jsonNumbers(line, "left"), std::vector<double>{double(packet.x) / canvas.width});
            EXPECT_EQ(jsonNumbers(line, "top"), std::vector<double>{double(packet.y) / canvas.height});
            EXPECT_EQ(jsonNumbers(line, "right"), std::vector<double>{double(packet.x + width - 1) / canvas.width});
            EXPECT_EQ(jsonNumbers(line, "bottom"), std::vector<double>{double(packet.y + height - 1) / canvas.height});
            EXPECT_EQ(jsonText(line, "order"), order);

            const PngReadResult frame = readPng(out + "/" + jsonText(line, "frame"));
            ASSERT_TRUE(frame) << frame.error;
            ASSERT_EQ(frame.image.width, width);
            ASSERT_EQ(frame.image.height, height);
            const PngImage expectedFrame = expectedFrameOf(source.image, packet.format);
            EXPECT_EQ(firstDifference(frame.image, expectedFrame), "");

            // Every sample's preview shows the canvas at its own size, so the
            // frame sits unscaled at x, y, blended over the checkerboard.
            const PngReadResult preview = readPng(out + "/" + jsonText(line, "preview"));
            ASSERT_TRUE(preview) << preview.error;
            // Built row by row into place: at this size, pixel by pixel
            // appends are slow under the sanitizers.
            PngImage expectedPreview;
            expectedPreview.width = uint32_t(canvas.width);
            expectedPreview.height = uint32_t(canvas.height);
            expectedPreview.rgba.resize(size_t(canvas.width) * size_t(canvas.height) * 4);
            uint8_t* target = expectedPreview.rgba.data();
            for (uint32_t y = 0; y < expectedPreview.height; ++y)
                for (uint32_t x = 0; x < expectedPreview.width; ++x, target += 4) {
                    const Rgba under = checkerboardAt(int32_t(x), int32_t(y));
                    const bool inside = x >= uint32_t(packet.x) && x < packet.x + width && y >= uint32_t(packet.y)
                        && y < packet.y + height;
                    const Rgba c = inside ? expectedFrame.pixel(x - packet.x, y - packet.y) : Rgba{0, 0, 0, 0};
                    target[0] = blended(c.red, under.red, c.alpha);
                    target[1] = blended(c.green, under.green, c.alpha);
                    target[2] = blended(c.blue, under.blue, c.alpha);
                    target[3] = 255;
                }
            EXPECT_EQ(firstDifference(preview.image, expectedPreview), "");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryOrder, RenderedSample, ::testing::Values("RGBA", "BGRA", "ARGB", "ABGR"),
    [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

// An encode that must fail: status 1, one line naming `named`, and the
// directory exactly as it was.
void expectRefusal(const ToolRun& result, const std::string& named, const std::vector<std::string>& before,
    const std::vector<std::string>& after)
{
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    EXPECT_NE(result.err.find(named), std::string::npos) << result.err;
    EXPECT_EQ(after, before);
}

TEST_F(KelvoEncode, RefusesBadImagesAndWritesNothing)
{
    ASSERT_EQ(writeFileAtomically(path("text.png"), {'n', 'o', 't', ' ', 'a', ' ', 'p', 'n', 'g'}), "");
    std::vector<uint8_t> sample;
    ASSERT_EQ(readWholeFile(samples + "/station-caption.png", sample), "");
    sample.resize(sample.size() / 2);
    ASSERT_EQ(writeFileAtomically(path("cut.png"), sample), "");
    PngImage five;
    five.width = 5;
    five.height = 1;
    five.rgba = {0, 0, 0, 0, 255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255, 255};
    ASSERT_EQ(writePng(path("five.png"), five), "");

    const struct {
        const char* label;
        std::string image;
        std::string message; // part of the one line
    } rows[] = {
        {"not a PNG", path("text.png"), path("text.png") + ": not a PNG file"},
        {"cut in half", path("cut.png"), path("cut.png") + ": bad PNG: "},
        {"five colours", path("five.png"), path("five.png") + ": more than four colours"},
        {"missing", path("none.png"), path("none.png") + ": cannot open: No such file or directory"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        // A new stream is not made...
        std::vector<std::string> before = listing(directory);
        ToolRun result = tool({encodeTool, "-o", path("new.kps"), row.image});
        expectRefusal(result, row.message, before, listing(directory));

        // ...and an existing one is left as it was.
        ASSERT_EQ(tool({encodeTool, "-o", path("old.kps"), samples + "/station-sign.png"}).status, 0);
        const std::string old = fileText(path("old.kps"));
        before = listing(directory);
        result = tool({encodeTool, "--append", "-o", path("old.kps"), row.image});
        expectRefusal(result, row.message, before, listing(directory));
        EXPECT_EQ(fileText(path("old.kps")), old);
        fs::remove(path("old.kps"));
    }
}

TEST_F(KelvoEncode, ChecksWhatItAppendsTo)
{
    const std::string image = samples + "/night-note.png";
    ASSERT_EQ(tool({encodeTool, "-f", "GPHA", "-p", "720x576", "-o", path("s.kps"), image}).status, 0);
    const struct {
        const char* label;
        std::vector<std::string> arguments;
        int status;
        std::string message;
    } rows[] = {
        {"other format", {"--append", "-f", "GPHB"}, 1, path("s.kps") + ": the stream is GPHA, not GPHB"},
        {"other picture", {"--append", "-p", "1920x1080"}, 1,
            path("s.kps") + ": the stream declares the picture 720x576, not 1920x1080"},
        {"past the coordinates", {"--append", "--at", "65500,0"}, 1, image + ": at 65500,0 its 116x24 pixels pass"},
        {"alpha for GPHB", {"-f", "GPHB", "--alpha", "0,255,255,255"}, 2, "--alpha applies to GPHA streams only"},
        {"alpha of three", {"--append", "--alpha", "0,255,255"}, 2, "--alpha needs four values"},
        {"half a picture", {"-p", "720x0"}, 2, "--picture needs WxH"},
        {"unknown format", {"-f", "YUV"}, 2, "--format YUV: input format \"YUV\" is neither GPHB nor GPHA"},
        {"unknown option", {"--colour", "red"}, 2, "unknown option --colour"},
    };
    const std::string before = fileText(path("s.kps"));
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        std::vector<std::string> arguments = {encodeTool, "-o", path("s.kps"), image};
        arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
        const ToolRun result = tool(arguments);
        EXPECT_EQ(result.status, row.status);
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
        EXPECT_NE(result.err.find(row.message), std::string::npos) << result.err;
        EXPECT_EQ(fileText(path("s.kps")), before);
        EXPECT_EQ(listing(directory), std::vector<std::string>{"s.kps"});
    }
    // Alpha given on the command line replaces the PNG's own.
    ASSERT_EQ(tool({encodeTool, "--append", "--alpha", "0,255,128,64", "-o", path("s.kps"), image}).status, 0);
    const StreamReadResult read = readPacketStream(path("s.kps"));
    ASSERT_TRUE(read) << read.error;
    ASSERT_EQ(read.stream.records.size(), 2u);
    // Alpha bytes follow the 53-byte header part of a "GPHA" packet.
    const std::vector<uint8_t>& packet = read.stream.records[1].packet;
    EXPECT_EQ(std::vector<uint8_t>(packet.begin() + 53, packet.begin() + 57), (std::vector<uint8_t>{0, 255, 128, 64}));
}

TEST_F(KelvoRender, RefusesDamagedStreamsAndLeavesNoOutput)
{
    const std::string image = samples + "/station-sign.png";
    ASSERT_EQ(tool({encodeTool, "-o", path("good.kps"), image}).status, 0);
    ASSERT_EQ(tool({encodeTool, "--append", "-o", path("good.kps"), image}).status, 0);
    std::vector<uint8_t> bytes;
    ASSERT_EQ(readWholeFile(path("good.kps"), bytes), "");
    const StreamReadResult good = parsePacketStream(bytes, "good.kps");
    ASSERT_TRUE(good) << good.error;
    const size_t second = good.stream.records[1].offset;
    const size_t packetSize = good.stream.records[1].packet.size();

    std::vector<uint8_t> truncated(bytes.begin(), bytes.end() - 5);
    ASSERT_EQ(writeFileAtomically(path("truncated.kps"), truncated), "");
    // The second record's packet cut to 20 bytes: shorter than a packet
    // header, which the plug-in refuses.
    std::vector<uint8_t> shortPacket(bytes.begin(), bytes.begin() + long(second));
    const std::vector<uint8_t> recordHeader = {20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    shortPacket.insert(shortPacket.end(), recordHeader.begin(), recordHeader.end());
    shortPacket.insert(shortPacket.end(), 20, 0);
    ASSERT_EQ(writeFileAtomically(path("short.kps"), shortPacket), "");

    const struct {
        const char* label;
        std::string stream;
        std::string message;
    } rows[] = {
        {"truncated record", path("truncated.kps"),
            "kelvo-render: " + path("truncated.kps") + ": record 2 at byte offset " + std::to_string(second)
                + " is truncated: " + std::to_string(packetSize) + " packet bytes claimed, "
                + std::to_string(packetSize - 5) + " left\n"},
        {"refused packet", path("short.kps"),
            "kelvo-render: " + path("short.kps") + ": record 2 at byte offset " + std::to_string(second)
                + ": plug-in refused the packet (20 bytes)\n"},
        {"missing stream", path("none.kps"),
            "kelvo-render: " + path("none.kps") + ": cannot open: No such file or directory\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        const std::vector<std::string> before = listing(directory);
        // Into a directory that does not exist yet, and into one that does.
        ToolRun result = tool({renderTool, "-o", path("out"), row.stream});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, row.message);
        EXPECT_EQ(listing(directory), before);
        fs::create_directory(path("there"));
        result = tool({renderTool, "-o", path("there"), row.stream});
        EXPECT_EQ(result.status, 1);
        EXPECT_TRUE(listing(path("there")).empty());
        fs::remove(path("there"));
    }
}

TEST_F(KelvoTools, HelpDocumentsEveryOption)
{
    const struct {
        std::string tool;
        std::vector<std::string> options;
    } rows[] = {
        {encodeTool, {"-o, --output", "-a, --append", "-f, --format", "-p, --picture", "--at", "-t, --timing", "--alpha",
                         "--prefix", "-h, --help"}},
        {renderTool, {"-o, --output", "--order", "--plugin", "--padding", "-q, --quiet", "-h, --help"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.tool);
        const ToolRun help = tool({row.tool, "--help"});
        EXPECT_EQ(help.status, 0);
        EXPECT_EQ(help.err, "");
        for (const std::string& option : row.options)
            EXPECT_NE(help.out.find("  " + option + " "), std::string::npos) << option;
        const ToolRun wrong = tool({row.tool, "--no-such-option"});
        EXPECT_EQ(wrong.status, 2);
        EXPECT_NE(wrong.err.find("--help"), std::string::npos);
    }
}

TEST_F(KelvoTools, SamplesAreWhatTheGeneratorDraws)
{
    const ToolRun made = tool({sampleTool, directory});
    ASSERT_EQ(made.status, 0) << made.err;
    size_t compared = 0;
    for (const std::string& name : listing(directory)) {
        SCOPED_TRACE(name);
        const PngReadResult drawn = readPng(path(name));
        const PngReadResult committed = readPng(samples + "/" + name);
        ASSERT_TRUE(drawn) << drawn.error;
        ASSERT_TRUE(committed) << committed.error;
        EXPECT_EQ(drawn.image.width, committed.image.width);
        EXPECT_EQ(drawn.image.height, committed.image.height);
        EXPECT_EQ(drawn.image.palette, committed.image.palette);
        EXPECT_EQ(drawn.image.indices, committed.image.indices);
        EXPECT_EQ(drawn.image.rgba, committed.image.rgba);
        ++compared;
    }
    EXPECT_EQ(compared, 5u);
}

} // namespace
} // namespace Qor::Tools
