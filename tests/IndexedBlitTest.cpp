// The indexed blit: orientation, stride, odd widths and index 0.
#include "render/IndexedBlit.h"

#include <gtest/gtest.h>

#include <vector>

namespace Qor {
namespace {

// Tables that write index i as the pixel i, 0x10+i, 0x20+i, 0x30+i.
struct IdentityTables {
    uint8_t bytes[4][16];
    const uint8_t* tables[4];
    IdentityTables()
    {
        for (int b = 0; b < 4; ++b) {
            for (int i = 0; i < 16; ++i)
                bytes[b][i] = uint8_t(b * 0x10 + i);
            tables[b] = bytes[b];
        }
    }
};

// The colour indices of destination row `row`, columns 0..width-1, read from byte 0.
std::vector<int> rowIndices(const std::vector<uint8_t>& pixels, int stride, int row, int width)
{
    std::vector<int> out;
    for (int x = 0; x < width; ++x) {
        const uint8_t* p = &pixels[(row * stride + x) * 4];
        EXPECT_EQ(p[1], 0x10 + p[0]);
        EXPECT_EQ(p[3], 0x30 + p[0]);
        out.push_back(p[0]);
    }
    return out;
}

const uint8_t oddImage[] = {0x12, 0x30, 0x21}; // rows 1,2,3 and 0,2,1

// Top down turns the stored order over; bottom up keeps it.
TEST(IndexedBlit, OrientationPlacesTheStoredRows)
{
    const std::vector<int> first{1, 2, 3};
    const std::vector<int> second{0, 2, 1};
    for (bool topDown : {true, false}) {
        SCOPED_TRACE(topDown ? "top down" : "bottom up");
        IdentityTables t;
        std::vector<uint8_t> pixels(3 * 2 * 4, 0xEE);
        blitIndexedBitmap(oddImage, 3, 2, 0, 0, pixels.data(), 3, 2, t.tables, topDown);
        EXPECT_EQ(rowIndices(pixels, 3, 0, 3), topDown ? second : first);
        EXPECT_EQ(rowIndices(pixels, 3, 1, 3), topDown ? first : second);
    }
}

TEST(IndexedBlit, WiderStrideLeavesGapPixelsAlone)
{
    IdentityTables t;
    std::vector<uint8_t> pixels(5 * 2 * 4, 0xEE);
    blitIndexedBitmap(oddImage, 3, 2, 0, 0, pixels.data(), 5, 7, t.tables, true);
    EXPECT_EQ(rowIndices(pixels, 5, 0, 3), (std::vector<int>{0, 2, 1}));
    EXPECT_EQ(rowIndices(pixels, 5, 1, 3), (std::vector<int>{1, 2, 3}));
    for (int row = 0; row < 2; ++row)
        for (int byte = 12; byte < 20; ++byte)
            EXPECT_EQ(pixels[row * 20 + byte], 0xEE);
}

TEST(IndexedBlit, IndexZeroOverwritesWithItsTableEntries)
{
    uint8_t zeroFirst[4][4] = {{0, 1, 1, 1}, {0, 2, 2, 2}, {0, 3, 3, 3}, {0, 4, 4, 4}};
    const uint8_t* tables[4] = {zeroFirst[0], zeroFirst[1], zeroFirst[2], zeroFirst[3]};
    const uint8_t image[] = {0x00, 0x01}; // 0, 0, 0, 1
    std::vector<uint8_t> pixels(4 * 4, 0xEE);
    blitIndexedBitmap(image, 4, 1, 0, 0, pixels.data(), 4, 1, tables, true);
    EXPECT_EQ(std::vector<uint8_t>(pixels.begin(), pixels.begin() + 12), std::vector<uint8_t>(12, 0));
    EXPECT_EQ(std::vector<uint8_t>(pixels.begin() + 12, pixels.end()), (std::vector<uint8_t>{1, 2, 3, 4}));
}

TEST(IndexedBlit, EmptyBlocksWriteNothing)
{
    IdentityTables t;
    std::vector<uint8_t> pixels(16, 0xEE);
    blitIndexedBitmap(oddImage, 0, 2, 0, 0, pixels.data(), 3, 2, t.tables, true);
    blitIndexedBitmap(oddImage, 3, 0, 0, 0, pixels.data(), 3, 2, t.tables, false);
    EXPECT_EQ(pixels, std::vector<uint8_t>(16, 0xEE));
}

TEST(IndexedBlit, OriginsPlaceTheBlock)
{
    IdentityTables t;
    const uint8_t image[] = {0x12}; // one row: 1, 2
    std::vector<uint8_t> down(4 * 3 * 4, 0xEE);
    blitIndexedBitmap(image, 2, 1, 1, 1, down.data(), 4, 99, t.tables, true);
    EXPECT_EQ(down[(1 * 4 + 1) * 4], 1); // row originY, column originX
    EXPECT_EQ(down[(1 * 4 + 2) * 4], 2);
    EXPECT_EQ(down[(1 * 4 + 0) * 4], 0xEE);
    std::vector<uint8_t> up(4 * 3 * 4, 0xEE);
    blitIndexedBitmap(image, 2, 1, 1, 1, up.data(), 4, 3, t.tables, false);
    EXPECT_EQ(up[(1 * 4 + 1) * 4], 1); // row rows-1-originY = 1
    EXPECT_EQ(up[(1 * 4 + 2) * 4], 2);
    EXPECT_EQ(up[0], 0xEE);
}

} // namespace
} // namespace Qor
