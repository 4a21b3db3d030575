// Drives the built plug-in library the way a host does: dlopen, getPlugin,
// and calls through the contract's declarations only. This program links
// none of the library's objects.
#include "tests/boundary/ContractHost.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace Qor;
using namespace Qor::Boundary;

template <typename T>
T* lookup(Plugin* plugin, const char* text)
{
    void* found = nullptr;
    EXPECT_EQ(plugin->queryInterface(identifier(text), &found), 0) << text;
    return static_cast<T*>(found);
}

std::string text(const Variant& v)
{
    if (v.type == TypeString)
        return v.value.asString->data ? std::string(v.value.asString->data, v.value.asString->length) : "";
    if (v.type == TypeWString)
        return std::string(v.value.asWString->data, v.value.asWString->data + v.value.asWString->length);
    return "?";
}

class Boundary : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(library.loaded()) << library.error();
        ASSERT_NE(library.entry, nullptr);
        ASSERT_EQ(library.entry(&host, &plugin), 0);
        ASSERT_NE(plugin, nullptr);
        component = lookup<ComponentInterface>(plugin, "com.kelvo.vandrel.interface.component");
        transform = lookup<TransformInterface>(plugin, "com.kelvo.vandrel.interface.transform");
    }
    void TearDown() override
    {
        if (plugin)
            release();
    }
    void release()
    {
        EXPECT_EQ(plugin->dropReference(), 0);
        EXPECT_EQ(host.events, (std::vector<std::string>{"will", "did"}));
        EXPECT_EQ(host.told, (std::vector<Plugin*>{plugin, plugin}));
        plugin = nullptr;
    }
    std::string property(const char* key, uint8_t preset = 0)
    {
        Variant v{};
        v.type = preset;
        EXPECT_TRUE(component->getProperty(key, &v)) << key;
        return text(v);
    }

    Library library;
    CountingHost host;
    Plugin* plugin = nullptr;
    ComponentInterface* component = nullptr;
    TransformInterface* transform = nullptr;
};

// The library ignores a null `out`: it answers 0, writes nothing (there is
// nowhere to write) and makes no call on the host.
TEST(BoundaryEntry, NullOutAnswersZeroAndCallsNothing)
{
    Library library;
    ASSERT_TRUE(library.loaded()) << library.error();
    ASSERT_NE(library.entry, nullptr);
    CountingHost host;
    EXPECT_EQ(library.entry(&host, nullptr), 0);
    EXPECT_TRUE(host.events.empty());
}

TEST_F(Boundary, PluginFieldsAndCountingMatchTheContract)
{
    EXPECT_EQ(plugin->referenceCount(), 1);
    EXPECT_EQ(plugin->references, 1);
    EXPECT_EQ(plugin->hostObject, &host);
    EXPECT_EQ(plugin->auxiliary, 0);
    EXPECT_EQ(plugin->getHost(), &host);
    EXPECT_EQ(plugin->addReference(), 2);
    EXPECT_EQ(plugin->dropReference(), 1);
    EXPECT_TRUE(host.events.empty());
}

TEST_F(Boundary, InterfaceLookupAnswersThreeIdentifiers)
{
    auto* whole = lookup<TransformComponent>(plugin, "com.kelvo.vandrel.component.transform");
    ASSERT_NE(whole, nullptr);
    EXPECT_EQ(static_cast<TransformInterface*>(whole), transform);
    EXPECT_EQ(static_cast<ComponentInterface*>(whole), component);
    for (const char* refused : {"com.kelvo.vandrel.interface.input", "com.kelvo.vandrel.component.output",
             "com.kelvo.vandrel.interface.transform ", "COM.KELVO.VANDREL.INTERFACE.COMPONENT"}) {
        void* found = this;
        EXPECT_EQ(plugin->queryInterface(identifier(refused), &found), 3) << refused;
        EXPECT_EQ(found, nullptr);
    }
    EXPECT_EQ(plugin->referenceCount(), 1);
}

TEST_F(Boundary, DefaultOperationsKeepTheirAnswers)
{
    EXPECT_TRUE(component->defaultOperation1(7));
    EXPECT_TRUE(component->defaultOperation2());
    EXPECT_TRUE(component->defaultOperation3(1, 2));
    EXPECT_TRUE(component->defaultOperation6(1, 2));
    EXPECT_FALSE(component->defaultOperation7(1, 2, 3, 4, 5));
}

TEST_F(Boundary, PropertiesReadThroughTheContract)
{
    std::vector<const char*> names;
    EXPECT_TRUE(component->getPropertyNames(names));
    ASSERT_EQ(names.size(), 4u);
    EXPECT_STREQ(names[0], "InputFormat");
    EXPECT_STREQ(names[3], "Type");
    EXPECT_EQ(property("Name", TypeFourCC), "Kelvo Subtitle Decoder");
    EXPECT_EQ(property("Type"), "Overlay|Decoder|KELVO");
    EXPECT_EQ(property("InputFormat"), "");
}

TEST_F(Boundary, PortsOpenCrosswiseAndFollowTheirProperties)
{
    InputInterface* input = transform;
    OutputInterface* output = transform;
    PortInterface* packets = output->openPort(PortFormat{1, "GPHA", 0});
    PortInterface* frames = input->openPort(PortFormat{1, "BGRA", 0});
    ASSERT_NE(packets, nullptr);
    ASSERT_NE(frames, nullptr);
    EXPECT_EQ(input->openPort(PortFormat{1, "GPHB", 0}), nullptr);
    EXPECT_EQ(property("InputFormat"), "GPHA");
    Variant packed{};
    packed.type = TypeFourCC;
    EXPECT_TRUE(component->getProperty("OutputFormat", &packed));
    EXPECT_EQ(packed.value.asFourcc, 0x41524742u);
    EXPECT_FALSE(packets->query(QRY_READY, 0));
    EXPECT_TRUE(packets->query(0x40000001, 0));
    EXPECT_FALSE(frames->request(0, 0));
    EXPECT_FALSE(output->closePort(frames));
    EXPECT_TRUE(output->closePort(packets));
    EXPECT_TRUE(input->closePort(frames));
    EXPECT_EQ(property("OutputFormat"), "");
}

TEST_F(Boundary, ReleaseThroughAnInterfaceDestructorFreesTheObject)
{
    // A host may also delete through an interface; the whole object goes
    // (the host is not told then, as only the last dropReference tells it).
    OutputInterface* output = transform;
    ASSERT_NE(output->openPort(PortFormat{1, "GPHB", 0}), nullptr);
    delete component;
    plugin = nullptr;
    EXPECT_TRUE(host.events.empty());
}

} // namespace
