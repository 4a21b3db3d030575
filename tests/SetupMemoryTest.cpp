// Allocation failures while the component sets itself up: when a property's
// text cannot be had, while the component is built or while a port opens,
// nothing made before stays allocated, nothing is freed twice, and the side
// stays closed. This program replaces the global new and delete, to fail the
// array allocation of a chosen size and to count the blocks alive.
#include "boundary/common/KelvoSubDecode.h"
#include "tests/support/Sessions.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

namespace {

size_t failingSize = 0;        // array allocations of exactly this many bytes fail
size_t failingObjectSize = 0;  // nothrow allocations of exactly this many bytes fail
long liveBlocks = 0;    // blocks from every form of new not yet deleted

void* allocate(std::size_t size)
{
    if (void* block = std::malloc(size ? size : 1)) {
        ++liveBlocks;
        return block;
    }
    throw std::bad_alloc();
}

void* allocateArray(std::size_t size)
{
    if (failingSize != 0 && size == failingSize)
        throw std::bad_alloc();
    return allocate(size);
}

void release(void* block) noexcept
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
    return allocateArray(size);
}

// The component's object and its ports are made with the nothrow form.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    if (failingObjectSize != 0 && size == failingObjectSize)
        return nullptr;
    try {
        return allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void operator delete(void* block) noexcept
{
    release(block);
}

void operator delete(void* block, std::size_t) noexcept
{
    release(block);
}

void operator delete(void* block, const std::nothrow_t&) noexcept
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

// The component's own texts, by the size of their array: "Kelvo Subtitle
// Decoder" is 23 16-bit units, "Overlay|Decoder|KELVO" 22 bytes, a format
// code 5, each with its terminator.
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
            Testing::StandInHost host;
            Plugin* plugin = nullptr;
            const long before = liveBlocks;
            failingSize = row.textBytes;
            EXPECT_THROW(getPlugin(&host, &plugin), std::bad_alloc);
            failingSize = 0;
            EXPECT_EQ(liveBlocks, before);
            EXPECT_EQ(plugin, nullptr);
            EXPECT_TRUE(host.willDestroy.empty());
            continue;
        }
        ComponentSession s(nullptr, nullptr);
        auto open = [&] {
            return row.inputCode ? s.packetSide->openPort(PortFormat{1, row.inputCode, 0})
                                 : s.frameSide->openPort(PortFormat{1, row.outputCode, 0});
        };
        const char* key = row.inputCode ? "InputFormat" : "OutputFormat";
        const long before = liveBlocks;
        failingSize = row.textBytes;
        EXPECT_THROW(open(), std::bad_alloc);
        failingSize = 0;
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

// No storage for the component object itself is a plain refusal: null is
// handed over and nothing is raised, as on every platform.
TEST(SetupMemory, NoStorageForTheComponentHandsOverNull)
{
    Testing::StandInHost host;
    Plugin* plugin = reinterpret_cast<Plugin*>(&host); // anything but null
    const long before = liveBlocks;
    failingObjectSize = sizeof(KelvoSubDecode);
    int32_t answer = -1;
    EXPECT_NO_THROW(answer = getPlugin(&host, &plugin));
    failingObjectSize = 0;
    EXPECT_EQ(answer, 0);
    EXPECT_EQ(plugin, nullptr);
    EXPECT_EQ(liveBlocks, before);
}

} // namespace
} // namespace Qor
