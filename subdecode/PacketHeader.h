// The fixed header of a bitmap subtitle packet, and its parser. Where each
// field sits is subdecode/PacketFormat.h.
#ifndef KELVO_SUBDECODE_PACKETHEADER_H
#define KELVO_SUBDECODE_PACKETHEADER_H

#include "subdecode/PacketFormat.h"

#include <cstdint>

namespace Qor {

// Result codes of the packet parser and the bitmap decoder.
enum : int32_t {
    DecodeOk = 0,
    DecodeOutputTooSmall = -1,
    DecodeNoRecord = -3,
};

struct PaletteEntry {
    uint8_t red;
    uint8_t green;
    uint8_t blue;
};

struct PacketHeader {
    uint8_t prefixText[PacketFormat::PrefixLength];      // kept as it came; nothing reads it
    uint16_t width;
    uint16_t height;
    uint16_t left;               // picture column of the first column
    uint16_t top;                // picture row of the first row
    uint16_t right;              // inclusive
    uint16_t bottom;             // inclusive
    uint16_t secondFieldOffset;  // counted from bitmapData, not from the packet
    PaletteEntry palette[PacketFormat::ColourCount];
    const uint8_t* bitmapData;   // into the packet's own bytes
};

// Copies the header of `packet` into *header; with `alphaOut` the packet is
// read as "GPHA" and its four alpha bytes go there. Reads exactly 53 bytes,
// or 57 with `alphaOut`, and validates nothing. Answers DecodeOk, or
// DecodeNoRecord for a null `header`, reading and writing nothing.
int32_t parsePacketHeader(const uint8_t* packet, PacketHeader* header, uint8_t* alphaOut);

} // namespace Qor

#endif
