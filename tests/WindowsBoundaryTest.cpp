// The DLL as a 32-bit Windows host meets it: loaded with LoadLibrary, entered
// through "_getPlugin" alone, then driven through the interfaces it hands
// back. Nothing of the library's own objects is linked into this program, so
// every call crosses the boundary through an export or a vtable.
#include "framework/ComponentInterface.h"
#include "framework/Plugin.h"
#include "framework/String.h"
#include "framework/Variant.h"
#include "host/Host.h"
#include "tests/support/DynamicLibrary.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace Qor {
namespace {

using GetPluginFunction = int32_t(Host*, Plugin**);

// Counts the two calls a plug-in makes on its host, in the order they came.
class CountingHost : public Host {
public:
    int32_t reserved1() override { return 0; }
    int32_t reserved2() override { return 0; }
    int32_t reserved3() override { return 0; }
    int32_t reserved4() override { return 0; }
    int32_t reserved5() override { return 0; }
    int32_t reserved6() override { return 0; }
    int32_t reserved7() override { return 0; }
    int32_t willDestroyPlugin(Plugin* plugin) override
    {
        calls.push_back({"willDestroy", plugin});
        return 0;
    }
    int32_t didDestroyPlugin(Plugin* plugin) override
    {
        calls.push_back({"didDestroy", plugin});
        return 0;
    }

    struct Call {
        std::string name;
        Plugin* plugin;
    };
    std::vector<Call> calls;
};

std::string narrow(const WString& text)
{
    std::string result;
    for (uint32_t i = 0; i < text.length; ++i)
        result += static_cast<char>(text.data[i]);
    return result;
}

class PluginLibrary : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(library.loaded()) << library.error();
        getPlugin = library.function<GetPluginFunction>("_getPlugin");
        ASSERT_NE(getPlugin, nullptr);
    }

    // The interface named `identifier`, or null when the plug-in refuses it.
    void* lookUp(Plugin* plugin, const char* identifier)
    {
        // The identifier is this program's own String, made with this
        // program's allocator: the plug-in only reads it.
        const String name(identifier, StandardAllocator<char>::instance());
        void* found = nullptr;
        EXPECT_EQ(plugin->queryInterface(name, &found), InterfaceFound) << identifier;
        return found;
    }

    Testing::DynamicLibrary library{KELVO_PLUGIN_FILE};
    GetPluginFunction* getPlugin = nullptr;
    CountingHost host;
};

TEST_F(PluginLibrary, ExportsTheEntryPointUnderItsDecoratedNameOnly)
{
    EXPECT_EQ(library.function<GetPluginFunction>("getPlugin"), nullptr);
}

TEST_F(PluginLibrary, ComponentDescribesItselfAcrossTheBoundary)
{
    Plugin* plugin = nullptr;
    ASSERT_EQ(getPlugin(&host, &plugin), 0);
    ASSERT_NE(plugin, nullptr);
    EXPECT_EQ(plugin->referenceCount(), 1);
    EXPECT_EQ(plugin->auxiliaryValue(), 0);
    EXPECT_EQ(plugin->getHost(), &host);

    auto* component = static_cast<ComponentInterface*>(lookUp(plugin, "com.kelvo.vandrel.interface.component"));
    ASSERT_NE(component, nullptr);

    Variant name{};
    ASSERT_TRUE(component->getProperty("Name", &name));
    ASSERT_EQ(name.type, TypeWString);
    EXPECT_EQ(narrow(*name.value.asWString), "Kelvo Subtitle Decoder");

    Variant type{};
    ASSERT_TRUE(component->getProperty("Type", &type));
    ASSERT_EQ(type.type, TypeString);
    EXPECT_STREQ(type.value.asString->data, "Overlay|Decoder|KELVO");
    EXPECT_EQ(type.value.asString->length, 21u);

    // The vector is this program's; the plug-in grows it with its own copy
    // of the same runtime, which works only because both share one ABI.
    std::vector<const char*> names{"first"};
    ASSERT_TRUE(component->getPropertyNames(names));
    ASSERT_EQ(names.size(), 5u);
    EXPECT_STREQ(names[0], "first");
    EXPECT_STREQ(names[1], "InputFormat");
    EXPECT_STREQ(names[2], "Name");
    EXPECT_STREQ(names[3], "OutputFormat");
    EXPECT_STREQ(names[4], "Type");

    EXPECT_EQ(plugin->referenceCount(), 1);
    EXPECT_EQ(plugin->dropReference(), 0);
}

TEST_F(PluginLibrary, PortsOpenAndCloseThroughTheTransformInterface)
{
    Plugin* plugin = nullptr;
    ASSERT_EQ(getPlugin(&host, &plugin), 0);
    ASSERT_NE(plugin, nullptr);
    auto* component = static_cast<ComponentInterface*>(lookUp(plugin, "com.kelvo.vandrel.interface.component"));
    auto* transform = static_cast<TransformInterface*>(lookUp(plugin, "com.kelvo.vandrel.interface.transform"));
    ASSERT_NE(component, nullptr);
    ASSERT_NE(transform, nullptr);
    OutputInterface* receiving = transform;  // opens the port that takes packets
    InputInterface* sending = transform;     // opens the port that sends frames

    // PortFormat goes by value: three words on the stack.
    PortInterface* input = receiving->openPort(PortFormat{1, "GPHB", 0});
    ASSERT_NE(input, nullptr);
    PortInterface* output = sending->openPort(PortFormat{1, "BGRA", 0});
    ASSERT_NE(output, nullptr);
    EXPECT_NE(input, output);

    Variant format{};
    ASSERT_TRUE(component->getProperty("InputFormat", &format));
    ASSERT_EQ(format.type, TypeString);
    EXPECT_STREQ(format.value.asString->data, "GPHB");
    format = Variant{};
    format.type = TypeFourCC;
    ASSERT_TRUE(component->getProperty("OutputFormat", &format));
    EXPECT_EQ(format.type, TypeFourCC);
    EXPECT_EQ(format.value.asFourcc, packFourcc('B', 'G', 'R', 'A'));

    // Each side closes only its own port.
    EXPECT_FALSE(sending->closePort(input));
    EXPECT_TRUE(receiving->closePort(input));
    EXPECT_TRUE(sending->closePort(output));

    format = Variant{};
    ASSERT_TRUE(component->getProperty("InputFormat", &format));
    ASSERT_EQ(format.type, TypeString);
    EXPECT_EQ(format.value.asString->data, nullptr);
    EXPECT_EQ(format.value.asString->length, 0u);

    EXPECT_EQ(plugin->dropReference(), 0);
}

TEST_F(PluginLibrary, LastReleaseTellsTheHostBeforeAndAfter)
{
    Plugin* plugin = nullptr;
    ASSERT_EQ(getPlugin(&host, &plugin), 0);
    ASSERT_NE(plugin, nullptr);
    EXPECT_EQ(plugin->addReference(), 2);
    EXPECT_EQ(plugin->dropReference(), 1);
    EXPECT_TRUE(host.calls.empty());

    EXPECT_EQ(plugin->dropReference(), 0);
    ASSERT_EQ(host.calls.size(), 2u);
    EXPECT_EQ(host.calls[0].name, "willDestroy");
    EXPECT_EQ(host.calls[0].plugin, plugin);
    EXPECT_EQ(host.calls[1].name, "didDestroy");
    EXPECT_EQ(host.calls[1].plugin, plugin);
}

TEST_F(PluginLibrary, EachCallMakesAComponentOfItsOwn)
{
    CountingHost other;
    Plugin* first = nullptr;
    Plugin* second = nullptr;
    ASSERT_EQ(getPlugin(&host, &first), 0);
    ASSERT_EQ(getPlugin(&other, &second), 0);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(second->getHost(), &other);

    EXPECT_EQ(first->dropReference(), 0);
    EXPECT_EQ(host.calls.size(), 2u);
    EXPECT_TRUE(other.calls.empty());
    EXPECT_EQ(second->referenceCount(), 1);
    EXPECT_EQ(second->dropReference(), 0);
    EXPECT_EQ(other.calls.size(), 2u);
}

} // namespace
} // namespace Qor
