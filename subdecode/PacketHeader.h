// The fixed header of a bitmap subtitle packet, and its parser.
//
// A packet is a 27-byte text prefix, seven little-endian 16-bit numbers
// (size, rectangle, where the second field starts), a four-colour palette,
// for "GPHA" four alpha bytes, and then the run-length data. The packet does
// not say which variant it is: the input port's format does.
#ifndef KELVO_SUBDECODE_PACKETHEADER_H
#define KELVO_SUBDECODE_PACKETHEADER_H

#include <cstdint>

namespace Qor {

// Result codes of the packet parser and the bitmap decoder.
enum : int32_t {
    DecodeOk = 0,
    DecodeOutputTooSmall = -1,
    DecodeNoRecord = -3,
};

// Header lengths: the run-length data begins right after them.
constexpr int32_t PacketHeaderLength = 53;
constexpr int32_t AlphaPacketHeaderLength = 57;

struct PaletteEntry {
    uint8_t red;
    uint8_t green;
    uint8_t blue;
};

struct PacketHeader {
    uint8_t prefixText[27];      // kept as it came; nothing reads it
    uint16_t width;
    uint16_t height;
    uint16_t left;               // picture column of the first column
    uint16_t top;                // picture row of the first row
    uint16_t right;              // inclusive
    uint16_t bottom;             // inclusive
    uint16_t secondFieldOffset;  // counted from bitmapData, not from the packet
    PaletteEntry palette[4];
    const uint8_t* bitmapData;   // into the packet's own bytes
};

// Copies the header of `packet` into *header; with `alphaOut` the packet is
// read as "GPHA" and its four alpha bytes go there. Reads exactly 53 bytes,
// or 57 with `alphaOut`, and validates nothing. Answers DecodeOk, or
// DecodeNoRecord for a null `header`, reading and writing nothing.
int32_t parsePacketHeader(const uint8_t* packet, PacketHeader* header, uint8_t* alphaOut);

} // namespace Qor

#endif
