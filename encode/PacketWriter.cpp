#include "encode/PacketWriter.h"

#include <utility>

namespace Qor {

namespace {

void putLittle16(std::vector<uint8_t>& bytes, uint16_t value)
{
    bytes.push_back(uint8_t(value & 0xFF));
    bytes.push_back(uint8_t(value >> 8));
}

WrittenPacket refuse(std::string reason)
{
    WrittenPacket refused;
    refused.error = std::move(reason);
    return refused;
}

} // namespace

WrittenPacket writePacket(const PacketContents& contents)
{
    const size_t pixels = size_t(contents.width) * contents.height;
    if (contents.indices.size() != pixels)
        return refuse("image has " + std::to_string(contents.indices.size()) + " indices, not width x height = "
            + std::to_string(pixels));
    if (contents.prefixText.size() > size_t(PacketFormat::PrefixLength))
        return refuse("prefix text is " + std::to_string(contents.prefixText.size()) + " bytes, more than 27");

    EncodedBitmap encoded = encodeRunLength(contents.indices.data(), contents.width, contents.height, contents.codes);
    if (encoded.secondFieldOffset > 0xFFFF)
        // The odd rows' data starts at a 16-bit offset, so the even rows'
        // data must fit in 65535 bytes.
        return refuse("its even rows take " + std::to_string(encoded.secondFieldOffset)
            + " bytes of run-length data, more than the 65535 a packet holds before its odd rows;"
              " split the image into packets of fewer rows, or make it simpler (fewer changes of colour"
              " along each row, such as no dithering)");

    WrittenPacket written;
    std::vector<uint8_t>& bytes = written.bytes;
    const size_t headerLength = contents.alpha ? PacketFormat::AlphaHeaderLength : PacketFormat::HeaderLength;
    bytes.reserve(headerLength + encoded.data.size());
    bytes.assign(contents.prefixText.begin(), contents.prefixText.end());
    bytes.resize(size_t(PacketFormat::PrefixLength), ' ');
    putLittle16(bytes, contents.width);
    putLittle16(bytes, contents.height);
    putLittle16(bytes, contents.left);
    putLittle16(bytes, contents.top);
    putLittle16(bytes, contents.right.value_or(uint16_t(contents.left + contents.width - 1)));
    putLittle16(bytes, contents.bottom.value_or(uint16_t(contents.top + contents.height - 1)));
    putLittle16(bytes, uint16_t(encoded.secondFieldOffset));
    for (const PaletteEntry& colour : contents.palette) {
        bytes.push_back(colour.red);
        bytes.push_back(colour.green);
        bytes.push_back(colour.blue);
    }
    if (contents.alpha)
        bytes.insert(bytes.end(), contents.alpha->begin(), contents.alpha->end());
    bytes.insert(bytes.end(), encoded.data.begin(), encoded.data.end());
    return written;
}

} // namespace Qor
