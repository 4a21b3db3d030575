// Whole subtitle packets, "GPHB" or "GPHA", built from an image of colour
// indices: the header the parser reads, then the encoder's two fields.
#ifndef KELVO_ENCODE_PACKETWRITER_H
#define KELVO_ENCODE_PACKETWRITER_H

#include "encode/RunLengthEncoder.h"
#include "subdecode/PacketHeader.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Qor {

// Everything a packet says: the image, its place on the picture, its colours.
struct PacketContents {
    uint16_t width = 0;
    uint16_t height = 0;
    std::vector<uint8_t> indices; // width x height colour indices, top row first
    std::array<PaletteEntry, 4> palette{};
    std::optional<std::array<uint8_t, 4>> alpha; // present for "GPHA", absent for "GPHB"
    uint16_t left = 0;
    uint16_t top = 0;
    // Unless given, left + width - 1 and top + height - 1, taken modulo 2^16.
    std::optional<uint16_t> right;
    std::optional<uint16_t> bottom;
    std::string prefixText = "kelvo packet"; // at most 27 bytes, padded with spaces
    RunLengthOptions codes;
};

// A packet's bytes, or the reason there are none.
struct WrittenPacket {
    std::vector<uint8_t> bytes; // empty on refusal
    std::string error;          // empty on success
    explicit operator bool() const { return error.empty(); }
};

// Builds the packet for `contents`; refuses, with no bytes and a one-line
// reason, when the indices are not width x height, the prefix text is longer
// than 27 bytes, or the first field's data passes 65535 bytes, the most that
// secondFieldOffset can point past.
WrittenPacket writePacket(const PacketContents& contents);

} // namespace Qor

#endif
