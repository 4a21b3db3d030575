#include "subdecode/PacketHeader.h"

#include <cstring>

namespace Qor {

namespace {

// Assembled from single bytes: the fields sit at odd offsets.
uint16_t readLittle16(const uint8_t* bytes)
{
    return uint16_t(bytes[0] | bytes[1] << 8);
}

} // namespace

int32_t parsePacketHeader(const uint8_t* packet, PacketHeader* header, uint8_t* alphaOut)
{
    if (!header)
        return DecodeNoRecord;
    std::memcpy(header->prefixText, packet, sizeof header->prefixText);
    header->width = readLittle16(packet + 27);
    header->height = readLittle16(packet + 29);
    header->left = readLittle16(packet + 31);
    header->top = readLittle16(packet + 33);
    header->right = readLittle16(packet + 35);
    header->bottom = readLittle16(packet + 37);
    header->secondFieldOffset = readLittle16(packet + 39);
    for (int colour = 0; colour < 4; ++colour) {
        const uint8_t* rgb = packet + 41 + 3 * colour;
        header->palette[colour] = PaletteEntry{rgb[0], rgb[1], rgb[2]};
    }
    if (alphaOut) {
        std::memcpy(alphaOut, packet + PacketHeaderLength, 4);
        header->bitmapData = packet + AlphaPacketHeaderLength;
    } else {
        header->bitmapData = packet + PacketHeaderLength;
    }
    return DecodeOk;
}

} // namespace Qor
