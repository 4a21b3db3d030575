#include "boundary/native/KelvoSubDecode.h"

#include "boundary/native/Identifiers.h"
#include "boundary/native/NativeHostCalls.h"
#include "host/Host.h"

#include <cstring>
#include <memory>
#include <new>

namespace Qor {

namespace {

// Property keys. The map stores these very pointers, which outlive every component.
constexpr char nameKey[] = "Name";
constexpr char typeKey[] = "Type";
constexpr char inputFormatKey[] = "InputFormat";
constexpr char outputFormatKey[] = "OutputFormat";

bool sameKey(const char* key, const char* literal)
{
    return std::strcmp(key, literal) == 0;
}

} // namespace

// The port that receives packets from upstream.
class KelvoSubDecode::Input final : public PortInterface {
public:
    explicit Input(KelvoSubDecode* owner) : owner(owner) {}

    bool query(uint32_t code, uint32_t) override { return code != QRY_READY || kelvoCoreReady(owner->core); }
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

    bool query(uint32_t code, uint32_t) override { return code != QRY_READY || kelvoCoreReady(owner->core); }
    bool notify(uint32_t code, Variant* value) override { return owner->notifyOutput(code, value); }
    bool request(uint32_t, uint32_t) override { return false; }
    bool deliver(uint32_t, Variant*) override { return false; }

private:
    KelvoSubDecode* owner;
};

KelvoSubDecode::KelvoSubDecode(Host* host)
    : Plugin(host)
    , core(kelvoCoreCreate(&nativeHostCalls))
    , inputPort(nullptr)
    , outputPort(nullptr)
{
    if (!core)
        throw std::bad_alloc();
    static const unsigned short name[] = {'K', 'e', 'l', 'v', 'o', ' ', 'S', 'u', 'b', 't', 'i',
        't', 'l', 'e', ' ', 'D', 'e', 'c', 'o', 'd', 'e', 'r', 0};
    // A failure part-way leaves the values made so far, and the core, to be
    // freed here, as the destructor does not run for a half-built object.
    // Each value is made before its entry is tagged, so an entry holds a
    // value or nothing.
    try {
        auto nameText = std::make_unique<WString>(name, StandardAllocator<unsigned short>::instance());
        Variant& nameValue = properties[nameKey];
        nameValue.type = TypeWString;
        nameValue.value.asWString = nameText.release();
        auto typeText = std::make_unique<String>("Overlay|Decoder|KELVO", StandardAllocator<char>::instance());
        Variant& typeValue = properties[typeKey];
        typeValue.type = TypeString;
        typeValue.value.asString = typeText.release();
        for (const char* key : {inputFormatKey, outputFormatKey}) {
            auto empty = std::make_unique<String>();
            Variant& format = properties[key];
            format.type = TypeString;
            format.value.asString = empty.release();
        }
    } catch (...) {
        freePropertyValues();
        kelvoCoreDestroy(core);
        throw;
    }
}

KelvoSubDecode::~KelvoSubDecode()
{
    kelvoCoreReleaseSample(core);
    mutex.lock();
    // The ports close without the empty format values closePort makes: the
    // values themselves go next.
    kelvoCoreClosePort(core, KELVO_PACKET_SIDE);
    delete inputPort;
    inputPort = nullptr;
    kelvoCoreClosePort(core, KELVO_FRAME_SIDE);
    delete outputPort;
    outputPort = nullptr;
    kelvoCoreStop(core);
    freePropertyValues();
    mutex.unlock();
    kelvoCoreDestroy(core);
}

void KelvoSubDecode::freePropertyValues() noexcept
{
    for (auto& entry : properties) {
        Variant& value = entry.second;
        if (value.type == TypeWString)
            delete value.value.asWString;
        else if (value.type == TypeString)
            delete value.value.asString;
        value.value.asObject = nullptr;
    }
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
            destination->value.asFourcc = kelvoCorePackedFormat(core, KELVO_PACKET_SIDE);
            return true;
        }
        if (sameKey(key, outputFormatKey)) {
            destination->value.asFourcc = kelvoCorePackedFormat(core, KELVO_FRAME_SIDE);
            return true;
        }
    }
    *destination = entry->second;
    return true;
}

void KelvoSubDecode::setFormatProperty(const char* key, const char* code)
{
    // Make the new value before giving up the old, so a failed allocation
    // leaves the property as it was.
    auto replacement = code ? std::make_unique<String>(code, StandardAllocator<char>::instance())
                            : std::make_unique<String>();
    Variant& value = properties.find(key)->second;
    delete value.value.asString;
    value.value.asString = replacement.release();
}

template <typename PortClass>
PortInterface* KelvoSubDecode::openSide(int32_t side, const char* key, PortClass*& port, PortFormat format)
{
    if (port || kelvoCoreOpenPort(core, side, format.kind, format.fourcc) != KELVO_ACCEPTED)
        return nullptr;
    try {
        auto made = std::make_unique<PortClass>(this);
        setFormatProperty(key, format.fourcc);
        port = made.release();
    } catch (...) {
        kelvoCoreClosePort(core, side);
        throw;
    }
    return port;
}

template <typename PortClass>
bool KelvoSubDecode::closeSide(int32_t side, const char* key, PortClass*& port, PortInterface* given)
{
    if (!port || given != port)
        return false;
    setFormatProperty(key, nullptr);
    kelvoCoreClosePort(core, side);
    delete port;
    port = nullptr;
    return true;
}

// The pairing is crosswise: OutputInterface manages the packet side's port.
PortInterface* KelvoSubDecode::openInputPort(PortFormat format)
{
    return openSide(KELVO_PACKET_SIDE, inputFormatKey, inputPort, format);
}

bool KelvoSubDecode::closeInputPort(PortInterface* port)
{
    return closeSide(KELVO_PACKET_SIDE, inputFormatKey, inputPort, port);
}

PortInterface* KelvoSubDecode::openOutputPort(PortFormat format)
{
    return openSide(KELVO_FRAME_SIDE, outputFormatKey, outputPort, format);
}

bool KelvoSubDecode::closeOutputPort(PortInterface* port)
{
    return closeSide(KELVO_FRAME_SIDE, outputFormatKey, outputPort, port);
}

bool KelvoSubDecode::notifyOutput(uint32_t code, Variant* value)
{
    void* const object = value ? value->value.asObject : nullptr;
    switch (code) {
    case EVT_SET_SINK:
        kelvoCoreSetSink(core, object);
        return true;
    case EVT_STOP:
        kelvoCoreStop(core);
        return true;
    case EVT_SET_ALLOCATOR:
        kelvoCoreSetAllocator(core, object);
        return true;
    default:
        return true;
    }
}

bool KelvoSubDecode::deliverToInput(uint32_t code, Variant* value)
{
    switch (code) {
    case MSG_STREAM_INFO: {
        const StreamInfo* info = value && value->type == TypeObject
            ? static_cast<const StreamInfo*>(value->value.asObject) : nullptr;
        return kelvoCoreStreamInfo(core, info != nullptr, info ? info->width : 0, info ? info->height : 0, value) != 0;
    }
    case MSG_SAMPLE:
        return nativeAnswer(kelvoCoreSample(core, value ? value->value.asObject : nullptr));
    default:
        return false;
    }
}

} // namespace Qor
