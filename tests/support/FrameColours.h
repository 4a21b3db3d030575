// What a frame's pixels may hold, worked out from the packet's own bytes: the
// four colours of its palette, with their alpha, in the output byte order.
// Header-only, for the session property test and the fuzz targets.
#ifndef KELVO_TESTS_SUPPORT_FRAMECOLOURS_H
#define KELVO_TESTS_SUPPORT_FRAMECOLOURS_H

#include "subdecode/PacketFormat.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace Qor::Testing {

using Pixel = std::array<uint8_t, 4>;

// The pixel of each colour 0 to 3 of the packet at `packet` (at least 53
// bytes, 57 with `withAlpha`) in the order `order` ("RGBA", "BGRA", "ARGB",
// "ABGR"). Without alpha bytes colour 0 is transparent and the rest opaque;
// a transparent colour is four zero bytes whatever its palette entry.
inline std::array<Pixel, 4> packetColours(const uint8_t* packet, bool withAlpha, const char* order)
{
    std::array<Pixel, 4> colours{};
    for (int i = 0; i < 4; ++i) {
        const uint8_t* rgb = packet + PacketFormat::PaletteOffset + PacketFormat::PaletteEntryLength * i;
        const uint8_t a = withAlpha ? packet[PacketFormat::AlphaOffset + i] : (i == 0 ? 0 : 255);
        const uint8_t r = a ? rgb[0] : 0;
        const uint8_t g = a ? rgb[1] : 0;
        const uint8_t b = a ? rgb[2] : 0;
        if (std::strcmp(order, "RGBA") == 0)
            colours[i] = {r, g, b, a};
        else if (std::strcmp(order, "BGRA") == 0)
            colours[i] = {b, g, r, a};
        else if (std::strcmp(order, "ARGB") == 0)
            colours[i] = {a, r, g, b};
        else
            colours[i] = {a, b, g, r};
    }
    return colours;
}

// The colour index of the pixel at `p` among `colours`, or -1 when it is none of them.
inline int colourOf(const uint8_t* p, const std::array<Pixel, 4>& colours)
{
    // Compared as words: a loop over millions of pixels stays quick, and the
    // fuzzing engine does not take each comparison for a hint.
    uint32_t pixel;
    std::memcpy(&pixel, p, 4);
    for (int i = 0; i < 4; ++i) {
        uint32_t colour;
        std::memcpy(&colour, colours[i].data(), 4);
        if (pixel == colour)
            return i;
    }
    return -1;
}

} // namespace Qor::Testing

#endif
