// The format codes the component accepts, as data: the two packet formats
// with what each means for the header, and the four pixel byte orders with
// the channel each byte of a pixel comes from. A side of the component looks
// its code up here once, when it opens; the packet path compares no text.
#ifndef KELVO_SUBDECODE_FORMATS_H
#define KELVO_SUBDECODE_FORMATS_H

#include <cstdint>

namespace Qor {

// True when the five bytes of `text`, terminator included, equal those of
// the four-character `code`. Reads no further than the terminator of
// `text`, so a shorter text differs at its terminator and a longer one at
// its fifth byte; case matters.
bool sameCode(const char* text, const char* code);

struct InputFormat {
    const char* code;
    int32_t headerLength;  // where the run-length data starts
    bool hasAlpha;         // the header carries an alpha byte per colour
};

// "GPHA" then "GPHB", the order in which the packet side compares them.
extern const InputFormat inputFormats[2];
// The packet format "GPHB", which is how packets are read until a sink
// decides otherwise.
extern const InputFormat& opaquePackets;

// The entry whose code is exactly `text`, or null for any other text and for null.
const InputFormat* findInputFormat(const char* text);

// The four channels of a pixel, as indices into ChannelTables' order.
enum Channel : uint8_t { ChannelAlpha = 0, ChannelRed = 1, ChannelGreen = 2, ChannelBlue = 3 };

struct OutputOrder {
    const char* code;
    Channel bytes[4];  // bytes[b]: the channel of a pixel's byte b, byte 0 first in memory
};

// "RGBA", "BGRA", "ARGB", "ABGR", the order in which the frame side compares them.
extern const OutputOrder outputOrders[4];

// The entry whose code is exactly `text`, or null for any other text and for null.
const OutputOrder* findOutputOrder(const char* text);

} // namespace Qor

#endif
