// kelvo-encode and kelvo-render (and, where all the tools share a rule,
// kelvo-subtitles) run as a person runs them: the bundled
// sample encoded and rendered in every byte order, each frame's pixels
// checked against its source image through the colour rules and each
// preview against the frame blended at its place; then bad images, damaged
// streams and refused packets, each giving one line, a failing status and
// no output file.
#include "tests/tools/TestImages.h"
#include "tests/tools/ToolRun.h"
#include "tools/AtomicFile.h"
#include "tools/FramePictures.h"
#include "tools/PacketStream.h"
#include "tools/PngImage.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace Qor::Tools {
namespace {

using namespace Testing;
namespace fs = std::filesystem;

class StreamScratch : public Scratch {
protected:
    // good.kps: two packets of `image`, encoded and appended by the tool.
    struct TwoPackets {
        std::vector<uint8_t> bytes; // empty when the tool failed
        PacketStream stream;
        size_t second = 0;     // the offset of record 2
        size_t packetSize = 0; // and its packet's size
    };
    TwoPackets twoPackets(const std::string& image)
    {
        TwoPackets made;
        if (tool({encodeTool, "-o", path("good.kps"), image}).status != 0
            || tool({encodeTool, "-a", "-o", path("good.kps"), image}).status != 0
            || !readWholeFile(path("good.kps"), made.bytes).empty())
            return TwoPackets{};
        StreamReadResult read = parsePacketStream(made.bytes, "good.kps");
        if (!read || read.stream.records.size() != 2)
            return TwoPackets{};
        made.stream = std::move(read.stream);
        made.second = made.stream.records[1].offset;
        made.packetSize = made.stream.records[1].packet.size();
        return made;
    }
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

// A row of a table of command lines: the arguments, the exit status they
// end with, and what standard error says (all of it, or a part that each
// test looks for).
struct ToolCase {
    const char* label;
    std::vector<std::string> arguments;
    int status;
    std::string message;
};

using KelvoEncode = StreamScratch;
using KelvoRender = StreamScratch;
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
    const PngImage five =
        rgbaImage(5, 1, {0, 0, 0, 0, 255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255, 255});
    ASSERT_EQ(writePng(path("five.png"), five), "");
    // Colours changing at every pixel: the even rows alone need more than
    // the 65535 bytes of run-length data a packet holds before its odd rows.
    PngImage busy;
    busy.width = 520;
    busy.height = 520;
    for (uint32_t i = 0; i < busy.width * busy.height; ++i)
        busy.rgba.insert(busy.rgba.end(), {uint8_t(i % 2 * 255), 0, 0, uint8_t(i % 2 * 255)});
    ASSERT_EQ(writePng(path("busy.png"), busy), "");

    const struct {
        const char* label;
        std::string image;
        std::string message; // part of the one line
    } rows[] = {
        {"not a PNG", path("text.png"), path("text.png") + ": not a PNG file"},
        {"cut in half", path("cut.png"), path("cut.png") + ": bad PNG: "},
        {"five colours", path("five.png"), path("five.png") + ": more than four colours"},
        {"missing", path("none.png"), path("none.png") + ": cannot open: No such file or directory"},
        {"too busy for a packet", path("busy.png"),
            path("busy.png") + ": its even rows take 67600 bytes of run-length data, more than the 65535 a packet holds"
                               " before its odd rows; split the image into packets of fewer rows"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        // A new stream is not made...
        std::vector<std::string> before = listing(directory);
        // --exact: five colours are refused rather than reduced.
        ToolRun result = tool({encodeTool, "--exact", "-o", path("new.kps"), row.image});
        expectRefusal(result, row.message, before, listing(directory));

        // ...and an existing one is left as it was.
        ASSERT_EQ(tool({encodeTool, "-o", path("old.kps"), samples + "/station-sign.png"}).status, 0);
        const std::string old = fileText(path("old.kps"));
        before = listing(directory);
        result = tool({encodeTool, "--exact", "--append", "-o", path("old.kps"), row.image});
        expectRefusal(result, row.message, before, listing(directory));
        EXPECT_EQ(fileText(path("old.kps")), old);
        fs::remove(path("old.kps"));
    }
}

TEST_F(KelvoEncode, ChecksWhatItAppendsTo)
{
    const std::string image = samples + "/night-note.png";
    ASSERT_EQ(tool({encodeTool, "-f", "GPHA", "-p", "720x576", "-o", path("s.kps"), image}).status, 0);
    const ToolCase rows[] = {
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
    const TwoPackets made = twoPackets(image);
    ASSERT_FALSE(made.bytes.empty());
    const std::vector<uint8_t>& bytes = made.bytes;
    const PacketStream& good = made.stream;
    const size_t second = made.second;
    const size_t packetSize = made.packetSize;

    std::vector<uint8_t> truncated(bytes.begin(), bytes.end() - 5);
    ASSERT_EQ(writeFileAtomically(path("truncated.kps"), truncated), "");
    // The second record's packet cut to 20 bytes: shorter than a packet
    // header, which the plug-in refuses.
    std::vector<uint8_t> shortPacket(bytes.begin(), bytes.begin() + long(second));
    const std::vector<uint8_t> recordHeader = {20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    shortPacket.insert(shortPacket.end(), recordHeader.begin(), recordHeader.end());
    shortPacket.insert(shortPacket.end(), 20, 0);
    ASSERT_EQ(writeFileAtomically(path("short.kps"), shortPacket), "");
    std::vector<uint8_t> emptyPacket(bytes.begin(), bytes.begin() + long(second));
    emptyPacket.insert(emptyPacket.end(), 12, 0);
    ASSERT_EQ(writeFileAtomically(path("empty.kps"), emptyPacket), "");
    // A header alone that declares a frame one column wider than 8192 x 8192.
    PacketStream huge = good;
    huge.records[1].packet.assign(53, 0);
    huge.records[1].packet[27] = 0x01;
    huge.records[1].packet[28] = 0x20; // 8193
    huge.records[1].packet[30] = 0x20; // 8192
    ASSERT_EQ(writePacketStream(path("huge.kps"), huge), "");

    const struct {
        const char* label;
        std::string stream;
        std::string message;
    } rows[] = {
        {"truncated record", path("truncated.kps"),
            "kelvo-render: " + path("truncated.kps") + ": record 2 at byte offset " + std::to_string(second)
                + " is truncated: " + std::to_string(packetSize) + " packet bytes claimed, "
                + std::to_string(packetSize - 5) + " left\n"},
        {"short packet", path("short.kps"),
            "kelvo-render: " + path("short.kps") + ": record 2 at byte offset " + std::to_string(second)
                + ": the packet is 20 bytes, shorter than the 53-byte header of a GPHB packet\n"},
        // The plug-in passes over an empty packet in silence; the renderer
        // refuses it like any other packet too short for its header.
        {"empty packet", path("empty.kps"),
            "kelvo-render: " + path("empty.kps") + ": record 2 at byte offset " + std::to_string(second)
                + ": the packet is 0 bytes, shorter than the 53-byte header of a GPHB packet\n"},
        {"frame past the limit", path("huge.kps"),
            "kelvo-render: " + path("huge.kps") + ": record 2 at byte offset " + std::to_string(second)
                + ": the packet declares a frame of 8193x8192 pixels (67117056), more than --max-frame-pixels"
                  " allows (67108864); raise it to render this packet\n"},
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
        {encodeTool, {"-o, --output", "-a, --append", "-y, --force", "-l, --list", "-f, --format", "-p, --picture",
                         "--at", "-t, --timing", "--alpha", "--exact", "--max-image-pixels", "--prefix", "-q, --quiet",
                         "-h, --help", "--version"}},
        {renderTool, {"-o, --output", "-y, --force", "-n, --no-overwrite", "--order", "--plugin", "--padding",
                         "--max-frame-pixels", "--compression",
                         "--no-preview", "-j, --jobs", "--progress", "-q, --quiet", "-h, --help", "--version"}},
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
        const ToolRun version = tool({row.tool, "--version"});
        EXPECT_EQ(version.status, 0);
        EXPECT_EQ(version.out.rfind(fs::path(row.tool).filename().string() + " ", 0), 0u) << version.out;
    }
}

TEST_F(KelvoTools, SamplesAreWhatTheGeneratorDraws)
{
    // The generator makes the directory it is given.
    const ToolRun made = tool({sampleTool, path("made/here")});
    ASSERT_EQ(made.status, 0) << made.err;
    size_t compared = 0;
    for (const std::string& name : listing(path("made/here"))) {
        SCOPED_TRACE(name);
        const PngReadResult drawn = readPng(path("made/here/" + name));
        const PngReadResult committed = readPng(samples + "/" + name);
        ASSERT_TRUE(drawn) << drawn.error;
        ASSERT_TRUE(committed) << committed.error;
        expectSameImage(drawn.image, committed.image);
        ++compared;
    }
    EXPECT_EQ(compared, 5u);
}

TEST_F(KelvoRender, AUsedFolderHoldsThisRunsFilesAlone)
{
    const std::string image = samples + "/station-sign.png";
    ASSERT_EQ(tool({encodeTool, "-o", path("two.kps"), image}).status, 0);
    ASSERT_EQ(tool({encodeTool, "-a", "-o", path("two.kps"), image}).status, 0);
    ASSERT_EQ(tool({encodeTool, "-o", path("one.kps"), image}).status, 0);
    fs::create_directory(path("out"));
    ASSERT_EQ(writeFileAtomically(path("out/notes.txt"), {'k', 'e', 'e', 'p'}), "");
    ASSERT_EQ(tool({renderTool, "-q", "-o", path("out"), path("two.kps")}).status, 0);
    const ToolRun second = tool({renderTool, "-o", path("out"), path("one.kps")});
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(second.out.rfind("kelvo-render: 1 packet, 1 frame in ", 0), 0u) << second.out;
    // Files of other names are the user's, and stay.
    EXPECT_EQ(listing(path("out")),
        (std::vector<std::string>{"frame-0001.png", "manifest.jsonl", "notes.txt", "preview-0001.png"}));
    EXPECT_EQ(lines(fileText(path("out/manifest.jsonl"))).size(), 1u);

    // Without previews, none is written and the manifest says so.
    ASSERT_EQ(tool({renderTool, "-q", "--no-preview", "-o", path("out"), path("two.kps")}).status, 0);
    EXPECT_EQ(listing(path("out")),
        (std::vector<std::string>{"frame-0001.png", "frame-0002.png", "manifest.jsonl", "notes.txt"}));
    EXPECT_NE(fileText(path("out/manifest.jsonl")).find("\"preview\":null"), std::string::npos);
}

TEST_F(KelvoRender, AnInterruptedRunLeavesNothing)
{
    // Enough packets of a large picture for the run to be caught part-way.
    PngImage wide;
    wide.width = 1900;
    wide.height = 1000;
    wide.rgba.assign(size_t(wide.width) * wide.height * 4, 0);
    // Red stripes: short run-length data, large pictures.
    for (size_t i = 0; i < wide.rgba.size(); i += 4)
        if (i / 4 / wide.width % 4 == 0)
            wide.rgba[i] = wide.rgba[i + 3] = 255;
    ASSERT_EQ(writePng(path("wide.png"), wide), "");
    std::string list;
    for (int i = 0; i < 400; ++i)
        list += "{\"image\":\"wide.png\",\"timing\":[" + std::to_string(i) + ",0]}\n";
    ASSERT_EQ(writeFileAtomically(path("list.jsonl"), std::vector<uint8_t>(list.begin(), list.end())), "");
    ASSERT_EQ(tool({encodeTool, "-p", "1920x1080", "-l", path("list.jsonl"), "-o", path("s.kps")}).status, 0);

    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        const std::string out = path("new/out");
        const pid_t child = start({renderTool, "-o", out, path("s.kps")});
        // Until the first picture is in the staging directory.
        bool started = false;
        for (int wait = 0; wait < 20000 && !started; ++wait) {
            std::error_code ignored;
            for (const auto& entry : fs::directory_iterator(out, ignored))
                started = started || !listing(entry.path().string()).empty();
            if (!started)
                usleep(1000);
        }
        ASSERT_TRUE(started);
        kill(child, signal);
        EXPECT_EQ(waitFor(child), 128 + signal);
        // The directory the run made is gone, and the one above it, made too.
        EXPECT_FALSE(fs::exists(path("new")));
    }
}

TEST_F(KelvoEncode, LeavesItsInputsAndOtherFilesAlone)
{
    const std::string sign = samples + "/station-sign.png";
    fs::copy_file(sign, path("img.png"));
    const std::string picture = fileText(path("img.png"));
    ASSERT_EQ(writeFileAtomically(path("notes.txt"), {'k', 'e', 'e', 'p'}), "");
    ASSERT_EQ(writeFileAtomically(path("list.jsonl"), std::vector<uint8_t>{'{', '"', 'i', 'm', 'a', 'g', 'e', '"', ':',
                                                          '"', 'i', 'm', 'g', '.', 'p', 'n', 'g', '"', '}', '\n'}),
        "");
    const struct {
        const char* label;
        std::vector<std::string> arguments;
        std::string message;
    } rows[] = {
        {"output is the image", {"-o", path("img.png"), path("img.png")},
            path("img.png") + ": is an image being read; name another stream file"},
        {"output is the image, forced", {"-y", "-o", path("img.png"), path("img.png")},
            path("img.png") + ": is an image being read"},
        {"output is a listed image", {"-y", "-o", path("img.png"), "-l", path("list.jsonl")},
            path("img.png") + ": is an image being read"},
        {"output is the list", {"-y", "-o", path("list.jsonl"), "-l", path("list.jsonl")},
            path("list.jsonl") + ": is the list being read"},
        {"output is not a stream", {"-o", path("notes.txt"), sign},
            path("notes.txt") + ": exists and is not a packet stream; --force (-y) replaces it"},
        {"output is a directory", {"-y", "-o", directory, sign}, directory + ": "},
    };
    const std::vector<std::string> before = listing(directory);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        std::vector<std::string> arguments = {encodeTool};
        arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
        expectRefusal(tool(arguments), row.message, before, listing(directory));
        EXPECT_EQ(fileText(path("img.png")), picture);
        EXPECT_EQ(fileText(path("notes.txt")), "keep");
    }
    const ToolRun forced = tool({encodeTool, "--force", "-o", path("notes.txt"), sign});
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_TRUE(readPacketStream(path("notes.txt")));
}

TEST_F(KelvoEncode, AppendAddsRecordsWithoutRewriting)
{
    const std::string image = samples + "/night-note.png";
    ASSERT_EQ(tool({encodeTool, "-f", "gpha", "-o" + path("s.kps"), image}).status, 0);
    const std::string first = fileText(path("s.kps"));
    struct stat before {};
    ASSERT_EQ(stat(path("s.kps").c_str(), &before), 0);
    const ToolRun appended = tool({encodeTool, "-a", "-t", "7,9", "-o", path("s.kps"), image});
    ASSERT_EQ(appended.status, 0) << appended.err;
    struct stat after {};
    ASSERT_EQ(stat(path("s.kps").c_str(), &after), 0);
    // The same file, grown: the records already there were not written again.
    EXPECT_EQ(after.st_ino, before.st_ino);
    const std::string both = fileText(path("s.kps"));
    EXPECT_EQ(both.substr(0, first.size()), first);
    const StreamReadResult read = readPacketStream(path("s.kps"));
    ASSERT_TRUE(read) << read.error;
    ASSERT_EQ(read.stream.records.size(), 2u);
    EXPECT_EQ(read.stream.records[1].timing, (std::array<uint32_t, 2>{7, 9}));
    EXPECT_EQ(read.stream.records[1].packet, read.stream.records[0].packet);
}

TEST_F(KelvoEncode, EncodesARendersManifestBackIntoTheSameFrames)
{
    std::string list;
    for (const SamplePacket& packet : readSampleList())
        if (packet.stream == "night")
            list += "{\"image\":\"" + samples + "/" + packet.image + "\",\"at\":[" + std::to_string(packet.x) + ","
                + std::to_string(packet.y) + "],\"timing\":[" + std::to_string(packet.timing[0]) + ","
                + std::to_string(packet.timing[1]) + "]}\n\n";
    ASSERT_EQ(writeFileAtomically(path("night.jsonl"), std::vector<uint8_t>(list.begin(), list.end())), "");
    ASSERT_EQ(tool({encodeTool, "-f", "GPHA", "-l", path("night.jsonl"), "-o", path("night.kps")}).status, 0);
    ASSERT_EQ(tool({renderTool, "-q", "-o", path("first"), path("night.kps")}).status, 0);
    // The manifest names the frames relative to itself.
    const ToolRun back
        = tool({encodeTool, "-f", "GPHA", "-l", path("first/manifest.jsonl"), "-o", path("again.kps")});
    ASSERT_EQ(back.status, 0) << back.err;
    ASSERT_EQ(tool({renderTool, "-q", "-o", path("second"), path("again.kps")}).status, 0);
    EXPECT_EQ(fileText(path("second/manifest.jsonl")), fileText(path("first/manifest.jsonl")));
    const std::vector<std::string> names = listing(path("first"));
    EXPECT_EQ(listing(path("second")), names);
    for (const std::string& name : names)
        EXPECT_EQ(fileText(path("second/" + name)), fileText(path("first/" + name))) << name;

    const struct {
        const char* label;
        std::string line;
        std::string message;
    } rows[] = {
        {"not JSON", "{\"image\" \"a.png\"}", "bad.jsonl: line 1, column 16: syntax error while parsing object"
                                                " separator - unexpected string literal; expected ':'"},
        {"no image", "{\"timing\":[1,2]}", "bad.jsonl: line 1: no image"},
        {"bad timing", "{\"image\":\"a.png\",\"timing\":[1]}", "bad.jsonl: line 1: \"timing\" must be two 32-bit words"},
        {"place past 65535", "{\"image\":\"a.png\",\"at\":[65536,0]}", "bad.jsonl: line 1: \"at\" must be [X, Y]"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        ASSERT_EQ(writeFileAtomically(path("bad.jsonl"), std::vector<uint8_t>(row.line.begin(), row.line.end())), "");
        const std::vector<std::string> before = listing(directory);
        expectRefusal(tool({encodeTool, "-l", path("bad.jsonl"), "-o", path("bad.kps")}), path(row.message), before,
            listing(directory));
    }
}

TEST_F(KelvoEncode, ReducesManyColoursToFourAndSaysSo)
{
    // Anti-aliased white text with a black outline on transparency: the
    // fill, the outline, greys between them, and translucent fringes.
    const PngImage text = rgbaImage(12, {{0, 0, 0, 0}, {0, 0, 0, 40}, {0, 0, 0, 255}, {0, 0, 0, 255},
        {90, 90, 90, 255}, {250, 250, 250, 255}, {255, 255, 255, 255}, {255, 255, 255, 255}, {255, 255, 255, 255},
        {4, 4, 4, 255}, {0, 0, 0, 200}, {9, 9, 9, 0}});
    ASSERT_EQ(writePng(path("text.png"), text), "");

    const ToolRun exact = tool({encodeTool, "--exact", "-o", path("s.kps"), path("text.png")});
    EXPECT_EQ(exact.status, 1);
    EXPECT_NE(exact.err.find("more than four colours"), std::string::npos) << exact.err;

    const ToolRun reduced = tool({encodeTool, "-f", "GPHA", "-p", "8x8", "-o", path("s.kps"), path("text.png")});
    ASSERT_EQ(reduced.status, 0) << reduced.err;
    // Eight colours (both fully transparent pixels are one): the faint
    // fringe joins transparency; white and near-white are the fill (4
    // pixels), black, near-black and the translucent black the outline (4
    // pixels, first met later), the lone grey the edge.
    EXPECT_EQ(std::count(reduced.err.begin(), reduced.err.end(), '\n'), 2) << reduced.err;
    EXPECT_NE(reduced.err.find(path("text.png") + ": 8 colours reduced to 4: colour 0 transparent (3 pixels, 2 colours);"
                                                  " colour 1 254,254,254,255 (4 pixels, 2 colours); colour 2 "),
        std::string::npos)
        << reduced.err;
    EXPECT_NE(reduced.err.find("warning: " + path("text.png") + ": at 0,0 its 12x1 pixels pass the declared picture 8x8"),
        std::string::npos)
        << reduced.err;
    const StreamReadResult read = readPacketStream(path("s.kps"));
    ASSERT_TRUE(read) << read.error;

    ASSERT_EQ(tool({renderTool, "-q", "-o", path("out"), path("s.kps")}).status, 0);
    const PngReadResult frame = readPng(path("out/frame-0001.png"));
    ASSERT_TRUE(frame) << frame.error;
    std::vector<Rgba> colours;
    for (uint32_t x = 0; x < frame.image.width; ++x)
        if (std::find(colours.begin(), colours.end(), frame.image.pixel(x, 0)) == colours.end())
            colours.push_back(frame.image.pixel(x, 0));
    EXPECT_EQ(colours.size(), 4u);
    // Each pixel became the colour nearest to it: the ends stay transparent,
    // the pure white and black runs keep their colours exactly enough.
    EXPECT_EQ(frame.image.pixel(0, 0), (Rgba{0, 0, 0, 0}));
    EXPECT_EQ(frame.image.pixel(11, 0), (Rgba{0, 0, 0, 0}));
    EXPECT_EQ(frame.image.pixel(1, 0), (Rgba{0, 0, 0, 0})); // alpha 40 is nearer none than any colour
    EXPECT_GE(frame.image.pixel(7, 0).red, 250);
    EXPECT_LE(frame.image.pixel(3, 0).red, 4);
    EXPECT_EQ(frame.image.pixel(7, 0).alpha, 255);
    EXPECT_EQ(frame.image.pixel(4, 0), (Rgba{90, 90, 90, 255}));

    // GPHB shows colour 0 transparent and the others opaque, and says so
    // for a picture that looks otherwise; -q says nothing of it.
    const struct {
        const char* label;
        std::vector<uint8_t> rgba;
        std::string warning;
    } boxes[] = {
        {"translucent", {0, 0, 0, 0, 10, 20, 30, 128},
            ": a GPHB stream shows colours opaque; translucent colour 1 (alpha 128) becomes opaque (GPHA keeps alpha)"},
        {"no transparent colour", {12, 24, 72, 255, 255, 255, 255, 255},
            ": no colour is transparent, and GPHB shows colour 0 as transparent: 12,24,72 (1 of 2 pixels) will not"
            " show; a GPHA stream (-f GPHA) keeps it"},
    };
    for (const auto& row : boxes) {
        SCOPED_TRACE(row.label);
        ASSERT_EQ(writePng(path("box.png"), rgbaImage(2, 1, row.rgba)), "");
        const ToolRun warned = tool({encodeTool, "-o", path("b.kps"), path("box.png")});
        EXPECT_EQ(warned.status, 0);
        EXPECT_EQ(warned.err, "kelvo-encode: warning: " + path("box.png") + row.warning + "\n");
        const ToolRun quiet = tool({encodeTool, "-q", "-o", path("b.kps"), path("box.png")});
        EXPECT_EQ(quiet.status, 0);
        EXPECT_EQ(quiet.err, "");
    }
}

TEST_F(KelvoTools, FollowTheCommandLineConventions)
{
    const std::string image = samples + "/station-sign.png";
    ASSERT_EQ(tool({encodeTool, "-o", path("s.kps"), image}).status, 0);
    const struct {
        const char* label;
        std::vector<std::string> arguments;
        std::string message;
    } rows[] = {
        {"repeated output", {encodeTool, "-o", path("a.kps"), "--output=" + path("b.kps"), image},
            "kelvo-encode: --output given twice; give it once (see kelvo-encode --help)\n"},
        {"repeated flag", {renderTool, "-q", "--quiet", "-o", path("o"), path("s.kps")},
            "kelvo-render: --quiet given twice; give it once (see kelvo-render --help)\n"},
        {"value on a flag", {renderTool, "--quiet=yes", "-o", path("o"), path("s.kps")},
            "kelvo-render: --quiet takes no value (see kelvo-render --help)\n"},
        {"bad order echoed", {renderTool, "--order", "RGB", "-o", path("o"), path("s.kps")},
            "kelvo-render: --order needs RGBA, BGRA, ARGB or ABGR, not \"RGB\" (see kelvo-render --help)\n"},
        {"bad padding echoed", {renderTool, "--padding", "-1", "-o", path("o"), path("s.kps")},
            "kelvo-render: --padding needs a number of pixels from 0 to 4096, not \"-1\" (see kelvo-render --help)\n"},
        {"bad timing echoed on one line", {encodeTool, "-t", "1\n2\x01", "-o", path("a.kps"), image},
            "kelvo-encode: --timing needs two 32-bit words A,B, not \"1\\n2\\x01\" (see kelvo-encode --help)\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        const ToolRun result = tool(row.arguments);
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.err, row.message);
    }
    EXPECT_EQ(listing(directory), std::vector<std::string>{"s.kps"});

    // "-oFILE", names in any case, and "-" for standard input and output.
    const std::string stdinShell = "/bin/sh";
    ToolRun piped = tool({stdinShell, "-c",
        encodeTool + " -f gphb -o - - < " + image + " > " + path("piped.kps") + " && " + renderTool
            + " --order bgra -q -o" + path("out") + " - < " + path("piped.kps")});
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(fileText(path("piped.kps")), fileText(path("s.kps")));
    EXPECT_EQ(jsonText(fileText(path("out/manifest.jsonl")), "order"), "BGRA");

    // A folder the render cannot use is named with the system's reason.
    ASSERT_EQ(writeFileAtomically(path("file"), {'x'}), "");
    const ToolRun blocked = tool({renderTool, "-o", path("file/out"), path("s.kps")});
    EXPECT_EQ(blocked.status, 1);
    EXPECT_EQ(blocked.err.rfind("kelvo-render: " + path("file/out") + ": cannot make the directory: ", 0), 0u)
        << blocked.err;
    EXPECT_NE(blocked.err.find("Not a directory"), std::string::npos) << blocked.err;
}

// Many appends started at once take turns on the stream's lock: every
// record lands, whole, in some order.
TEST_F(KelvoEncode, ConcurrentAppendsAllLand)
{
    const std::string image = samples + "/station-sign.png";
    ASSERT_EQ(tool({encodeTool, "-t", "1000,0", "-o", path("s.kps"), image}).status, 0);
    constexpr int appends = 40;
    std::vector<pid_t> children;
    for (int i = 0; i < appends; ++i)
        children.push_back(start({encodeTool, "-a", "-t", std::to_string(i) + ",0", "-o", path("s.kps"), image}));
    for (const pid_t child : children)
        EXPECT_EQ(waitFor(child), 0);
    const StreamReadResult read = readPacketStream(path("s.kps"));
    ASSERT_TRUE(read) << read.error;
    ASSERT_EQ(read.stream.records.size(), size_t(appends + 1));
    std::set<uint32_t> timings;
    for (const PacketRecord& record : read.stream.records) {
        timings.insert(record.timing[0]);
        EXPECT_EQ(record.packet, read.stream.records[0].packet);
    }
    EXPECT_EQ(timings.size(), size_t(appends + 1));
}

TEST_F(KelvoEncode, AppendsOnlyToAWholeStream)
{
    const std::string image = samples + "/station-sign.png";
    const TwoPackets made = twoPackets(image);
    ASSERT_FALSE(made.bytes.empty());
    const std::vector<uint8_t>& bytes = made.bytes;
    const size_t second = made.second;
    const size_t packetSize = made.packetSize;
    std::vector<uint8_t> cutShort(bytes.begin(), bytes.end() - 7);
    std::vector<uint8_t> joined = bytes;
    joined.insert(joined.end(), bytes.begin(), bytes.end());
    const struct {
        const char* label;
        std::vector<uint8_t> bytes;
        std::string message;
    } rows[] = {
        {"last record cut", cutShort,
            ": record 2 at byte offset " + std::to_string(second) + " is truncated: " + std::to_string(packetSize)
                + " packet bytes claimed, " + std::to_string(packetSize - 7) + " left"},
        {"two streams joined", joined,
            ": record 3 at byte offset " + std::to_string(bytes.size())
                + " is the header of another stream (\"KLVS\"): two streams joined end to end are not one stream"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        ASSERT_EQ(writeFileAtomically(path("s.kps"), row.bytes), "");
        const ToolRun result = tool({encodeTool, "-a", "-o", path("s.kps"), image});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, "kelvo-encode: " + path("s.kps") + row.message + "\n");
        std::vector<uint8_t> after;
        ASSERT_EQ(readWholeFile(path("s.kps"), after), "");
        EXPECT_EQ(after, row.bytes);
    }
}

// A picture the renderer cannot show it wrote stops the run before
// anything changes; -y allows it, -n allows nothing.
TEST_F(KelvoRender, ReplacesOnlyWhatItWrote)
{
    const std::string image = samples + "/station-sign.png";
    ASSERT_EQ(tool({encodeTool, "-o", path("one.kps"), image}).status, 0);
    const std::string own = samples + "/station-caption.png";
    const struct {
        const char* label;
        bool renderedBefore;
        std::string place; // a file put into out/ then
        std::string option;
        std::string message; // "" when the run goes ahead
    } rows[] = {
        {"the user's frame", false, "frame-0001.png", "",
            "out/frame-0001.png: not written by kelvo-render (no manifest.jsonl lists it); -y (--force) replaces it"},
        {"the user's preview beside a render", true, "preview-0009.png", "",
            "out/preview-0009.png: not written by kelvo-render (manifest.jsonl does not list it)"},
        {"a frame changed since", true, "frame-0001.png", "", "out/frame-0001.png: changed since kelvo-render wrote it"},
        {"the user's frame, forced", false, "frame-0001.png", "-y", ""},
        {"the render before", true, "", "", ""},
        {"no overwriting", true, "", "-n", "out/frame-0001.png: exists, and -n (--no-overwrite) replaces nothing"},
        {"a folder of that name", true, "frame-0002.png/", "-y", "out/frame-0002.png: is not a regular file"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        fs::remove_all(path("out"));
        fs::create_directory(path("out"));
        if (row.renderedBefore) {
            ASSERT_EQ(tool({renderTool, "-q", "-o", path("out"), path("one.kps")}).status, 0);
        }
        if (!row.place.empty() && row.place.back() == '/')
            fs::create_directories(path("out/" + row.place + "inside"));
        else if (!row.place.empty())
            fs::copy_file(own, path("out/" + row.place), fs::copy_options::overwrite_existing);
        std::map<std::string, std::string> before;
        for (const std::string& name : listing(path("out")))
            before[name] = fs::is_regular_file(path("out/" + name)) ? fileText(path("out/" + name)) : "";
        std::vector<std::string> arguments = {renderTool, "-q", "-o", path("out"), path("one.kps")};
        if (!row.option.empty())
            arguments.push_back(row.option);
        const ToolRun result = tool(arguments);
        if (row.message.empty()) {
            EXPECT_EQ(result.status, 0) << result.err;
            continue;
        }
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err.rfind("kelvo-render: " + path(row.message), 0), 0u) << result.err;
        std::map<std::string, std::string> after;
        for (const std::string& name : listing(path("out")))
            after[name] = fs::is_regular_file(path("out/" + name)) ? fileText(path("out/" + name)) : "";
        EXPECT_EQ(after, before);
    }
}

TEST_F(KelvoRender, RemovesTheWorkingFolderOfARunThatDied)
{
    ASSERT_EQ(tool({encodeTool, "-o", path("one.kps"), samples + "/station-sign.png"}).status, 0);
    // What a run killed with SIGKILL leaves: its working folder, half full.
    fs::create_directories(path("out/.kelvo-render-dead01"));
    ASSERT_EQ(writeFileAtomically(path("out/.kelvo-render-dead01/frame-0001.png"), {1, 2}), "");
    const ToolRun result = tool({renderTool, "-q", "-o", path("out"), path("one.kps")});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(listing(path("out")),
        (std::vector<std::string>{"frame-0001.png", "manifest.jsonl", "preview-0001.png"}));
}

// After the first picture that cannot be written the render stops: the
// damaged record further on is never reached.
TEST_F(KelvoRender, StopsAtTheFirstFailedWrite)
{
    const std::string image = samples + "/station-caption.png";
    std::string list;
    for (int i = 0; i < 12; ++i)
        list += "{\"image\":\"" + image + "\",\"timing\":[" + std::to_string(i) + ",0]}\n";
    ASSERT_EQ(writeFileAtomically(path("list.jsonl"), std::vector<uint8_t>(list.begin(), list.end())), "");
    ASSERT_EQ(tool({encodeTool, "-q", "-l", path("list.jsonl"), "-o", path("s.kps")}).status, 0);
    PacketStream stream = readPacketStream(path("s.kps")).stream;
    stream.records.back().packet.resize(20);
    ASSERT_EQ(writePacketStream(path("s.kps"), stream), "");
    const ToolRun result = tool({renderTool, "-j", "1", "-o", path("out"), path("s.kps")}, 200);
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find(": record 1 at byte offset 16: " + path("out/.kelvo-render-")), std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("/frame-0001.png: cannot write: File too large"), std::string::npos) << result.err;
    EXPECT_FALSE(fs::exists(path("out")));
}

// Endless input, as any of the tools' inputs, is refused on its first bytes.
TEST_F(KelvoTools, RefuseEndlessInput)
{
    ASSERT_EQ(tool({encodeTool, "-o", path("s.kps"), samples + "/station-sign.png"}).status, 0);
    const struct {
        const char* label;
        std::vector<std::string> arguments;
        std::string message;
    } rows[] = {
        {"stream", {renderTool, "-o", path("out"), "/dev/zero"},
            "kelvo-render: /dev/zero: not a packet stream: magic \"\\x00\\x00\\x00\\x00\" at byte offset 0, not \"KLVS\"\n"},
        {"image", {encodeTool, "-o", path("n.kps"), "/dev/zero"}, "kelvo-encode: /dev/zero: not a PNG file\n"},
        {"list", {encodeTool, "-l", "/dev/zero", "-o", path("n.kps")},
            "kelvo-encode: /dev/zero: not JSON lines: byte 0x00 at byte offset 0, not \"{\"\n"},
        {"listed image", {encodeTool, "-l", path("zero.jsonl"), "-o", path("n.kps")},
            "kelvo-encode: " + path("zero.jsonl") + ": line 1: /dev/zero: not a PNG file\n"},
        {"stream appended to", {encodeTool, "-a", "-o", "/dev/zero", samples + "/station-sign.png"},
            "kelvo-encode: /dev/zero: is not a regular file; only a stream file takes appends\n"},
    };
    const std::string line = "{\"image\":\"/dev/zero\"}\n";
    ASSERT_EQ(writeFileAtomically(path("zero.jsonl"), std::vector<uint8_t>(line.begin(), line.end())), "");
    const std::vector<std::string> before = listing(directory);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        const ToolRun result = tool(row.arguments);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, row.message);
        EXPECT_EQ(listing(directory), before);
    }
}

// SIGINT and SIGTERM stop a tool that waits on a pipe, and it ends as the
// signal would, leaving nothing behind.
TEST_F(KelvoTools, StopWhileReadingAPipe)
{
    const std::vector<uint8_t> header = serializePacketStream(PacketStream{});
    const std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    const std::string line = "{\"image\":";
    const std::string caption = "1\n00:00:01,000 --> 00:00:02,000\n";
    const struct {
        const char* label;
        std::vector<std::string> arguments;
        std::vector<uint8_t> sent; // then the pipe stays open, silent
        std::string left;          // what must not exist afterwards
    } rows[] = {
        {"render, a stream", {renderTool, "-o", path("out"), "-"}, header, path("out")},
        {"encode, an image", {encodeTool, "-o", path("n.kps"), "-"}, png, path("n.kps")},
        {"encode, a list", {encodeTool, "-l", "-", "-o", path("n.kps")}, std::vector<uint8_t>(line.begin(), line.end()),
            path("n.kps")},
        {"subtitles, a file", {subtitlesTool, "-o", path("n.kps"), "-"}, std::vector<uint8_t>(caption.begin(),
            caption.end()), path("n.kps")},
    };
    for (const int signal : {SIGINT, SIGTERM})
        for (const auto& row : rows) {
            SCOPED_TRACE(std::string(row.label) + ", signal " + std::to_string(signal));
            int ends[2];
            ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
            Start how;
            how.input = ends[0];
            const pid_t child = start(row.arguments, how);
            close(ends[0]);
            ASSERT_EQ(write(ends[1], row.sent.data(), row.sent.size()), ssize_t(row.sent.size()));
            usleep(200000); // time to read what came and wait for more
            kill(child, signal);
            EXPECT_EQ(waitFor(child), 128 + signal);
            close(ends[1]);
            EXPECT_FALSE(fs::exists(row.left));
            EXPECT_EQ(listing(directory), std::vector<std::string>{});
        }
}

// What Python's json.dumps writes: spaces after the separators, \u escapes
// for every character outside ASCII (a surrogate pair past the first
// plane), nested values; and a byte-order mark an editor may add. The
// lines were written by json.dumps and copied here as it printed them.
TEST_F(KelvoEncode, ReadsListsAsJsonWritesThem)
{
    const std::string name = "caf\xC3\xA9 \xF0\x9F\x98\x80.png"; // "café 😀.png" in UTF-8
    fs::copy_file(samples + "/station-sign.png", path(name));
    const struct {
        const char* label;
        std::string text;
        std::string message; // "" when read
    } rows[] = {
        {"json.dumps",
            "{\"image\": \"caf\\u00e9 \\ud83d\\ude00.png\", \"timing\": [0, 2000], \"at\": [10, 20], \"meta\": "
            "{\"lang\": \"fr\", \"tags\": [\"a\", {\"b\": null}], \"score\": 1.5e+300}}\n",
            ""},
        {"byte-order mark", "\xEF\xBB\xBF{\"image\": \"caf\\u00e9 \\ud83d\\ude00.png\"}\r\n\r\n", ""},
        {"number past its field", "{\"image\": \"x.png\", \"timing\": [4294967296, 0]}\n",
            "l.jsonl: line 1: \"timing\" must be two 32-bit words [A, B], not [4294967296,0]"},
        {"number past any", "{\"image\": \"x.png\", \"at\": [1e400, 0]}\n",
            "l.jsonl: line 1, field \"at\": number overflow parsing '1e400'"},
        {"number past any, under a key of two lines", "{\"image\": \"x.png\", \"a\\nb\": [1e400, 0]}\n",
            "l.jsonl: line 1, field \"a\\nb\": number overflow parsing '1e400'"},
        {"negative", "\n{\"image\": \"x.png\", \"at\": [-1, 0]}\n",
            "l.jsonl: line 2: \"at\" must be [X, Y], each from 0 to 65535, not [-1,0]"},
        {"an array, not an object", "[1, 2]\n", "l.jsonl: not JSON lines: \"[\" at byte offset 0, not \"{\""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        ASSERT_EQ(writeFileAtomically(path("l.jsonl"), std::vector<uint8_t>(row.text.begin(), row.text.end())), "");
        const ToolRun result = tool({encodeTool, "-q", "-l", path("l.jsonl"), "-o", path("s.kps")});
        if (row.message.empty()) {
            EXPECT_EQ(result.status, 0) << result.err;
            EXPECT_EQ(result.err, "");
            EXPECT_TRUE(readPacketStream(path("s.kps")));
        } else {
            EXPECT_EQ(result.status, 1);
            EXPECT_EQ(result.err, "kelvo-encode: " + path(row.message) + "\n");
        }
        fs::remove(path("s.kps"));
    }
}

TEST_F(KelvoTools, SmoothTheRoughEdges)
{
    const std::string sign = samples + "/station-sign.png";
    ASSERT_EQ(writePng(path("box.png"), rgbaImage(2, 1, {0, 0, 0, 0, 255, 255, 255, 255})), "");
    ASSERT_EQ(tool({encodeTool, "-o", path("b.kps"), path("box.png")}).status, 0);

    // A stream name as long as a file name may be.
    const std::string longName = path(std::string(248, 's'));
    const ToolRun named = tool({encodeTool, "-o", longName, sign});
    EXPECT_EQ(named.status, 0) << named.err;
    EXPECT_TRUE(readPacketStream(longName));
    fs::remove(longName);

    const ToolCase rows[] = {
        {"render to standard output", {renderTool, "-o", "-", path("b.kps")}, 2,
            "kelvo-render: -o -: a render is a folder of pictures and a manifest, not one stream of bytes; name a folder"
            " (see kelvo-render --help)\n"},
        {"samples, unknown option", {sampleTool, "--bogus"}, 2,
            "kelvo-make-samples: unknown option --bogus (see kelvo-make-samples --help)\n"},
        {"-y and -n", {renderTool, "-y", "-n", "-o", path("o"), path("b.kps")}, 2,
            "kelvo-render: -y (--force) and -n (--no-overwrite) contradict each other; give one (see kelvo-render"
            " --help)\n"},
        {"image past the pixel limit", {encodeTool, "--max-image-pixels", "1x1", "-o", path("n.kps"), path("box.png")}, 1,
            "kelvo-encode: " + path("box.png") + ": the header declares 2x1 pixels (2), more than the 1 allowed;"
            " --max-image-pixels raises the limit\n"},
        {"image at the pixel limit", {encodeTool, "-q", "--max-image-pixels", "2", "-o", path("n.kps"), path("box.png")},
            0, ""},
        {"words in any case", {renderTool, "-q", "--compression", "FAST", "--order", "argb", "-o", path("o"),
                                  path("b.kps")},
            0, ""},
        {"standard input named", {encodeTool, "-o", path("n.kps"), "-"}, 1,
            "kelvo-encode: standard input: not a PNG file\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        const ToolRun result = tool(row.arguments);
        EXPECT_EQ(result.status, row.status);
        EXPECT_EQ(result.err, row.message);
    }
    EXPECT_FALSE(fs::exists(path("--bogus")));
    EXPECT_FALSE(fs::exists(path("-")));

    // A copy of the renderer elsewhere, as an installed one is, does not
    // look in the build tree for the plug-in.
    fs::copy_file(renderTool, path("kelvo-render"));
    fs::permissions(path("kelvo-render"), fs::perms::owner_all);
    const ToolRun help = tool({path("kelvo-render"), "--help"});
    const ToolRun builtHelp = tool({renderTool, "--help"});
    const std::string built = (fs::path(renderTool).parent_path().parent_path() / "libkelvosubdecode.so").string();
    EXPECT_EQ(help.out.find(built), std::string::npos) << help.out;
    EXPECT_NE(builtHelp.out.find(built), std::string::npos) << builtHelp.out;
}

} // namespace
} // namespace Qor::Tools
