// The component's state and every rule it follows, behind the C seam. The
// boundary keeps the objects a host holds (the component, its ports, the
// property strings) and makes them when the core asks; everything else is
// decided here. Nothing thrown crosses the seam: an object the boundary
// cannot make is a null handle, and becomes KELVO_OUT_OF_MEMORY.
#include "subdecode/KelvoCore.h"

#include "framework/Plugin.h"
#include "framework/PortInterface.h"
#include "framework/Variant.h"
#include "subdecode/Formats.h"
#include "subdecode/FrameProduction.h"
#include "subdecode/OwnedBuffer.h"

#include <boost/thread/recursive_mutex.hpp>

namespace {

using namespace Qor;

// The properties, in the byte-wise unsigned order of their keys: the order
// of getPropertyNames.
enum Property { InputFormatProperty, NameProperty, OutputFormatProperty, TypeProperty, PropertyCount };
const char* const propertyKeys[PropertyCount] = {"InputFormat", "Name", "OutputFormat", "Type"};
// The order in which the values are made when the component is built, and
// destroyed when it is destroyed.
const Property valueOrder[PropertyCount] = {NameProperty, TypeProperty, InputFormatProperty, OutputFormatProperty};

const uint16_t nameText[] = {'K', 'e', 'l', 'v', 'o', ' ', 'S', 'u', 'b', 't', 'i', 't', 'l', 'e', ' ', 'D', 'e',
    'c', 'o', 'd', 'e', 'r', 0};
const char typeText[] = "Overlay|Decoder|KELVO";

// The identifiers queryInterface answers, and the face each gives.
const struct {
    const char* text;
    int32_t face;
} answeredInterfaces[] = {
    {IdentifierText::interfaceComponent, KELVO_FACE_COMPONENT},
    {IdentifierText::interfaceTransform, KELVO_FACE_TRANSFORM},
    {IdentifierText::componentTransform, KELVO_FACE_TRANSFORM_COMPONENT},
};

// NUL-terminated texts compared byte by byte.
bool sameText(const char* a, const char* b)
{
    while (*a != 0 && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

char upper(char c)
{
    return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

// The first four characters of `code`, upper-cased, packed first character
// lowest; 0 without a code.
uint32_t packed(const char* code)
{
    return code ? packFourcc(upper(code[0]), upper(code[1]), upper(code[2]), upper(code[3])) : 0;
}

bool validSide(int32_t side)
{
    return side == KELVO_PACKET_SIDE || side == KELVO_FRAME_SIDE;
}

// The property that holds `side`'s format code.
Property formatProperty(int32_t side)
{
    return side == KELVO_PACKET_SIDE ? InputFormatProperty : OutputFormatProperty;
}

} // namespace

struct KelvoCore {
    KelvoCore(const KelvoCalls& calls, KelvoComponent component) : calls(calls), component(component) {}

    const KelvoCalls& calls;
    const KelvoComponent component;
    // Taken by destruction alone, from the closing of the ports to the
    // destruction of the property values.
    boost::recursive_mutex mutex;
    // Each side's port and the caller's code text it was opened with, kept
    // by pointer; both null while the side is closed.
    KelvoPort port[2] = {nullptr, nullptr};
    const char* code[2] = {nullptr, nullptr};
    // The property values: a WString for the name, Strings for the others.
    KelvoText value[PropertyCount] = {};
    // The frame side's byte order, looked up once when it opened.
    const OutputOrder* order = nullptr;
    // How packets are read, decided when the sink is set.
    const InputFormat* packetFormat = &opaquePackets;
    KelvoSink sink = nullptr;
    KelvoAllocator allocator = nullptr;
    bool configured = false;
    // The last reference canvas: the picture size of the last stream
    // information, or the canvas of the last frame placed past it.
    Canvas lastCanvas{0, 0};
    OwnedBuffer held;
};

namespace {

void destroyValue(KelvoCore& core, Property property)
{
    if (KelvoText text = core.value[property])
        (property == NameProperty ? core.calls.destroyWideString : core.calls.destroyString)(text);
    core.value[property] = nullptr;
}

void replaceValue(KelvoCore& core, Property property, KelvoText text)
{
    destroyValue(core, property);
    core.value[property] = text;
}

// Destroys `side`'s port, if open, and forgets its code.
void closeSide(KelvoCore& core, int32_t side)
{
    if (core.port[side])
        core.calls.destroyPort(core.port[side]);
    core.port[side] = nullptr;
    core.code[side] = nullptr;
    if (side == KELVO_FRAME_SIDE)
        core.order = nullptr;
}

KelvoObject objectOf(const KelvoCore& core, KelvoMessage message)
{
    return message ? core.calls.messageObject(message) : nullptr;
}

void setSink(KelvoCore& core, KelvoSink sink)
{
    core.sink = sink;
    // Decided from the packet side's code as it reads now; with the side
    // closed, packets are read without alpha.
    const InputFormat* format = findInputFormat(core.code[KELVO_PACKET_SIDE]);
    core.packetFormat = format ? format : &opaquePackets;
    core.configured = true;
}

void stop(KelvoCore& core)
{
    core.held.reset();
    core.packetFormat = &opaquePackets;
    core.configured = false;
}

int32_t streamInfo(KelvoCore& core, KelvoMessage message)
{
    // Only a Variant tagged TypeObject is read; any message is forwarded as
    // it came, the very pointer, unchanged.
    const KelvoObject info = message && core.calls.messageType(message) == TypeObject ? objectOf(core, message)
                                                                                      : nullptr;
    if (info) {
        int32_t width = 0;
        int32_t height = 0;
        core.calls.streamInfoSize(info, &width, &height);
        core.lastCanvas = Canvas{width, height};
    }
    return core.sink ? core.calls.forwardStreamInfo(core.sink, message) : 0;
}

int32_t sample(KelvoCore& core, KelvoBuffer packet)
{
    if (!core.configured)
        return KELVO_REFUSED;
    // From here on the sample's reference is ours, whatever the answer; the
    // one held before goes first.
    core.held = OwnedBuffer(core.calls, packet);
    if (!packet)
        return KELVO_REFUSED;
    const void* payload = core.calls.lock(packet);
    core.calls.unlock(packet);
    if (!payload)
        return KELVO_ACCEPTED;
    const FrameJob job{packet, core.packetFormat, core.order, core.allocator, core.sink};
    const int32_t answer = produceFrame(core.calls, job, core.lastCanvas);
    if (answer == KELVO_ACCEPTED)
        core.held.reset();
    return answer;
}

} // namespace

int32_t kelvoCoreGetPlugin(const KelvoCalls* calls, KelvoHost host, KelvoPluginSlot out)
{
    // With nowhere to put a component, none is made and nothing is called.
    if (!out)
        return KELVO_ACCEPTED;
    KelvoComponent component = nullptr;
    const int32_t result = calls->makeComponent(host, &component);
    calls->handOver(out, result == KELVO_ACCEPTED ? component : nullptr);
    return result;
}

KelvoCore* kelvoCoreCreate(const KelvoCalls* calls, KelvoComponent component)
{
    if (!calls)
        return nullptr;
    KelvoCore* core = nullptr;
    try {
        core = new KelvoCore(*calls, component);
    } catch (...) {
        // No storage, or no mutex to be had.
        return nullptr;
    }
    // In valueOrder; a value that cannot be made undoes the ones before it.
    if (!(core->value[NameProperty] = calls->makeWideString(nameText))
        || !(core->value[TypeProperty] = calls->makeString(typeText))
        || !(core->value[InputFormatProperty] = calls->makeString(nullptr))
        || !(core->value[OutputFormatProperty] = calls->makeString(nullptr))) {
        kelvoCoreDestroy(core);
        return nullptr;
    }
    return core;
}

void kelvoCoreDestroy(KelvoCore* core)
{
    if (!core)
        return;
    // The held sample goes first, before the lock is taken. The sides close
    // without the empty values closePort makes: the values go next.
    core->held.reset();
    core->mutex.lock();
    closeSide(*core, KELVO_PACKET_SIDE);
    closeSide(*core, KELVO_FRAME_SIDE);
    core->packetFormat = &opaquePackets;
    core->configured = false;
    for (Property property : valueOrder)
        destroyValue(*core, property);
    core->allocator = nullptr;
    core->mutex.unlock();
    delete core;
}

void kelvoCoreRelease(const KelvoCalls* calls, KelvoHost host, KelvoComponent component)
{
    // The host outlives the component; after the destruction the
    // component's address serves the host only as an identity.
    if (host)
        calls->willDestroyPlugin(host, component);
    calls->destroyComponent(component);
    if (host)
        calls->didDestroyPlugin(host, component);
}

int32_t kelvoCoreQueryInterface(const char* identifier, int32_t* face)
{
    const char* text = identifier ? identifier : "";
    for (const auto& answered : answeredInterfaces) {
        if (sameText(text, answered.text)) {
            *face = answered.face;
            return InterfaceFound;
        }
    }
    *face = KELVO_FACE_NONE;
    return InterfaceNotFound;
}

const char* const* kelvoCorePropertyNames(int32_t* count)
{
    *count = PropertyCount;
    return propertyKeys;
}

int32_t kelvoCoreGetProperty(const KelvoCore* core, const char* key, int32_t preset, KelvoProperty* answer)
{
    if (!key || preset == KELVO_NO_DESTINATION)
        return KELVO_NO_PROPERTY;
    for (int32_t property = 0; property < PropertyCount; ++property) {
        if (!sameText(key, propertyKeys[property]))
            continue;
        // A format read as a packed code packs the caller's code text as it
        // reads now, not the property's copy; a closed side packs to 0.
        if (preset == TypeFourCC && (property == InputFormatProperty || property == OutputFormatProperty)) {
            const int32_t side = property == InputFormatProperty ? KELVO_PACKET_SIDE : KELVO_FRAME_SIDE;
            answer->packed = packed(core->code[side]);
            return KELVO_PACKED;
        }
        // The stored value, whatever the preset.
        answer->type = property == NameProperty ? TypeWString : TypeString;
        answer->text = core->value[property];
        return KELVO_STORED;
    }
    return KELVO_NO_PROPERTY;
}

int32_t kelvoCoreOpenPort(KelvoCore* core, int32_t side, int32_t kind, const char* fourcc, KelvoPort* port)
{
    *port = nullptr;
    if (!validSide(side) || core->port[side] || kind != 1)
        return KELVO_REFUSED;
    const OutputOrder* order = side == KELVO_FRAME_SIDE ? findOutputOrder(fourcc) : nullptr;
    if (side == KELVO_PACKET_SIDE ? !findInputFormat(fourcc) : !order)
        return KELVO_REFUSED;
    // The property's new value and the port are made before anything is
    // given up, so that running out of memory changes nothing.
    const KelvoText text = core->calls.makeString(fourcc);
    const KelvoPort made = text ? core->calls.makePort(core->component, side) : nullptr;
    if (!made) {
        if (text)
            core->calls.destroyString(text);
        return KELVO_OUT_OF_MEMORY;
    }
    core->port[side] = made;
    core->code[side] = fourcc;
    if (order)
        core->order = order;
    replaceValue(*core, formatProperty(side), text);
    *port = made;
    return KELVO_ACCEPTED;
}

int32_t kelvoCoreClosePort(KelvoCore* core, int32_t side, KelvoPort port)
{
    if (!validSide(side) || !core->port[side] || port != core->port[side])
        return KELVO_REFUSED;
    const KelvoText empty = core->calls.makeString(nullptr);
    if (!empty)
        return KELVO_OUT_OF_MEMORY;
    closeSide(*core, side);
    replaceValue(*core, formatProperty(side), empty);
    return KELVO_ACCEPTED;
}

int32_t kelvoCoreQuery(const KelvoCore* core, int32_t, uint32_t code)
{
    return code == QRY_READY ? int32_t(core->configured) : 1;
}

int32_t kelvoCoreNotify(KelvoCore* core, int32_t side, uint32_t code, KelvoMessage message)
{
    // The packet port takes every notice, with no effect.
    if (side != KELVO_FRAME_SIDE)
        return 1;
    switch (code) {
    case EVT_SET_SINK:
        setSink(*core, objectOf(*core, message));
        break;
    case EVT_STOP:
        stop(*core);
        break;
    case EVT_SET_ALLOCATOR:
        core->allocator = objectOf(*core, message);
        break;
    default:
        break;
    }
    return 1;
}

int32_t kelvoCoreRequest(const KelvoCore*, int32_t, uint32_t)
{
    return 0;
}

int32_t kelvoCoreDeliver(KelvoCore* core, int32_t side, uint32_t code, KelvoMessage message)
{
    // The frame port takes no delivery.
    if (side != KELVO_PACKET_SIDE)
        return 0;
    if (code == MSG_STREAM_INFO)
        return streamInfo(*core, message);
    if (code == MSG_SAMPLE)
        return sample(*core, objectOf(*core, message));
    return 0;
}
