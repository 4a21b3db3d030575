// Frame production against its plain form (tests/support/PlainForms.h):
// random packets in both input formats and every output order, frames with
// and without gaps between rows, downstream answers of both kinds. The
// component, driven through its ports, and the plain form, driven the same
// way, must make the same host calls in the same order and leave every byte
// of every frame the same, the bytes past the frame's size included.
#include "encode/PacketWriter.h"
#include "tests/support/IndexedImages.h"
#include "tests/support/PlainForms.h"
#include "tests/support/Sessions.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace Qor {
namespace {

using Testing::BufferPool;
using Testing::CallLog;
using Testing::ComponentSession;
using Testing::StandInAllocator;
using Testing::StandInBuffer;
using Testing::StandInSink;
using Testing::Witness;

// The plain form behind the same recording host objects, with the input
// port's part of a delivery done as the component does it.
struct PlainProducer {
    explicit PlainProducer(bool hasAlpha, const char* order) : hasAlpha(hasAlpha), order(order) {}

    bool deliver(StandInBuffer* packet)
    {
        if (held)
            held->dropReference();
        held = packet;
        const void* payload = packet->lock();
        packet->unlock();
        if (!payload)
            return true;
        const bool taken = Testing::plainProduceFrame(packet, hasAlpha, order, &allocator, &sink, lastWidth, lastHeight);
        if (taken)
            held = nullptr;
        return taken;
    }

    bool streamInfo(int32_t width, int32_t height)
    {
        lastWidth = width;
        lastHeight = height;
        StreamInfo info{0, width, height};
        Variant v = objectVariant(&info);
        return sink.deliver(MSG_STREAM_INFO, &v);
    }

    bool hasAlpha;
    const char* order;
    CallLog log;
    BufferPool pool{Witness{&log}};
    StandInAllocator allocator{pool};
    StandInSink sink{Witness{&log}};
    StandInBuffer* held = nullptr;
    int32_t lastWidth = 0;
    int32_t lastHeight = 0;
};

std::vector<uint8_t> randomPacket(std::mt19937& random, bool withAlpha)
{
    auto pick = [&random](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    PacketContents contents;
    contents.width = uint16_t(pick(0, 12) == 0 ? pick(0, 2) : pick(1, 90));
    contents.height = uint16_t(pick(0, 12) == 0 ? pick(0, 2) : pick(1, 40));
    contents.indices = Testing::randomRunImage(random, contents.width, contents.height);
    for (PaletteEntry& colour : contents.palette)
        colour = PaletteEntry{uint8_t(random()), uint8_t(random()), uint8_t(random())};
    if (withAlpha)
        contents.alpha = std::array<uint8_t, 4>{
            uint8_t(pick(0, 2) == 0 ? 0 : random()), uint8_t(random()), uint8_t(pick(0, 2) == 0 ? 0 : 255),
            uint8_t(random())};
    contents.left = uint16_t(pick(0, 1500));
    contents.top = uint16_t(pick(0, 1000));
    contents.codes.fourNibbleCodes = pick(0, 3) == 0;
    contents.codes.endOfRow = EndOfRowCode(pick(0, 2));
    contents.codes.passRowEnd = pick(0, 1) == 1;
    std::vector<uint8_t> bytes = writePacket(contents).bytes;

    const size_t headerLength = withAlpha ? PacketFormat::AlphaHeaderLength : PacketFormat::HeaderLength;
    switch (pick(0, 5)) {
    case 0: // the data cut short, perhaps into the header
        bytes.resize(size_t(pick(int(headerLength) - 3, int(bytes.size()))));
        break;
    case 1: // random data under a random second field offset
        bytes.resize(headerLength + size_t(pick(0, 300)));
        for (size_t i = headerLength; i < bytes.size(); ++i)
            bytes[i] = uint8_t(random());
        bytes[39] = uint8_t(pick(0, 255));
        bytes[40] = uint8_t(pick(0, 3) == 0 ? pick(0, 255) : 0);
        break;
    default:
        break;
    }
    return bytes;
}

TEST(FrameProductionDifferential, SameHostCallsAndFrameBytesAsPlainForm)
{
    std::mt19937 random(0x6672616D);
    auto pick = [&random](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    const char* inputs[] = {"GPHB", "GPHA"};
    const char* orders[] = {"RGBA", "BGRA", "ARGB", "ABGR"};
    for (int round = 0; round < 300; ++round) {
        const char* input = inputs[pick(0, 1)];
        const char* order = orders[pick(0, 3)];
        const bool hasAlpha = std::string(input) == "GPHA";
        const int32_t stridePadding = pick(0, 1) == 0 ? 0 : pick(1, 5);
        SCOPED_TRACE(testing::Message() << "round " << round << ": " << input << " to " << order
                                        << ", stride width + " << stridePadding);

        ComponentSession component(input, order);
        component.allocator.stridePadding = stridePadding;
        component.ready();
        PlainProducer plain(hasAlpha, order);
        plain.allocator.stridePadding = stridePadding;
        component.log.clear();

        if (pick(0, 1) == 0) {
            const int32_t width = pick(0, 2000);
            const int32_t height = pick(0, 1200);
            component.streamInfo(width, height);
            plain.streamInfo(width, height);
        }
        for (int packetNumber = 0; packetNumber < 3; ++packetNumber) {
            const std::vector<uint8_t> bytes = randomPacket(random, hasAlpha);
            const uint32_t timing0 = uint32_t(random());
            const uint32_t timing1 = uint32_t(random());
            const bool answer = pick(0, 7) != 0;
            component.sink.answer = answer;
            plain.sink.answer = answer;
            StandInBuffer* ours = component.packet(bytes, timing0, timing1);
            StandInBuffer* theirs = plain.pool.make("packet", bytes);
            theirs->timing[0] = timing0;
            theirs->timing[1] = timing1;
            EXPECT_EQ(component.deliver(ours), plain.deliver(theirs));
        }

        EXPECT_EQ(component.log, plain.log);
        const auto& made = component.allocator.frames;
        const auto& expected = plain.allocator.frames;
        ASSERT_EQ(made.size(), expected.size());
        for (size_t i = 0; i < made.size(); ++i) {
            SCOPED_TRACE(testing::Message() << "frame " << i);
            EXPECT_EQ(made[i]->payload, expected[i]->payload);
            EXPECT_EQ(made[i]->size, expected[i]->size);
            EXPECT_EQ(made[i]->timing[0], expected[i]->timing[0]);
            EXPECT_EQ(made[i]->timing[1], expected[i]->timing[1]);
            EXPECT_EQ(made[i]->left, expected[i]->left);
            EXPECT_EQ(made[i]->top, expected[i]->top);
            EXPECT_EQ(made[i]->right, expected[i]->right);
            EXPECT_EQ(made[i]->bottom, expected[i]->bottom);
            EXPECT_EQ(made[i]->references, expected[i]->references);
        }
        plain.sink.releaseTaken();
        if (HasFailure())
            break;
    }
}

} // namespace
} // namespace Qor
