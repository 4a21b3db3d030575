// The component's rules through the core's own seam, with no boundary: the
// entry point, the release and the order of the teardown, the interfaces
// queryInterface answers, the properties, the opening and closing of the
// ports with every refusal, and the answers when the boundary cannot make
// an object. The calls the core makes are read from the one log.
#include "framework/Plugin.h"
#include "framework/Variant.h"
#include "subdecode/KelvoCore.h"
#include "tests/support/Sessions.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace Qor {
namespace {

using Testing::CallLog;
using Testing::CoreSession;
using Testing::SeamCalls;
using Testing::SeamString;
using Testing::StandInBuffer;
using Testing::StandInHost;

// The stored value getProperty gives for `key`, whatever tag is preset.
const SeamString* stored(const KelvoCore* core, const char* key, int32_t preset = 0)
{
    KelvoProperty property{};
    EXPECT_EQ(kelvoCoreGetProperty(core, key, preset, &property), KELVO_STORED) << key;
    return static_cast<const SeamString*>(property.text);
}

std::string text(const KelvoCore* core, const char* key)
{
    const SeamString* value = stored(core, key);
    return value ? value->narrow() : "?";
}

uint32_t packed(const KelvoCore* core, const char* key)
{
    KelvoProperty property{};
    EXPECT_EQ(kelvoCoreGetProperty(core, key, TypeFourCC, &property), KELVO_PACKED) << key;
    return property.packed;
}

TEST(GetPlugin, NullOutMakesNothingAndCallsNothing)
{
    CallLog log;
    SeamCalls calls(&log);
    StandInHost host(Testing::Witness{&log});
    EXPECT_EQ(kelvoCoreGetPlugin(&SeamCalls::table, &host, nullptr), KELVO_ACCEPTED);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(calls.components, 0);
    EXPECT_EQ(calls.strings, 0);
}

TEST(GetPlugin, HandsOverOneComponentWithItsFourValues)
{
    CallLog log;
    SeamCalls calls(&log);
    StandInHost host;
    KelvoComponent component = nullptr;
    ASSERT_EQ(kelvoCoreGetPlugin(&SeamCalls::table, &host, &component), KELVO_ACCEPTED);
    ASSERT_NE(component, nullptr);
    EXPECT_EQ(log, (CallLog{"makeComponent", "makeWideString(Kelvo Subtitle Decoder)",
                       "makeString(Overlay|Decoder|KELVO)", "makeString()", "makeString()", "handOver"}));
    EXPECT_EQ(calls.components, 1);
    kelvoCoreRelease(&SeamCalls::table, &host, component);
    EXPECT_EQ(calls.components, 0);
    EXPECT_EQ(calls.strings, 0);
}

TEST(GetPlugin, OutOfMemoryHandsOverNullAndLeavesNothing)
{
    for (int32_t made = 0; made <= 4; ++made) {
        SCOPED_TRACE(testing::Message() << made << " strings made");
        CallLog log;
        SeamCalls calls(&log);
        StandInHost host;
        calls.stringsBeforeRefusal = made;
        calls.refuseComponents = made == 4;
        KelvoComponent component = &calls;
        // No storage for the object itself is a plain refusal; a state that
        // cannot be made is out of memory.
        EXPECT_EQ(kelvoCoreGetPlugin(&SeamCalls::table, &host, &component),
            made == 4 ? KELVO_REFUSED : KELVO_OUT_OF_MEMORY);
        EXPECT_EQ(component, nullptr);
        EXPECT_EQ(log.back(), "handOver(null)");
        EXPECT_EQ(calls.strings, 0);
        EXPECT_EQ(calls.components, 0);
        EXPECT_TRUE(host.willDestroy.empty());
    }
}

TEST(Release, TellsTheHostAroundTheTeardownInItsOrder)
{
    CoreSession s("GPHB", "RGBA");
    s.ready();
    StandInBuffer* held = s.packet({});
    held->nullPayload = true; // taken and held, no frame
    ASSERT_TRUE(s.deliver(held));
    s.log.clear();
    s.release();
    EXPECT_EQ(s.log, (CallLog{"host.willDestroy", "destroyComponent", "packet.dropReference", "destroyPort(packet)",
                         "destroyPort(frame)", "destroyWideString(Kelvo Subtitle Decoder)",
                         "destroyString(Overlay|Decoder|KELVO)", "destroyString(GPHB)", "destroyString(RGBA)",
                         "host.didDestroy"}));
    EXPECT_TRUE(s.host.toldTwice(s.host.willDestroy.at(0)));
    EXPECT_EQ(held->drops, 1);
    EXPECT_EQ(s.calls.ports, 0);
    EXPECT_EQ(s.calls.strings, 0);
}

TEST(Release, WithNothingOpenDestroysTheValuesOnly)
{
    CoreSession s(nullptr, nullptr);
    s.release();
    EXPECT_EQ(s.log, (CallLog{"host.willDestroy", "destroyComponent", "destroyWideString(Kelvo Subtitle Decoder)",
                         "destroyString(Overlay|Decoder|KELVO)", "destroyString()", "destroyString()",
                         "host.didDestroy"}));
}

TEST(Release, WithoutAHostTellsNobody)
{
    CallLog log;
    SeamCalls calls(&log);
    KelvoComponent component = nullptr;
    ASSERT_EQ(kelvoCoreGetPlugin(&SeamCalls::table, nullptr, &component), KELVO_ACCEPTED);
    log.clear();
    kelvoCoreRelease(&SeamCalls::table, nullptr, component);
    EXPECT_EQ(log.front(), "destroyComponent");
    EXPECT_EQ(calls.components, 0);
}

// The face queryInterface gives for `text`, KELVO_FACE_NONE after a refusal.
int32_t faceFor(const char* text)
{
    int32_t face = -1;
    const int32_t answer = kelvoCoreQueryInterface(text, &face);
    EXPECT_EQ(answer, face == KELVO_FACE_NONE ? InterfaceNotFound : InterfaceFound) << (text ? text : "");
    return face;
}

TEST(QueryInterface, AnswersThreeIdentifiers)
{
    EXPECT_EQ(faceFor(IdentifierText::interfaceComponent), KELVO_FACE_COMPONENT);
    EXPECT_EQ(faceFor(IdentifierText::interfaceTransform), KELVO_FACE_TRANSFORM);
    EXPECT_EQ(faceFor(IdentifierText::componentTransform), KELVO_FACE_TRANSFORM_COMPONENT);
}

TEST(QueryInterface, RefusesEveryOtherText)
{
    const char* refused[] = {
        IdentifierText::componentInput,
        IdentifierText::interfaceInput,
        IdentifierText::componentOutputSingle,
        IdentifierText::componentOutputMultiple,
        IdentifierText::componentOutput,
        IdentifierText::interfaceOutput,
        "com.kelvo.vandrel.interface.transform ",
        "COM.KELVO.VANDREL.INTERFACE.TRANSFORM",
        "com.kelvo.vandrel.interface.componenT",
        "com.kelvo.vandrel.interface.componen",
        "",
        nullptr,
    };
    for (const char* text : refused)
        EXPECT_EQ(faceFor(text), KELVO_FACE_NONE) << (text ? text : "(no storage)");
}

TEST(Properties, NamesInByteWiseOrder)
{
    int32_t count = 0;
    const char* const* names = kelvoCorePropertyNames(&count);
    ASSERT_EQ(count, 4);
    EXPECT_STREQ(names[0], "InputFormat");
    EXPECT_STREQ(names[1], "Name");
    EXPECT_STREQ(names[2], "OutputFormat");
    EXPECT_STREQ(names[3], "Type");
    for (int32_t i = 1; i < count; ++i)
        EXPECT_LT(std::strcmp(names[i - 1], names[i]), 0);
}

TEST(Properties, NameAndTypeAnswerTheirStoredValuesWhateverThePreset)
{
    CoreSession s(nullptr, nullptr);
    for (int32_t preset : {0, int32_t(TypeFourCC), int32_t(TypeString), 99}) {
        SCOPED_TRACE(preset);
        KelvoProperty name{};
        ASSERT_EQ(kelvoCoreGetProperty(s.core, "Name", preset, &name), KELVO_STORED);
        EXPECT_EQ(name.type, TypeWString);
        const auto* wide = static_cast<const SeamString*>(name.text);
        EXPECT_TRUE(wide->wide);
        EXPECT_EQ(wide->narrow(), "Kelvo Subtitle Decoder");
        KelvoProperty type{};
        ASSERT_EQ(kelvoCoreGetProperty(s.core, "Type", preset, &type), KELVO_STORED);
        EXPECT_EQ(type.type, TypeString);
        EXPECT_EQ(static_cast<const SeamString*>(type.text)->narrow(), "Overlay|Decoder|KELVO");
    }
    EXPECT_EQ(stored(s.core, "Type"), stored(s.core, "Type"));
}

TEST(Properties, FormatsStartEmptyWithoutStorage)
{
    CoreSession s(nullptr, nullptr);
    for (const char* key : {"InputFormat", "OutputFormat"}) {
        const SeamString* value = stored(s.core, key);
        ASSERT_NE(value, nullptr);
        EXPECT_FALSE(value->hasStorage);
        EXPECT_TRUE(value->text.empty());
        EXPECT_EQ(packed(s.core, key), 0u);
    }
}

TEST(Properties, UnknownKeysAndNoDestinationAnswerNothing)
{
    CoreSession s(nullptr, nullptr);
    for (const char* key : {"inputformat", "InputFormat ", "Input", "", "Types", "name"}) {
        SCOPED_TRACE(key);
        KelvoProperty property{};
        property.packed = 0x12345678;
        EXPECT_EQ(kelvoCoreGetProperty(s.core, key, 0, &property), KELVO_NO_PROPERTY);
        EXPECT_EQ(kelvoCoreGetProperty(s.core, key, TypeFourCC, &property), KELVO_NO_PROPERTY);
        EXPECT_EQ(property.packed, 0x12345678u);
    }
    KelvoProperty property{};
    EXPECT_EQ(kelvoCoreGetProperty(s.core, nullptr, 0, &property), KELVO_NO_PROPERTY);
    EXPECT_EQ(kelvoCoreGetProperty(s.core, "Type", KELVO_NO_DESTINATION, &property), KELVO_NO_PROPERTY);
}

TEST(Ports, OpeningFollowsTheFormatProperty)
{
    CoreSession s(nullptr, nullptr);
    ASSERT_EQ(s.open(KELVO_PACKET_SIDE, "GPHB"), KELVO_ACCEPTED);
    EXPECT_EQ(s.log, (CallLog{"makeString(GPHB)", "makePort(packet)", "destroyString()"}));
    EXPECT_EQ(text(s.core, "InputFormat"), "GPHB");
    EXPECT_TRUE(stored(s.core, "InputFormat")->hasStorage);
    EXPECT_EQ(packed(s.core, "InputFormat"), packFourcc('G', 'P', 'H', 'B'));
    EXPECT_EQ(text(s.core, "OutputFormat"), "");
}

TEST(Ports, OutputCodesPackFirstCharacterLowest)
{
    const struct {
        const char* code;
        uint32_t packed;
    } rows[] = {{"RGBA", 0x41424752}, {"BGRA", 0x41524742}, {"ARGB", 0x42475241}, {"ABGR", 0x52474241}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.code);
        CoreSession s(nullptr, row.code);
        EXPECT_EQ(packed(s.core, "OutputFormat"), row.packed);
        EXPECT_EQ(text(s.core, "OutputFormat"), row.code);
    }
}

TEST(Ports, PackedReadUsesTheCallersTextAndUpperCases)
{
    // The caller's pointer is kept: what the text says at read time is what
    // gets packed. Only 'a' to 'z' are upper-cased; '{' follows 'z', and 0xFA
    // lies past it read as unsigned, below 'a' read as signed.
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
        char code[5];
        std::memcpy(code, row.opened, 5);
        CoreSession s(nullptr, code);
        std::memcpy(code, row.changedTo, 5);
        EXPECT_EQ(packed(s.core, "OutputFormat"), row.packed);
        EXPECT_EQ(text(s.core, "OutputFormat"), row.opened); // the property's copy is the accepted code
        std::memcpy(code, row.opened, 5);
    }
}

TEST(Ports, RefusedFormatsChangeNothingAndCallNothing)
{
    const struct {
        const char* label;
        int32_t side;
        int32_t kind;
        const char* code;
    } rows[] = {
        {"kind 0", KELVO_PACKET_SIDE, 0, "GPHB"},
        {"kind 2", KELVO_PACKET_SIDE, 2, "GPHA"},
        {"lower case", KELVO_PACKET_SIDE, 1, "gphb"},
        {"three characters", KELVO_PACKET_SIDE, 1, "GPH"},
        {"five characters", KELVO_PACKET_SIDE, 1, "GPHBX"},
        {"empty", KELVO_PACKET_SIDE, 1, ""},
        {"no code", KELVO_PACKET_SIDE, 1, nullptr},
        {"frame code on the packet side", KELVO_PACKET_SIDE, 1, "RGBA"},
        {"packet code on the frame side", KELVO_FRAME_SIDE, 1, "GPHA"},
        {"lower frame code", KELVO_FRAME_SIDE, 1, "rgba"},
        {"longer frame code", KELVO_FRAME_SIDE, 1, "RGBA "},
        {"kind 0 on the frame side", KELVO_FRAME_SIDE, 0, "RGBA"},
        {"no side", 2, 1, "RGBA"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        CoreSession s(nullptr, nullptr);
        KelvoPort port = &s;
        EXPECT_EQ(kelvoCoreOpenPort(s.core, row.side, row.kind, row.code, &port), KELVO_REFUSED);
        EXPECT_EQ(port, nullptr);
        EXPECT_TRUE(s.log.empty());
        EXPECT_EQ(text(s.core, "InputFormat"), "");
        EXPECT_EQ(text(s.core, "OutputFormat"), "");
    }
}

// The core refuses itself: no boundary checks first.
TEST(Ports, SecondOpenOnAnOpenSideIsRefused)
{
    for (int32_t side : {KELVO_PACKET_SIDE, KELVO_FRAME_SIDE}) {
        SCOPED_TRACE(side);
        CoreSession s(nullptr, nullptr);
        const char* first = side == KELVO_PACKET_SIDE ? "GPHA" : "RGBA";
        const char* second = side == KELVO_PACKET_SIDE ? "GPHB" : "ABGR";
        ASSERT_EQ(s.open(side, first), KELVO_ACCEPTED);
        KelvoPort firstPort = s.port[side];
        s.log.clear();
        KelvoPort port = &s;
        EXPECT_EQ(kelvoCoreOpenPort(s.core, side, 1, second, &port), KELVO_REFUSED);
        EXPECT_EQ(port, nullptr);
        EXPECT_TRUE(s.log.empty());
        EXPECT_EQ(s.calls.ports, 1);
        const char* key = side == KELVO_PACKET_SIDE ? "InputFormat" : "OutputFormat";
        EXPECT_EQ(text(s.core, key), first);
        EXPECT_EQ(kelvoCoreClosePort(s.core, side, firstPort), KELVO_ACCEPTED);
        s.port[side] = nullptr;
    }
}

TEST(Ports, CloseNeedsThatVeryPort)
{
    CoreSession s("GPHB", "BGRA");
    KelvoPort packets = s.port[KELVO_PACKET_SIDE];
    KelvoPort frames = s.port[KELVO_FRAME_SIDE];
    EXPECT_EQ(kelvoCoreClosePort(s.core, KELVO_PACKET_SIDE, frames), KELVO_REFUSED);
    EXPECT_EQ(kelvoCoreClosePort(s.core, KELVO_PACKET_SIDE, nullptr), KELVO_REFUSED);
    EXPECT_EQ(kelvoCoreClosePort(s.core, KELVO_FRAME_SIDE, packets), KELVO_REFUSED);
    EXPECT_EQ(kelvoCoreClosePort(s.core, 2, packets), KELVO_REFUSED);
    EXPECT_TRUE(s.log.empty());
    EXPECT_EQ(text(s.core, "InputFormat"), "GPHB");
    EXPECT_EQ(text(s.core, "OutputFormat"), "BGRA");

    EXPECT_EQ(s.close(KELVO_PACKET_SIDE), KELVO_ACCEPTED);
    EXPECT_EQ(s.log, (CallLog{"makeString()", "destroyPort(packet)", "destroyString(GPHB)"}));
    EXPECT_FALSE(stored(s.core, "InputFormat")->hasStorage);
    EXPECT_EQ(packed(s.core, "InputFormat"), 0u);
    EXPECT_EQ(kelvoCoreClosePort(s.core, KELVO_PACKET_SIDE, packets), KELVO_REFUSED);

    // A closed side opens again with another accepted code.
    EXPECT_EQ(s.open(KELVO_PACKET_SIDE, "GPHA"), KELVO_ACCEPTED);
    EXPECT_EQ(text(s.core, "InputFormat"), "GPHA");
}

TEST(Ports, ClosingTheFrameSideKeepsReadiness)
{
    CoreSession s("GPHB", "RGBA");
    s.ready();
    ASSERT_TRUE(s.query(KELVO_FRAME_SIDE, QRY_READY));
    EXPECT_EQ(s.close(KELVO_FRAME_SIDE), KELVO_ACCEPTED);
    ASSERT_EQ(s.open(KELVO_FRAME_SIDE, "ARGB"), KELVO_ACCEPTED);
    EXPECT_TRUE(s.query(KELVO_FRAME_SIDE, QRY_READY));
    EXPECT_TRUE(s.query(KELVO_PACKET_SIDE, QRY_READY));
}

TEST(Ports, OutOfMemoryWhileOpeningChangesNothing)
{
    for (bool portRefused : {false, true}) {
        SCOPED_TRACE(portRefused ? "no port" : "no string");
        CoreSession s(nullptr, nullptr);
        s.calls.stringsBeforeRefusal = portRefused ? -1 : 0;
        s.calls.refusePorts = portRefused;
        KelvoPort port = &s;
        EXPECT_EQ(kelvoCoreOpenPort(s.core, KELVO_FRAME_SIDE, 1, "ABGR", &port), KELVO_OUT_OF_MEMORY);
        EXPECT_EQ(port, nullptr);
        EXPECT_EQ(s.calls.ports, 0);
        EXPECT_EQ(s.calls.strings, 4);
        EXPECT_EQ(text(s.core, "OutputFormat"), "");
        EXPECT_EQ(packed(s.core, "OutputFormat"), 0u);
        s.calls.stringsBeforeRefusal = -1;
        s.calls.refusePorts = false;
        EXPECT_EQ(s.open(KELVO_FRAME_SIDE, "ABGR"), KELVO_ACCEPTED);
        EXPECT_EQ(text(s.core, "OutputFormat"), "ABGR");
    }
}

TEST(Ports, OutOfMemoryWhileClosingChangesNothing)
{
    CoreSession s("GPHA", nullptr);
    s.calls.stringsBeforeRefusal = 0;
    EXPECT_EQ(kelvoCoreClosePort(s.core, KELVO_PACKET_SIDE, s.port[KELVO_PACKET_SIDE]), KELVO_OUT_OF_MEMORY);
    EXPECT_EQ(s.calls.ports, 1);
    EXPECT_EQ(text(s.core, "InputFormat"), "GPHA");
    s.calls.stringsBeforeRefusal = -1;
    EXPECT_EQ(s.close(KELVO_PACKET_SIDE), KELVO_ACCEPTED);
}

} // namespace
} // namespace Qor
