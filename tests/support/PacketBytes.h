// Subtitle packets laid out byte by byte, for tests that need exact data.
#ifndef KELVO_TESTS_SUPPORT_PACKETBYTES_H
#define KELVO_TESTS_SUPPORT_PACKETBYTES_H

#include <array>
#include <cstdint>
#include <vector>

namespace Qor::Testing {

struct PacketFields {
    uint16_t width = 0, height = 0;
    uint16_t left = 0, top = 0, right = 0, bottom = 0; // the rectangle, right and bottom inclusive
    uint16_t secondFieldOffset = 0;
    std::array<std::array<uint8_t, 3>, 4> palette{};
    bool withAlpha = false;
    std::array<uint8_t, 4> alpha{};
    std::vector<uint8_t> data;  // run-length data of both fields
};

// The packet's bytes: a prefix of 'p', the little-endian fields, the
// palette, the alpha bytes when asked for, then the data.
inline std::vector<uint8_t> packetBytes(const PacketFields& f)
{
    std::vector<uint8_t> bytes(27, 'p');
    for (uint16_t value : {f.width, f.height, f.left, f.top, f.right, f.bottom, f.secondFieldOffset}) {
        bytes.push_back(uint8_t(value & 0xFF));
        bytes.push_back(uint8_t(value >> 8));
    }
    for (const auto& rgb : f.palette)
        bytes.insert(bytes.end(), rgb.begin(), rgb.end());
    if (f.withAlpha)
        bytes.insert(bytes.end(), f.alpha.begin(), f.alpha.end());
    bytes.insert(bytes.end(), f.data.begin(), f.data.end());
    return bytes;
}

} // namespace Qor::Testing

#endif
