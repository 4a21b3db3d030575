#include "subdecode/KelvoSubDecode.h"

#include "framework/Identifiers.h"
#include "host/Host.h"

#include <cstring>
#include <memory>

namespace Qor {

namespace {

// Property keys. The map stores these very pointers, which outlive every component.
constexpr char nameKey[] = "Name";
constexpr char typeKey[] = "Type";
constexpr char inputFormatKey[] = "InputFormat";
constexpr char outputFormatKey[] = "OutputFormat";

constexpr const char* inputCodes[] = {"GPHA", "GPHB"};
constexpr const char* outputCodes[] = {"RGBA", "BGRA", "ARGB", "ABGR"};

// The five bytes of a code, terminator included, compared without reading
// past the terminator of `text`: a shorter text differs at its terminator.
bool sameCode(const char* text, const char* code)
{
    for (int i = 0; i < 5; ++i) {
        if (text[i] != code[i])
            return false;
        if (text[i] == 0)
            return true;
    }
    return true;
}

template <size_t N>
const char* acceptedCode(const PortFormat& format, const char* const (&codes)[N])
{
    if (format.kind != 1 || !format.fourcc)
        return nullptr;
    for (const char* code : codes)
        if (sameCode(format.fourcc, code))
            return format.fourcc;
    return nullptr;
}

bool sameKey(const char* key, const char* literal)
{
    return std::strcmp(key, literal) == 0;
}

char upper(char c)
{
    return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

} // namespace

// The port that receives packets from upstream.
class KelvoSubDecode::Input final : public PortInterface {
public:
    explicit Input(KelvoSubDecode* owner) : owner(owner) {}

    bool query(uint32_t code, uint32_t) override { return code != QRY_READY || owner->configured; }
    bool notify(uint32_t, Variant*) override { return true; }
    bool request(uint32_t, uint32_t) override { return false; }
    bool deliver(uint32_t code, Variant* value) override { return owner->deliverToInput(code, value); }

private:
    KelvoSubDecode* owner;
};

// The port that sends frames downstream; it is told the sink, the allocator and stops.
class KelvoSubDecode::Output final : public PortInterface {
public:
    explicit Output(KelvoSubDecode* owner) : owner(owner) {}

    bool query(uint32_t code, uint32_t) override { return code != QRY_READY || owner->configured; }
    bool notify(uint32_t code, Variant* value) override { return owner->notifyOutput(code, value); }
    bool request(uint32_t, uint32_t) override { return false; }
    bool deliver(uint32_t, Variant*) override { return false; }

private:
    KelvoSubDecode* owner;
};

KelvoSubDecode::KelvoSubDecode(Host* host)
    : Plugin(host)
    , sink(nullptr)
    , inputPort(nullptr)
    , outputPort(nullptr)
    , inputFourcc(nullptr)
    , outputFourcc(nullptr)
    , hasAlpha(false)
    , configured(false)
    , displayWidth(0)
    , displayHeight(0)
    , allocator(nullptr)
    , heldBuffer(nullptr)
{
    static const unsigned short name[] = {'K', 'e', 'l', 'v', 'o', ' ', 'S', 'u', 'b', 't', 'i',
        't', 'l', 'e', ' ', 'D', 'e', 'c', 'o', 'd', 'e', 'r', 0};
    // A failure part-way leaves the values made so far to be freed here, as
    // the destructor does not run for a half-built object.
    try {
        Variant& nameValue = properties[nameKey];
        nameValue.type = TypeWString;
        nameValue.value.asWString = new WString(name, StandardAllocator<unsigned short>::instance());
        Variant& typeValue = properties[typeKey];
        typeValue.type = TypeString;
        typeValue.value.asString = new String("Overlay|Decoder|KELVO", StandardAllocator<char>::instance());
        for (const char* key : {inputFormatKey, outputFormatKey}) {
            Variant& format = properties[key];
            format.type = TypeString;
            format.value.asString = new String();
        }
    } catch (...) {
        for (auto& entry : properties) {
            if (entry.second.type == TypeWString)
                delete entry.second.value.asWString;
            else if (entry.second.type == TypeString)
                delete entry.second.value.asString;
        }
        throw;
    }
}

KelvoSubDecode::~KelvoSubDecode()
{
    if (heldBuffer) {
        heldBuffer->dropReference();
        heldBuffer = nullptr;
    }
    mutex.lock();
    closeInputPort(inputPort);
    closeOutputPort(outputPort);
    hasAlpha = false;
    configured = false;
    for (const char* key : {nameKey, typeKey, inputFormatKey, outputFormatKey}) {
        Variant& value = properties[key];
        if (value.type == TypeWString)
            delete value.value.asWString;
        else
            delete value.value.asString;
        value.value.asObject = nullptr;
    }
    allocator = nullptr;
    mutex.unlock();
}

int32_t KelvoSubDecode::queryInterface(const String& identifier, void** result)
{
    *result = nullptr;
    if (identifier.equals(Identifiers::interfaceComponent)) {
        *result = static_cast<ComponentInterface*>(this);
        return InterfaceFound;
    }
    if (identifier.equals(Identifiers::interfaceTransform)) {
        *result = static_cast<TransformInterface*>(this);
        return InterfaceFound;
    }
    if (identifier.equals(Identifiers::componentTransform)) {
        *result = static_cast<TransformComponent*>(this);
        return InterfaceFound;
    }
    return InterfaceNotFound;
}

bool KelvoSubDecode::getPropertyNames(std::vector<const char*>& names)
{
    for (const auto& entry : properties)
        names.push_back(entry.first);
    return true;
}

bool KelvoSubDecode::getProperty(const char* key, Variant* destination)
{
    if (!key || !destination)
        return false;
    const auto entry = properties.find(key);
    if (entry == properties.end())
        return false;
    if (destination->type == TypeFourCC) {
        if (sameKey(key, inputFormatKey)) {
            destination->value.asFourcc = packedFormat(inputFourcc);
            return true;
        }
        if (sameKey(key, outputFormatKey)) {
            destination->value.asFourcc = packedFormat(outputFourcc);
            return true;
        }
    }
    *destination = entry->second;
    return true;
}

uint32_t KelvoSubDecode::packedFormat(const char* code) const
{
    if (!code)
        return 0;
    return packFourcc(upper(code[0]), upper(code[1]), upper(code[2]), upper(code[3]));
}

void KelvoSubDecode::setFormatProperty(const char* key, const char* code)
{
    // Make the new value before giving up the old, so a failed allocation
    // leaves the property as it was.
    String* replacement = code ? new String(code, StandardAllocator<char>::instance()) : new String();
    Variant& value = properties[key];
    delete value.value.asString;
    value.value.asString = replacement;
}

PortInterface* KelvoSubDecode::openInputPort(PortFormat format)
{
    if (inputPort)
        return nullptr;
    const char* code = acceptedCode(format, inputCodes);
    if (!code)
        return nullptr;
    auto port = std::make_unique<Input>(this);
    setFormatProperty(inputFormatKey, code);
    inputFourcc = code;
    inputPort = port.release();
    return inputPort;
}

bool KelvoSubDecode::closeInputPort(PortInterface* port)
{
    if (!inputPort || port != inputPort)
        return false;
    setFormatProperty(inputFormatKey, nullptr);
    delete inputPort;
    inputPort = nullptr;
    inputFourcc = nullptr;
    return true;
}

PortInterface* KelvoSubDecode::openOutputPort(PortFormat format)
{
    if (outputPort)
        return nullptr;
    const char* code = acceptedCode(format, outputCodes);
    if (!code)
        return nullptr;
    auto port = std::make_unique<Output>(this);
    setFormatProperty(outputFormatKey, code);
    outputFourcc = code;
    outputPort = port.release();
    return outputPort;
}

bool KelvoSubDecode::closeOutputPort(PortInterface* port)
{
    if (!outputPort || port != outputPort)
        return false;
    setFormatProperty(outputFormatKey, nullptr);
    delete outputPort;
    outputPort = nullptr;
    outputFourcc = nullptr;
    return true;
}

bool KelvoSubDecode::notifyOutput(uint32_t code, Variant* value)
{
    switch (code) {
    case EVT_SET_SINK:
        sink = value ? static_cast<PortInterface*>(value->value.asObject) : nullptr;
        hasAlpha = inputFourcc && sameCode(inputFourcc, "GPHA");
        configured = true;
        return true;
    case EVT_STOP:
        if (heldBuffer) {
            heldBuffer->dropReference();
            heldBuffer = nullptr;
        }
        hasAlpha = false;
        configured = false;
        return true;
    case EVT_SET_ALLOCATOR:
        allocator = value ? static_cast<BufferAllocator*>(value->value.asObject) : nullptr;
        return true;
    default:
        return true;
    }
}

bool KelvoSubDecode::deliverToInput(uint32_t code, Variant* value)
{
    switch (code) {
    case MSG_STREAM_INFO:
        if (value && value->type == TypeObject && value->value.asObject) {
            const auto* info = static_cast<const StreamInfo*>(value->value.asObject);
            displayWidth = info->width;
            displayHeight = info->height;
        }
        // Forwarded as it came: the very Variant, unchanged.
        return sink ? sink->deliver(MSG_STREAM_INFO, value) : false;
    case MSG_SAMPLE: {
        if (!configured)
            return false;
        if (heldBuffer) {
            heldBuffer->dropReference();
            heldBuffer = nullptr;
        }
        // From here on the sample's reference is ours, whatever the answer.
        heldBuffer = value ? static_cast<MediaBuffer*>(value->value.asObject) : nullptr;
        if (!heldBuffer)
            return false;
        const void* payload = heldBuffer->lock();
        heldBuffer->unlock();
        if (!payload)
            return true;
        return produceFrame();
    }
    default:
        return false;
    }
}

} // namespace Qor
