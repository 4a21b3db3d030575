// fuzz_packet: arbitrary bytes as a subtitle packet, delivered up to four
// times to a component that a host connects, feeds and releases through its
// ports, with the session's settings drawn from the first bytes (FuzzCases.h).
// The run aborts when an ownership rule breaks (a reference not balanced, a
// buffer used after its release, a sample not held or not let go when it
// should be), when a frame is not what the packet allows, when a packet that
// can make a frame makes none, or when the host is not told twice of the end.
#include "framework/ComponentInterface.h"
#include "framework/GetPlugin.h"
#include "fuzz/FuzzCases.h"
#include "tests/support/FrameColours.h"
#include "tests/support/HostStandIns.h"
#include "tests/support/Identifiers.h"
#include "tests/support/ProtocolModel.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using namespace Qor;
using namespace Qor::Testing;
using Fuzzing::SessionCase;

constexpr const char* outputCodes[] = {"RGBA", "BGRA", "ARGB", "ABGR"};
// Larger frames are refused, as by a host short of memory, to keep runs quick.
constexpr int64_t frameByteLimit = int64_t(1) << 18;

void require(bool holds, const char* what)
{
    if (holds)
        return;
    std::fprintf(stderr, "fuzz_packet: %s\n", what);
    std::abort();
}

void requireNoBreach(const Breaches& breaches)
{
    if (breaches.empty())
        return;
    for (const char* note : breaches.notes)
        std::fprintf(stderr, "fuzz_packet: %s\n", note);
    std::abort();
}

// A frame as the packet `packet` (whole header present) allows it: what the
// protocol model checks, and a rectangle whose inclusive right and bottom
// edges lie inside the canvas.
void checkFrame(const StandInBuffer& frame, const uint8_t* packet, bool withAlpha, const char* order,
    const StandInBuffer& source)
{
    const char* fault = frameFault(frame, packet, withAlpha, order, source);
    require(!fault, fault);
    require(std::isfinite(frame.left) && std::isfinite(frame.top) && frame.left >= 0 && frame.top >= 0,
        "rectangle origin not a fraction");
    require(frame.right >= 0 && frame.right < 1 && frame.bottom >= 0 && frame.bottom < 1,
        "rectangle edge outside the canvas");
}

void runSession(const SessionCase& c, const uint8_t* packet, size_t packetSize)
{
    Breaches breaches;
    BufferPool store(Witness{nullptr, &breaches});
    store.freesPayloads = true;
    StandInHost host(Witness{nullptr, &breaches});
    StandInAllocator allocator(store);
    StandInSink sink(Witness{nullptr, &breaches}, &store);
    allocator.refuse = c.allocatorRefuses;
    allocator.nullPayload = c.framesWithoutPayload;
    allocator.stridePadding = c.narrowStride ? -1 - c.stridePadding : c.stridePadding;
    allocator.byteLimit = frameByteLimit;
    sink.streamInfoAnswer = c.streamInfoAnswer;

    Plugin* plugin = nullptr;
    getPlugin(&host, &plugin);
    require(plugin, "no component");
    void* found = nullptr;
    require(plugin->queryInterface(Identifiers::interfaceTransform, &found) == InterfaceFound && found,
        "no transform interface");
    auto* transform = static_cast<TransformInterface*>(found);
    OutputInterface* inputSide = transform;
    InputInterface* outputSide = transform;
    const char* order = outputCodes[c.order];
    const char* inputCode = c.alphaInput ? "GPHA" : "GPHB";
    PortInterface* in = inputSide->openPort(PortFormat{1, inputCode, 0});
    PortInterface* out = outputSide->openPort(PortFormat{1, order, 0});
    require(in && out, "ports refused");

    bool sinkSet = false;
    bool configured = false;
    bool hasAlpha = false;
    auto setSink = [&] {
        Variant v = objectVariant(&sink);
        require(out->notify(EVT_SET_SINK, &v), "sink refused");
        sinkSet = configured = true;
        hasAlpha = inputCode[3] == 'A';
    };
    auto setAllocator = [&] {
        Variant v = objectVariant(&allocator);
        require(out->notify(EVT_SET_ALLOCATOR, &v), "allocator refused");
    };
    auto streamInfo = [&] {
        StreamInfo info{0, c.displayWidth, c.displayHeight};
        Variant v = objectVariant(&info);
        if (c.display == 2)
            v.type = TypeString;
        const int32_t before = sink.streamInfos();
        const bool answer = in->deliver(MSG_STREAM_INFO, &v);
        require(sink.streamInfos() == before + (sinkSet ? 1 : 0), "stream info not forwarded once");
        require(answer == (sinkSet && c.streamInfoAnswer), "stream info answer is not the sink's");
    };

    if (c.display == 3)
        streamInfo();
    if (!c.allocatorAfterSink && !c.noAllocator)
        setAllocator();
    if (!c.noSink)
        setSink();
    if (c.allocatorAfterSink && !c.noAllocator)
        setAllocator();
    if (c.display == 1 || c.display == 2)
        streamInfo();
    require(in->query(QRY_READY, 0) == configured, "readiness wrong");

    StandInBuffer* held = nullptr;
    for (int i = 0; i < c.deliveries; ++i) {
        if (i > 0 && c.restartBetween) {
            require(out->notify(EVT_STOP, nullptr), "stop refused");
            require(!held || held->released(), "stop kept the sample");
            held = nullptr;
            configured = false;
            require(!out->query(QRY_READY, 0), "ready after stop");
            setSink();
        }
        if (i > 0 && c.reopenInputBetween) {
            require(inputSide->closePort(in), "input port not closed");
            inputCode = inputCode[3] == 'A' ? "GPHB" : "GPHA";
            in = inputSide->openPort(PortFormat{1, inputCode, 0});
            require(in, "input port not reopened");
        }
        if (i == c.deliveries - 1 && c.closeOutputBeforeLast && out) {
            require(outputSide->closePort(out), "output port not closed");
            out = nullptr;
        }

        StandInBuffer* buffer = store.make("packet", std::vector<uint8_t>(packet, packet + packetSize));
        buffer->timing[0] = 0x1000u + uint32_t(i);
        buffer->timing[1] = ~uint32_t(i);
        buffer->nullPayload = i == 0 && c.firstWithoutPayload;
        const bool take = c.answers >> i & 1;
        const int32_t headerLength = hasAlpha ? PacketFormat::AlphaHeaderLength : PacketFormat::HeaderLength;
        const bool whole = int64_t(packetSize) >= headerLength;
        sink.answer = take;
        sink.inspect = [&](const StandInBuffer& frame) {
            require(whole, "frame made from a short packet");
            checkFrame(frame, packet, hasAlpha, order, *buffer);
        };
        const size_t storedBefore = store.buffers().size();
        const size_t framesBefore = sink.delivered.size();

        Variant v = objectVariant(buffer);
        const bool answer = in->deliver(MSG_SAMPLE, &v);
        requireNoBreach(breaches);

        if (!configured) {
            require(!answer && buffer->references == 1 && buffer->locks == 0, "sample taken while not ready");
            buffer->dropReference();
            continue;
        }
        require(!held || held->released(), "previous sample not released");
        const bool delivered = sink.delivered.size() > framesBefore;
        require(sink.delivered.size() <= framesBefore + 1, "more than one frame for a sample");
        if (delivered) {
            require(answer == take, "answer is not the downstream's");
            require(buffer->references == (take ? 0 : 1), "sample not released exactly when the frame was taken");
        } else {
            require(answer == buffer->nullPayload, "answer true without a frame");
            require(buffer->references == 1, "sample not held");
        }
        for (size_t k = storedBefore; k < store.buffers().size(); ++k) {
            const StandInBuffer* frame = store.buffers()[k].get();
            const bool kept = delivered && take && k + 1 == store.buffers().size();
            require(frame->references == (kept ? 1 : 0), "frame neither handed over nor released");
        }

        // A packet that can make a frame makes one.
        const SampleConditions conditions{configured, hasAlpha, out != nullptr,
            c.noAllocator ? nullptr : &allocator, &sink};
        const Outcome expected = expectedOutcome(conditions, packet, packetSize, buffer->nullPayload);
        require(delivered == (expected == FrameTaken || expected == FrameRefused),
            "frame made or withheld against the rules");
        held = buffer->released() ? nullptr : buffer;
    }

    if (c.stopAtEnd && out) {
        require(out->notify(EVT_STOP, nullptr), "stop refused");
        require(!held || held->released(), "stop kept the sample");
    }
    if (c.closePortsAtEnd) {
        require(inputSide->closePort(in), "input port not closed");
        if (out)
            require(outputSide->closePort(out), "output port not closed");
    }
    require(plugin->dropReference() == 0, "last release left references");
    host.toldTwice(plugin);
    require(!held || held->released(), "destruction kept the sample");
    sink.releaseTaken();
    store.allReleased();
    requireNoBreach(breaches);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return Qor::Fuzzing::runCase<SessionCase>(data, size, runSession);
}
