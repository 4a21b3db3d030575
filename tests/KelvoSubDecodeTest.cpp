// The component's object model, port connection and properties.
#include "boundary/native/Identifiers.h"
#include "boundary/native/KelvoSubDecode.h"
#include "framework/GetPlugin.h"
#include "tests/support/RecordingHost.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace Qor {
namespace {

using Testing::BufferPool;
using Testing::CallLog;
using Testing::RecordingHost;
using Testing::RecordingSink;

// A component reached the way a host reaches it: getPlugin, then lookups.
struct Connected {
    Connected()
    {
        getPlugin(&host, &plugin);
        void* found = nullptr;
        plugin->queryInterface(Identifiers::interfaceComponent, &found);
        component = static_cast<ComponentInterface*>(found);
        plugin->queryInterface(Identifiers::interfaceTransform, &found);
        transform = static_cast<TransformInterface*>(found);
        input = transform;
        output = transform;
    }
    ~Connected()
    {
        if (plugin)
            plugin->dropReference();
    }

    std::string property(const char* key)
    {
        Variant v{};
        EXPECT_TRUE(component->getProperty(key, &v));
        EXPECT_EQ(v.type, TypeString);
        return v.value.asString->data ? v.value.asString->data : "";
    }

    uint32_t packed(const char* key)
    {
        Variant v{};
        v.type = TypeFourCC;
        EXPECT_TRUE(component->getProperty(key, &v));
        EXPECT_EQ(v.type, TypeFourCC);
        return v.value.asFourcc;
    }

    CallLog log;
    RecordingHost host{&log};
    Plugin* plugin = nullptr;
    ComponentInterface* component = nullptr;
    TransformInterface* transform = nullptr;
    InputInterface* input = nullptr;    // manages the port that sends frames
    OutputInterface* output = nullptr;  // manages the port that receives packets
};

PortFormat format(const char* code, int32_t kind = 1)
{
    return PortFormat{kind, code, 0};
}

TEST(GetPlugin, MakesOneReferenceOwnedByTheHost)
{
    RecordingHost host;
    Plugin* plugin = nullptr;
    EXPECT_EQ(getPlugin(&host, &plugin), 0);
    ASSERT_NE(plugin, nullptr);
    EXPECT_EQ(plugin->referenceCount(), 1);
    EXPECT_EQ(plugin->auxiliaryValue(), 0);
    EXPECT_EQ(plugin->getHost(), &host);
    EXPECT_EQ(static_cast<void*>(plugin), static_cast<void*>(static_cast<KelvoSubDecode*>(plugin)));
    EXPECT_EQ(plugin->dropReference(), 0);
}

TEST(GetPlugin, NullOutMakesNothing)
{
    RecordingHost host;
    EXPECT_EQ(getPlugin(&host, nullptr), 0);
    EXPECT_TRUE(host.willDestroy.empty());
}

TEST(QueryInterface, AnswersThreeIdentifiersWithoutCounting)
{
    Connected c;
    void* found = nullptr;
    EXPECT_EQ(c.plugin->queryInterface(Identifiers::componentTransform, &found), InterfaceFound);
    EXPECT_EQ(found, static_cast<TransformComponent*>(static_cast<KelvoSubDecode*>(c.plugin)));
    EXPECT_NE(c.component, nullptr);
    EXPECT_NE(c.transform, nullptr);
    EXPECT_EQ(c.plugin->referenceCount(), 1);
}

TEST(QueryInterface, RefusesEveryOtherTextAndClearsResult)
{
    Connected c;
    const char* refused[] = {
        "com.kelvo.vandrel.interface.input",
        "com.kelvo.vandrel.interface.output",
        "com.kelvo.vandrel.component.input",
        "com.kelvo.vandrel.component.output.single",
        "com.kelvo.vandrel.interface.transform ",
        "COM.KELVO.VANDREL.INTERFACE.TRANSFORM",
        "com.kelvo.vandrel.interface.componenT",
        "",
    };
    for (const char* text : refused) {
        SCOPED_TRACE(text);
        String identifier(text, StandardAllocator<char>::instance());
        void* found = &c;
        EXPECT_EQ(c.plugin->queryInterface(identifier, &found), InterfaceNotFound);
        EXPECT_EQ(found, nullptr);
    }
    void* found = &c;
    EXPECT_EQ(c.plugin->queryInterface(String(), &found), InterfaceNotFound);
    EXPECT_EQ(found, nullptr);
}

TEST(Lifecycle, LastReleaseTellsHostAroundDestruction)
{
    RecordingHost host;
    Plugin* plugin = nullptr;
    getPlugin(&host, &plugin);
    EXPECT_EQ(plugin->addReference(), 2);
    EXPECT_EQ(plugin->dropReference(), 1);
    EXPECT_TRUE(host.willDestroy.empty());
    EXPECT_EQ(plugin->dropReference(), 0);
    EXPECT_EQ(host.willDestroy, std::vector<Plugin*>{plugin});
    EXPECT_EQ(host.didDestroy, std::vector<Plugin*>{plugin});
}

TEST(Lifecycle, NullHostIsNeverCalled)
{
    // A host may make a component without giving itself; the last release
    // then tells nobody, and makes no call through the null host.
    Plugin* plugin = nullptr;
    ASSERT_EQ(getPlugin(nullptr, &plugin), 0);
    ASSERT_NE(plugin, nullptr);
    EXPECT_EQ(plugin->getHost(), nullptr);
    void* found = nullptr;
    ASSERT_EQ(plugin->queryInterface(Identifiers::interfaceTransform, &found), InterfaceFound);
    ASSERT_NE(static_cast<OutputInterface*>(static_cast<TransformInterface*>(found))->openPort(format("GPHA")), nullptr);
    EXPECT_EQ(plugin->addReference(), 2);
    EXPECT_EQ(plugin->dropReference(), 1);
    EXPECT_EQ(plugin->dropReference(), 0);
}

TEST(Lifecycle, DestructionReleasesHeldSampleBeforeClosingPorts)
{
    BufferPool pool;
    RecordingSink sink;
    Connected c;
    PortInterface* in = c.output->openPort(format("GPHB"));
    PortInterface* out = c.input->openPort(format("RGBA"));
    Variant v{};
    v.type = TypeObject;
    v.value.asObject = &sink;
    out->notify(EVT_SET_SINK, &v);
    // A packet without payload is taken and held.
    auto* packet = pool.make("packet", {});
    packet->nullPayload = true;
    v.value.asObject = packet;
    in->deliver(MSG_SAMPLE, &v);
    c.plugin->dropReference();
    c.plugin = nullptr;
    EXPECT_EQ(packet->drops, 1);
    EXPECT_TRUE(pool.allReleased());
}

TEST(Properties, NamesAppendInByteOrder)
{
    Connected c;
    std::vector<const char*> names;
    EXPECT_TRUE(c.component->getPropertyNames(names));
    ASSERT_EQ(names.size(), 4u);
    EXPECT_STREQ(names[0], "InputFormat");
    EXPECT_STREQ(names[1], "Name");
    EXPECT_STREQ(names[2], "OutputFormat");
    EXPECT_STREQ(names[3], "Type");

    std::vector<const char*> more{"a", "b"};
    EXPECT_TRUE(c.component->getPropertyNames(more));
    ASSERT_EQ(more.size(), 6u);
    EXPECT_STREQ(more[0], "a");
    EXPECT_STREQ(more[1], "b");
    EXPECT_EQ(more[2], names[0]);
}

TEST(Properties, TypeAndNameAnswerStoredValuesWhateverThePreset)
{
    Connected c;
    Variant first{};
    Variant second{};
    ASSERT_TRUE(c.component->getProperty("Type", &first));
    ASSERT_TRUE(c.component->getProperty("Type", &second));
    EXPECT_EQ(first.type, TypeString);
    EXPECT_STREQ(first.value.asString->data, "Overlay|Decoder|KELVO");
    EXPECT_EQ(first.value.asString, second.value.asString);

    Variant name{};
    name.type = TypeFourCC;
    ASSERT_TRUE(c.component->getProperty("Name", &name));
    ASSERT_EQ(name.type, TypeWString);
    const WString* wide = name.value.asWString;
    std::string narrow(wide->data, wide->data + wide->length);
    EXPECT_EQ(narrow, "Kelvo Subtitle Decoder");
    EXPECT_EQ(wide->unitAllocator, StandardAllocator<unsigned short>::instance());
}

TEST(Properties, FormatsStartEmptyWithoutStorage)
{
    Connected c;
    for (const char* key : {"InputFormat", "OutputFormat"}) {
        Variant v{};
        ASSERT_TRUE(c.component->getProperty(key, &v));
        EXPECT_EQ(v.type, TypeString);
        EXPECT_EQ(v.value.asString->data, nullptr);
        EXPECT_EQ(v.value.asString->length, 0u);
    }
}

TEST(Properties, PackedReadOfClosedPortAnswersZero)
{
    Connected c;
    Variant v{};
    v.type = TypeFourCC;
    v.value.asFourcc = 0xDEADBEEF;
    EXPECT_TRUE(c.component->getProperty("OutputFormat", &v));
    EXPECT_EQ(v.type, TypeFourCC);
    EXPECT_EQ(v.value.asFourcc, 0u);
}

TEST(Properties, UnknownKeysAnswerFalseAndWriteNothing)
{
    Connected c;
    for (const char* key : {"inputformat", "InputFormat ", "Input", "", "Types"}) {
        SCOPED_TRACE(key);
        Variant v{};
        v.type = 99;
        v.value.bits = 0x1122334455667788u;
        EXPECT_FALSE(c.component->getProperty(key, &v));
        EXPECT_EQ(v.type, 99);
        EXPECT_EQ(v.value.bits, 0x1122334455667788u);
    }
    Variant v{};
    EXPECT_FALSE(c.component->getProperty(nullptr, &v));
    EXPECT_FALSE(c.component->getProperty("Type", nullptr));
}

TEST(Ports, OpenInputPortFollowsFormatProperty)
{
    Connected c;
    PortInterface* in = c.output->openPort(format("GPHB"));
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(c.property("InputFormat"), "GPHB");
    EXPECT_EQ(c.packed("InputFormat"), packFourcc('G', 'P', 'H', 'B'));
    Variant v{};
    c.component->getProperty("InputFormat", &v);
    EXPECT_EQ(v.value.asString->length, 4u);
}

TEST(Ports, OutputCodesPackFirstCharacterLowest)
{
    const struct {
        const char* code;
        uint32_t packed;
    } rows[] = {{"RGBA", 0x41424752}, {"BGRA", 0x41524742}, {"ARGB", 0x42475241}, {"ABGR", 0x52474241}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.code);
        Connected c;
        ASSERT_NE(c.input->openPort(format(row.code)), nullptr);
        EXPECT_EQ(c.packed("OutputFormat"), row.packed);
        EXPECT_EQ(c.property("OutputFormat"), row.code);
    }
}

TEST(Ports, PackedReadUsesTheCallersTextAndUpperCases)
{
    // The component keeps the caller's pointer: what the text says at read
    // time is what gets packed. Only 'a' to 'z' are upper-cased; '{' follows
    // 'z', and 0xFA lies past it read as unsigned, below 'a' read as signed.
    const struct {
        const char* opened;
        const char* changedTo;
        uint32_t packed;
    } rows[] = {
        {"ABGR", "AbGR", 0x52474241},
        {"RGBA", "yz{\xFA", packFourcc('Y', 'Z', '{', '\xFA')},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.changedTo);
        Connected c;
        char code[5];
        std::memcpy(code, row.opened, 5);
        ASSERT_NE(c.input->openPort(format(code)), nullptr);
        std::memcpy(code, row.changedTo, 5);
        EXPECT_EQ(c.packed("OutputFormat"), row.packed);
        std::memcpy(code, row.opened, 5);
    }
}

TEST(Ports, RefusedFormatsChangeNothing)
{
    const struct {
        const char* label;
        bool inputSide;
        PortFormat format;
    } rows[] = {
        {"kind 0", true, format("GPHB", 0)},
        {"kind 2", true, format("GPHA", 2)},
        {"lower case", true, format("gphb")},
        {"three characters", true, format("GPH")},
        {"five characters", true, format("GPHBX")},
        {"empty", true, format("")},
        {"null code", true, format(nullptr)},
        {"output code on input side", true, format("RGBA")},
        {"input code on output side", false, format("GPHA")},
        {"lower output", false, format("rgba")},
        {"longer output", false, format("RGBA ")},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        Connected c;
        PortInterface* port = row.inputSide ? c.output->openPort(row.format) : c.input->openPort(row.format);
        EXPECT_EQ(port, nullptr);
        EXPECT_EQ(c.property(row.inputSide ? "InputFormat" : "OutputFormat"), "");
    }
}

TEST(Ports, SecondOpenOnOpenSideIsRefused)
{
    Connected c;
    PortInterface* first = c.output->openPort(format("GPHA"));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(c.output->openPort(format("GPHB")), nullptr);
    EXPECT_EQ(c.property("InputFormat"), "GPHA");
    EXPECT_TRUE(c.output->closePort(first));
}

TEST(Ports, CloseNeedsThatVeryPort)
{
    Connected c;
    PortInterface* in = c.output->openPort(format("GPHB"));
    PortInterface* out = c.input->openPort(format("BGRA"));
    EXPECT_FALSE(c.output->closePort(out));
    EXPECT_FALSE(c.output->closePort(nullptr));
    EXPECT_FALSE(c.input->closePort(in));
    EXPECT_EQ(c.property("InputFormat"), "GPHB");
    EXPECT_EQ(c.property("OutputFormat"), "BGRA");

    EXPECT_TRUE(c.output->closePort(in));
    EXPECT_EQ(c.property("InputFormat"), "");
    Variant v{};
    c.component->getProperty("InputFormat", &v);
    EXPECT_EQ(v.value.asString->data, nullptr);
    EXPECT_FALSE(c.output->closePort(in));

    // A closed side opens again with another accepted code.
    EXPECT_NE(c.output->openPort(format("GPHA")), nullptr);
    EXPECT_EQ(c.property("InputFormat"), "GPHA");
}

TEST(Ports, ClosingOutputKeepsConfiguration)
{
    RecordingSink sink;
    Connected c;
    c.output->openPort(format("GPHB"));
    PortInterface* out = c.input->openPort(format("RGBA"));
    Variant v{};
    v.type = TypeObject;
    v.value.asObject = &sink;
    ASSERT_TRUE(out->notify(EVT_SET_SINK, &v));
    ASSERT_TRUE(out->query(QRY_READY, 0));
    PortInterface* in = c.output->openPort(format("GPHA"));
    EXPECT_EQ(in, nullptr); // still open
    EXPECT_TRUE(c.input->closePort(out));
    PortInterface* reopened = c.input->openPort(format("ARGB"));
    ASSERT_NE(reopened, nullptr);
    EXPECT_TRUE(reopened->query(QRY_READY, 0));
}

TEST(Ports, DestructionWithPortsOpenFreesEverything)
{
    // Leak checking (valgrind, sanitizers) shows the ports and strings go.
    Connected c;
    ASSERT_NE(c.output->openPort(format("GPHA")), nullptr);
    ASSERT_NE(c.input->openPort(format("ABGR")), nullptr);
}

} // namespace
} // namespace Qor
