#include "tests/support/SeamCalls.h"

#include "framework/Variant.h"

#include <cstdlib>

namespace Qor::Testing {

namespace {

SeamCalls* current = nullptr;

SeamCalls& recorder()
{
    if (!current)
        std::abort();
    return *current;
}

StandInBuffer& buffer(KelvoBuffer handle)
{
    return *static_cast<StandInBuffer*>(static_cast<MediaBuffer*>(handle));
}

const char* sideName(int32_t side)
{
    return side == KELVO_PACKET_SIDE ? "packet" : side == KELVO_FRAME_SIDE ? "frame" : "no side";
}

template <typename Unit>
KelvoText makeText(const Unit* text, bool wide)
{
    SeamCalls& calls = recorder();
    auto* string = new SeamString{{}, wide, text != nullptr};
    for (const Unit* unit = text; unit && *unit; ++unit)
        string->text.push_back(char16_t(*unit));
    calls.record(std::string(wide ? "makeWideString(" : "makeString(") + string->narrow() + ")");
    if (calls.stringsBeforeRefusal == 0) {
        delete string;
        return nullptr;
    }
    if (calls.stringsBeforeRefusal > 0)
        --calls.stringsBeforeRefusal;
    ++calls.strings;
    return string;
}

void destroyText(KelvoText text, bool wide)
{
    SeamCalls& calls = recorder();
    auto* string = static_cast<SeamString*>(text);
    calls.record(std::string(wide ? "destroyWideString(" : "destroyString(") + string->narrow() + ")");
    if (string->wide != wide)
        calls.record("the wrong kind of string destroyed");
    --calls.strings;
    delete string;
}

} // namespace

SeamCalls::SeamCalls(CallLog* log) : log(log)
{
    if (current)
        std::abort();
    current = this;
}

SeamCalls::~SeamCalls()
{
    current = nullptr;
}

// Captureless lambdas: the table is plain function pointers, as a
// boundary's is.
const KelvoCalls SeamCalls::table = {
    [](KelvoHost host, KelvoComponent plugin) {
        static_cast<Host*>(host)->willDestroyPlugin(static_cast<Plugin*>(plugin));
    },
    [](KelvoHost host, KelvoComponent plugin) {
        static_cast<Host*>(host)->didDestroyPlugin(static_cast<Plugin*>(plugin));
    },
    [](KelvoBuffer b) { return buffer(b).lock(); },
    [](KelvoBuffer b) { buffer(b).unlock(); },
    [](KelvoBuffer b) { buffer(b).dropReference(); },
    [](KelvoBuffer b) { return buffer(b).size; },
    [](KelvoBuffer b, int32_t size) { buffer(b).size = size; },
    [](KelvoBuffer b) { return buffer(b).stride; },
    [](KelvoBuffer from, KelvoBuffer to) {
        for (int i = 0; i < 2; ++i)
            buffer(to).timing[i] = buffer(from).timing[i];
    },
    [](KelvoBuffer b, double left, double top, double right, double bottom) {
        buffer(b).left = left;
        buffer(b).top = top;
        buffer(b).right = right;
        buffer(b).bottom = bottom;
    },
    [](KelvoAllocator allocator, int32_t bits) { static_cast<BufferAllocator*>(allocator)->configure(bits); },
    [](KelvoAllocator allocator, int32_t width, int32_t height, int32_t count) -> KelvoBuffer {
        return static_cast<BufferAllocator*>(allocator)->allocate(width, height, count);
    },
    [](KelvoSink sink, KelvoBuffer frame) -> int32_t {
        Variant message = objectVariant(frame);
        return static_cast<PortInterface*>(sink)->deliver(MSG_SAMPLE, &message);
    },
    [](KelvoSink sink, KelvoMessage message) -> int32_t {
        return static_cast<PortInterface*>(sink)->deliver(MSG_STREAM_INFO, static_cast<Variant*>(message));
    },
    [](KelvoMessage message) -> int32_t { return static_cast<const Variant*>(message)->type; },
    [](KelvoMessage message) { return static_cast<const Variant*>(message)->value.asObject; },
    [](KelvoObject info, int32_t* width, int32_t* height) {
        *width = static_cast<const StreamInfo*>(info)->width;
        *height = static_cast<const StreamInfo*>(info)->height;
    },
    [](KelvoHost, KelvoComponent* made) -> int32_t {
        SeamCalls& calls = recorder();
        calls.record("makeComponent");
        *made = nullptr;
        if (calls.refuseComponents)
            return KELVO_REFUSED;
        auto* component = new SeamComponent;
        component->core = kelvoCoreCreate(&SeamCalls::table, component);
        if (!component->core) {
            delete component;
            return KELVO_OUT_OF_MEMORY;
        }
        ++calls.components;
        *made = component;
        return KELVO_ACCEPTED;
    },
    [](KelvoPluginSlot slot, KelvoComponent component) {
        recorder().record(component ? "handOver" : "handOver(null)");
        *static_cast<KelvoComponent*>(slot) = component;
    },
    [](KelvoComponent component) {
        SeamCalls& calls = recorder();
        calls.record("destroyComponent");
        auto* made = static_cast<SeamComponent*>(component);
        kelvoCoreDestroy(made->core);
        --calls.components;
        delete made;
    },
    [](KelvoComponent, int32_t side) -> KelvoPort {
        SeamCalls& calls = recorder();
        calls.record(std::string("makePort(") + sideName(side) + ")");
        if (calls.refusePorts)
            return nullptr;
        ++calls.ports;
        return new SeamPort{side};
    },
    [](KelvoPort port) {
        SeamCalls& calls = recorder();
        auto* made = static_cast<SeamPort*>(port);
        calls.record(std::string("destroyPort(") + sideName(made->side) + ")");
        --calls.ports;
        delete made;
    },
    [](const char* text) { return makeText(text, false); },
    [](const uint16_t* text) { return makeText(text, true); },
    [](KelvoText text) { destroyText(text, false); },
    [](KelvoText text) { destroyText(text, true); },
};

} // namespace Qor::Testing
