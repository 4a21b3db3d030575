// The decoder component as hosts built with Microsoft's C++ compiler call
// it, and the entry point that makes one. The classes here are the
// contract's (Contract.h) laid out by the compiler for that ABI; everything
// the component does is the core's, reached through the plain C seam. The
// core reaches the host's objects back through the calls below. No C++ type
// and no exception crosses between the two: where the core runs out of
// memory the host gets a refusal.
#include "boundary/msvc/Contract.h"
#include "boundary/msvc/Runtime.h"
#include "subdecode/KelvoCore.h"

namespace Qor {

namespace {

using Msvc::heapAllocate;
using Msvc::heapFree;

enum : int32_t {
    InterfaceFound = 0,
    InterfaceNotFound = 3,
};

// Property keys, listed in byte-wise order: the order of getPropertyNames.
constexpr char inputFormatKey[] = "InputFormat";
constexpr char nameKey[] = "Name";
constexpr char outputFormatKey[] = "OutputFormat";
constexpr char typeKey[] = "Type";
constexpr const char* propertyKeys[] = {inputFormatKey, nameKey, outputFormatKey, typeKey};

constexpr unsigned short nameText[] = {'K', 'e', 'l', 'v', 'o', ' ', 'S', 'u', 'b', 't', 'i', 't', 'l', 'e',
    ' ', 'D', 'e', 'c', 'o', 'd', 'e', 'r', 0};
constexpr char typeText[] = "Overlay|Decoder|KELVO";

// NUL-terminated texts compared byte by byte.
bool sameText(const char* a, const char* b)
{
    while (*a && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

// String::equals against a literal: the text up to its first zero, a
// String with no storage being the empty text.
bool equals(const String& string, const char* literal)
{
    return sameText(string.data ? string.data : "", literal);
}

// The framework's allocators, one process-wide instance each, over the
// process heap. They can only refuse, never throw.
template <typename T>
class HeapUnitAllocator final : public StandardAllocator<T> {
public:
    constexpr HeapUnitAllocator() = default;
    T* allocate(uint32_t count) override
    {
        if (count > SIZE_MAX / sizeof(T))
            return nullptr;
        return static_cast<T*>(heapAllocate(size_t(count) * sizeof(T)));
    }
    void deallocate(T* pointer) override { heapFree(pointer); }
};

// Constant-initialised and never destroyed: no code runs at load or unload.
[[clang::no_destroy]] HeapUnitAllocator<char> charAllocator;
[[clang::no_destroy]] HeapUnitAllocator<unsigned short> wideAllocator;

// A heap object, or null when the heap has none.
template <typename T, typename... Arguments>
T* make(Arguments... arguments)
{
    void* memory = heapAllocate(sizeof(T));
    return memory ? new (memory) T(arguments...) : nullptr;
}

// A String or WString of its own on the heap, holding a copy of `text`
// (no storage for null); null when out of memory, with nothing left behind.
template <typename Unit>
BasicString<Unit>* makeString(const Unit* text, StandardAllocator<Unit>* unitAllocator)
{
    auto* string = make<BasicString<Unit>>();
    if (!string)
        return nullptr;
    *string = BasicString<Unit>{nullptr, 0, unitAllocator};
    if (!text)
        return string;
    uint32_t length = 0;
    while (text[length])
        ++length;
    string->data = unitAllocator->allocate(length + 1);
    if (!string->data) {
        heapFree(string);
        return nullptr;
    }
    for (uint32_t i = 0; i <= length; ++i)
        string->data[i] = text[i];
    string->length = length;
    return string;
}

// Gives the text back to its allocator and frees the object; null does nothing.
template <typename Unit>
void destroyString(BasicString<Unit>* string)
{
    if (!string)
        return;
    if (string->data)
        string->unitAllocator->deallocate(string->data);
    heapFree(string);
}

// The host calls the core makes, each one call or field access on a host
// object of this ABI.
MediaBuffer* buffer(KelvoBuffer handle)
{
    return static_cast<MediaBuffer*>(handle);
}

void* lockBuffer(KelvoBuffer handle)
{
    return buffer(handle)->lock();
}

void unlockBuffer(KelvoBuffer handle)
{
    buffer(handle)->unlock();
}

void dropBuffer(KelvoBuffer handle)
{
    buffer(handle)->dropReference();
}

int32_t bufferSize(KelvoBuffer handle)
{
    return buffer(handle)->size;
}

void setBufferSize(KelvoBuffer handle, int32_t size)
{
    buffer(handle)->size = size;
}

int32_t bufferStride(KelvoBuffer handle)
{
    return buffer(handle)->stride;
}

void bufferTiming(KelvoBuffer handle, uint32_t timing[2])
{
    timing[0] = buffer(handle)->timing[0];
    timing[1] = buffer(handle)->timing[1];
}

void setBufferTiming(KelvoBuffer handle, const uint32_t timing[2])
{
    buffer(handle)->timing[0] = timing[0];
    buffer(handle)->timing[1] = timing[1];
}

void setBufferRectangle(KelvoBuffer handle, double left, double top, double right, double bottom)
{
    MediaBuffer* frame = buffer(handle);
    frame->left = left;
    frame->top = top;
    frame->right = right;
    frame->bottom = bottom;
}

void configureAllocator(KelvoAllocator allocator, int32_t bitsPerPixel)
{
    static_cast<BufferAllocator*>(allocator)->configure(bitsPerPixel);
}

KelvoBuffer allocateBuffer(KelvoAllocator allocator, int32_t width, int32_t height, int32_t count)
{
    return static_cast<BufferAllocator*>(allocator)->allocate(width, height, count);
}

int32_t deliverFrame(KelvoSink sink, KelvoBuffer frame)
{
    Variant message{};
    message.type = TypeObject;
    message.value.asObject = frame;
    return static_cast<PortInterface*>(sink)->deliver(MSG_SAMPLE, &message) ? 1 : 0;
}

int32_t forwardStreamInfo(KelvoSink sink, KelvoMessage message)
{
    return static_cast<PortInterface*>(sink)->deliver(MSG_STREAM_INFO, static_cast<Variant*>(message)) ? 1 : 0;
}

constexpr KelvoHostCalls hostCalls = {lockBuffer, unlockBuffer, dropBuffer, bufferSize, setBufferSize,
    bufferStride, bufferTiming, setBufferTiming, setBufferRectangle, configureAllocator, allocateBuffer,
    deliverFrame, forwardStreamInfo};

void* objectOf(const Variant* value)
{
    return value ? value->value.asObject : nullptr;
}

} // namespace

int32_t Plugin::addReference()
{
    return ++references;
}

int32_t Plugin::dropReference()
{
    const int32_t count = --references;
    if (count != 0)
        return count;
    // The host is told with this very pointer before and after; after, it
    // serves only as an identity.
    Host* host = hostObject;
    Plugin* self = this;
    if (host)
        host->willDestroyPlugin(self);
    delete this;
    if (host)
        host->didDestroyPlugin(self);
    return 0;
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

// Plugin first, so that the component and its Plugin share one address.
class KelvoSubDecode final : public Plugin, public TransformComponent {
public:
    class Input;
    class Output;

    explicit KelvoSubDecode(Host* host) : Plugin(host) {}
    ~KelvoSubDecode() override;

    // Makes the core and the four property values; false when out of
    // memory, and the destructor then frees what was made.
    bool initialise();

    // Answers the component, transform-component and transform interfaces.
    int32_t queryInterface(const String& identifier, void** result) override;
    // Appends "InputFormat", "Name", "OutputFormat", "Type" to the host's
    // vector and answers true; false, with the vector as it was, when its
    // storage cannot grow.
    bool getPropertyNames(NameVector& names) override;
    // With TypeFourCC preset, a format property answers its port's code
    // packed into asFourcc (0 while the port is closed). Any other preset,
    // or any other key, gets the stored value. A null or unknown key, or a
    // null destination, answers false and writes nothing.
    bool getProperty(const char* key, Variant* destination) override;

protected:
    // Through InputInterface: the port that sends frames, for "RGBA",
    // "BGRA", "ARGB" or "ABGR". Null, changing nothing, when that port is
    // open, `kind` is not 1, the code is another, or memory is short.
    PortInterface* openFramePort(PortFormat format) override;
    // Through InputInterface: false, changing nothing, unless `port` is the open frame port.
    bool closeFramePort(PortInterface* port) override;
    // Through OutputInterface: the port that receives packets, for "GPHA" or "GPHB"; refusals likewise.
    PortInterface* openPacketPort(PortFormat format) override;
    // Through OutputInterface: false, changing nothing, unless `port` is the open packet port.
    bool closePacketPort(PortInterface* port) override;

private:
    friend class Input;
    friend class Output;

    PortInterface* openSide(int32_t side, const PortFormat& format);
    bool closeSide(int32_t side, PortInterface* port);
    PortInterface*& portOf(int32_t side) { return side == KELVO_PACKET_SIDE ? inputPort : outputPort; }
    String*& formatOf(int32_t side) { return side == KELVO_PACKET_SIDE ? inputFormat : outputFormat; }

    KelvoCore* core = nullptr;
    PortInterface* inputPort = nullptr;   // receives packets
    PortInterface* outputPort = nullptr;  // sends frames
    WString* name = nullptr;
    String* type = nullptr;
    String* inputFormat = nullptr;
    String* outputFormat = nullptr;
};

// The port that receives packets from upstream.
class KelvoSubDecode::Input final : public PortInterface {
public:
    explicit Input(KelvoSubDecode* owner) : owner(owner) {}

    bool query(uint32_t code, uint32_t) override { return code != QRY_READY || kelvoCoreReady(owner->core); }
    bool notify(uint32_t, Variant*) override { return true; }
    bool request(uint32_t, uint32_t) override { return false; }
    bool deliver(uint32_t code, Variant* value) override
    {
        if (code == MSG_STREAM_INFO) {
            const auto* info = value && value->type == TypeObject ? static_cast<StreamInfo*>(value->value.asObject)
                                                                  : nullptr;
            return kelvoCoreStreamInfo(owner->core, info != nullptr, info ? info->width : 0,
                       info ? info->height : 0, value)
                == KELVO_ACCEPTED;
        }
        if (code == MSG_SAMPLE)
            // KELVO_OUT_OF_MEMORY is a refusal here: the sample stays held
            // and no frame is left behind, as after a downstream refusal.
            return kelvoCoreSample(owner->core, objectOf(value)) == KELVO_ACCEPTED;
        return false;
    }

private:
    KelvoSubDecode* owner;
};

// The port that sends frames downstream; it is told the sink, the allocator and stops.
class KelvoSubDecode::Output final : public PortInterface {
public:
    explicit Output(KelvoSubDecode* owner) : owner(owner) {}

    bool query(uint32_t code, uint32_t) override { return code != QRY_READY || kelvoCoreReady(owner->core); }
    bool notify(uint32_t code, Variant* value) override
    {
        if (code == EVT_SET_SINK)
            kelvoCoreSetSink(owner->core, objectOf(value));
        else if (code == EVT_STOP)
            kelvoCoreStop(owner->core);
        else if (code == EVT_SET_ALLOCATOR)
            kelvoCoreSetAllocator(owner->core, objectOf(value));
        return true;
    }
    bool request(uint32_t, uint32_t) override { return false; }
    bool deliver(uint32_t, Variant*) override { return false; }

private:
    KelvoSubDecode* owner;
};

bool KelvoSubDecode::initialise()
{
    core = kelvoCoreCreate(&hostCalls);
    name = makeString<unsigned short>(nameText, &wideAllocator);
    type = makeString<char>(typeText, &charAllocator);
    inputFormat = makeString<char>(nullptr, &charAllocator);
    outputFormat = makeString<char>(nullptr, &charAllocator);
    return core && name && type && inputFormat && outputFormat;
}

KelvoSubDecode::~KelvoSubDecode()
{
    // The held sample goes first, before any port closes.
    if (core)
        kelvoCoreReleaseSample(core);
    closeSide(KELVO_PACKET_SIDE, inputPort);
    closeSide(KELVO_FRAME_SIDE, outputPort);
    destroyString(name);
    destroyString(type);
    destroyString(inputFormat);
    destroyString(outputFormat);
    kelvoCoreDestroy(core);
}

int32_t KelvoSubDecode::queryInterface(const String& identifier, void** result)
{
    *result = nullptr;
    if (equals(identifier, "com.kelvo.vandrel.interface.component")) {
        *result = static_cast<ComponentInterface*>(this);
        return InterfaceFound;
    }
    if (equals(identifier, "com.kelvo.vandrel.interface.transform")) {
        *result = static_cast<TransformInterface*>(this);
        return InterfaceFound;
    }
    if (equals(identifier, "com.kelvo.vandrel.component.transform")) {
        *result = static_cast<TransformComponent*>(this);
        return InterfaceFound;
    }
    return InterfaceNotFound;
}

bool KelvoSubDecode::getPropertyNames(NameVector& names)
{
    return Msvc::appendToHostVector(names, propertyKeys, sizeof propertyKeys / sizeof propertyKeys[0]);
}

bool KelvoSubDecode::getProperty(const char* key, Variant* destination)
{
    if (!key || !destination)
        return false;
    const bool input = sameText(key, inputFormatKey);
    const bool output = sameText(key, outputFormatKey);
    if (destination->type == TypeFourCC && (input || output)) {
        destination->value.asFourcc = kelvoCorePackedFormat(core, input ? KELVO_PACKET_SIDE : KELVO_FRAME_SIDE);
        return true;
    }
    Variant stored{};
    if (input || output) {
        stored.type = TypeString;
        stored.value.asString = input ? inputFormat : outputFormat;
    } else if (sameText(key, typeKey)) {
        stored.type = TypeString;
        stored.value.asString = type;
    } else if (sameText(key, nameKey)) {
        stored.type = TypeWString;
        stored.value.asWString = name;
    } else {
        return false;
    }
    *destination = stored;
    return true;
}

PortInterface* KelvoSubDecode::openFramePort(PortFormat format)
{
    return openSide(KELVO_FRAME_SIDE, format);
}

bool KelvoSubDecode::closeFramePort(PortInterface* port)
{
    return closeSide(KELVO_FRAME_SIDE, port);
}

PortInterface* KelvoSubDecode::openPacketPort(PortFormat format)
{
    return openSide(KELVO_PACKET_SIDE, format);
}

bool KelvoSubDecode::closePacketPort(PortInterface* port)
{
    return closeSide(KELVO_PACKET_SIDE, port);
}

PortInterface* KelvoSubDecode::openSide(int32_t side, const PortFormat& format)
{
    PortInterface*& port = portOf(side);
    if (port || !format.fourcc)
        return nullptr;
    if (kelvoCoreOpenPort(core, side, format.kind, format.fourcc) != KELVO_ACCEPTED)
        return nullptr;
    // The core accepted exactly four characters and a terminator. The
    // property's new text and the port are made before anything is given
    // up, so that running out of memory undoes the opening and changes nothing.
    char* text = charAllocator.allocate(5);
    PortInterface* opened = nullptr;
    if (text)
        opened = side == KELVO_PACKET_SIDE ? static_cast<PortInterface*>(make<Input>(this)) : make<Output>(this);
    if (!opened) {
        charAllocator.deallocate(text);
        kelvoCoreClosePort(core, side);
        return nullptr;
    }
    for (int i = 0; i < 5; ++i)
        text[i] = format.fourcc[i];
    String* property = formatOf(side);
    if (property->data)
        property->unitAllocator->deallocate(property->data);
    *property = String{text, 4, &charAllocator};
    port = opened;
    return opened;
}

bool KelvoSubDecode::closeSide(int32_t side, PortInterface* port)
{
    PortInterface*& open = portOf(side);
    if (!open || port != open)
        return false;
    kelvoCoreClosePort(core, side);
    delete open;
    open = nullptr;
    String* property = formatOf(side);
    if (property->data)
        property->unitAllocator->deallocate(property->data);
    *property = String{nullptr, 0, &charAllocator};
    return true;
}

} // namespace Qor

// The library's one export: a new component with one reference, which
// passes to the host. Always 0; *out is null when nothing could be made.
extern "C" int32_t getPlugin(Qor::Host* host, Qor::Plugin** out)
{
    *out = nullptr;
    auto* component = Qor::make<Qor::KelvoSubDecode>(host);
    if (!component)
        return 0;
    if (!component->initialise()) {
        delete component;
        return 0;
    }
    *out = component;
    return 0;
}

#include "boundary/msvc/Layout.h"
