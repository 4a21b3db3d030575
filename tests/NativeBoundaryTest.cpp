// The native boundary's translation: that every slot of the component's
// classes reaches the core, the faces queryInterface gives, the framework
// strings and Variants written for the host, the host's std::vector, and
// the Plugin's fields and counting. The rules themselves are the core's
// (tests/seam/).
#include "boundary/common/KelvoSubDecode.h"
#include "framework/GetPlugin.h"
#include "tests/support/Sessions.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace Qor {
namespace {

using Testing::ComponentSession;
using Testing::StandInBuffer;
using Testing::StandInHost;

PortFormat format(const char* code, int32_t kind = 1)
{
    return PortFormat{kind, code, 0};
}

KelvoSubDecode* whole(Plugin* plugin)
{
    return static_cast<KelvoSubDecode*>(plugin);
}

TEST(GetPlugin, MakesOneReferenceOwnedByTheHost)
{
    StandInHost host;
    Plugin* plugin = nullptr;
    EXPECT_EQ(getPlugin(&host, &plugin), 0);
    ASSERT_NE(plugin, nullptr);
    EXPECT_EQ(plugin->referenceCount(), 1);
    EXPECT_EQ(plugin->auxiliaryValue(), 0);
    EXPECT_EQ(plugin->getHost(), &host);
    EXPECT_EQ(static_cast<void*>(plugin), static_cast<void*>(whole(plugin)));
    EXPECT_NE(whole(plugin)->core, nullptr);
    EXPECT_EQ(plugin->dropReference(), 0);
}

TEST(GetPlugin, NullOutAnswersZeroAndCallsNothing)
{
    StandInHost host;
    EXPECT_EQ(getPlugin(&host, nullptr), 0);
    EXPECT_TRUE(host.willDestroy.empty());
    EXPECT_TRUE(host.didDestroy.empty());
}

TEST(QueryInterface, GivesTheFaceOfEachAnswer)
{
    ComponentSession s(nullptr, nullptr);
    KelvoSubDecode* component = whole(s.plugin);
    const struct {
        const String& identifier;
        void* face;
    } rows[] = {
        {Identifiers::interfaceComponent, static_cast<ComponentInterface*>(component)},
        {Identifiers::interfaceTransform, static_cast<TransformInterface*>(component)},
        {Identifiers::componentTransform, static_cast<TransformComponent*>(component)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.identifier.data);
        void* found = nullptr;
        EXPECT_EQ(s.plugin->queryInterface(row.identifier, &found), InterfaceFound);
        EXPECT_EQ(found, row.face);
    }
    EXPECT_EQ(s.plugin->referenceCount(), 1);
}

TEST(QueryInterface, RefusalClearsTheResult)
{
    ComponentSession s(nullptr, nullptr);
    for (const char* text : {IdentifierText::interfaceInput, "com.kelvo.vandrel.interface.transform ", ""}) {
        SCOPED_TRACE(text);
        String identifier(text, StandardAllocator<char>::instance());
        void* found = &s;
        EXPECT_EQ(s.plugin->queryInterface(identifier, &found), InterfaceNotFound);
        EXPECT_EQ(found, nullptr);
    }
    void* found = &s;
    EXPECT_EQ(s.plugin->queryInterface(String(), &found), InterfaceNotFound);
    EXPECT_EQ(found, nullptr);
}

TEST(Plugin, CountsAndTellsTheHostAroundTheLastRelease)
{
    StandInHost host;
    Plugin* plugin = nullptr;
    getPlugin(&host, &plugin);
    EXPECT_EQ(plugin->addReference(), 2);
    EXPECT_EQ(plugin->dropReference(), 1);
    EXPECT_TRUE(host.willDestroy.empty());
    EXPECT_EQ(plugin->dropReference(), 0);
    EXPECT_EQ(host.willDestroy, std::vector<Plugin*>{plugin});
    EXPECT_EQ(host.didDestroy, std::vector<Plugin*>{plugin});
}

TEST(Plugin, NullHostIsNeverCalled)
{
    Plugin* plugin = nullptr;
    ASSERT_EQ(getPlugin(nullptr, &plugin), 0);
    ASSERT_NE(plugin, nullptr);
    EXPECT_EQ(plugin->getHost(), nullptr);
    ASSERT_NE(static_cast<OutputInterface*>(whole(plugin))->openPort(format("GPHA")), nullptr);
    EXPECT_EQ(plugin->dropReference(), 0);
}

TEST(ComponentInterface, DefaultOperationsKeepTheirAnswers)
{
    ComponentSession s(nullptr, nullptr);
    ComponentInterface& c = *s.component;
    EXPECT_TRUE(c.defaultOperation1(7) && c.defaultOperation2() && c.defaultOperation3(1, 2)
        && c.defaultOperation4(1, 2) && c.defaultOperation5(1, 2) && c.defaultOperation6(1, 2));
    EXPECT_FALSE(c.defaultOperation7(1, 2, 3, 4, 5));
}

TEST(Properties, NamesAppendToTheHostsVector)
{
    ComponentSession s(nullptr, nullptr);
    std::vector<const char*> names;
    EXPECT_TRUE(s.component->getPropertyNames(names));
    ASSERT_EQ(names.size(), 4u);
    EXPECT_STREQ(names[0], "InputFormat");
    EXPECT_STREQ(names[3], "Type");

    std::vector<const char*> more{"a", "b"};
    EXPECT_TRUE(s.component->getPropertyNames(more));
    ASSERT_EQ(more.size(), 6u);
    EXPECT_STREQ(more[0], "a");
    EXPECT_STREQ(more[1], "b");
    EXPECT_EQ(more[2], names[0]);
    EXPECT_EQ(more[5], names[3]);
}

TEST(Properties, StoredValuesAreFrameworkStringsOfTheStandardAllocators)
{
    ComponentSession s("GPHB", nullptr);
    Variant type{};
    ASSERT_TRUE(s.component->getProperty("Type", &type));
    ASSERT_EQ(type.type, TypeString);
    const String* typeText = type.value.asString;
    EXPECT_EQ(typeText->length, 21u);
    EXPECT_STREQ(typeText->data, "Overlay|Decoder|KELVO");
    EXPECT_EQ(typeText->unitAllocator, StandardAllocator<char>::instance());

    Variant name{};
    name.type = TypeFourCC;
    ASSERT_TRUE(s.component->getProperty("Name", &name));
    ASSERT_EQ(name.type, TypeWString);
    const WString* wide = name.value.asWString;
    EXPECT_EQ(std::string(wide->data, wide->data + wide->length), "Kelvo Subtitle Decoder");
    EXPECT_EQ(wide->data[wide->length], 0);
    EXPECT_EQ(wide->unitAllocator, StandardAllocator<unsigned short>::instance());

    Variant input{};
    ASSERT_TRUE(s.component->getProperty("InputFormat", &input));
    EXPECT_EQ(input.value.asString->length, 4u);
    EXPECT_STREQ(input.value.asString->data, "GPHB");
    Variant output{};
    ASSERT_TRUE(s.component->getProperty("OutputFormat", &output));
    EXPECT_EQ(output.type, TypeString);
    EXPECT_EQ(output.value.asString->data, nullptr);
    EXPECT_EQ(output.value.asString->length, 0u);
}

TEST(Properties, PackedReadWritesTheCodeAlone)
{
    ComponentSession s(nullptr, "BGRA");
    Variant v{};
    v.type = TypeFourCC;
    v.value.bits = 0x1122334455667788u;
    ASSERT_TRUE(s.component->getProperty("OutputFormat", &v));
    EXPECT_EQ(v.type, TypeFourCC);
    EXPECT_EQ(v.value.asFourcc, 0x41524742u);
    EXPECT_EQ(v.value.bits >> 32, 0x11223344u); // the rest of the value as it was
}

TEST(Properties, NoPropertyWritesNothing)
{
    ComponentSession s(nullptr, nullptr);
    Variant v{};
    v.type = 99;
    v.value.bits = 0x1122334455667788u;
    EXPECT_FALSE(s.component->getProperty("inputformat", &v));
    EXPECT_EQ(v.type, 99);
    EXPECT_EQ(v.value.bits, 0x1122334455667788u);
    EXPECT_FALSE(s.component->getProperty(nullptr, &v));
    EXPECT_FALSE(s.component->getProperty("Type", nullptr));
}

TEST(Ports, EachInterfaceOpensAndClosesItsOwnPort)
{
    ComponentSession s(nullptr, nullptr);
    PortInterface* packets = s.packetSide->openPort(format("GPHA"));
    PortInterface* frames = s.frameSide->openPort(format("ABGR"));
    ASSERT_NE(packets, nullptr);
    ASSERT_NE(frames, nullptr);
    EXPECT_NE(dynamic_cast<KelvoSubDecode::Input*>(packets), nullptr);
    EXPECT_NE(dynamic_cast<KelvoSubDecode::Output*>(frames), nullptr);
    EXPECT_EQ(s.packetSide->openPort(format("RGBA")), nullptr);
    EXPECT_EQ(s.frameSide->openPort(format("GPHB")), nullptr);
    EXPECT_FALSE(s.packetSide->closePort(frames));
    EXPECT_FALSE(s.frameSide->closePort(packets));
    EXPECT_TRUE(s.packetSide->closePort(packets));
    EXPECT_TRUE(s.frameSide->closePort(frames));
}

TEST(Ports, EveryOperationReachesTheCore)
{
    ComponentSession s("GPHB", "RGBA");
    EXPECT_FALSE(s.in->query(QRY_READY, 0));
    EXPECT_TRUE(s.in->query(0, 0));
    EXPECT_FALSE(s.out->request(0, 0));
    EXPECT_FALSE(s.out->deliver(MSG_SAMPLE, nullptr));
    EXPECT_TRUE(s.in->notify(EVT_SET_SINK, nullptr));
    EXPECT_FALSE(s.out->query(QRY_READY, 0));
    s.ready();
    EXPECT_TRUE(s.in->query(QRY_READY, 0));
    EXPECT_TRUE(s.out->query(QRY_READY, 0));
    StandInBuffer* packet = s.packet({});
    packet->nullPayload = true;
    EXPECT_TRUE(s.deliver(packet));
    EXPECT_TRUE(s.streamInfo(720, 576));
    EXPECT_EQ(s.sink.streamInfos(), 1);
    EXPECT_TRUE(s.stop());
    EXPECT_EQ(packet->drops, 1);
    EXPECT_FALSE(s.in->query(QRY_READY, 0));
}

// A host may delete the component through any interface: the whole object
// is destroyed and freed, a held sample released, and the host not told.
TEST(Deletion, ThroughEveryInterfaceDestroysTheWhole)
{
    for (int face = 0; face < 3; ++face) {
        SCOPED_TRACE(face);
        ComponentSession s("GPHB", "ARGB");
        s.ready();
        StandInBuffer* held = s.packet({});
        held->nullPayload = true;
        ASSERT_TRUE(s.deliver(held));
        KelvoSubDecode* component = whole(s.plugin);
        if (face == 0)
            delete static_cast<ComponentInterface*>(component);
        else if (face == 1)
            delete static_cast<OutputInterface*>(component);
        else
            delete static_cast<TransformComponent*>(component);
        s.plugin = nullptr;
        EXPECT_EQ(held->drops, 1);
        EXPECT_TRUE(s.host.willDestroy.empty());
    }
}

} // namespace
} // namespace Qor
