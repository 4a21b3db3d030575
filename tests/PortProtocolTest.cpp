// What the two ports answer for every code, and the rules of the held sample.
#include "tests/support/ComponentSession.h"
#include "tests/support/PacketBytes.h"

#include <gtest/gtest.h>

namespace Qor {
namespace {

using Testing::ComponentSession;
using Testing::RecordingBuffer;
using Testing::RecordingSink;

// A packet whose payload is missing: it is taken and held, and makes no frame.
RecordingBuffer* emptyPacket(ComponentSession& s)
{
    RecordingBuffer* packet = s.packet({});
    packet->nullPayload = true;
    return packet;
}

// A packet of one pixel whose rectangle ends at `right`, `bottom`: its
// canvas shows which display size the component had recorded.
Testing::PacketFields onePixelAt(uint16_t right, uint16_t bottom)
{
    Testing::PacketFields f;
    f.width = 1;
    f.height = 1;
    f.left = right;
    f.top = bottom;
    f.right = right;
    f.bottom = bottom;
    f.secondFieldOffset = 1;
    f.data = {0x50};
    return f;
}

TEST(PortProtocol, ReadinessFollowsSinkAndStop)
{
    ComponentSession s("GPHB", "RGBA");
    for (PortInterface* port : {s.in, s.out}) {
        EXPECT_FALSE(port->query(QRY_READY, 0));
        EXPECT_TRUE(port->query(0x40000001, 0));
        EXPECT_TRUE(port->query(0, 0));
    }
    EXPECT_TRUE(s.setSink(&s.sink));
    EXPECT_TRUE(s.in->query(QRY_READY, 0));
    EXPECT_TRUE(s.out->query(QRY_READY, 0));
    EXPECT_TRUE(s.out->notify(EVT_STOP, nullptr));
    EXPECT_FALSE(s.in->query(QRY_READY, 0));
    EXPECT_FALSE(s.out->query(QRY_READY, 0));
}

TEST(PortProtocol, FixedAnswers)
{
    ComponentSession s("GPHB", "RGBA");
    s.ready();
    Variant v = objectVariant(&s.sink);
    for (uint32_t code : {uint32_t(MSG_SAMPLE), uint32_t(EVT_SET_SINK), uint32_t(QRY_READY), 0u}) {
        EXPECT_FALSE(s.in->request(code, 0));
        EXPECT_FALSE(s.out->request(code, 0));
        EXPECT_FALSE(s.out->deliver(code, &v)); // the frame port takes no delivery
    }
    EXPECT_FALSE(s.in->deliver(0x20000000, &v));
    EXPECT_TRUE(s.out->notify(0x30000001, &v));
    EXPECT_TRUE(s.out->query(QRY_READY, 0));
}

TEST(PortProtocol, InputPortNotifyChangesNothing)
{
    ComponentSession s("GPHB", "RGBA");
    Variant v = objectVariant(&s.sink);
    EXPECT_TRUE(s.in->notify(EVT_SET_SINK, &v));
    EXPECT_TRUE(s.in->notify(EVT_STOP, &v));
    EXPECT_FALSE(s.in->query(QRY_READY, 0));
}

TEST(PortProtocol, SampleBeforeSinkIsNotTaken)
{
    ComponentSession s("GPHB", "RGBA");
    s.setAllocator();
    RecordingBuffer* packet = s.packet(Testing::packetBytes({}));
    s.log.clear();
    EXPECT_FALSE(s.deliver(packet));
    EXPECT_TRUE(s.log.empty());
    s.release();
    EXPECT_EQ(packet->drops, 0);
    packet->dropReference();
}

TEST(PortProtocol, SampleBeforeAllocatorIsHeld)
{
    ComponentSession s("GPHB", "RGBA");
    s.setSink(&s.sink);
    RecordingBuffer* packet = s.packet(Testing::packetBytes({}));
    EXPECT_FALSE(s.deliver(packet));
    EXPECT_EQ(packet->drops, 0);
    s.release();
    EXPECT_EQ(packet->drops, 1);
}

TEST(PortProtocol, PacketWithoutPayloadIsHeldWithoutFrame)
{
    ComponentSession s("GPHB", "RGBA");
    s.ready();
    RecordingBuffer* first = emptyPacket(s);
    RecordingBuffer* second = emptyPacket(s);
    EXPECT_TRUE(s.deliver(first));
    EXPECT_TRUE(s.allocator.frames.empty());
    EXPECT_EQ(first->drops, 0);
    s.log.clear();
    EXPECT_TRUE(s.deliver(second));
    // The first goes before the second is looked at.
    EXPECT_EQ(s.log, (Testing::CallLog{"packet.dropReference", "packet.lock", "packet.unlock"}));
    EXPECT_EQ(first->drops, 1);
    EXPECT_TRUE(s.out->notify(EVT_STOP, nullptr));
    EXPECT_EQ(second->drops, 1);
    EXPECT_TRUE(s.out->notify(EVT_STOP, nullptr));
    EXPECT_EQ(second->drops, 1);
    EXPECT_TRUE(s.pool.allReleased());
}

TEST(PortProtocol, StopRefusesSamplesUntilSinkAgain)
{
    ComponentSession s("GPHB", "RGBA");
    s.ready();
    s.out->notify(EVT_STOP, nullptr);
    RecordingBuffer* packet = emptyPacket(s);
    EXPECT_FALSE(s.deliver(packet));
    EXPECT_EQ(packet->locks, 0);
    s.setSink(&s.sink);
    EXPECT_TRUE(s.deliver(packet));
}

TEST(PortProtocol, StreamInfoIsRecordedAndForwardedAsIs)
{
    ComponentSession s("GPHB", "RGBA");
    s.ready();
    StreamInfo info{0, 720, 576};
    Variant v = objectVariant(&info);
    EXPECT_TRUE(s.in->deliver(MSG_STREAM_INFO, &v));
    ASSERT_EQ(s.sink.values.size(), 1u);
    EXPECT_EQ(s.sink.values[0], &v);
    EXPECT_EQ(s.sink.codes[0], uint32_t(MSG_STREAM_INFO));
    EXPECT_EQ(v.value.asObject, &info);
    s.sink.answer = false;
    EXPECT_FALSE(s.in->deliver(MSG_STREAM_INFO, &v));
}

TEST(PortProtocol, StreamInfoOfAnotherTagIsForwardedButNotRead)
{
    // A canvas that only a recorded 720 x 576 display keeps shows what was recorded.
    const Testing::PacketFields f = onePixelAt(700, 500);
    ComponentSession s("GPHB", "RGBA");
    s.ready();
    s.streamInfo(720, 576);
    StreamInfo other{0, 100, 100};
    Variant v = objectVariant(&other);
    v.type = TypeString;
    EXPECT_TRUE(s.in->deliver(MSG_STREAM_INFO, &v));
    EXPECT_EQ(s.sink.values.back(), &v);
    ASSERT_TRUE(s.deliver(s.packet(Testing::packetBytes(f))));
    EXPECT_DOUBLE_EQ(s.sink.taken.back()->right, 700.0 / 720);
}

TEST(PortProtocol, StreamInfoWithoutSinkRecordsAndAnswersFalse)
{
    const Testing::PacketFields f = onePixelAt(700, 500);
    ComponentSession s("GPHB", "RGBA");
    s.setAllocator();
    EXPECT_FALSE(s.streamInfo(720, 576));
    s.setSink(&s.sink);
    ASSERT_TRUE(s.deliver(s.packet(Testing::packetBytes(f))));
    EXPECT_DOUBLE_EQ(s.sink.taken.back()->right, 700.0 / 720);
}

TEST(PortProtocol, AlphaIsDecidedWhenTheSinkIsSet)
{
    // One pixel of colour 1 with alpha byte 0x80: "GPHA" reads it, "GPHB" does not.
    Testing::PacketFields f;
    f.width = 1;
    f.height = 1;
    f.right = 1;
    f.bottom = 1;
    f.withAlpha = true;
    f.alpha = {0, 0x80, 0, 0};
    f.palette[1] = {1, 2, 3};
    f.data = {0x50}; // one pixel of colour 1
    f.secondFieldOffset = 1;
    const auto alphaOfFrame = [](ComponentSession& s) {
        return static_cast<RecordingBuffer*>(s.sink.taken.back())->payload[3];
    };

    ComponentSession s("GPHA", "RGBA");
    s.ready();
    ASSERT_TRUE(s.deliver(s.packet(Testing::packetBytes(f))));
    EXPECT_EQ(alphaOfFrame(s), 0x80);

    // Reopening the input as "GPHB" changes nothing until the next sink.
    auto* side = static_cast<OutputInterface*>(s.transform);
    ASSERT_TRUE(side->closePort(s.in));
    s.in = side->openPort(PortFormat{1, "GPHB", 0});
    ASSERT_TRUE(s.deliver(s.packet(Testing::packetBytes(f))));
    EXPECT_EQ(alphaOfFrame(s), 0x80);

    RecordingSink second;
    s.setSink(&second);
    Testing::PacketFields opaque = f;
    opaque.withAlpha = false;
    ASSERT_TRUE(s.deliver(s.packet(Testing::packetBytes(opaque))));
    EXPECT_EQ(static_cast<RecordingBuffer*>(second.taken.back())->payload[3], 0xFF);
    second.releaseTaken();
}

TEST(PortProtocol, SinkWithInputClosedMeansNoAlpha)
{
    ComponentSession s(nullptr, "RGBA");
    s.ready();
    EXPECT_TRUE(s.out->query(QRY_READY, 0));
    auto* side = static_cast<OutputInterface*>(s.transform);
    s.in = side->openPort(PortFormat{1, "GPHA", 0});
    // Read as "GPHB": colour 1 is opaque.
    Testing::PacketFields f;
    f.width = 1;
    f.height = 1;
    f.data = {0x50};
    f.secondFieldOffset = 1;
    ASSERT_TRUE(s.deliver(s.packet(Testing::packetBytes(f))));
    EXPECT_EQ(static_cast<RecordingBuffer*>(s.sink.taken.back())->payload[3], 0xFF);
}

TEST(PortProtocol, SecondSinkReplacesTheFirstSilently)
{
    ComponentSession s("GPHB", "RGBA");
    s.ready();
    RecordingSink second;
    s.setSink(&second);
    Testing::PacketFields f;
    f.width = 1;
    f.height = 1;
    f.data = {0x40};
    ASSERT_TRUE(s.deliver(s.packet(Testing::packetBytes(f))));
    EXPECT_TRUE(s.sink.codes.empty());
    EXPECT_EQ(second.taken.size(), 1u);
    second.releaseTaken();
}

} // namespace
} // namespace Qor
