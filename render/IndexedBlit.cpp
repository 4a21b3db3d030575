#include "render/IndexedBlit.h"

namespace Qor {

void blitIndexedBitmap(const uint8_t* indices, int32_t width, int32_t height, int32_t originX,
    int32_t originY, uint8_t* pixels, int32_t stride, int32_t rows, const uint8_t* const tables[4], bool topDown)
{
    // Offsets are kept wide: (height - 1) * width overflows 32 bits for the
    // largest 16-bit images.
    for (int64_t k = 0; k < height; ++k) {
        const int64_t source = (int64_t(height) - 1 - k) * width;
        const int64_t row = topDown ? originY + k : int64_t(rows) - 1 - originY - k;
        uint8_t* pixel = pixels + (row * stride + originX) * 4;
        for (int64_t n = source; n < source + width; ++n, pixel += 4) {
            const unsigned index = n & 1 ? indices[n >> 1] & 0x0F : indices[n >> 1] >> 4;
            for (int b = 0; b < 4; ++b)
                pixel[b] = tables[b][index];
        }
    }
}

} // namespace Qor
