// Random host sessions against a small model of the port protocol. A session
// is a seeded run of host calls: either port opened and closed with good and
// bad formats, the allocator and the sink handed over, stops, stream
// information, samples (valid, cut short, hostile, without payload) that the
// downstream takes or refuses, references added and dropped, and the final
// release. After every call the observable state (what QRY_READY answers,
// which buffers are held, the format properties, the reference count) must
// match the model; at the end every buffer's references balance and the host
// has been told twice.
//
// KELVO_SESSIONS sets how many sessions run (default 1000) and
// KELVO_SESSION_SEED the first seed; a failure names its seed, so that
// KELVO_SESSIONS=1 KELVO_SESSION_SEED=<seed> runs that session alone.
#include "encode/PacketWriter.h"
#include "framework/ComponentInterface.h"
#include "framework/GetPlugin.h"
#include "framework/String.h"
#include "tests/support/HostStandIns.h"
#include "tests/support/FrameColours.h"
#include "tests/support/Identifiers.h"
#include "tests/support/IndexedImages.h"
#include "tests/support/ProtocolModel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace Qor {
namespace {

using namespace Testing;

uint32_t environmentNumber(const char* name, uint32_t fallback)
{
    const char* text = std::getenv(name);
    return text && *text ? uint32_t(std::strtoul(text, nullptr, 0)) : fallback;
}

struct Code {
    int32_t kind;
    const char* text;
};

// Format codes a host might offer: the accepted ones first, then near misses.
constexpr Code packetCodes[] = {{1, "GPHB"}, {1, "GPHA"}, {1, "gphb"}, {1, "GPH"}, {1, "GPHAX"}, {1, "RGBA"},
    {0, "GPHB"}, {2, "GPHA"}, {1, nullptr}};
constexpr Code frameCodes[] = {{1, "RGBA"}, {1, "BGRA"}, {1, "ARGB"}, {1, "ABGR"}, {1, "rgba"}, {1, "RGB"},
    {1, "ABGRX"}, {1, "GPHB"}, {0, "RGBA"}, {1, nullptr}};

template <size_t N>
bool accepted(const Code& code, const Code (&codes)[N], size_t acceptedCount)
{
    if (code.kind != 1 || !code.text)
        return false;
    for (size_t i = 0; i < acceptedCount && i < N; ++i)
        if (std::strcmp(code.text, codes[i].text) == 0)
            return true;
    return false;
}

// One packet as the upstream offers it, and what is known of its picture.
struct Sample {
    std::vector<uint8_t> bytes;
    bool nullPayload = false;
    bool alphaPacket = false;               // written as "GPHA"
    std::optional<std::vector<uint8_t>> indices; // top row first, for a whole packet made by the encoder
    const char* kind = "";
};

// Outcomes are counted over all sessions, so that the test can tell that the
// random sessions reach every one.
class Session {
public:
    Session(uint32_t seed, std::array<uint64_t, OutcomeCount>& outcomes) : random(seed), outcomes(outcomes)
    {
        plain.byteLimit = padded.byteLimit = narrow.byteLimit = refusing.byteLimit = payloadless.byteLimit =
            int64_t(1) << 22;
        store.freesPayloads = true;
        padded.stridePadding = 3;
        narrow.stridePadding = -2;
        refusing.refuse = true;
        payloadless.nullPayload = true;
    }

    // Runs the session; answers the first discrepancy and the calls that led to it, or "".
    std::string run()
    {
        getPlugin(&host, &plugin);
        if (!check(plugin != nullptr, "no component"))
            return report();
        void* found = nullptr;
        plugin->queryInterface(Identifiers::interfaceTransform, &found);
        transform = static_cast<TransformInterface*>(found);
        plugin->queryInterface(Identifiers::interfaceComponent, &found);
        component = static_cast<ComponentInterface*>(found);

        const int steps = pick(0, 80);
        for (int i = 0; i < steps && failure.empty(); ++i) {
            step();
            checkObservableState();
        }
        if (failure.empty())
            finish();
        return report();
    }

private:
    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); }
    bool chance(int percent) { return pick(0, 99) < percent; }

    bool check(bool holds, const char* what)
    {
        if (!holds && failure.empty())
            failure = what;
        return holds;
    }

    void fail(const std::string& what)
    {
        if (failure.empty())
            failure = what;
    }

    std::string report() const
    {
        if (failure.empty())
            return {};
        std::ostringstream out;
        out << failure << "\n  after: " << trace.str();
        return out.str();
    }

    void step()
    {
        const int roll = pick(0, 99);
        if (roll < 4)
            connect();
        else if (roll < 11)
            openPacketPort();
        else if (roll < 15)
            closePacketPort();
        else if (roll < 22)
            openFramePort();
        else if (roll < 26)
            closeFramePort();
        else if (roll < 32)
            setAllocator();
        else if (roll < 38)
            setSink();
        else if (roll < 42)
            stop();
        else if (roll < 47)
            streamInfo();
        else if (roll < 77)
            sample();
        else if (roll < 82)
            changeAnswers();
        else if (roll < 86)
            releaseTakenFrames();
        else if (roll < 92)
            references();
        else
            oddCalls();
    }

    // Opens what is closed with accepted codes and hands over allocator and sink.
    void connect()
    {
        trace << "connect; ";
        if (!model.packetPort)
            openPort(Packets, packetCodes[pick(0, 1)]);
        if (!model.framePort)
            openPort(Frames, frameCodes[pick(0, 3)]);
        Variant allocatorValue = objectVariant(&plain);
        model.framePort->notify(EVT_SET_ALLOCATOR, &allocatorValue);
        model.allocator = &plain;
        Variant sinkValue = objectVariant(&sinkA);
        model.framePort->notify(EVT_SET_SINK, &sinkValue);
        sinkWasSet(&sinkA);
    }

    // The two sides: the packet port, reached through OutputInterface, and
    // the frame port, through InputInterface.
    enum Side { Packets, Frames };

    PortInterface*& portOf(Side side) { return side == Packets ? model.packetPort : model.framePort; }
    const char*& codeOf(Side side) { return side == Packets ? model.packetCode : model.frameCode; }

    void openPacketPort() { openPort(Packets, packetCodes[pick(0, std::size(packetCodes) - 1)]); }
    void openFramePort() { openPort(Frames, frameCodes[pick(0, std::size(frameCodes) - 1)]); }
    void closePacketPort() { closePort(Packets); }
    void closeFramePort() { closePort(Frames); }

    void openPort(Side side, const Code& code)
    {
        trace << "open " << (side == Packets ? "packet" : "frame") << " port " << (code.text ? code.text : "(null)")
              << "/" << code.kind << "; ";
        const bool acceptable = side == Packets ? accepted(code, packetCodes, 2) : accepted(code, frameCodes, 4);
        const bool expected = !portOf(side) && acceptable;
        const PortFormat format{code.kind, code.text, 0};
        PortInterface* port = side == Packets ? static_cast<OutputInterface*>(transform)->openPort(format)
                                              : static_cast<InputInterface*>(transform)->openPort(format);
        check((port != nullptr) == expected, "port opened against the rules");
        if (port) {
            portOf(side) = port;
            codeOf(side) = code.text;
        }
    }

    void closePort(Side side)
    {
        PortInterface* port = anyPort();
        trace << "close " << (side == Packets ? "packet" : "frame") << " port " << portName(port) << "; ";
        const bool expected = port && port == portOf(side);
        const bool answer = side == Packets ? static_cast<OutputInterface*>(transform)->closePort(port)
                                            : static_cast<InputInterface*>(transform)->closePort(port);
        check(answer == expected, "port close answer");
        if (expected) {
            closed.push_back(port);
            portOf(side) = nullptr;
            codeOf(side) = nullptr;
        }
    }

    // The open ports, a closed one, or null: what a confused host might pass to closePort.
    PortInterface* anyPort()
    {
        switch (pick(0, 4)) {
        case 0:
        case 1:
            return model.packetPort;
        case 2:
            return model.framePort;
        case 3: {
            // A port closed earlier; the heap may have given its address to an
            // open one, and then a port that was never the component's stands
            // in, so that a session does the same on every run.
            PortInterface* port = closed.empty() ? &sinkB : closed[size_t(pick(0, int(closed.size()) - 1))];
            return port == model.packetPort || port == model.framePort ? &sinkB : port;
        }
        default:
            return nullptr;
        }
    }

    const char* portName(PortInterface* port) const
    {
        if (!port)
            return "null";
        if (port == model.packetPort)
            return "packet";
        if (port == model.framePort)
            return "frame";
        return "foreign";
    }

    void setAllocator()
    {
        if (!model.framePort)
            return;
        StandInAllocator* const choices[] = {&plain, &padded, &narrow, &refusing, &payloadless, nullptr};
        StandInAllocator* allocator = choices[pick(0, 5)];
        trace << "set allocator " << allocatorName(allocator) << "; ";
        Variant v = objectVariant(allocator);
        check(model.framePort->notify(EVT_SET_ALLOCATOR, &v), "allocator refused");
        model.allocator = allocator;
    }

    const char* allocatorName(const StandInAllocator* allocator) const
    {
        return allocator == &plain ? "plain" : allocator == &padded ? "padded" : allocator == &narrow ? "narrow"
            : allocator == &refusing ? "refusing" : allocator == &payloadless ? "payloadless" : "null";
    }

    void setSink()
    {
        if (!model.framePort)
            return;
        StandInSink* const choices[] = {&sinkA, &sinkA, &sinkB, nullptr};
        StandInSink* sink = choices[pick(0, 3)];
        trace << "set sink " << (sink == &sinkA ? "A" : sink == &sinkB ? "B" : "null") << "; ";
        Variant v = objectVariant(sink);
        check(model.framePort->notify(EVT_SET_SINK, &v), "sink refused");
        sinkWasSet(sink);
    }

    void sinkWasSet(StandInSink* sink)
    {
        model.sink = sink;
        model.configured = true;
        model.hasAlpha = model.packetCode && std::strcmp(model.packetCode, "GPHA") == 0;
    }

    void stop()
    {
        if (!model.framePort)
            return;
        trace << "stop; ";
        check(model.framePort->notify(EVT_STOP, nullptr), "stop refused");
        check(!model.held || model.held->released(), "stop kept the sample");
        model.held = nullptr;
        model.configured = false;
        model.hasAlpha = false;
    }

    void streamInfo()
    {
        if (!model.packetPort)
            return;
        StreamInfo info{0, pick(-50, 2000), pick(-50, 1200)};
        if (chance(20))
            info.width = pick(0, 1) ? std::numeric_limits<int32_t>::max() : std::numeric_limits<int32_t>::min();
        Variant v = objectVariant(&info);
        const int form = pick(0, 9);
        if (form == 0)
            v.type = TypeString;
        else if (form == 1)
            v.value.asObject = nullptr;
        trace << "stream info " << info.width << "x" << info.height << " form " << form << "; ";
        const int32_t before = model.sink ? model.sink->streamInfos() : 0;
        const bool answer = model.packetPort->deliver(MSG_STREAM_INFO, form == 2 ? nullptr : &v);
        if (v.type == TypeObject && v.value.asObject && form != 2) {
            model.lastWidth = info.width;
            model.lastHeight = info.height;
        }
        check(answer == (model.sink && model.sink->streamInfoAnswer), "stream info answer is not the sink's");
        if (model.sink)
            check(model.sink->streamInfos() == before + 1, "stream info not forwarded once");
    }

    // A packet whose picture is known: the encoder's, with random colours and place.
    Sample validSample(bool alphaPacket)
    {
        PacketContents contents;
        contents.width = uint16_t(chance(10) ? pick(0, 1) : pick(1, 40));
        contents.height = uint16_t(chance(10) ? pick(0, 1) : pick(1, 30));
        contents.indices = randomRunImage(random, contents.width, contents.height);
        for (PaletteEntry& colour : contents.palette)
            colour = PaletteEntry{uint8_t(pick(0, 255)), uint8_t(pick(0, 255)), uint8_t(pick(0, 255))};
        if (alphaPacket)
            contents.alpha = std::array<uint8_t, 4>{uint8_t(chance(30) ? 0 : pick(0, 255)), uint8_t(pick(0, 255)),
                uint8_t(chance(30) ? 0 : pick(0, 255)), uint8_t(pick(0, 255))};
        contents.left = uint16_t(pick(0, 1900));
        contents.top = uint16_t(pick(0, 1000));
        if (chance(20))
            contents.right = uint16_t(pick(0, 65535));
        if (chance(20))
            contents.bottom = uint16_t(pick(0, 65535));
        contents.codes.fourNibbleCodes = chance(25);
        contents.codes.passRowEnd = chance(25);
        contents.codes.endOfRow = EndOfRowCode(pick(0, 2));
        const WrittenPacket written = writePacket(contents);
        if (!written)
            fail("encoder refused a packet: " + written.error);
        Sample s;
        s.bytes = written.bytes;
        s.alphaPacket = alphaPacket;
        s.indices = contents.indices;
        s.kind = "valid";
        return s;
    }

    // Random header fields and data: sizes from empty to past what a frame
    // can hold, offsets anywhere, any bytes.
    Sample hostileSample()
    {
        Sample s;
        s.kind = "hostile";
        s.bytes.resize(size_t(pick(PacketFormat::HeaderLength, PacketFormat::AlphaHeaderLength) + pick(0, 300)));
        for (uint8_t& byte : s.bytes)
            byte = uint8_t(pick(0, 255));
        auto put16 = [&](int32_t offset, int value) {
            s.bytes[offset] = uint8_t(value & 0xFF);
            s.bytes[offset + 1] = uint8_t(value >> 8);
        };
        switch (pick(0, 4)) {
        case 0: // both huge: the frame's size overflows
            put16(PacketFormat::WidthOffset, pick(23171, 65535));
            put16(PacketFormat::HeightOffset, pick(23171, 65535));
            break;
        case 1: // one long side
            put16(PacketFormat::WidthOffset, pick(0, 1) ? pick(1000, 65535) : pick(1, 4));
            put16(PacketFormat::HeightOffset, pick(0, 1) ? pick(1, 4) : pick(1000, 65535));
            break;
        default:
            put16(PacketFormat::WidthOffset, pick(0, 300));
            put16(PacketFormat::HeightOffset, pick(0, 300));
            break;
        }
        if (chance(50))
            put16(PacketFormat::SecondFieldOffsetOffset, pick(0, int(s.bytes.size())));
        return s;
    }

    Sample randomSample()
    {
        const bool matching = chance(80);
        const bool alpha = matching ? model.hasAlpha : !model.hasAlpha;
        const int kind = pick(0, 9);
        if (kind < 5)
            return validSample(alpha);
        if (kind < 7) {
            Sample s = validSample(alpha);
            s.bytes.resize(size_t(pick(0, int(s.bytes.size()) - 1)));
            s.indices.reset();
            s.kind = "cut";
            return s;
        }
        if (kind < 9)
            return hostileSample();
        Sample s = validSample(alpha);
        s.nullPayload = true;
        s.kind = "no payload";
        return s;
    }

    void sample()
    {
        if (!model.packetPort)
            return;
        if (chance(3)) {
            sampleOfNothing();
            return;
        }
        const Sample s = randomSample();
        StandInBuffer* buffer = store.make("packet", s.bytes);
        buffer->nullPayload = s.nullPayload;
        buffer->timing[0] = uint32_t(random());
        buffer->timing[1] = uint32_t(random());
        trace << "sample " << s.kind << " " << s.bytes.size() << "B" << (s.alphaPacket ? " alpha" : "") << "; ";

        // What the model expects, decided before the call.
        StandInAllocator* allocator = model.allocator;
        StandInSink* sink = model.sink;
        const SampleConditions conditions{model.configured, model.hasAlpha, model.frameCode != nullptr, allocator, sink};
        const Outcome expected = expectedOutcome(conditions, s.bytes.data(), s.bytes.size(), s.nullPayload);
        const bool answer = expected == HeldWithoutPayload || expected == FrameTaken;
        std::pair<int32_t, int32_t> canvas{model.lastWidth, model.lastHeight};
        if (expected == FrameTaken || expected == FrameRefused)
            canvas = modelCanvas(model.lastWidth, model.lastHeight,
                packetField(s.bytes.data(), PacketFormat::RightOffset),
                packetField(s.bytes.data(), PacketFormat::BottomOffset));
        ++outcomes[expected];

        const int32_t allocationsBefore = allocator ? allocator->allocations : 0;
        const size_t framesBefore = sink ? sink->delivered.size() : 0;
        const size_t storedBefore = store.buffers().size();
        if (sink) {
            const bool exact = s.indices && s.alphaPacket == model.hasAlpha;
            sink->inspect = [&, exact](const StandInBuffer& frame) {
                checkFrame(frame, s, *buffer, exact, canvas);
            };
        }
        StandInBuffer* previous = model.held;

        Variant v = objectVariant(buffer);
        check(model.packetPort->deliver(MSG_SAMPLE, &v) == answer, "sample answer");
        if (sink)
            sink->inspect = nullptr;

        if (expected == NotTaken) {
            check(buffer->references == 1 && buffer->locks == 0, "a sample was touched while not ready");
            buffer->dropReference();
            return;
        }
        check(!previous || previous->released(), "the previous sample was not released");
        const bool allocated = expected >= AllocationRefused && expected <= FrameRefused;
        if (allocator)
            check(allocator->allocations == allocationsBefore + (allocated ? 1 : 0), "frames asked for");
        const bool delivered = expected == FrameTaken || expected == FrameRefused;
        if (sink)
            check(sink->delivered.size() == framesBefore + (delivered ? 1 : 0), "frames delivered");
        if (store.buffers().size() > storedBefore) {
            const StandInBuffer* frame = store.buffers().back().get();
            check(frame->references == (expected == FrameTaken ? 1 : 0), "frame neither handed over nor released");
        }
        if (delivered) {
            model.lastWidth = canvas.first;
            model.lastHeight = canvas.second;
        }
        model.held = expected == FrameTaken ? nullptr : buffer;
    }

    // MSG_SAMPLE whose Variant holds no buffer: a misuse the component survives.
    void sampleOfNothing()
    {
        trace << "sample of nothing; ";
        Variant v = objectVariant(nullptr);
        check(!model.packetPort->deliver(MSG_SAMPLE, chance(50) ? &v : nullptr), "sample of nothing answered true");
        if (model.configured) {
            ++outcomes[SampleOfNothing];
            check(!model.held || model.held->released(), "the previous sample was not released");
            model.held = nullptr;
        } else {
            ++outcomes[NotTaken];
        }
    }

    // Both sides rounded to double: on 32-bit x87 a freshly computed
    // quotient may still carry extended precision.
    static bool sameDouble(double a, double b)
    {
        volatile double x = a;
        volatile double y = b;
        return x == y;
    }

    // A frame as the model expects it (frameFault), its rectangle on the
    // model's canvas, and for a packet made by the encoder in the
    // component's format, exactly its picture.
    void checkFrame(const StandInBuffer& frame, const Sample& s, const StandInBuffer& source, bool exact,
        std::pair<int32_t, int32_t> canvas)
    {
        using namespace PacketFormat;
        const uint8_t* packet = s.bytes.data();
        if (const char* fault = frameFault(frame, packet, model.hasAlpha, model.frameCode, source)) {
            fail(fault);
            return;
        }
        check(sameDouble(frame.left, double(packetField(packet, LeftOffset)) / canvas.first)
                && sameDouble(frame.top, double(packetField(packet, TopOffset)) / canvas.second)
                && sameDouble(frame.right, double(packetField(packet, RightOffset)) / canvas.first)
                && sameDouble(frame.bottom, double(packetField(packet, BottomOffset)) / canvas.second),
            "rectangle not on the expected canvas");
        if (!exact || frame.size == 0)
            return;
        const int64_t width = packetField(packet, WidthOffset);
        const int64_t height = packetField(packet, HeightOffset);
        const auto colours = packetColours(packet, model.hasAlpha, model.frameCode);
        for (int64_t y = 0; y < height; ++y) {
            for (int64_t x = 0; x < width; ++x) {
                const uint8_t* pixel = frame.bytes() + (y * frame.stride + x) * 4;
                const Pixel& want = colours[(*s.indices)[size_t(y * width + x)]];
                if (!check(std::memcmp(pixel, want.data(), 4) == 0, "pixel differs from the packet's picture"))
                    return;
            }
        }
    }

    void changeAnswers()
    {
        StandInSink& sink = chance(50) ? sinkA : sinkB;
        sink.answer = chance(65);
        sink.streamInfoAnswer = chance(50);
        trace << "sink " << (&sink == &sinkA ? "A" : "B") << " answers " << sink.answer << "; ";
    }

    void releaseTakenFrames()
    {
        trace << "downstream releases its frames; ";
        sinkA.releaseTaken();
        sinkB.releaseTaken();
    }

    void references()
    {
        if (chance(50) || model.references == 1) {
            trace << "addReference; ";
            check(plugin->addReference() == ++model.references, "addReference answer");
        } else {
            trace << "dropReference; ";
            check(plugin->dropReference() == --model.references, "dropReference answer");
        }
        check(host.willDestroy.empty(), "host told of an end too early");
    }

    // Calls with fixed answers and no effect.
    void oddCalls()
    {
        trace << "odd calls; ";
        Variant v = objectVariant(&sinkB);
        for (PortInterface* port : {model.packetPort, model.framePort}) {
            if (!port)
                continue;
            check(port->query(0x40000001, 0), "query of another code");
            check(!port->request(MSG_SAMPLE, 0), "request answered true");
        }
        if (model.packetPort) {
            check(model.packetPort->notify(EVT_SET_SINK, &v), "packet port notify");
            check(!model.packetPort->deliver(0x20000001, &v), "unknown delivery answered true");
        }
        if (model.framePort) {
            check(!model.framePort->deliver(MSG_SAMPLE, &v), "frame port took a delivery");
            check(model.framePort->notify(0x30000001, &v), "unknown notify");
        }
        Variant untouched{};
        untouched.type = TypeObject;
        untouched.value.asObject = &untouched;
        check(!component->getProperty("inputformat", &untouched) && untouched.type == TypeObject
                && untouched.value.asObject == &untouched,
            "unknown property answered");
        std::vector<const char*> names{"kept"};
        component->getPropertyNames(names);
        check(names.size() == 5 && std::strcmp(names[0], "kept") == 0 && std::strcmp(names[1], "InputFormat") == 0
                && std::strcmp(names[4], "Type") == 0,
            "property names");
    }

    void checkFormatProperty(const char* key, const char* code)
    {
        Variant text{};
        if (!component->getProperty(key, &text) || text.type != TypeString) {
            fail(std::string(key) + " is not a string");
            return;
        }
        const String* value = text.value.asString;
        const bool textHolds = code ? value->data && value->length == 4 && std::strcmp(value->data, code) == 0
                                    : !value->data && value->length == 0;
        Variant packed{};
        packed.type = TypeFourCC;
        const bool packedHolds = component->getProperty(key, &packed) && packed.type == TypeFourCC
            && packed.value.asFourcc == (code ? packFourcc(code[0], code[1], code[2], code[3]) : 0u);
        if (!textHolds || !packedHolds)
            fail(std::string(key) + " differs from the open port's code");
    }

    void checkObservableState()
    {
        for (PortInterface* port : {model.packetPort, model.framePort})
            if (port)
                check(port->query(QRY_READY, 0) == model.configured, "QRY_READY differs from the model");
        checkFormatProperty("InputFormat", model.packetCode);
        checkFormatProperty("OutputFormat", model.frameCode);
        check(plugin->referenceCount() == model.references, "reference count");
        for (const auto& buffer : store.buffers()) {
            const bool taken = std::find(sinkA.taken.begin(), sinkA.taken.end(), buffer.get()) != sinkA.taken.end()
                || std::find(sinkB.taken.begin(), sinkB.taken.end(), buffer.get()) != sinkB.taken.end();
            const int32_t expected = buffer.get() == model.held || taken ? 1 : 0;
            check(buffer->references == expected, "a buffer is held against the model");
        }
        for (const char* note : breaches.notes)
            check(false, note);
    }

    void finish()
    {
        trace << "release; ";
        while (model.references > 1)
            check(plugin->dropReference() == --model.references, "dropReference answer");
        check(plugin->dropReference() == 0, "the last release answered a count");
        host.toldTwice(plugin);
        check(!model.held || model.held->released(), "destruction kept the sample");
        sinkA.releaseTaken();
        sinkB.releaseTaken();
        store.allReleased();
        for (const char* note : breaches.notes)
            check(false, note);
    }

    struct Model {
        PortInterface* packetPort = nullptr;
        PortInterface* framePort = nullptr;
        const char* packetCode = nullptr;
        const char* frameCode = nullptr;
        StandInAllocator* allocator = nullptr;
        StandInSink* sink = nullptr;
        bool configured = false;
        bool hasAlpha = false;
        StandInBuffer* held = nullptr;
        int32_t lastWidth = 0; // the last reference canvas
        int32_t lastHeight = 0;
        int32_t references = 1;
    };

    std::mt19937 random;
    std::array<uint64_t, OutcomeCount>& outcomes;
    Breaches breaches;
    BufferPool store{Witness{nullptr, &breaches}};
    StandInHost host{Witness{nullptr, &breaches}};
    StandInAllocator plain{store};
    StandInAllocator padded{store};
    StandInAllocator narrow{store};
    StandInAllocator refusing{store};
    StandInAllocator payloadless{store};
    StandInSink sinkA{Witness{nullptr, &breaches}, &store};
    StandInSink sinkB{Witness{nullptr, &breaches}, &store};
    Plugin* plugin = nullptr;
    ComponentInterface* component = nullptr;
    TransformInterface* transform = nullptr;
    std::vector<PortInterface*> closed;
    Model model;
    std::ostringstream trace;
    std::string failure;
};

TEST(SessionProperty, RandomSessionsFollowTheModel)
{
    const uint32_t count = environmentNumber("KELVO_SESSIONS", 1000);
    const uint32_t firstSeed = environmentNumber("KELVO_SESSION_SEED", 0x5E55);
    std::array<uint64_t, OutcomeCount> outcomes{};
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t seed = firstSeed + i;
        const std::string failure = Session(seed, outcomes).run();
        if (!failure.empty()) {
            ADD_FAILURE() << "session seed " << seed << ": " << failure;
            return;
        }
    }
    std::ostringstream tally;
    for (int o = 0; o < OutcomeCount; ++o)
        tally << " " << outcomeNames[o] << " " << outcomes[size_t(o)] << ";";
    std::printf("%u sessions from seed %u; samples:%s\n", count, firstSeed, tally.str().c_str());
    // A run long enough to mean something reaches every way a sample can end.
    if (count >= 200) {
        for (int o = 0; o < OutcomeCount; ++o)
            EXPECT_GT(outcomes[size_t(o)], 0u) << outcomeNames[o] << " never happened";
    }
}

} // namespace
} // namespace Qor
