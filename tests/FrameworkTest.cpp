// Framework strings and allocators, and the Plugin's counting.
#include "framework/Plugin.h"
#include "framework/String.h"
#include "tests/support/HostStandIns.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>

namespace Qor {
namespace {

// Counts calls so tests can see which allocator a string used.
template <typename T>
class CountingAllocator : public StandardAllocator<T> {
public:
    T* allocate(uint32_t count) override
    {
        ++allocations;
        return StandardAllocator<T>::allocate(count);
    }
    void deallocate(T* pointer) override
    {
        ++deallocations;
        StandardAllocator<T>::deallocate(pointer);
    }
    int allocations = 0;
    int deallocations = 0;
};

TEST(String, NullTextHasNoStorageAndEqualsEmptyText)
{
    CountingAllocator<char> units;
    String none(nullptr, &units);
    String empty("", &units);
    EXPECT_EQ(none.data, nullptr);
    EXPECT_EQ(none.length, 0u);
    ASSERT_NE(empty.data, nullptr);
    EXPECT_EQ(empty.data[0], '\0');
    EXPECT_EQ(empty.length, 0u);
    EXPECT_EQ(units.allocations, 1);
    EXPECT_TRUE(none.equals(empty));
    EXPECT_TRUE(empty.equals(none));
    EXPECT_TRUE(String().equals(none));
}

TEST(String, CopyOwnsItsOwnTextFromTheGivenAllocator)
{
    CountingAllocator<char> first;
    CountingAllocator<char> second;
    auto* original = new String("Type", &first);
    EXPECT_EQ(original->length, 4u);
    String copy(*original, &second);
    EXPECT_EQ(copy.length, 4u);
    EXPECT_NE(copy.data, original->data);
    EXPECT_EQ(copy.unitAllocator, &second);
    delete original;
    EXPECT_EQ(first.deallocations, 1);
    EXPECT_STREQ(copy.data, "Type");
    EXPECT_EQ(second.allocations, 1);
}

TEST(String, CopyOfStringWithoutStorageAllocatesNothing)
{
    CountingAllocator<char> units;
    String none(nullptr, &units);
    String copy(none, &units);
    EXPECT_EQ(copy.data, nullptr);
    EXPECT_EQ(units.allocations, 0);
}

TEST(String, CopyTakesLengthFromTheOriginal)
{
    // The length field, not a measurement, decides how much is copied.
    String original("abcdef", StandardAllocator<char>::instance());
    original.length = 3;
    original.data[3] = '\0';
    String copy(original, StandardAllocator<char>::instance());
    EXPECT_EQ(copy.length, 3u);
    EXPECT_STREQ(copy.data, "abc");
}

TEST(String, EqualsComparesWholeTextsCaseSensitively)
{
    auto* units = StandardAllocator<char>::instance();
    const struct {
        const char* a;
        const char* b;
        bool equal;
    } rows[] = {
        {"Type", "Type", true},
        {"Type", "type", false},
        {"Name", "Name ", false},
        {"Name", "Nam", false},
        {"", nullptr, true},
        {"x", nullptr, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.a) + " / " + (row.b ? row.b : "(null)"));
        String a(row.a, units);
        String b(row.b, units);
        EXPECT_EQ(a.equals(b), row.equal);
        EXPECT_EQ(b.equals(a), row.equal);
    }
}

TEST(WString, MakesCountedCopyWithTerminator)
{
    const unsigned short text[] = {'K', 0x263A, 'o', 0};
    WString wide(text, StandardAllocator<unsigned short>::instance());
    ASSERT_EQ(wide.length, 3u);
    EXPECT_EQ(wide.data[1], 0x263A);
    EXPECT_EQ(wide.data[3], 0);
    WString same(text, StandardAllocator<unsigned short>::instance());
    EXPECT_TRUE(wide.equals(same));
}

TEST(StandardAllocator, WideCountBeyondThirtyTwoBitBytesFails)
{
    EXPECT_THROW(StandardAllocator<unsigned short>::instance()->allocate(0x80000000u), std::bad_alloc);
}

TEST(StandardAllocator, InstanceIsProcessWide)
{
    EXPECT_EQ(StandardAllocator<char>::instance(), StandardAllocator<char>::instance());
    EXPECT_EQ(String().unitAllocator, StandardAllocator<char>::instance());
}

// A Plugin with nothing to look up, for the counting rules alone.
class BarePlugin : public Plugin {
public:
    BarePlugin(Host* host, bool* destroyed) : Plugin(host), destroyed(destroyed) {}
    ~BarePlugin() override { *destroyed = true; }
    int32_t queryInterface(const String&, void** result) override
    {
        *result = nullptr;
        return InterfaceNotFound;
    }
    bool* destroyed;
};

TEST(Plugin, CountsAndTellsHostAroundDestruction)
{
    Testing::CallLog log;
    Testing::StandInHost host(Testing::Witness{&log});
    bool destroyed = false;
    Plugin* plugin = new BarePlugin(&host, &destroyed);
    EXPECT_EQ(plugin->referenceCount(), 1);
    EXPECT_EQ(plugin->auxiliaryValue(), 0);
    EXPECT_EQ(plugin->getHost(), &host);
    EXPECT_EQ(plugin->addReference(), 2);
    EXPECT_EQ(plugin->dropReference(), 1);
    EXPECT_TRUE(host.willDestroy.empty());
    EXPECT_EQ(plugin->dropReference(), 0);
    EXPECT_TRUE(destroyed);
    ASSERT_EQ(host.willDestroy.size(), 1u);
    ASSERT_EQ(host.didDestroy.size(), 1u);
    EXPECT_EQ(host.willDestroy[0], plugin);
    EXPECT_EQ(host.didDestroy[0], plugin);
    EXPECT_EQ(log, (Testing::CallLog{"host.willDestroy", "host.didDestroy"}));
}

} // namespace
} // namespace Qor
