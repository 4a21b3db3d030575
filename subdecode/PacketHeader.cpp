#include "subdecode/PacketHeader.h"

#include <cstring>

namespace Qor {

int32_t parsePacketHeader(const uint8_t* packet, PacketHeader* header, uint8_t* alphaOut)
{
    using namespace PacketFormat;
    if (!header)
        return DecodeNoRecord;
    std::memcpy(header->prefixText, packet + PrefixOffset, sizeof header->prefixText);
    header->width = readLittle16(packet + WidthOffset);
    header->height = readLittle16(packet + HeightOffset);
    header->left = readLittle16(packet + LeftOffset);
    header->top = readLittle16(packet + TopOffset);
    header->right = readLittle16(packet + RightOffset);
    header->bottom = readLittle16(packet + BottomOffset);
    header->secondFieldOffset = readLittle16(packet + SecondFieldOffsetOffset);
    for (int colour = 0; colour < ColourCount; ++colour) {
        const uint8_t* rgb = packet + PaletteOffset + PaletteEntryLength * colour;
        header->palette[colour] = PaletteEntry{rgb[0], rgb[1], rgb[2]};
    }
    if (alphaOut) {
        std::memcpy(alphaOut, packet + AlphaOffset, ColourCount);
        header->bitmapData = packet + AlphaHeaderLength;
    } else {
        header->bitmapData = packet + HeaderLength;
    }
    return DecodeOk;
}

} // namespace Qor
