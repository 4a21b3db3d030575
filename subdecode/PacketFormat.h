// Where each field of a bitmap subtitle packet's header sits, counted in
// bytes from the packet's start. The parser, the packet writer and every
// tool or harness that reads a header by hand take their offsets from here.
//
// A packet is a 27-byte text prefix that nothing interprets, seven
// little-endian 16-bit numbers, a palette of four red, green, blue triples,
// for "GPHA" four alpha bytes, and then the run-length data. The packet does
// not say which variant it is: the input port's format does.
#ifndef KELVO_SUBDECODE_PACKETFORMAT_H
#define KELVO_SUBDECODE_PACKETFORMAT_H

#include <cstdint>

namespace Qor::PacketFormat {

constexpr int32_t PrefixOffset = 0;
constexpr int32_t PrefixLength = 27;
// The 16-bit fields, each two bytes, low byte first. The fields sit at odd
// offsets, so they are assembled from single bytes.
constexpr int32_t WidthOffset = 27;
constexpr int32_t HeightOffset = 29;
constexpr int32_t LeftOffset = 31;
constexpr int32_t TopOffset = 33;
constexpr int32_t RightOffset = 35;   // inclusive
constexpr int32_t BottomOffset = 37;  // inclusive
// Where the second field starts, counted from the run-length data, not from the packet.
constexpr int32_t SecondFieldOffsetOffset = 39;
constexpr int32_t PaletteOffset = 41;
constexpr int32_t PaletteEntryLength = 3;  // red, green, blue
constexpr int32_t ColourCount = 4;
// "GPHA" only: one alpha byte per colour, right after the palette.
constexpr int32_t AlphaOffset = PaletteOffset + ColourCount * PaletteEntryLength;
// The run-length data follows the header directly.
constexpr int32_t HeaderLength = AlphaOffset;
constexpr int32_t AlphaHeaderLength = AlphaOffset + ColourCount;

static_assert(HeaderLength == 53 && AlphaHeaderLength == 57, "the two header lengths");

// The little-endian 16-bit field at `bytes`.
constexpr uint16_t readLittle16(const uint8_t* bytes)
{
    return uint16_t(bytes[0] | bytes[1] << 8);
}

} // namespace Qor::PacketFormat

#endif
