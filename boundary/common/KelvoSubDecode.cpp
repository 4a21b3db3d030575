// The component's classes, Plugin and the entry point over the core, and
// the calls through which the core reaches the host's objects and this
// boundary's own: each one call or field access on an object of the ABI
// this unit is compiled for.
#include "boundary/common/KelvoSubDecode.h"

#include "boundary/common/Translation.h"
#include "framework/GetPlugin.h"
#include "host/Host.h"

namespace Qor {

namespace {

MediaBuffer* buffer(KelvoBuffer handle)
{
    return static_cast<MediaBuffer*>(handle);
}

void willDestroyPlugin(KelvoHost host, KelvoComponent plugin)
{
    static_cast<Host*>(host)->willDestroyPlugin(static_cast<Plugin*>(plugin));
}

void didDestroyPlugin(KelvoHost host, KelvoComponent plugin)
{
    static_cast<Host*>(host)->didDestroyPlugin(static_cast<Plugin*>(plugin));
}

void* lock(KelvoBuffer handle)
{
    return buffer(handle)->lock();
}

void unlock(KelvoBuffer handle)
{
    buffer(handle)->unlock();
}

void dropReference(KelvoBuffer handle)
{
    buffer(handle)->dropReference();
}

int32_t size(KelvoBuffer handle)
{
    return buffer(handle)->size;
}

void setSize(KelvoBuffer handle, int32_t size)
{
    buffer(handle)->size = size;
}

int32_t stride(KelvoBuffer handle)
{
    return buffer(handle)->stride;
}

void copyTiming(KelvoBuffer from, KelvoBuffer to)
{
    buffer(to)->timing[0] = buffer(from)->timing[0];
    buffer(to)->timing[1] = buffer(from)->timing[1];
}

void setRectangle(KelvoBuffer handle, double left, double top, double right, double bottom)
{
    MediaBuffer* frame = buffer(handle);
    frame->left = left;
    frame->top = top;
    frame->right = right;
    frame->bottom = bottom;
}

void configure(KelvoAllocator allocator, int32_t bitsPerPixel)
{
    static_cast<BufferAllocator*>(allocator)->configure(bitsPerPixel);
}

KelvoBuffer allocate(KelvoAllocator allocator, int32_t width, int32_t height, int32_t count)
{
    return static_cast<BufferAllocator*>(allocator)->allocate(width, height, count);
}

int32_t deliverFrame(KelvoSink sink, KelvoBuffer frame)
{
    Variant message = objectVariant(frame);
    return static_cast<PortInterface*>(sink)->deliver(MSG_SAMPLE, &message) ? 1 : 0;
}

int32_t forwardStreamInfo(KelvoSink sink, KelvoMessage message)
{
    return static_cast<PortInterface*>(sink)->deliver(MSG_STREAM_INFO, static_cast<Variant*>(message)) ? 1 : 0;
}

int32_t messageType(KelvoMessage message)
{
    return static_cast<const Variant*>(message)->type;
}

KelvoObject messageObject(KelvoMessage message)
{
    return static_cast<const Variant*>(message)->value.asObject;
}

void streamInfoSize(KelvoObject info, int32_t* width, int32_t* height)
{
    *width = static_cast<const StreamInfo*>(info)->width;
    *height = static_cast<const StreamInfo*>(info)->height;
}

int32_t makeComponent(KelvoHost host, KelvoComponent* made);

void handOver(KelvoPluginSlot slot, KelvoComponent component)
{
    *static_cast<Plugin**>(slot) = static_cast<Plugin*>(component);
}

void destroyComponent(KelvoComponent component)
{
    delete static_cast<Plugin*>(component);
}

KelvoPort makePort(KelvoComponent owner, int32_t side)
{
    return Translation::makePort(static_cast<KelvoSubDecode*>(static_cast<Plugin*>(owner)), side);
}

void destroyPort(KelvoPort port)
{
    delete static_cast<PortInterface*>(port);
}

KelvoText makeString(const char* text)
{
    return Translation::makeString(text);
}

KelvoText makeWideString(const uint16_t* text)
{
    return Translation::makeWideString(text);
}

void destroyString(KelvoText string)
{
    delete static_cast<String*>(string);
}

void destroyWideString(KelvoText string)
{
    delete static_cast<WString*>(string);
}

const KelvoCalls calls = {willDestroyPlugin, didDestroyPlugin, lock, unlock, dropReference, size, setSize,
    stride, copyTiming, setRectangle, configure, allocate, deliverFrame, forwardStreamInfo, messageType,
    messageObject, streamInfoSize, makeComponent, handOver, destroyComponent, makePort, destroyPort, makeString,
    makeWideString, destroyString, destroyWideString};

int32_t makeComponent(KelvoHost host, KelvoComponent* made)
{
    *made = nullptr;
    KelvoSubDecode* component = Translation::makeComponent(static_cast<Host*>(host));
    if (!component)
        return KELVO_REFUSED;
    component->core = kelvoCoreCreate(&calls, static_cast<Plugin*>(component));
    if (!component->core) {
        delete component;
        return KELVO_OUT_OF_MEMORY;
    }
    *made = static_cast<Plugin*>(component);
    return KELVO_ACCEPTED;
}

} // namespace

Plugin::Plugin(Host* host) noexcept : references(1), hostObject(host), auxiliary(0) {}

Plugin::~Plugin() {}

int32_t Plugin::addReference()
{
    return ++references;
}

int32_t Plugin::dropReference()
{
    const int32_t count = --references;
    if (count == 0)
        kelvoCoreRelease(&calls, hostObject, this);
    return count;
}

int32_t Plugin::referenceCount()
{
    return references;
}

int32_t Plugin::auxiliaryValue()
{
    return auxiliary;
}

Host* Plugin::getHost()
{
    return hostObject;
}

KelvoSubDecode::~KelvoSubDecode()
{
    kelvoCoreDestroy(core);
}

int32_t KelvoSubDecode::queryInterface(const String& identifier, void** result)
{
    int32_t face = KELVO_FACE_NONE;
    const int32_t answer = kelvoCoreQueryInterface(identifier.data, &face);
    switch (face) {
    case KELVO_FACE_COMPONENT:
        *result = static_cast<ComponentInterface*>(this);
        break;
    case KELVO_FACE_TRANSFORM:
        *result = static_cast<TransformInterface*>(this);
        break;
    case KELVO_FACE_TRANSFORM_COMPONENT:
        *result = static_cast<TransformComponent*>(this);
        break;
    default:
        *result = nullptr;
        break;
    }
    return answer;
}

bool KelvoSubDecode::getPropertyNames(NameVector& names)
{
    int32_t count = 0;
    const char* const* keys = kelvoCorePropertyNames(&count);
    return Translation::appendNames(names, keys, count);
}

bool KelvoSubDecode::getProperty(const char* key, Variant* destination)
{
    KelvoProperty property{};
    switch (kelvoCoreGetProperty(core, key, destination ? int32_t(destination->type) : int32_t(KELVO_NO_DESTINATION), &property)) {
    case KELVO_PACKED:
        destination->value.asFourcc = property.packed;
        return true;
    case KELVO_STORED: {
        Variant stored{};
        stored.type = uint8_t(property.type);
        if (property.type == TypeWString)
            stored.value.asWString = static_cast<WString*>(property.text);
        else
            stored.value.asString = static_cast<String*>(property.text);
        *destination = stored;
        return true;
    }
    default:
        return false;
    }
}

PortInterface* KelvoSubDecode::openSide(int32_t side, PortFormat format)
{
    KelvoPort port = nullptr;
    const int32_t result = kelvoCoreOpenPort(core, side, format.kind, format.fourcc, &port);
    return Translation::accepted(result) ? static_cast<PortInterface*>(port) : nullptr;
}

bool KelvoSubDecode::closeSide(int32_t side, PortInterface* port)
{
    return Translation::accepted(kelvoCoreClosePort(core, side, port));
}

PortInterface* KelvoSubDecode::open(FramePort, PortFormat format)
{
    return openSide(KELVO_FRAME_SIDE, format);
}

bool KelvoSubDecode::close(FramePort, PortInterface* port)
{
    return closeSide(KELVO_FRAME_SIDE, port);
}

PortInterface* KelvoSubDecode::open(PacketPort, PortFormat format)
{
    return openSide(KELVO_PACKET_SIDE, format);
}

bool KelvoSubDecode::close(PacketPort, PortInterface* port)
{
    return closeSide(KELVO_PACKET_SIDE, port);
}

} // namespace Qor

// The library's one export.
int32_t getPlugin(Qor::Host* host, Qor::Plugin** out)
{
    Qor::Translation::accepted(kelvoCoreGetPlugin(&Qor::calls, host, out));
    return 0;
}
