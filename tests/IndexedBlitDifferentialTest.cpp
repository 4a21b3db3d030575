// The blit against its plain form (tests/support/PlainForms.h) on random
// images: odd and even widths, pitches, origins, both orientations, and
// every number of table entries from 1 to 16. The tables hold exactly as
// many entries as the image's largest index needs and the image exactly its
// bytes, so that under AddressSanitizer a lookup past them fails; the image's
// spare nibble, when it has one, is 15. The whole destination is compared,
// the bytes around the block included.
#include "render/IndexedBlit.h"
#include "render/IndexedBlitKernels.h"
#include "tests/support/IndexedImages.h"
#include "tests/support/PlainForms.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace Qor {
namespace {

using Testing::exactCopy;
using Testing::plainBlitIndexedBitmap;

using Blit = void (*)(const uint8_t*, int32_t, int32_t, int32_t, int32_t, uint8_t*, int32_t, int32_t,
    const uint8_t* const[4], bool);

struct BlitCase {
    std::mt19937 random;
    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); }
};

void compareWithPlainForm(Blit blit, uint32_t seed, int rounds)
{
    BlitCase c{std::mt19937(seed)};
    for (int round = 0; round < rounds; ++round) {
        const int32_t width = c.pick(0, 9) == 0 ? c.pick(0, 3) : c.pick(0, 4) == 0 ? c.pick(200, 700) : c.pick(1, 70);
        const int32_t height = c.pick(0, 9) == 0 ? c.pick(0, 2) : c.pick(0, 3) == 0 ? c.pick(13, 40) : c.pick(1, 12);
        const int32_t pitch = width + (c.pick(0, 2) == 0 ? 0 : c.pick(1, 9));
        const int32_t originX = c.pick(0, 2) == 0 ? 0 : c.pick(1, 5);
        const int32_t originY = c.pick(0, 2) == 0 ? 0 : c.pick(1, 3);
        const int32_t rows = originY + height + c.pick(0, 3);
        const bool topDown = c.pick(0, 1) == 1;
        const int largest = c.pick(0, 15);
        SCOPED_TRACE(testing::Message() << "round " << round << ": " << width << "x" << height << ", pitch "
                                        << pitch << ", origin " << originX << "," << originY << ", rows " << rows
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
        // Some rows only of indices 0 to 3, the decoder's, which take another way.
        if (c.pick(0, 1) == 0)
            for (size_t y = 0; y < size_t(height); ++y)
                if (c.pick(0, 1) == 0)
                    for (size_t x = 0; x < size_t(width); ++x)
                        indices[y * width + x] &= 3;
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

        // The destination holds the block's rows with a pitch's worth of pixels
        // after the last, filled with random bytes.
        const size_t destinationRows = size_t(topDown ? originY + height : rows);
        std::vector<uint8_t> before((destinationRows * size_t(pitch) + size_t(originX) + size_t(pitch)) * 4);
        for (uint8_t& byte : before)
            byte = uint8_t(c.random());
        const auto actual = exactCopy(before.data(), before.size());
        const auto expected = exactCopy(before.data(), before.size());
        blit(image.get(), width, height, originX, originY, actual.get(), pitch, rows, tables, topDown);
        plainBlitIndexedBitmap(image.get(), width, height, originX, originY, expected.get(), pitch, rows, tables,
            topDown);
        const auto differs = std::mismatch(actual.get(), actual.get() + before.size(), expected.get());
        EXPECT_EQ(differs.first, actual.get() + before.size())
            << "first difference at byte " << (differs.first - actual.get());
        if (testing::Test::HasFailure())
            break;
    }
}

struct Expansion {
    const char* name;
    Blit blit;
};

void PrintTo(const Expansion& expansion, std::ostream* out)
{
    *out << expansion.name;
}

class IndexedBlitDifferential : public testing::TestWithParam<Expansion> {};

TEST_P(IndexedBlitDifferential, MatchesPlainForm)
{
    compareWithPlainForm(GetParam().blit, 0x626C6974, 3000);
}

// The routine as built, and every expansion the build has, whichever it picked.
const Expansion expansions[] = {
    {"AsBuilt", blitIndexedBitmap},
    {"Portable", blitIndexedBitmapPortable},
#if KELVO_BLIT_SSE2
    {"Sse2",
        [](const uint8_t* indices, int32_t width, int32_t height, int32_t originX, int32_t originY,
            uint8_t* pixels, int32_t pitch, int32_t rows, const uint8_t* const tables[4], bool topDown) {
            blitIndexedBitmapSse2(indices, width, height, originX, originY, pixels, pitch, rows, tables, topDown,
                false);
        }},
    {"Sse2Streaming",
        [](const uint8_t* indices, int32_t width, int32_t height, int32_t originX, int32_t originY,
            uint8_t* pixels, int32_t pitch, int32_t rows, const uint8_t* const tables[4], bool topDown) {
            blitIndexedBitmapSse2(indices, width, height, originX, originY, pixels, pitch, rows, tables, topDown,
                true);
        }},
#endif
};

INSTANTIATE_TEST_SUITE_P(Expansions, IndexedBlitDifferential, testing::ValuesIn(expansions),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace Qor
