// Allocation failures and the component: a frame the host refuses costs no
// scratch memory, and when the scratch cannot be had the frame goes back to
// the host before the exception reaches the caller; when a property's text
// cannot be had, while the component is built or a port opens, nothing made
// before stays allocated and nothing is freed twice. This program replaces
// the global new and delete to watch the one array allocation of a chosen
// size, and to count the blocks alive.
#include "tests/support/ComponentSession.h"
#include "tests/support/PacketBytes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

namespace {

size_t watchedSize = 0; // array allocations of exactly this many bytes are counted
int watchedCount = 0;
bool failWatched = false;
long liveBlocks = 0;    // blocks from new and new[] not yet deleted

void* allocate(std::size_t size)
{
    if (void* block = std::malloc(size ? size : 1)) {
        ++liveBlocks;
        return block;
    }
    throw std::bad_alloc();
}

void release(void* block)
{
    if (block)
        --liveBlocks;
    std::free(block);
}

} // namespace

void* operator new(std::size_t size)
{
    return allocate(size);
}

void* operator new[](std::size_t size)
{
    if (watchedSize != 0 && size == watchedSize) {
        ++watchedCount;
        if (failWatched)
            throw std::bad_alloc();
    }
    return allocate(size);
}

void operator delete(void* block) noexcept
{
    release(block);
}

void operator delete(void* block, std::size_t) noexcept
{
    release(block);
}

void operator delete[](void* block) noexcept
{
    release(block);
}

void operator delete[](void* block, std::size_t) noexcept
{
    release(block);
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

TEST_F(FrameProductionMemory, RefusedFrameCostsNoScratch)
{
    ComponentSession s("GPHB", "RGBA");
    s.ready();
    s.allocator.refuse = true;
    RecordingBuffer* packet = s.packet(packetBytes);
    EXPECT_FALSE(s.deliver(packet));
    EXPECT_EQ(watchedCount, 0);
    EXPECT_EQ(packet->drops, 0);
}

TEST_F(FrameProductionMemory, ScratchFailureGivesTheFrameBack)
{
    ComponentSession s("GPHB", "RGBA");
    s.ready();
    failWatched = true;
    RecordingBuffer* packet = s.packet(packetBytes);
    EXPECT_THROW(s.deliver(packet), std::bad_alloc);
    EXPECT_EQ(watchedCount, 1);
    ASSERT_EQ(s.allocator.frames.size(), 1u);
    EXPECT_EQ(s.allocator.frames[0]->references, 0);
    EXPECT_EQ(s.allocator.frames[0]->drops, 1);
    EXPECT_TRUE(s.sink.delivered.empty());
    // The packet was taken before the failure, so it stays held until the end.
    EXPECT_EQ(packet->drops, 0);
    s.release();
    EXPECT_EQ(packet->drops, 1);
    EXPECT_TRUE(s.pool.allReleased());
}

// With memory to spare the same packet makes its frame through one scratch image.
TEST_F(FrameProductionMemory, OneScratchPerFrame)
{
    ComponentSession s("GPHB", "RGBA");
    s.ready();
    RecordingBuffer* packet = s.packet(packetBytes);
    EXPECT_TRUE(s.deliver(packet));
    EXPECT_EQ(watchedCount, 1);
    EXPECT_EQ(packet->drops, 1);
}

// Texts of the component's own values, by the size of their array:
// "Kelvo Subtitle Decoder" is 23 16-bit units, "Overlay|Decoder|KELVO" 22
// bytes, a format code 5, each with its terminator.
TEST(SetupMemory, FailedTextLeavesNothingBehind)
{
    const struct {
        const char* label;
        size_t textBytes;
        const char* inputCode;   // the port to open, or null to build the component
        const char* outputCode;
    } rows[] = {
        {"name while the component is built", 46, nullptr, nullptr},
        {"type while the component is built", 22, nullptr, nullptr},
        {"input format while its port opens", 5, "GPHA", nullptr},
        {"output format while its port opens", 5, nullptr, "ABGR"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        if (!row.inputCode && !row.outputCode) {
            Testing::RecordingHost host;
            Plugin* plugin = nullptr;
            const long before = liveBlocks;
            watchedSize = row.textBytes;
            failWatched = true;
            EXPECT_THROW(getPlugin(&host, &plugin), std::bad_alloc);
            failWatched = false;
            watchedSize = 0;
            EXPECT_EQ(liveBlocks, before);
            EXPECT_EQ(plugin, nullptr);
            EXPECT_TRUE(host.willDestroy.empty());
            continue;
        }
        ComponentSession s(nullptr, nullptr);
        auto open = [&] {
            return row.inputCode ? static_cast<OutputInterface*>(s.transform)->openPort(PortFormat{1, row.inputCode, 0})
                                 : static_cast<InputInterface*>(s.transform)->openPort(PortFormat{1, row.outputCode, 0});
        };
        const char* key = row.inputCode ? "InputFormat" : "OutputFormat";
        const long before = liveBlocks;
        watchedSize = row.textBytes;
        failWatched = true;
        EXPECT_THROW(open(), std::bad_alloc);
        failWatched = false;
        watchedSize = 0;
        EXPECT_EQ(liveBlocks, before);
        // The side stays closed, its property empty, and it opens as before.
        Variant value{};
        ASSERT_TRUE(s.component->getProperty(key, &value));
        EXPECT_EQ(value.value.asString->data, nullptr);
        Variant packed{};
        packed.type = TypeFourCC;
        ASSERT_TRUE(s.component->getProperty(key, &packed));
        EXPECT_EQ(packed.value.asFourcc, 0u);
        ASSERT_NE(open(), nullptr);
        ASSERT_TRUE(s.component->getProperty(key, &value));
        EXPECT_STREQ(value.value.asString->data, row.inputCode ? row.inputCode : row.outputCode);
    }
}

} // namespace
} // namespace Qor
