// What the two ports answer for every code, and the rules of the held
// sample, through the core's own seam.
#include "tests/support/PacketBytes.h"
#include "tests/support/Sessions.h"

#include <gtest/gtest.h>

namespace Qor {
namespace {

using Testing::CallLog;
using Testing::CoreSession;
using Testing::StandInBuffer;
using Testing::StandInSink;

constexpr int32_t packetSide = KELVO_PACKET_SIDE;
constexpr int32_t frameSide = KELVO_FRAME_SIDE;

// A packet whose payload is missing: it is taken and held, and makes no frame.
StandInBuffer* emptyPacket(CoreSession& s)
{
    StandInBuffer* packet = s.packet({});
    packet->nullPayload = true;
    return packet;
}

// A packet of one pixel whose rectangle ends at `right`, `bottom`: its
// canvas shows which picture size the component had recorded.
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

// The alpha byte of the last frame `sink` took.
uint8_t alphaOfLastFrame(const StandInSink& sink)
{
    return static_cast<const StandInBuffer*>(sink.taken.back())->payload[3];
}

TEST(PortProtocol, ReadinessFollowsSinkAndStop)
{
    CoreSession s("GPHB", "RGBA");
    for (int32_t side : {packetSide, frameSide}) {
        EXPECT_FALSE(s.query(side, QRY_READY));
        EXPECT_TRUE(s.query(side, 0x40000001));
        EXPECT_TRUE(s.query(side, 0));
    }
    EXPECT_TRUE(s.setSink(&s.sink));
    EXPECT_TRUE(s.query(packetSide, QRY_READY));
    EXPECT_TRUE(s.query(frameSide, QRY_READY));
    EXPECT_TRUE(s.stop());
    EXPECT_FALSE(s.query(packetSide, QRY_READY));
    EXPECT_FALSE(s.query(frameSide, QRY_READY));
}

TEST(PortProtocol, FixedAnswers)
{
    CoreSession s("GPHB", "RGBA");
    s.ready();
    s.log.clear();
    Variant v = objectVariant(&s.sink);
    for (uint32_t code : {uint32_t(MSG_SAMPLE), uint32_t(EVT_SET_SINK), uint32_t(QRY_READY), 0u}) {
        EXPECT_FALSE(s.request(packetSide, code));
        EXPECT_FALSE(s.request(frameSide, code));
        EXPECT_FALSE(s.deliverTo(frameSide, code, &v)); // the frame port takes no delivery
    }
    EXPECT_FALSE(s.deliverTo(packetSide, 0x20000000, &v));
    EXPECT_TRUE(s.notify(frameSide, 0x30000001, &v));
    EXPECT_TRUE(s.query(frameSide, QRY_READY));
    EXPECT_TRUE(s.log.empty());
}

TEST(PortProtocol, PacketPortNotifyChangesNothing)
{
    CoreSession s("GPHB", "RGBA");
    Variant v = objectVariant(&s.sink);
    EXPECT_TRUE(s.notify(packetSide, EVT_SET_SINK, &v));
    EXPECT_TRUE(s.notify(packetSide, EVT_SET_ALLOCATOR, &v));
    EXPECT_TRUE(s.notify(packetSide, EVT_STOP, &v));
    EXPECT_FALSE(s.query(packetSide, QRY_READY));
}

TEST(PortProtocol, SampleBeforeSinkIsNotTaken)
{
    CoreSession s("GPHB", "RGBA");
    s.setAllocator();
    StandInBuffer* packet = s.packet(Testing::packetBytes({}));
    s.log.clear();
    EXPECT_FALSE(s.deliver(packet));
    EXPECT_TRUE(s.log.empty());
    s.release();
    EXPECT_EQ(packet->drops, 0);
    packet->dropReference();
}

TEST(PortProtocol, SampleBeforeAllocatorIsHeld)
{
    CoreSession s("GPHB", "RGBA");
    s.setSink(&s.sink);
    StandInBuffer* packet = s.packet(Testing::packetBytes({}));
    EXPECT_FALSE(s.deliver(packet));
    EXPECT_EQ(packet->drops, 0);
    s.release();
    EXPECT_EQ(packet->drops, 1);
}

TEST(PortProtocol, PacketWithoutPayloadIsHeldWithoutFrame)
{
    CoreSession s("GPHB", "RGBA");
    s.ready();
    StandInBuffer* first = emptyPacket(s);
    StandInBuffer* second = emptyPacket(s);
    EXPECT_TRUE(s.deliver(first));
    EXPECT_TRUE(s.allocator.frames.empty());
    EXPECT_EQ(first->drops, 0);
    s.log.clear();
    EXPECT_TRUE(s.deliver(second));
    // The first goes before the second is looked at.
    EXPECT_EQ(s.log, (CallLog{"packet.dropReference", "packet.lock", "packet.unlock"}));
    EXPECT_EQ(first->drops, 1);
    EXPECT_TRUE(s.stop());
    EXPECT_EQ(second->drops, 1);
    EXPECT_TRUE(s.stop());
    EXPECT_EQ(second->drops, 1);
    EXPECT_TRUE(s.pool.allReleased());
}

TEST(PortProtocol, SampleOfNothingDropsTheHeldOne)
{
    CoreSession s("GPHB", "RGBA");
    s.ready();
    StandInBuffer* held = emptyPacket(s);
    ASSERT_TRUE(s.deliver(held));
    Variant nothing = objectVariant(nullptr);
    EXPECT_FALSE(s.deliverTo(packetSide, MSG_SAMPLE, &nothing));
    EXPECT_EQ(held->drops, 1);
    EXPECT_FALSE(s.deliverTo(packetSide, MSG_SAMPLE, nullptr));
    EXPECT_EQ(held->drops, 1);
}

TEST(PortProtocol, StopRefusesSamplesUntilSinkAgain)
{
    CoreSession s("GPHB", "RGBA");
    s.ready();
    s.stop();
    StandInBuffer* packet = emptyPacket(s);
    EXPECT_FALSE(s.deliver(packet));
    EXPECT_EQ(packet->locks, 0);
    s.setSink(&s.sink);
    EXPECT_TRUE(s.deliver(packet));
}

TEST(PortProtocol, StreamInfoIsRecordedAndForwardedAsIs)
{
    CoreSession s("GPHB", "RGBA");
    s.ready();
    StreamInfo info{0, 720, 576};
    Variant v = objectVariant(&info);
    EXPECT_TRUE(s.deliverTo(packetSide, MSG_STREAM_INFO, &v));
    ASSERT_EQ(s.sink.values.size(), 1u);
    EXPECT_EQ(s.sink.values[0], &v);
    EXPECT_EQ(s.sink.codes[0], uint32_t(MSG_STREAM_INFO));
    EXPECT_EQ(v.value.asObject, &info);
    s.sink.streamInfoAnswer = false;
    EXPECT_FALSE(s.deliverTo(packetSide, MSG_STREAM_INFO, &v));
    EXPECT_FALSE(s.deliverTo(packetSide, MSG_STREAM_INFO, nullptr));
    EXPECT_EQ(s.sink.values.back(), nullptr);
}

TEST(PortProtocol, StreamInfoOfAnotherTagIsForwardedButNotRead)
{
    // A canvas that only a recorded 720 x 576 picture keeps shows what was recorded.
    const Testing::PacketFields f = onePixelAt(700, 500);
    CoreSession s("GPHB", "RGBA");
    s.ready();
    s.streamInfo(720, 576);
    StreamInfo other{0, 100, 100};
    Variant v = objectVariant(&other);
    v.type = TypeString;
    EXPECT_TRUE(s.deliverTo(packetSide, MSG_STREAM_INFO, &v));
    EXPECT_EQ(s.sink.values.back(), &v);
    Variant none = objectVariant(nullptr);
    EXPECT_TRUE(s.deliverTo(packetSide, MSG_STREAM_INFO, &none));
    ASSERT_TRUE(s.deliver(s.packet(Testing::packetBytes(f))));
    EXPECT_DOUBLE_EQ(s.sink.taken.back()->right, 700.0 / 720);
}

TEST(PortProtocol, StreamInfoWithoutSinkRecordsAndAnswersFalse)
{
    const Testing::PacketFields f = onePixelAt(700, 500);
    CoreSession s("GPHB", "RGBA");
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

    CoreSession s("GPHA", "RGBA");
    s.ready();
    ASSERT_TRUE(s.deliver(s.packet(Testing::packetBytes(f))));
    EXPECT_EQ(alphaOfLastFrame(s.sink), 0x80);

    // Reopening the packet side as "GPHB" changes nothing until the next sink.
    ASSERT_EQ(s.close(packetSide), KELVO_ACCEPTED);
    ASSERT_EQ(s.open(packetSide, "GPHB"), KELVO_ACCEPTED);
    ASSERT_TRUE(s.deliver(s.packet(Testing::packetBytes(f))));
    EXPECT_EQ(alphaOfLastFrame(s.sink), 0x80);

    StandInSink second;
    s.setSink(&second);
    Testing::PacketFields opaque = f;
    opaque.withAlpha = false;
    ASSERT_TRUE(s.deliver(s.packet(Testing::packetBytes(opaque))));
    EXPECT_EQ(alphaOfLastFrame(second), 0xFF);
    second.releaseTaken();
}

TEST(PortProtocol, SinkWithPacketSideClosedMeansNoAlpha)
{
    CoreSession s(nullptr, "RGBA");
    s.ready();
    EXPECT_TRUE(s.query(frameSide, QRY_READY));
    ASSERT_EQ(s.open(packetSide, "GPHA"), KELVO_ACCEPTED);
    // Read as "GPHB": colour 1 is opaque.
    Testing::PacketFields f;
    f.width = 1;
    f.height = 1;
    f.data = {0x50};
    f.secondFieldOffset = 1;
    ASSERT_TRUE(s.deliver(s.packet(Testing::packetBytes(f))));
    EXPECT_EQ(alphaOfLastFrame(s.sink), 0xFF);
}

TEST(PortProtocol, SecondSinkReplacesTheFirstSilently)
{
    CoreSession s("GPHB", "RGBA");
    s.ready();
    StandInSink second;
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
