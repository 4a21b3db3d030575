// The run-length decoder on data coded by hand: every code form, cut runs,
// skipped nibbles, odd widths, exhausted and truncated fields, refusals.
#include "subdecode/BitmapDecoder.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace Qor {
namespace {

PacketHeader headerFor(uint16_t width, uint16_t height, uint16_t secondFieldOffset, const uint8_t* data)
{
    PacketHeader header{};
    header.width = width;
    header.height = height;
    header.secondFieldOffset = secondFieldOffset;
    header.bitmapData = data;
    return header;
}

// Image bytes are in memory order, the bitmap's bottom row first. The image
// buffer starts as `image.size()` bytes of 0xEE, so an unwritten nibble shows
// as E. Bytes of `data` past `dataLength` are in memory but not the packet's:
// a decoder that read them would paint other colours.
struct DecodeCase {
    const char* label;
    uint16_t width;
    uint16_t height;
    uint16_t secondFieldOffset;
    std::vector<uint8_t> data;
    int32_t dataLength;
    int32_t capacity;
    int32_t result;
    int32_t capacityAfter;
    std::vector<uint8_t> image;
};

const DecodeCase decodeCases[] = {
    // Field 1: 0x5, 0xB, 0x6 make 1, 3, 3, 2 and a nibble is skipped; then
    // the end-of-row code 0002. Field 2: 0x11, a run of 4 of colour 1.
    {"two fields with end-of-row code", 4, 3, 4, {0x5B, 0x60, 0x00, 0x02, 0x11}, 5, 6, DecodeOk, 6,
        {0x22, 0x22, 0x11, 0x11, 0x13, 0x32}},
    {"data ends where the second field begins", 4, 3, 4, {0x5B, 0x60, 0x00, 0x02, 0x11}, 4, 6, DecodeOk, 6,
        {0x22, 0x22, 0x00, 0x00, 0x13, 0x32}},
    {"capacity one byte short", 4, 3, 4, {0x5B, 0x60, 0x00, 0x02, 0x11}, 5, 5, DecodeOutputTooSmall, 6,
        {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}},
    // 0xD: 3 of colour 1 ends field 1's only row. Field 2: 0x6, then 0003 to the row's end.
    {"odd width starts a row mid-byte", 3, 2, 1, {0xD0, 0x60, 0x00, 0x30}, 4, 3, DecodeOk, 3,
        {0x23, 0x31, 0x11}},
    {"run of 6 cut at a row of 4", 4, 1, 1, {0x19}, 1, 2, DecodeOk, 2, {0x11, 0x11}},
    {"end-of-row code after a run", 8, 1, 3, {0x70, 0x00, 0x10}, 3, 4, DecodeOk, 4, {0x31, 0x11, 0x11, 0x11}},
    {"four-nibble run of 6 then exhausted", 8, 1, 2, {0x00, 0x1B}, 2, 4, DecodeOk, 4, {0x33, 0x33, 0x33, 0x00}},
    // Field 1's code starts at nibble 0 of 2 and reads 0x123 on into field 2's byte.
    {"first field's code reads on into the second's", 8, 2, 1, {0x01, 0x23}, 2, 8, DecodeOk, 8,
        {0x33, 0x33, 0x33, 0x33, 0x33, 0x33, 0x33, 0x33}},
    {"spare nibble of an odd image kept", 3, 1, 1, {0xD0}, 1, 2, DecodeOk, 2, {0x11, 0x1E}},
    // 0x041: 16 of colour 1; 0x12: 4 of colour 2.
    {"three-nibble code", 20, 1, 3, {0x04, 0x11, 0x20}, 3, 10, DecodeOk, 10,
        {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x22, 0x22}},
    // 0x0101: 64 of colour 1; 0x1A: 6 of colour 2.
    {"four-nibble code of 64", 70, 1, 3, {0x01, 0x01, 0x1A}, 3, 35, DecodeOk, 35,
        {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11,
            0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11,
            0x22, 0x22, 0x22}},
    // 0x0007: 1 of colour 3; 0x000A: 2 of colour 2, cut to 1.
    {"non-shortest four-nibble codes", 2, 1, 4, {0x00, 0x07, 0x00, 0x0A}, 4, 1, DecodeOk, 1, {0x32}},
    // Field 1 has all the data: rows 0x11 and 0x22 (8 of colour 2, cut).
    {"offset beyond the data empties the second field", 4, 3, 0xFFFF, {0x11, 0x22}, 2, 6, DecodeOk, 6,
        {0x22, 0x22, 0x00, 0x00, 0x11, 0x11}},
    {"offset 0 empties the first field", 4, 2, 0, {0x11}, 1, 4, DecodeOk, 4, {0x11, 0x11, 0x00, 0x00}},
    {"negative data length reads as none", 4, 1, 0, {0x11}, -5, 2, DecodeOk, 2, {0x00, 0x00}},
    // 0x5: 1 of colour 1; then 0, 0, 1 and a missing nibble: 0x010, 4 of
    // colour 0, and the field is exhausted. Reading the 0xFF would give 0x01F.
    {"truncated code in the first field", 8, 1, 2, {0x50, 0x01, 0xFF}, 2, 4, DecodeOk, 4,
        {0x10, 0x00, 0x00, 0x00}},
    // Field 2: 0, 3 and two missing nibbles: 0x300, 192 of colour 0, cut to 4.
    {"truncated code in the second field", 4, 2, 1, {0x11, 0x03, 0xFF}, 2, 4, DecodeOk, 4,
        {0x00, 0x00, 0x11, 0x11}},
    // 0x7: 1 of colour 3; then 0, 0, 0 and a missing nibble: end of row in colour 0.
    {"truncated end-of-row code", 8, 1, 2, {0x70, 0x00, 0x30}, 2, 4, DecodeOk, 4, {0x30, 0x00, 0x00, 0x00}},
};

TEST(BitmapDecoder, DecodesHandCodedData)
{
    for (const DecodeCase& c : decodeCases) {
        SCOPED_TRACE(c.label);
        const PacketHeader header = headerFor(c.width, c.height, c.secondFieldOffset, c.data.data());
        std::vector<uint8_t> image(c.image.size(), 0xEE);
        int32_t capacity = c.capacity;
        EXPECT_EQ(decodeBitmap(&header, c.dataLength, capacity, image.data()), c.result);
        EXPECT_EQ(capacity, c.capacityAfter);
        EXPECT_EQ(image, c.image);
    }
}

TEST(BitmapDecoder, EmptyImageReadsAndWritesNothing)
{
    const struct {
        uint16_t width;
        uint16_t height;
    } shapes[] = {{0, 0}, {0, 5}, {7, 0}, {65535, 0}, {0, 65535}};
    for (const auto& shape : shapes) {
        SCOPED_TRACE(testing::Message() << shape.width << "x" << shape.height);
        // Null data with a length: any read would crash.
        const PacketHeader header = headerFor(shape.width, shape.height, 3, nullptr);
        std::vector<uint8_t> image(4, 0xEE);
        int32_t capacity = 9;
        EXPECT_EQ(decodeBitmap(&header, 100, capacity, image.data()), DecodeOk);
        EXPECT_EQ(capacity, 0);
        EXPECT_EQ(image, std::vector<uint8_t>(4, 0xEE));
        capacity = 0;
        EXPECT_EQ(decodeBitmap(&header, 100, capacity, nullptr), DecodeOk);
        EXPECT_EQ(capacity, 0);
    }
}

TEST(BitmapDecoder, NullHeaderLeavesCapacityAndImage)
{
    std::vector<uint8_t> image(4, 0xEE);
    int32_t capacity = 123;
    EXPECT_EQ(decodeBitmap(nullptr, 10, capacity, image.data()), DecodeNoRecord);
    EXPECT_EQ(capacity, 123);
    EXPECT_EQ(image, std::vector<uint8_t>(4, 0xEE));
}

TEST(BitmapDecoder, RefusalsWriteNothingAndReportTheNeed)
{
    const uint8_t data[] = {0x11};
    const PacketHeader header = headerFor(4, 1, 1, data);
    const int32_t entries[] = {-1, INT_MIN, 0, 1};
    for (int32_t entry : entries) {
        SCOPED_TRACE(entry);
        std::vector<uint8_t> image(2, 0xEE);
        int32_t capacity = entry;
        EXPECT_EQ(decodeBitmap(&header, 1, capacity, image.data()), DecodeOutputTooSmall);
        EXPECT_EQ(capacity, 2);
        EXPECT_EQ(image, std::vector<uint8_t>(2, 0xEE));
    }
    int32_t capacity = 1000;
    EXPECT_EQ(decodeBitmap(&header, 1, capacity, nullptr), DecodeOutputTooSmall);
    EXPECT_EQ(capacity, 2);
}

// The largest sizes are checked through the refusal, which computes the need
// without touching the image: no test allocates 2 GiB.
TEST(BitmapDecoder, NeedOfTheLargestBitmapsFitsCapacity)
{
    const struct {
        uint16_t width;
        uint16_t height;
        int32_t need;
    } shapes[] = {
        {65535, 65535, 2147418113}, // the product 4294836225 does not fit 32 signed bits
        {65535, 65534, 2147385345},
        {65534, 65535, 2147385345},
    };
    for (const auto& shape : shapes) {
        SCOPED_TRACE(testing::Message() << shape.width << "x" << shape.height);
        const PacketHeader header = headerFor(shape.width, shape.height, 0, nullptr);
        uint8_t image[2] = {0xEE, 0xEE};
        int32_t capacity = 2;
        EXPECT_EQ(decodeBitmap(&header, 0, capacity, image), DecodeOutputTooSmall);
        EXPECT_EQ(capacity, shape.need);
        EXPECT_EQ(image[0], 0xEE);
    }
}

} // namespace
} // namespace Qor
