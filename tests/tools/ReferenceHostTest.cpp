// The reference host: its buffers, allocator and host object on their own,
// then whole sessions with the built plug-in, loaded with dlopen: frames
// checked pixel by pixel, padding that must not matter, every refusal named,
// and nothing of the host's left alive at the end.
#include "encode/PacketWriter.h"
#include "tools/DecoderSession.h"
#include "tools/ReferenceHost.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace Qor::Tools {
namespace {

TEST(HostBuffer, LastReleaseFreesIt)
{
    BufferLedger ledger;
    auto* buffer = new HostBuffer({1, 2, 3}, &ledger);
    EXPECT_EQ(ledger.live, 1);
    EXPECT_EQ(buffer->size, 3);
    EXPECT_EQ(buffer->addReference(), 2);
    EXPECT_EQ(buffer->dropReference(), 1);
    EXPECT_EQ(ledger.live, 1);
    EXPECT_EQ(buffer->dropReference(), 0);
    EXPECT_EQ(ledger.live, 0);
    EXPECT_EQ(ledger.made, 1);
}

TEST(HostBuffer, EmptyPayloadLocksToNull)
{
    BufferLedger ledger;
    auto* buffer = new HostBuffer({}, &ledger);
    EXPECT_EQ(buffer->lock(), nullptr);
    buffer->unlock();
    buffer->dropReference();
    EXPECT_EQ(ledger.live, 0);
}

TEST(HostAllocator, RowsArePaddedAndConfigurationIsChecked)
{
    BufferLedger ledger;
    FaultList faults;
    HostAllocator allocator(&ledger, &faults, 5);
    allocator.configure(32);
    auto* frame = static_cast<HostBuffer*>(allocator.allocate(10, 3, 1));
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->stride, 15);
    EXPECT_EQ(frame->payloadSize(), 15u * 3 * 4);
    EXPECT_EQ(frame->pixelWidth, 10);
    EXPECT_EQ(frame->pixelHeight, 3);
    EXPECT_TRUE(faults.empty());
    frame->dropReference();

    // configure(32) holds for one allocation only.
    frame = static_cast<HostBuffer*>(allocator.allocate(1, 1, 1));
    ASSERT_NE(frame, nullptr);
    frame->dropReference();
    EXPECT_EQ(faults.size(), 1u);
    allocator.configure(32);
    EXPECT_EQ(allocator.allocate(-1, 1, 1), nullptr);
    allocator.configure(32);
    EXPECT_EQ(allocator.allocate(1, 1, 2), nullptr);
    EXPECT_EQ(faults.size(), 3u);
    EXPECT_EQ(ledger.live, 0);
}

TEST(ReferenceHost, ChecksDestructionNotices)
{
    Plugin* const self = reinterpret_cast<Plugin*>(0x1000);
    Plugin* const other = reinterpret_cast<Plugin*>(0x2000);
    const struct {
        const char* label;
        std::vector<std::pair<char, Plugin*>> notices;
        bool accepted;
    } rows[] = {
        {"will then did", {{'w', self}, {'d', self}}, true},
        {"nothing", {}, false},
        {"did then will", {{'d', self}, {'w', self}}, false},
        {"will only", {{'w', self}}, false},
        {"twice each", {{'w', self}, {'d', self}, {'w', self}, {'d', self}}, false},
        {"another plug-in", {{'w', other}, {'d', other}}, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        ReferenceHost host;
        for (const auto& [which, plugin] : row.notices)
            which == 'w' ? host.willDestroyPlugin(plugin) : host.didDestroyPlugin(plugin);
        EXPECT_EQ(host.checkDestroyed(self).empty(), row.accepted) << host.checkDestroyed(self);
    }
}

SessionOptions optionsFor(const std::string& input, const std::string& order, int32_t padding = 0)
{
    SessionOptions options;
    options.libraryPath = KELVO_PLUGIN_PATH;
    options.inputFormat = input;
    options.outputOrder = order;
    options.stridePadding = padding;
    return options;
}

// A 6x4 image using all four colours in bands and a diagonal.
PacketContents bandedContents(bool alpha)
{
    PacketContents contents;
    contents.width = 6;
    contents.height = 4;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x)
            contents.indices.push_back(uint8_t(x == y ? 3 : (x / 2) % 3));
    contents.palette = {PaletteEntry{10, 20, 30}, PaletteEntry{200, 0, 0}, PaletteEntry{0, 200, 0}, PaletteEntry{1, 2, 3}};
    if (alpha)
        contents.alpha = std::array<uint8_t, 4>{0, 255, 128, 64};
    contents.left = 100;
    contents.top = 50;
    return contents;
}

// The bytes of a pixel of colour `index`, from the colour rules: "GPHB"
// makes colour 0 transparent and the others opaque; a transparent colour
// is four zero bytes; the rest keep their palette values.
std::array<uint8_t, 4> expectedPixel(const PacketContents& c, uint8_t index, const std::string& order)
{
    const uint8_t a = c.alpha ? (*c.alpha)[index] : (index == 0 ? 0 : 255);
    const PaletteEntry p = a == 0 ? PaletteEntry{0, 0, 0} : c.palette[index];
    std::array<uint8_t, 4> pixel{};
    for (size_t i = 0; i < 4; ++i)
        pixel[i] = order[i] == 'R' ? p.red : order[i] == 'G' ? p.green : order[i] == 'B' ? p.blue : a;
    return pixel;
}

struct Variation {
    const char* input;
    const char* order;
};

void PrintTo(const Variation& variation, std::ostream* out)
{
    *out << variation.input << " to " << variation.order;
}

class ReferenceSession : public ::testing::TestWithParam<Variation> {};

TEST_P(ReferenceSession, FramesFollowTheColourRulesWhateverThePadding)
{
    const std::string input = GetParam().input;
    const std::string order = GetParam().order;
    const PacketContents contents = bandedContents(input == "GPHA");
    const WrittenPacket packet = writePacket(contents);
    ASSERT_TRUE(packet) << packet.error;

    for (int32_t padding : {0, 9}) {
        SCOPED_TRACE("padding " + std::to_string(padding));
        DecoderSession session;
        ASSERT_EQ(session.open(optionsFor(input, order, padding)), "");
        EXPECT_EQ(session.pluginName(), "Kelvo Subtitle Decoder");
        ASSERT_EQ(session.sendStreamInfo(720, 576), "");
        std::vector<Frame> frames;
        ASSERT_EQ(session.deliverPacket(packet.bytes, {1234, 5678}, frames), "");
        ASSERT_EQ(frames.size(), 1u);
        const Frame& frame = frames[0];
        EXPECT_EQ(frame.width, 6);
        EXPECT_EQ(frame.height, 4);
        EXPECT_EQ(frame.timing, (std::array<uint32_t, 2>{1234, 5678}));
        // Right and bottom are inclusive: 100 + 6 - 1 and 50 + 4 - 1, over the 720x576 picture.
        EXPECT_DOUBLE_EQ(frame.left, 100.0 / 720);
        EXPECT_DOUBLE_EQ(frame.top, 50.0 / 576);
        EXPECT_DOUBLE_EQ(frame.right, 105.0 / 720);
        EXPECT_DOUBLE_EQ(frame.bottom, 53.0 / 576);
        ASSERT_EQ(frame.pixels.size(), 6u * 4 * 4);
        for (size_t i = 0; i < contents.indices.size(); ++i) {
            const auto expected = expectedPixel(contents, contents.indices[i], order);
            EXPECT_EQ(std::vector<uint8_t>(frame.pixels.begin() + long(i * 4), frame.pixels.begin() + long(i * 4 + 4)),
                std::vector<uint8_t>(expected.begin(), expected.end()))
                << "pixel " << i % 6 << "," << i / 6;
        }
        EXPECT_EQ(session.close(), "");
        EXPECT_FALSE(session.isOpen());
    }
}

INSTANTIATE_TEST_SUITE_P(AllFormats, ReferenceSession,
    ::testing::Values(Variation{"GPHB", "RGBA"}, Variation{"GPHB", "BGRA"}, Variation{"GPHB", "ARGB"},
        Variation{"GPHB", "ABGR"}, Variation{"GPHA", "RGBA"}, Variation{"GPHA", "BGRA"}, Variation{"GPHA", "ARGB"},
        Variation{"GPHA", "ABGR"}),
    [](const ::testing::TestParamInfo<Variation>& info) {
        return std::string(info.param.input) + "_" + info.param.order;
    });

TEST(DecoderSession, NamesEveryRefusalAtOpening)
{
    const struct {
        const char* label;
        SessionOptions options;
        std::string message; // a prefix for messages that quote the system
    } rows[] = {
        {"output order", optionsFor("GPHB", "XRGB"), "plug-in refused the output format \"XRGB\""},
        {"lower-case order", optionsFor("GPHB", "rgba"), "plug-in refused the output format \"rgba\""},
        {"input format", optionsFor("GPHC", "RGBA"), "plug-in refused the input format \"GPHC\""},
        {"missing library", [] { auto o = optionsFor("GPHB", "RGBA"); o.libraryPath = "/nonexistent/lib.so"; return o; }(),
            "cannot load the plug-in library: /nonexistent/lib.so"},
        {"not a plug-in", [] { auto o = optionsFor("GPHB", "RGBA"); o.libraryPath = "libm.so.6"; return o; }(),
            "libm.so.6 has no getPlugin export"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        DecoderSession session;
        const std::string error = session.open(row.options);
        EXPECT_EQ(error.substr(0, row.message.size()), row.message) << error;
        EXPECT_FALSE(session.isOpen());
        EXPECT_EQ(session.close(), "");
    }
}

TEST(DecoderSession, RefusedOrEmptyPacketMakesNoFrame)
{
    const struct {
        const char* label;
        const char* input;
        std::vector<uint8_t> packet;
        std::string message;
    } rows[] = {
        // 56 bytes: one short of the alpha variant's 57-byte header.
        {"refused, named", "GPHA", std::vector<uint8_t>(56, 0), "plug-in refused the packet (56 bytes)"},
        {"empty, passed over", "GPHB", {}, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        DecoderSession session;
        ASSERT_EQ(session.open(optionsFor(row.input, "RGBA")), "");
        std::vector<Frame> frames;
        EXPECT_EQ(session.deliverPacket(row.packet, {0, 0}, frames), row.message);
        EXPECT_TRUE(frames.empty());
        // The plug-in keeps a refused packet until the stop; close() finds nothing left over.
        EXPECT_EQ(session.close(), "");
    }
}

TEST(DecoderSession, CanvasIsChosenWithoutStreamInformation)
{
    DecoderSession session;
    ASSERT_EQ(session.open(optionsFor("GPHB", "RGBA")), "");
    PacketContents contents = bandedContents(false);
    contents.left = 120;
    contents.top = 300;
    contents.right = 599;
    contents.bottom = 399;
    const WrittenPacket packet = writePacket(contents);
    ASSERT_TRUE(packet) << packet.error;
    std::vector<Frame> frames;
    ASSERT_EQ(session.deliverPacket(packet.bytes, {0, 0}, frames), "");
    ASSERT_EQ(frames.size(), 1u);
    // No picture size: right 599 and bottom 399 fit the 640x480 canvas.
    EXPECT_DOUBLE_EQ(frames[0].left, 0.1875);
    EXPECT_DOUBLE_EQ(frames[0].top, 0.625);
    EXPECT_DOUBLE_EQ(frames[0].right, 0.9359375);
    EXPECT_DOUBLE_EQ(frames[0].bottom, 0.83125);
    EXPECT_EQ(session.close(), "");
}

// This test program is not one of the build tree's tools, as an installed
// tool is not: neither looks for the plug-in in the build tree.
TEST(DecoderSession, OnlyTheBuildTreesToolsSearchIt)
{
    const std::vector<std::string> places = pluginSearchPath();
    EXPECT_EQ(std::find(places.begin(), places.end(), std::string(KELVO_PLUGIN_PATH)), places.end());
    EXPECT_FALSE(places.empty());
}

} // namespace
} // namespace Qor::Tools
