// Frame production and the scratch image of a decode stage. The library's
// stages draw straight into the frame and make none; the sequence run over
// stages that decode into an image (the plain forms') makes it only once the
// host has given a frame, and when it cannot be had the frame goes back to
// the host before the exception reaches the caller. This program replaces
// the global array new and delete to watch array allocations of the
// scratch's size.
#include "tests/support/ComponentSession.h"
#include "tests/support/PacketBytes.h"
#include "tests/support/PlainForms.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

namespace {

size_t watchedSize = 0; // array allocations of exactly this many bytes are counted
int watchedCount = 0;
bool failWatched = false;

} // namespace

void* operator new[](std::size_t size)
{
    if (watchedSize != 0 && size == watchedSize) {
        ++watchedCount;
        if (failWatched)
            throw std::bad_alloc();
    }
    if (void* block = std::malloc(size ? size : 1))
        return block;
    throw std::bad_alloc();
}

void operator delete[](void* block) noexcept
{
    std::free(block);
}

void operator delete[](void* block, std::size_t) noexcept
{
    std::free(block);
}

namespace Qor {
namespace {

using Testing::ComponentSession;
using Testing::RecordingBuffer;

// 123 x 45 pixels: a scratch image of (5535 + 1) / 2 = 2768 bytes.
class FrameProductionMemory : public testing::Test {
protected:
    void SetUp() override
    {
        Testing::PacketFields f;
        f.width = 123;
        f.height = 45;
        f.right = 122;
        f.bottom = 44;
        packetBytes = Testing::packetBytes(f);
        watchedSize = 2768;
        watchedCount = 0;
        failWatched = false;
    }
    void TearDown() override
    {
        watchedSize = 0;
        failWatched = false;
    }

    std::vector<uint8_t> packetBytes;
};

// The sequence over the plain stages, with the component's recording host objects.
bool producePlain(ComponentSession& s, RecordingBuffer* packet)
{
    int32_t displayWidth = 0;
    int32_t displayHeight = 0;
    return Testing::plainProduceFrame(packet, false, "RGBA", &s.allocator, &s.sink, displayWidth, displayHeight);
}

TEST_F(FrameProductionMemory, RefusedFrameCostsNoScratch)
{
    ComponentSession s("GPHB", "RGBA");
    s.allocator.refuse = true;
    RecordingBuffer* packet = s.packet(packetBytes);
    EXPECT_FALSE(producePlain(s, packet));
    EXPECT_EQ(watchedCount, 0);
    EXPECT_EQ(packet->drops, 0);
}

TEST_F(FrameProductionMemory, ScratchFailureGivesTheFrameBack)
{
    ComponentSession s("GPHB", "RGBA");
    failWatched = true;
    RecordingBuffer* packet = s.packet(packetBytes);
    EXPECT_THROW(producePlain(s, packet), std::bad_alloc);
    EXPECT_EQ(watchedCount, 1);
    ASSERT_EQ(s.allocator.frames.size(), 1u);
    EXPECT_EQ(s.allocator.frames[0]->references, 0);
    EXPECT_EQ(s.allocator.frames[0]->drops, 1);
    EXPECT_TRUE(s.sink.delivered.empty());
    EXPECT_EQ(packet->drops, 0);
    packet->dropReference();
    EXPECT_TRUE(s.pool.allReleased());
}

// With memory to spare, the plain stages make their frame through one
// scratch image and the library's through none.
TEST_F(FrameProductionMemory, ScratchOnlyForADecodeStage)
{
    ComponentSession s("GPHB", "RGBA");
    s.ready();
    EXPECT_TRUE(producePlain(s, s.packet(packetBytes)));
    EXPECT_EQ(watchedCount, 1);
    RecordingBuffer* packet = s.packet(packetBytes);
    EXPECT_TRUE(s.deliver(packet));
    EXPECT_EQ(watchedCount, 1);
    EXPECT_EQ(packet->drops, 1);
}

} // namespace
} // namespace Qor
