#include "render/IndexedBlit.h"

#include <cstddef>

namespace Qor {

void blitIndexedBitmap(const uint8_t* indices, int32_t width, int32_t height, int32_t originX,
    int32_t originY, uint8_t* pixels, int32_t pitch, int32_t rows,
    const uint8_t* const tables[4], bool topDown)
{
    if (width <= 0 || height <= 0)
        return;
    // Offsets are kept wide: (height - 1) * width overflows 32 bits for the
    // largest 16-bit images.
    const std::ptrdiff_t step = topDown ? pitch : -std::ptrdiff_t(pitch);
    const std::ptrdiff_t firstRow = topDown ? originY : std::ptrdiff_t(rows) - 1 - originY;
    std::ptrdiff_t source = std::ptrdiff_t(height - 1) * width;
    std::ptrdiff_t row = firstRow * pitch + originX;
    for (int32_t k = 0; k < height; ++k) {
        uint8_t* out = pixels + row * 4;
        for (int32_t x = 0; x < width; ++x) {
            const std::ptrdiff_t n = source + x;
            const uint8_t byte = indices[n >> 1];
            const unsigned i = (n & 1) ? (byte & 0x0F) : (byte >> 4);
            out[0] = tables[0][i];
            out[1] = tables[1][i];
            out[2] = tables[2][i];
            out[3] = tables[3][i];
            out += 4;
        }
        source -= width;
        row += step;
    }
}

} // namespace Qor
