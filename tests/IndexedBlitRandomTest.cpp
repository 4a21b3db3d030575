// The blit on random images: odd and even widths, strides, origins, both
// orientations, and every number of table entries from 1 to 16. The tables
// hold exactly as many entries as the image's largest index needs and the
// image exactly its bytes, so that under AddressSanitizer a lookup past them
// fails; the image's spare nibble, when it has one, is 15. The whole
// destination is compared with what the indices, the tables and the
// orientation say of each pixel, the bytes around the block included.
#include "render/IndexedBlit.h"
#include "tests/support/IndexedImages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace Qor {
namespace {

using Testing::exactCopy;

struct BlitCase {
    std::mt19937 random;
    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); }
};

TEST(IndexedBlitRandom, EveryByteIsWhatTheImageSays)
{
    BlitCase c{std::mt19937(0x626C6974)};
    for (int round = 0; round < 3000; ++round) {
        const int32_t width = c.pick(0, 9) == 0 ? c.pick(0, 3) : c.pick(0, 4) == 0 ? c.pick(200, 700) : c.pick(1, 70);
        const int32_t height = c.pick(0, 9) == 0 ? c.pick(0, 2) : c.pick(0, 3) == 0 ? c.pick(13, 40) : c.pick(1, 12);
        const int32_t stride = width + (c.pick(0, 2) == 0 ? 0 : c.pick(1, 9));
        const int32_t originX = c.pick(0, 2) == 0 ? 0 : c.pick(1, 5);
        const int32_t originY = c.pick(0, 2) == 0 ? 0 : c.pick(1, 3);
        const int32_t rows = originY + height + c.pick(0, 3);
        const bool topDown = c.pick(0, 1) == 1;
        const int largest = c.pick(0, 15);
        SCOPED_TRACE(testing::Message() << "round " << round << ": " << width << "x" << height << ", stride "
                                        << stride << ", origin " << originX << "," << originY << ", rows " << rows
                                        << (topDown ? ", top down" : ", bottom up") << ", largest index "
                                        << largest);

        // Runs of one index, a few pixels to a few tens, so that pairs of equal
        // and unequal indices both occur; the largest index at least once.
        const size_t pixels = size_t(width) * size_t(height);
        std::vector<uint8_t> indices;
        while (indices.size() < pixels)
            indices.insert(indices.end(), std::min<size_t>(size_t(c.pick(1, 40)), pixels - indices.size()),
                uint8_t(c.pick(0, largest)));
        if (pixels)
            indices[size_t(c.pick(0, int(pixels) - 1))] = uint8_t(largest);
        std::vector<uint8_t> packed((pixels + 1) / 2, 0);
        for (size_t p = 0; p < pixels; ++p)
            packed[p / 2] |= uint8_t(p % 2 ? indices[p] : indices[p] << 4);
        if (pixels % 2)
            packed.back() |= 0x0F;
        const auto image = exactCopy(packed.data(), packed.size());

        std::vector<std::unique_ptr<uint8_t[]>> owned;
        const uint8_t* tables[4];
        for (int b = 0; b < 4; ++b) {
            std::vector<uint8_t> entries(size_t(largest) + 1);
            for (uint8_t& entry : entries)
                entry = uint8_t(c.random());
            owned.push_back(exactCopy(entries.data(), entries.size()));
            tables[b] = owned.back().get();
        }

        // The destination holds the block's rows with a stride's worth of
        // pixels after the last, filled with random bytes. The image's
        // last stored row is drawn first.
        const size_t destinationRows = size_t(topDown ? originY + height : rows);
        std::vector<uint8_t> expected((destinationRows * size_t(stride) + size_t(originX) + size_t(stride)) * 4);
        for (uint8_t& byte : expected)
            byte = uint8_t(c.random());
        const auto actual = exactCopy(expected.data(), expected.size());
        for (int32_t k = 0; k < height; ++k) {
            const size_t source = size_t(height - 1 - k) * size_t(width);
            const size_t row = size_t(topDown ? originY + k : rows - 1 - originY - k);
            for (int32_t x = 0; x < width; ++x)
                for (int b = 0; b < 4; ++b)
                    expected[(row * size_t(stride) + size_t(originX + x)) * 4 + size_t(b)]
                        = tables[b][indices[source + size_t(x)]];
        }
        blitIndexedBitmap(image.get(), width, height, originX, originY, actual.get(), stride, rows, tables, topDown);
        const auto differs = std::mismatch(expected.begin(), expected.end(), actual.get());
        EXPECT_EQ(differs.first, expected.end()) << "first difference at byte " << (differs.first - expected.begin());
        if (HasFailure())
            break;
    }
}

} // namespace
} // namespace Qor
