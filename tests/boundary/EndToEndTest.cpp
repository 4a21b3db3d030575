// A whole host session through the contract's declarations: both ports,
// the allocator and the sink handed over, stream information, a stream of
// encoded packets in both input formats and every output order, each frame
// checked pixel by pixel against its source image, then stop, close, release.
#include "encode/PacketWriter.h"
#include "tests/boundary/ContractHost.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace Qor;
using namespace Qor::Boundary;

using CallLog = std::vector<std::string>;

// Counts its references and frees its payload on the last release, as a
// host's buffer does; the object itself stays for the final check.
class SessionBuffer : public MediaBuffer {
public:
    SessionBuffer(const char* name, std::vector<uint8_t> bytes, CallLog* log)
        : name(name), payload(std::move(bytes)), log(log)
    {
        size = int32_t(payload.size());
        std::memset(timing, 0, sizeof timing);
        left = top = right = bottom = 0;
        stride = 0;
    }
    int32_t addReference() override { return ++references; }
    int32_t dropReference() override
    {
        log->push_back(name + ".dropReference");
        if (--references == 0)
            std::vector<uint8_t>().swap(payload);
        return references;
    }
    void* lock() override
    {
        log->push_back(name + ".lock");
        return payload.empty() ? nullptr : payload.data();
    }
    void unlock() override { log->push_back(name + ".unlock"); }

    std::string name;
    std::vector<uint8_t> payload;
    CallLog* log;
    int32_t references = 1;
};

class SessionAllocator : public BufferAllocator {
public:
    explicit SessionAllocator(CallLog* log) : log(log) {}
    void configure(int32_t bits) override { log->push_back("configure(" + std::to_string(bits) + ")"); }
    MediaBuffer* allocate(int32_t width, int32_t height, int32_t count) override
    {
        log->push_back("allocate");
        EXPECT_EQ(count, 1);
        const int32_t stride = width + padding;
        frames.push_back(std::make_unique<SessionBuffer>(
            "frame", std::vector<uint8_t>(size_t(stride) * size_t(height) * 4, 0xA5), log));
        frames.back()->stride = stride;
        return frames.back().get();
    }
    std::vector<std::unique_ptr<SessionBuffer>> frames;
    CallLog* log;
    int32_t padding = 0;
};

class SessionSink : public PortInterface {
public:
    explicit SessionSink(CallLog* log) : log(log) {}
    bool query(uint32_t, uint32_t) override { return true; }
    bool notify(uint32_t, Variant*) override { return true; }
    bool request(uint32_t, uint32_t) override { return false; }
    bool deliver(uint32_t code, Variant* value) override
    {
        log->push_back("sink.deliver");
        if (code == MSG_SAMPLE)
            frames.push_back(static_cast<SessionBuffer*>(value->value.asObject));
        else if (code == MSG_STREAM_INFO)
            streamInfos.push_back(value);
        return true;
    }
    std::vector<SessionBuffer*> frames;
    std::vector<Variant*> streamInfos;
    CallLog* log;
};

// The bytes a pixel of colour `index` must have, worked out independently
// of the library: transparent colours are four zeros, others keep their
// palette values, in the output's channel order.
std::array<uint8_t, 4> expectedPixel(const PacketContents& c, int index, const std::string& order)
{
    const uint8_t a = c.alpha ? (*c.alpha)[index] : (index == 0 ? 0 : 255);
    const PaletteEntry p = a == 0 ? PaletteEntry{0, 0, 0} : c.palette[index];
    const uint8_t r = p.red, g = p.green, b = p.blue;
    if (order == "RGBA")
        return {r, g, b, a};
    if (order == "BGRA")
        return {b, g, r, a};
    if (order == "ARGB")
        return {a, r, g, b};
    return {a, b, g, r};
}

// Shapes with long and short runs: bands, blocks and noise.
std::vector<uint8_t> randomImage(std::mt19937& random, int width, int height)
{
    std::vector<uint8_t> indices(size_t(width) * height);
    const int style = int(random() % 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t& i = indices[size_t(y) * width + x];
            if (style == 0)
                i = uint8_t((x / 7 + y / 3) % 4);
            else if (style == 1)
                i = uint8_t(x > width / 4 && x < 3 * width / 4 && y > height / 3 ? 1 + (x / 40) % 3 : 0);
            else
                i = uint8_t(random() % 4);
        }
    return indices;
}

struct Variation {
    const char* input;
    const char* output;
};

class EndToEnd : public ::testing::TestWithParam<Variation> {};

TEST_P(EndToEnd, HostSessionTurnsEveryPacketIntoItsFrame)
{
    const std::string input = GetParam().input;
    const std::string order = GetParam().output;
    Library library;
    ASSERT_TRUE(library.loaded()) << library.error();
    ASSERT_NE(library.entry, nullptr);

    CallLog log;
    CountingHost host;
    SessionAllocator allocator(&log);
    allocator.padding = 5;
    SessionSink sink(&log);
    Plugin* plugin = nullptr;
    library.entry(&host, &plugin);
    ASSERT_NE(plugin, nullptr);
    void* found = nullptr;
    ASSERT_EQ(plugin->queryInterface(identifier("com.kelvo.vandrel.interface.transform"), &found), 0);
    auto* transform = static_cast<TransformInterface*>(found);
    OutputInterface* packetSide = transform;
    InputInterface* frameSide = transform;
    PortInterface* in = packetSide->openPort(PortFormat{1, input.c_str(), 0});
    PortInterface* out = frameSide->openPort(PortFormat{1, order.c_str(), 0});
    ASSERT_NE(in, nullptr);
    ASSERT_NE(out, nullptr);

    Variant v = object(&allocator);
    ASSERT_TRUE(out->notify(EVT_SET_ALLOCATOR, &v));
    v = object(&sink);
    ASSERT_TRUE(out->notify(EVT_SET_SINK, &v));
    ASSERT_TRUE(in->query(QRY_READY, 0));
    StreamInfo info{0, 720, 576};
    v = object(&info);
    ASSERT_TRUE(in->deliver(MSG_STREAM_INFO, &v));
    ASSERT_EQ(sink.streamInfos, std::vector<Variant*>{&v});

    std::mt19937 random(0x5eed + unsigned(input[3]) * 31 + unsigned(order[0]));
    std::vector<std::unique_ptr<SessionBuffer>> packets;
    std::vector<PacketContents> sources;
    for (int n = 0; n < 12; ++n) {
        PacketContents c;
        c.width = uint16_t(1 + random() % 200);
        c.height = uint16_t(1 + random() % 60);
        c.indices = randomImage(random, c.width, c.height);
        for (auto& entryColour : c.palette)
            entryColour = PaletteEntry{uint8_t(random()), uint8_t(random()), uint8_t(random())};
        if (input == "GPHA")
            c.alpha = std::array<uint8_t, 4>{uint8_t(random() % 2 ? 0 : 40), 255, 0, 128};
        c.left = uint16_t(random() % (720 - c.width));
        c.top = uint16_t(random() % (576 - c.height));
        WrittenPacket written = writePacket(c);
        ASSERT_TRUE(written) << written.error;
        packets.push_back(std::make_unique<SessionBuffer>("packet", written.bytes, &log));
        packets.back()->timing[0] = uint32_t(1000 * n);
        packets.back()->timing[1] = uint32_t(n);
        sources.push_back(c);

        log.clear();
        v = object(packets.back().get());
        ASSERT_TRUE(in->deliver(MSG_SAMPLE, &v)) << "packet " << n;
        if (n == 0) {
            const CallLog expected = {"packet.lock", "packet.unlock", "packet.lock", "packet.unlock",
                "configure(32)", "allocate", "frame.lock", "frame.unlock", "frame.lock", "frame.unlock",
                "sink.deliver", "packet.dropReference"};
            EXPECT_EQ(log, expected);
        }
    }

    ASSERT_EQ(sink.frames.size(), sources.size());
    for (size_t n = 0; n < sources.size(); ++n) {
        SCOPED_TRACE(::testing::Message() << "frame " << n);
        const PacketContents& c = sources[n];
        const SessionBuffer* frame = sink.frames[n];
        ASSERT_EQ(frame->size, c.width * c.height * 4);
        EXPECT_EQ(frame->timing[0], uint32_t(1000 * n));
        EXPECT_EQ(frame->timing[1], uint32_t(n));
        EXPECT_DOUBLE_EQ(frame->left, double(c.left) / 720);
        EXPECT_DOUBLE_EQ(frame->top, double(c.top) / 576);
        EXPECT_DOUBLE_EQ(frame->right, double(c.left + c.width - 1) / 720);
        EXPECT_DOUBLE_EQ(frame->bottom, double(c.top + c.height - 1) / 576);
        int wrong = 0;
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x) {
                const auto want = expectedPixel(c, c.indices[size_t(y) * c.width + x], order);
                const uint8_t* got = &frame->payload[(size_t(y) * frame->stride + x) * 4];
                if (std::memcmp(got, want.data(), 4) != 0 && ++wrong <= 3)
                    ADD_FAILURE() << "pixel " << x << "," << y;
            }
        EXPECT_EQ(wrong, 0);
    }

    ASSERT_TRUE(out->notify(EVT_STOP, nullptr));
    EXPECT_FALSE(in->query(QRY_READY, 0));
    EXPECT_TRUE(packetSide->closePort(in));
    EXPECT_TRUE(frameSide->closePort(out));
    EXPECT_EQ(plugin->dropReference(), 0);
    EXPECT_EQ(host.told, (std::vector<Plugin*>{plugin, plugin}));
    for (SessionBuffer* frame : sink.frames)
        frame->dropReference();
    for (const auto& packet : packets)
        EXPECT_EQ(packet->references, 0);
    for (const auto& frame : allocator.frames)
        EXPECT_EQ(frame->references, 0);
}

INSTANTIATE_TEST_SUITE_P(AllFormats, EndToEnd,
    ::testing::Values(Variation{"GPHB", "RGBA"}, Variation{"GPHB", "BGRA"}, Variation{"GPHB", "ARGB"},
        Variation{"GPHB", "ABGR"}, Variation{"GPHA", "RGBA"}, Variation{"GPHA", "BGRA"},
        Variation{"GPHA", "ARGB"}, Variation{"GPHA", "ABGR"}),
    [](const auto& info) { return std::string(info.param.input) + "_" + info.param.output; });

} // namespace
