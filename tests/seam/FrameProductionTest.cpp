// Frame production through the core's own seam: colours in every byte
// order, the reference canvas, the host call order, ownership on the
// downstream's answer, and refusals.
#include "subdecode/FrameProduction.h"
#include "tests/support/PacketBytes.h"
#include "tests/support/Sessions.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

namespace Qor {
namespace {

using Testing::CoreSession;
using Testing::PacketFields;
using Testing::packetBytes;
using Testing::StandInBuffer;

// 4 x 3, hand-coded: rows from the top are 1 3 3 2 / 1 1 1 1 / 2 2 2 2.
// First field: codes 0x5 0xB 0x6 then a skipped nibble; the end-of-row code
// 0x0002. Second field: 0x11, a run of four of colour 1.
PacketFields smallPicture()
{
    PacketFields f;
    f.width = 4;
    f.height = 3;
    f.left = 10;
    f.top = 20;
    f.right = 13;
    f.bottom = 22;
    f.secondFieldOffset = 4;
    f.palette = {{{0x01, 0x02, 0x03}, {0x11, 0x22, 0x33}, {0x44, 0x55, 0x66}, {0x77, 0x88, 0x99}}};
    f.data = {0x5B, 0x60, 0x00, 0x02, 0x11};
    return f;
}
const int smallIndices[3][4] = {{1, 3, 3, 2}, {1, 1, 1, 1}, {2, 2, 2, 2}};

TEST(ChannelTables, OpaqueVariantHidesColourZero)
{
    const PaletteEntry palette[4] = {{9, 9, 9}, {1, 2, 3}, {4, 5, 6}, {7, 8, 9}};
    const ChannelTables c = buildChannelTables(palette, nullptr);
    EXPECT_EQ(c.alpha[0], 0);
    EXPECT_EQ(c.red[0], 0);
    EXPECT_EQ(c.green[0], 0);
    EXPECT_EQ(c.blue[0], 0);
    for (int colour = 1; colour < 4; ++colour) {
        EXPECT_EQ(c.alpha[colour], 255);
        EXPECT_EQ(c.red[colour], palette[colour].red);
        EXPECT_EQ(c.blue[colour], palette[colour].blue);
    }
}

TEST(ChannelTables, AlphaVariantZeroesOnlyTransparentColours)
{
    const PaletteEntry palette[4] = {{9, 9, 9}, {1, 2, 3}, {4, 5, 6}, {7, 8, 9}};
    const uint8_t alpha[4] = {255, 128, 0, 1};
    const ChannelTables c = buildChannelTables(palette, alpha);
    EXPECT_EQ(c.red[0], 9);
    EXPECT_EQ(c.alpha[1], 128);
    EXPECT_EQ(c.green[1], 2); // unscaled by alpha
    EXPECT_EQ(c.alpha[2], 0);
    EXPECT_EQ(c.red[2], 0);
    EXPECT_EQ(c.green[2], 0);
    EXPECT_EQ(c.blue[2], 0);
    EXPECT_EQ(c.blue[3], 9);
}

TEST(ChannelTables, ByteOrdersPlaceEachChannel)
{
    const PaletteEntry palette[4] = {{}, {0x11, 0x22, 0x33}, {}, {}};
    const uint8_t alpha[4] = {0, 0x44, 0, 0};
    const ChannelTables c = buildChannelTables(palette, alpha);
    const struct {
        const char* code;
        uint8_t bytes[4];
    } rows[] = {
        {"ARGB", {0x44, 0x11, 0x22, 0x33}},
        {"BGRA", {0x33, 0x22, 0x11, 0x44}},
        {"RGBA", {0x11, 0x22, 0x33, 0x44}},
        {"ABGR", {0x44, 0x33, 0x22, 0x11}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.code);
        const uint8_t* tables[4] = {};
        ASSERT_TRUE(orderTables(c, row.code, tables));
        for (int b = 0; b < 4; ++b)
            EXPECT_EQ(tables[b][1], row.bytes[b]);
    }
    const uint8_t* tables[4] = {};
    EXPECT_FALSE(orderTables(c, "RGB", tables));
    EXPECT_FALSE(orderTables(c, "RGBAX", tables));
    EXPECT_EQ(tables[0], nullptr);
}

TEST(ReferenceCanvas, ChoosesTheLastStandardOrFittingCanvas)
{
    const struct {
        const char* label;
        int32_t lastWidth, lastHeight;
        uint16_t right, bottom;
        int32_t width, height;
    } rows[] = {
        {"no canvas yet, small rectangle", 0, 0, 599, 399, 640, 480},
        {"inside the last canvas", 720, 576, 719, 575, 720, 576},
        {"one column past the last canvas", 720, 576, 720, 575, 960, 720},
        {"past every standard canvas", 0, 0, 1500, 800, 1501, 801},
        {"sticky large canvas holds small rectangles", 1440, 1080, 100, 100, 1440, 1080},
        {"one dimension too large", 1920, 1080, 100, 1080, 101, 1081},
        {"negative canvas counts as small", -5, -5, 10, 10, 640, 480},
        {"last canvas too large for the 640 row", 700, 400, 700, 100, 960, 720},
        {"edge of the 1440 row", 0, 0, 1439, 1079, 1440, 1080},
        {"just past it", 0, 0, 1440, 1079, 1441, 1080},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        const Canvas canvas = chooseReferenceCanvas(row.lastWidth, row.lastHeight, row.right, row.bottom);
        EXPECT_EQ(canvas.width, row.width);
        EXPECT_EQ(canvas.height, row.height);
    }
}

// Every output order and both input formats, through the ports, pixel by pixel.
struct Variation {
    const char* input;
    const char* output;
    // The caller's code text is overwritten after the port opened: the
    // order chosen at opening still makes every byte of the frame.
    bool textChangedAfterOpen = false;
};

class FrameOrders : public ::testing::TestWithParam<Variation> {};

TEST_P(FrameOrders, EveryPixelFollowsPaletteAlphaAndOrder)
{
    const Variation variation = GetParam();
    const bool alphaVariant = std::string(variation.input) == "GPHA";
    char code[5];
    std::memcpy(code, variation.output, 5);
    CoreSession s(variation.input, code);
    if (variation.textChangedAfterOpen)
        std::memcpy(code, "XXXX", 5);
    s.allocator.stridePadding = 3; // the fill must survive between rows
    s.ready();
    PacketFields f = smallPicture();
    f.withAlpha = alphaVariant;
    f.alpha = {0x80, 0x00, 0xFF, 0x40};
    StandInBuffer* packet = s.packet(packetBytes(f), 111, 222);
    ASSERT_TRUE(s.deliver(packet));
    ASSERT_EQ(s.sink.taken.size(), 1u);
    auto* frame = static_cast<Testing::StandInBuffer*>(s.sink.taken[0]);
    EXPECT_EQ(frame->size, 4 * 3 * 4);
    EXPECT_EQ(frame->timing[0], 111u);
    EXPECT_EQ(frame->timing[1], 222u);

    const PaletteEntry palette[4] = {{0x01, 0x02, 0x03}, {0x11, 0x22, 0x33}, {0x44, 0x55, 0x66}, {0x77, 0x88, 0x99}};
    const ChannelTables channels = buildChannelTables(palette, alphaVariant ? f.alpha.data() : nullptr);
    const uint8_t* tables[4];
    ASSERT_TRUE(orderTables(channels, variation.output, tables));
    const int stride = frame->stride;
    ASSERT_EQ(stride, 7);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < stride; ++x) {
            const uint8_t* pixel = &frame->payload[(y * stride + x) * 4];
            for (int b = 0; b < 4; ++b) {
                SCOPED_TRACE(::testing::Message() << "row " << y << " column " << x << " byte " << b);
                // Inside the frame's `size` the gap keeps the fill; past it the payload is untouched.
                const int offset = (y * stride + x) * 4 + b;
                const uint8_t expected = x < 4 ? tables[b][smallIndices[y][x]] : (offset < frame->size ? 0x28 : 0xA5);
                EXPECT_EQ(pixel[b], expected);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AllOrders, FrameOrders,
    ::testing::Values(Variation{"GPHB", "RGBA"}, Variation{"GPHB", "BGRA"}, Variation{"GPHB", "ARGB"},
        Variation{"GPHB", "ABGR"}, Variation{"GPHA", "RGBA"}, Variation{"GPHA", "BGRA"},
        Variation{"GPHA", "ARGB"}, Variation{"GPHA", "ABGR"}, Variation{"GPHA", "BGRA", true}),
    [](const auto& info) {
        return std::string(info.param.input) + "_" + info.param.output
            + (info.param.textChangedAfterOpen ? "_TextChangedAfterOpen" : "");
    });

TEST(FrameProduction, HostCallsComeInTheDocumentedOrder)
{
    CoreSession s("GPHB", "RGBA");
    s.ready();
    StandInBuffer* packet = s.packet(packetBytes(smallPicture()));
    s.log.clear();
    ASSERT_TRUE(s.deliver(packet));
    const Testing::CallLog expected = {
        "packet.lock", "packet.unlock",        // the input port's payload check
        "packet.lock", "packet.unlock",        // the header parse
        "allocator.configure(32)", "allocator.allocate(4,3,1)",
        "frame.lock", "frame.unlock",          // the fill
        "frame.lock", "frame.unlock",          // the blit
        "sink.deliver", "packet.dropReference",
    };
    EXPECT_EQ(s.log, expected);
}

TEST(FrameProduction, RectangleIsFractionsOfTheCanvas)
{
    CoreSession s("GPHB", "RGBA");
    s.ready();
    PacketFields f = smallPicture();
    f.left = 120;
    f.top = 300;
    f.right = 599;
    f.bottom = 399;
    ASSERT_TRUE(s.deliver(s.packet(packetBytes(f))));
    const MediaBuffer* frame = s.sink.taken.at(0);
    EXPECT_DOUBLE_EQ(frame->left, 0.1875);
    EXPECT_DOUBLE_EQ(frame->top, 0.625);
    EXPECT_DOUBLE_EQ(frame->right, 0.9359375);
    EXPECT_DOUBLE_EQ(frame->bottom, 0.83125);
}

TEST(FrameProduction, CanvasStaysRaisedUntilNewStreamInfo)
{
    CoreSession s("GPHB", "RGBA");
    s.ready();
    s.streamInfo(720, 576);
    PacketFields f = smallPicture();
    f.left = 0;
    f.top = 0;
    f.right = 1000;
    f.bottom = 700;
    ASSERT_TRUE(s.deliver(s.packet(packetBytes(f)))); // raises to 1440 x 1080
    EXPECT_DOUBLE_EQ(s.sink.taken.back()->right, 1000.0 / 1440);
    f.right = 100;
    f.bottom = 100;
    ASSERT_TRUE(s.deliver(s.packet(packetBytes(f))));
    EXPECT_DOUBLE_EQ(s.sink.taken.back()->right, 100.0 / 1440);
    EXPECT_DOUBLE_EQ(s.sink.taken.back()->bottom, 100.0 / 1080);
    s.streamInfo(720, 576);
    ASSERT_TRUE(s.deliver(s.packet(packetBytes(f))));
    EXPECT_DOUBLE_EQ(s.sink.taken.back()->right, 100.0 / 720);
}

TEST(FrameProduction, EmptyBitmapIsStillPositionedAndDelivered)
{
    for (const auto& [width, height] : {std::pair{0, 5}, std::pair{7, 0}}) {
        SCOPED_TRACE(::testing::Message() << width << " x " << height);
        CoreSession s("GPHB", "ARGB");
        s.allocator.nullPayload = true; // a host may give an empty frame no payload
        s.ready();
        PacketFields f = smallPicture();
        f.width = uint16_t(width);
        f.height = uint16_t(height);
        ASSERT_TRUE(s.deliver(s.packet(packetBytes(f))));
        ASSERT_EQ(s.sink.taken.size(), 1u);
        EXPECT_EQ(s.sink.taken[0]->size, 0);
        EXPECT_DOUBLE_EQ(s.sink.taken[0]->left, 10.0 / 640);
    }
}

TEST(FrameProduction, DownstreamAnswerDecidesWhoKeepsWhat)
{
    CoreSession s("GPHB", "RGBA");
    s.ready();
    StandInBuffer* first = s.packet(packetBytes(smallPicture()));
    ASSERT_TRUE(s.deliver(first));
    EXPECT_EQ(first->drops, 1);          // released once, as the frame was taken
    EXPECT_EQ(s.allocator.frames[0]->drops, 0);

    s.sink.answer = false;
    StandInBuffer* second = s.packet(packetBytes(smallPicture()));
    EXPECT_FALSE(s.deliver(second));
    EXPECT_EQ(s.allocator.frames[1]->drops, 1); // refused frame released once
    EXPECT_EQ(second->drops, 0);                 // the packet stays held
    s.release();
    EXPECT_EQ(second->drops, 1);
    s.sink.releaseTaken();
    EXPECT_TRUE(s.pool.allReleased());
}

// Packets and host answers that must give no frame and no leak.
TEST(FrameProduction, RefusalsKeepOwnershipRules)
{
    const PacketFields good = smallPicture();
    std::vector<uint8_t> shortPacket = packetBytes(good);
    shortPacket.resize(52);
    PacketFields huge = good;
    huge.width = 65535;
    huge.height = 65535;
    PacketFields justTooBig = good;
    justTooBig.width = 32768;
    justTooBig.height = 16384; // 2^31 bytes

    const struct {
        const char* label;
        const char* input;
        std::vector<uint8_t> bytes;
        bool refuseAllocation;
        bool framePayloadMissing;
        int32_t stridePadding;
        size_t framesAllocated;
        int32_t framePayloadGoneAtLock; // 0: never
    } rows[] = {
        {"packet shorter than its header", "GPHB", shortPacket, false, false, 0, 0, 0},
        {"opaque-size packet read as alpha variant", "GPHA", std::vector<uint8_t>(56, 0), false, false, 0, 0, 0},
        {"65535 x 65535", "GPHB", packetBytes(huge), false, false, 0, 0, 0},
        {"size one past the largest", "GPHB", packetBytes(justTooBig), false, false, 0, 0, 0},
        {"allocator gives nothing", "GPHB", packetBytes(good), true, false, 0, 0, 0},
        {"frame without payload", "GPHB", packetBytes(good), false, true, 0, 1, 0},
        {"frame rows overlap", "GPHB", packetBytes(good), false, false, -1, 1, 0},
        {"frame payload gone at the second lock", "GPHB", packetBytes(good), false, false, 0, 1, 2},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        CoreSession s(row.input, "RGBA");
        s.allocator.refuse = row.refuseAllocation;
        s.allocator.nullPayload = row.framePayloadMissing;
        s.allocator.stridePadding = row.stridePadding;
        s.allocator.nullFromLock = row.framePayloadGoneAtLock;
        s.ready();
        StandInBuffer* packet = s.packet(row.bytes);
        EXPECT_FALSE(s.deliver(packet));
        EXPECT_TRUE(s.sink.delivered.empty());
        EXPECT_EQ(s.allocator.frames.size(), row.framesAllocated);
        for (StandInBuffer* frame : s.allocator.frames)
            EXPECT_EQ(frame->references, 0);
        EXPECT_EQ(packet->drops, 0); // held until the next sample, stop or release
        s.release();
        EXPECT_EQ(packet->drops, 1);
        EXPECT_TRUE(s.pool.allReleased());
    }
}

TEST(FrameProduction, NoSinkOrNoOutputCodeRefusesWithoutHostCalls)
{
    // How each row leaves the component after the ports opened.
    const struct {
        const char* label;
        void (*connect)(CoreSession& s);
    } rows[] = {
        {"sink of no object", [](CoreSession& s) {
             s.setAllocator();
             s.setSink(nullptr);
         }},
        {"sink message without a value", [](CoreSession& s) {
             s.setAllocator();
             EXPECT_TRUE(s.notify(KELVO_FRAME_SIDE, EVT_SET_SINK, nullptr));
             EXPECT_TRUE(s.query(KELVO_FRAME_SIDE, QRY_READY));
         }},
        {"allocator message without a value", [](CoreSession& s) {
             s.ready();
             EXPECT_TRUE(s.notify(KELVO_FRAME_SIDE, EVT_SET_ALLOCATOR, nullptr));
         }},
        {"output port closed", [](CoreSession& s) {
             s.ready();
             ASSERT_EQ(s.close(KELVO_FRAME_SIDE), KELVO_ACCEPTED);
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        CoreSession s("GPHB", "RGBA");
        row.connect(s);
        StandInBuffer* packet = s.packet(packetBytes(smallPicture()));
        EXPECT_FALSE(s.deliver(packet));
        EXPECT_TRUE(s.allocator.frames.empty());
        s.release();
        EXPECT_TRUE(s.pool.allReleased());
    }
}

TEST(FrameProduction, TruncatedDataStillGivesAWholeFrame)
{
    // The second field's byte is missing: its row decodes as colour 0.
    CoreSession s("GPHB", "RGBA");
    s.ready();
    PacketFields f = smallPicture();
    f.data.pop_back();
    ASSERT_TRUE(s.deliver(s.packet(packetBytes(f))));
    const auto* frame = static_cast<Testing::StandInBuffer*>(s.sink.taken.at(0));
    for (int x = 0; x < 4; ++x)
        EXPECT_EQ(frame->payload[(4 + x) * 4 + 3], 0) << x; // row 1 transparent
    EXPECT_EQ(frame->payload[3], 255);                        // row 0 opaque
}

} // namespace
} // namespace Qor
