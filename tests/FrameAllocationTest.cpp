// Frame production's heap use: none at all, since the run-length data is
// drawn straight into the host's frame, counted by replacing the global
// operator new for this program alone. The host objects here allocate
// nothing while a packet goes through, so that every allocation counted is
// the component's.
#include "encode/PacketWriter.h"
#include "framework/ComponentInterface.h"
#include "framework/GetPlugin.h"
#include "framework/Plugin.h"
#include "host/Host.h"
#include "tests/support/HostStandIns.h"
#include "tests/support/Identifiers.h"
#include "tests/support/IndexedImages.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <iterator>
#include <new>
#include <random>
#include <string>
#include <vector>

namespace {

// Sizes of the allocations made while `counting` is set; the first few are kept.
bool counting = false;
size_t allocationCount = 0;
size_t allocationSizes[8];

void* allocate(size_t size)
{
    if (counting) {
        if (allocationCount < std::size(allocationSizes))
            allocationSizes[allocationCount] = size;
        ++allocationCount;
    }
    if (void* block = std::malloc(size ? size : 1))
        return block;
    throw std::bad_alloc();
}

} // namespace

void* operator new(size_t size)
{
    return allocate(size);
}

void* operator new[](size_t size)
{
    return allocate(size);
}

void* operator new(size_t size, const std::nothrow_t&) noexcept
{
    try {
        return allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void* operator new[](size_t size, const std::nothrow_t&) noexcept
{
    try {
        return allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void operator delete(void* block) noexcept
{
    std::free(block);
}

void operator delete[](void* block) noexcept
{
    std::free(block);
}

void operator delete(void* block, size_t) noexcept
{
    std::free(block);
}

void operator delete[](void* block, size_t) noexcept
{
    std::free(block);
}

void operator delete(void* block, const std::nothrow_t&) noexcept
{
    std::free(block);
}

void operator delete[](void* block, const std::nothrow_t&) noexcept
{
    std::free(block);
}

namespace Qor {
namespace {

using Testing::ReusingAllocator;
using Testing::StandInBuffer;
using Testing::StandInHost;
using Testing::TakingSink;

TEST(FrameAllocation, NothingIsAllocatedPerPacket)
{
    std::mt19937 random(0x616C6C6F);
    const struct {
        const char* input;
        const char* output;
        uint16_t width;
        uint16_t height;
        int32_t padding;
    } rows[] = {
        {"GPHB", "RGBA", 200, 50, 0},
        {"GPHA", "ARGB", 201, 33, 7},
        {"GPHB", "BGRA", 1, 1, 0},
        {"GPHA", "ABGR", 640, 3, 16},
        {"GPHB", "RGBA", 0, 9, 0},
        {"GPHB", "RGBA", 9, 0, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.input << " to " << row.output << ", " << row.width << "x" << row.height);
        PacketContents contents;
        contents.width = row.width;
        contents.height = row.height;
        contents.indices = Testing::randomRunImage(random, row.width, row.height);
        if (std::string(row.input) == "GPHA")
            contents.alpha = std::array<uint8_t, 4>{0, 80, 160, 255};
        const WrittenPacket written = writePacket(contents);
        ASSERT_TRUE(written) << written.error;

        StandInHost host;
        Plugin* plugin = nullptr;
        getPlugin(&host, &plugin);
        void* found = nullptr;
        plugin->queryInterface(Identifiers::interfaceTransform, &found);
        auto* transform = static_cast<TransformInterface*>(found);
        PortInterface* in = static_cast<OutputInterface*>(transform)->openPort(PortFormat{1, row.input, 0});
        PortInterface* out = static_cast<InputInterface*>(transform)->openPort(PortFormat{1, row.output, 0});
        // Its payload is sized before the packet arrives and never grows.
        ReusingAllocator allocator;
        allocator.frame.payload.assign(size_t(row.width + row.padding) * row.height * 4, 0xA5);
        allocator.padding = row.padding;
        allocator.grows = false;
        TakingSink sink;
        Variant v = objectVariant(&allocator);
        out->notify(EVT_SET_ALLOCATOR, &v);
        v = objectVariant(&sink);
        out->notify(EVT_SET_SINK, &v);
        StandInBuffer packet(written.bytes);
        packet.size = int32_t(written.bytes.size());

        v = objectVariant(&packet);
        allocationCount = 0;
        counting = true;
        const bool taken = in->deliver(MSG_SAMPLE, &v);
        counting = false;

        EXPECT_TRUE(taken);
        EXPECT_EQ(allocator.frames, 1);
        EXPECT_EQ(sink.taken, 1);
        EXPECT_EQ(allocationCount, 0u) << "the first of " << allocationSizes[0] << " bytes";
        plugin->dropReference();
    }
}

} // namespace
} // namespace Qor
