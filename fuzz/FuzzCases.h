// How the fuzz targets read their input, shared with the seed writer so that
// the seeds say what they mean. Each input begins with a few bytes of
// settings; the rest is the packet (fuzz_packet) or the run-length data
// (fuzz_decoder). Missing settings bytes read as 0.
#ifndef KELVO_FUZZ_FUZZCASES_H
#define KELVO_FUZZ_FUZZCASES_H

#include <array>
#include <cstddef>
#include <cstdint>

namespace Qor::Fuzzing {

// The first `Count` bytes of an input, those past its end as 0.
template <size_t Count>
std::array<uint8_t, Count> settingsBytes(const uint8_t* data, size_t size)
{
    std::array<uint8_t, Count> bytes{};
    for (size_t i = 0; i < Count && i < size; ++i)
        bytes[i] = data[i];
    return bytes;
}

// Runs `test` on the case that the input's settings bytes describe and on
// the bytes after them: a fuzz target's whole entry point.
template <typename Case, typename Test>
int runCase(const uint8_t* data, size_t size, Test test)
{
    const size_t skip = size < Case::Bytes ? size : Case::Bytes;
    test(Case::read(data, size), data + skip, size - skip);
    return 0;
}

// One host session around one packet, delivered up to four times.
struct SessionCase {
    bool alphaInput = false;        // input port opened as "GPHA", else "GPHB"
    uint8_t order = 0;              // output port: "RGBA", "BGRA", "ARGB", "ABGR"
    uint8_t display = 0;            // stream info: 0 none; 1 a picture size; 2 another tag; 3 a size before the sink
    uint8_t deliveries = 1;         // 1 to 4
    bool allocatorAfterSink = false;
    uint8_t stridePadding = 0;      // 0 to 7 pixels
    bool narrowStride = false;      // stride below the width, by 1 + stridePadding
    bool allocatorRefuses = false;
    bool framesWithoutPayload = false;
    bool noAllocator = false;
    bool noSink = false;            // never configured: every sample is refused untaken
    uint8_t answers = 0;            // bit i: the downstream takes the frame of delivery i
    bool firstWithoutPayload = false;
    bool restartBetween = false;    // EVT_STOP, then EVT_SET_SINK, between deliveries
    bool closeOutputBeforeLast = false;
    bool reopenInputBetween = false; // the input port closed and opened with the other format
    bool stopAtEnd = false;
    bool closePortsAtEnd = false;
    bool streamInfoAnswer = false;
    int16_t displayWidth = 0;
    int16_t displayHeight = 0;

    static constexpr size_t Bytes = 8;

    static SessionCase read(const uint8_t* data, size_t size)
    {
        const std::array<uint8_t, Bytes> b = settingsBytes<Bytes>(data, size);
        SessionCase c;
        c.alphaInput = b[0] & 1;
        c.order = (b[0] >> 1) & 3;
        c.display = (b[0] >> 3) & 3;
        c.deliveries = uint8_t(1 + ((b[0] >> 5) & 3));
        c.allocatorAfterSink = b[0] >> 7;
        c.stridePadding = b[1] & 7;
        c.narrowStride = b[1] >> 3 & 1;
        c.allocatorRefuses = b[1] >> 4 & 1;
        c.framesWithoutPayload = b[1] >> 5 & 1;
        c.noAllocator = b[1] >> 6 & 1;
        c.noSink = b[1] >> 7;
        c.answers = b[2] & 15;
        c.firstWithoutPayload = b[2] >> 4 & 1;
        c.restartBetween = b[2] >> 5 & 1;
        c.closeOutputBeforeLast = b[2] >> 6 & 1;
        c.reopenInputBetween = b[2] >> 7;
        c.stopAtEnd = b[3] & 1;
        c.closePortsAtEnd = b[3] >> 1 & 1;
        c.streamInfoAnswer = b[3] >> 2 & 1;
        c.displayWidth = int16_t(b[4] | b[5] << 8);
        c.displayHeight = int16_t(b[6] | b[7] << 8);
        return c;
    }

    std::array<uint8_t, Bytes> bytes() const
    {
        return {
            uint8_t(alphaInput | (order & 3) << 1 | (display & 3) << 3 | ((deliveries - 1) & 3) << 5
                | allocatorAfterSink << 7),
            uint8_t((stridePadding & 7) | narrowStride << 3 | allocatorRefuses << 4
                | framesWithoutPayload << 5 | noAllocator << 6 | noSink << 7),
            uint8_t((answers & 15) | firstWithoutPayload << 4 | restartBetween << 5
                | closeOutputBeforeLast << 6 | reopenInputBetween << 7),
            uint8_t(stopAtEnd | closePortsAtEnd << 1 | streamInfoAnswer << 2),
            uint8_t(uint16_t(displayWidth) & 0xFF), uint8_t(uint16_t(displayWidth) >> 8),
            uint8_t(uint16_t(displayHeight) & 0xFF), uint8_t(uint16_t(displayHeight) >> 8),
        };
    }
};

// One call of the decoder: the header fields it reads, and how the caller
// sizes the image and states the data's length.
struct DecoderCase {
    uint16_t width = 0;
    uint16_t height = 0;
    uint16_t secondFieldOffset = 0;
    uint8_t image = 0;        // 0 exactly the need; 1 short by 1 + amount; 2 amount bytes spare; 3 none (null)
    bool negativeLength = false; // the data's length given as -1 - amount, with no data
    uint8_t amount = 0;

    static constexpr size_t Bytes = 8;

    static DecoderCase read(const uint8_t* data, size_t size)
    {
        const std::array<uint8_t, Bytes> b = settingsBytes<Bytes>(data, size);
        DecoderCase c;
        c.width = uint16_t(b[0] | b[1] << 8);
        c.height = uint16_t(b[2] | b[3] << 8);
        c.secondFieldOffset = uint16_t(b[4] | b[5] << 8);
        c.image = b[6] & 3;
        c.negativeLength = b[6] >> 2 & 1;
        c.amount = b[7];
        return c;
    }

    std::array<uint8_t, Bytes> bytes() const
    {
        return {uint8_t(width & 0xFF), uint8_t(width >> 8), uint8_t(height & 0xFF), uint8_t(height >> 8),
            uint8_t(secondFieldOffset & 0xFF), uint8_t(secondFieldOffset >> 8),
            uint8_t((image & 3) | negativeLength << 2), amount};
    }
};

} // namespace Qor::Fuzzing

#endif
