// The decoder on hostile input: cut-off data, random bytes under random
// headers, offsets past the data, the longest rows and columns. Every data
// and image block is exactly as long as it claims to be, so that under
// AddressSanitizer a read or write one byte outside fails the test.
#include "encode/PacketWriter.h"
#include "encode/RunLengthEncoder.h"
#include "subdecode/BitmapDecoder.h"
#include "tests/support/IndexedImages.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace Qor {
namespace {

using Testing::exactCopy;
using Testing::randomRunImage;
using Testing::topFirstIndices;

// Decodes `dataLength` bytes copied from `bytes` (none when it is negative)
// into an image block of exactly the need, checks the result, the capacity,
// that every pixel got an index from 0 to 3 and that an odd image's spare
// nibble kept its 0xE; answers the indices, top row first.
std::vector<uint8_t> decodeExactly(uint16_t width, uint16_t height, uint16_t secondFieldOffset,
    const uint8_t* bytes, int32_t dataLength)
{
    const auto data = exactCopy(bytes, size_t(std::max(dataLength, 0)));
    PacketHeader header{};
    header.width = width;
    header.height = height;
    header.secondFieldOffset = secondFieldOffset;
    header.bitmapData = data.get();
    const size_t pixels = size_t(width) * height;
    const int32_t need = int32_t((pixels + 1) / 2);
    std::vector<uint8_t> image(need, 0xEE);
    int32_t capacity = need;
    EXPECT_EQ(decodeBitmap(&header, dataLength, capacity, image.data()), DecodeOk);
    EXPECT_EQ(capacity, need);
    if (pixels % 2) {
        EXPECT_EQ(image.back() & 0x0F, 0x0E) << "spare nibble written";
    }
    std::vector<uint8_t> indices = topFirstIndices(image.data(), width, height);
    size_t unwritten = 0;
    for (uint8_t index : indices)
        unwritten += index > 3;
    EXPECT_EQ(unwritten, 0u) << "pixels left unwritten";
    return indices;
}

// Cutting the data short can only turn a field's later pixels to colour 0:
// every code read whole decodes as before, a cut code paints colour 0, and
// an exhausted field fills with colour 0.
TEST(BitmapDecoderHostile, EveryPrefixOfAPacketsData)
{
    std::mt19937 random(0x70726566);
    RunLengthOptions fourNibbles;
    fourNibbles.fourNibbleCodes = true;
    fourNibbles.endOfRow = EndOfRowCode::Never;
    fourNibbles.passRowEnd = true;
    for (const RunLengthOptions& options : {RunLengthOptions{}, fourNibbles}) {
        PacketContents contents;
        contents.width = 37;
        contents.height = 23;
        contents.indices = randomRunImage(random, contents.width, contents.height);
        contents.codes = options;
        const WrittenPacket written = writePacket(contents);
        ASSERT_TRUE(written) << written.error;
        const std::vector<uint8_t> data(written.bytes.begin() + PacketFormat::HeaderLength, written.bytes.end());
        const uint16_t offset = uint16_t(written.bytes[39] | written.bytes[40] << 8);
        for (size_t length = 0; length <= data.size(); ++length) {
            SCOPED_TRACE(testing::Message() << "four-nibble " << options.fourNibbleCodes << ", length " << length);
            const std::vector<uint8_t> decoded =
                decodeExactly(contents.width, contents.height, offset, data.data(), int32_t(length));
            size_t changed = 0;
            for (size_t i = 0; i < decoded.size(); ++i)
                changed += decoded[i] != contents.indices[i] && decoded[i] != 0;
            EXPECT_EQ(changed, 0u);
            if (length == data.size()) {
                EXPECT_EQ(decoded, contents.indices);
            }
        }
    }
}

TEST(BitmapDecoderHostile, RandomBytesUnderRandomHeaders)
{
    std::mt19937 random(0x686F7374);
    auto pick = [&random](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    auto side = [&]() -> uint16_t {
        switch (pick(0, 3)) {
        case 0:
            return uint16_t(pick(0, 3));
        case 1:
            return uint16_t(pick(1, 64));
        default:
            return uint16_t(pick(1, 400));
        }
    };
    for (int round = 0; round < 3000; ++round) {
        const uint16_t width = side();
        const uint16_t height = side();
        const int32_t length = pick(0, 9) == 0 ? -pick(1, 1000) : pick(0, 400);
        const uint16_t offset = uint16_t(pick(0, 3) == 0 ? pick(0, 65535) : pick(0, std::max(length, 0) + 8));
        std::vector<uint8_t> data(size_t(std::max(length, 0)));
        for (uint8_t& byte : data)
            byte = uint8_t(pick(0, 255));
        SCOPED_TRACE(testing::Message() << "round " << round << ": " << width << "x" << height << ", length "
                                        << length << ", offset " << offset);
        decodeExactly(width, height, offset, data.data(), length);
        if (HasFailure())
            break;
    }
}

// The first field has all the data and decodes as encoded; every row of the
// second field is colour 0.
TEST(BitmapDecoderHostile, SecondFieldOffsetBeyondTheData)
{
    std::mt19937 random(0x6F666673);
    const uint16_t width = 41;
    const uint16_t height = 17;
    const std::vector<uint8_t> indices = randomRunImage(random, width, height);
    const EncodedBitmap encoded = encodeRunLength(indices.data(), width, height);
    for (uint32_t offset : {uint32_t(encoded.data.size()), uint32_t(encoded.data.size()) + 1, 0xFFFFu}) {
        SCOPED_TRACE(offset);
        const std::vector<uint8_t> decoded =
            decodeExactly(width, height, uint16_t(offset), encoded.data.data(), int32_t(encoded.data.size()));
        for (size_t y = 0; y < height; ++y) {
            SCOPED_TRACE(testing::Message() << "row " << y);
            const auto row = decoded.begin() + y * width;
            const std::vector<uint8_t> expected = y % 2 == 0
                ? std::vector<uint8_t>(indices.begin() + y * width, indices.begin() + (y + 1) * width)
                : std::vector<uint8_t>(width, 0);
            EXPECT_EQ(std::vector<uint8_t>(row, row + width), expected);
        }
    }
}

TEST(BitmapDecoderHostile, LongestRowAndLongestColumn)
{
    std::mt19937 random(0x6C6F6E67);
    const struct {
        uint16_t width;
        uint16_t height;
    } shapes[] = {{65535, 1}, {1, 65535}};
    for (const auto& shape : shapes) {
        SCOPED_TRACE(testing::Message() << shape.width << "x" << shape.height);
        const size_t pixels = size_t(shape.width) * shape.height;

        EXPECT_EQ(decodeExactly(shape.width, shape.height, 0, nullptr, 0), std::vector<uint8_t>(pixels, 0));

        std::vector<uint8_t> noise(5000);
        for (uint8_t& byte : noise)
            byte = uint8_t(random());
        for (uint16_t offset : {uint16_t(0), uint16_t(1), uint16_t(2500), uint16_t(5000), uint16_t(65535)})
            decodeExactly(shape.width, shape.height, offset, noise.data(), int32_t(noise.size()));

        const std::vector<uint8_t> indices = randomRunImage(random, shape.width, shape.height);
        const EncodedBitmap encoded = encodeRunLength(indices.data(), shape.width, shape.height);
        ASSERT_LE(encoded.secondFieldOffset, 0xFFFFu);
        EXPECT_EQ(decodeExactly(shape.width, shape.height, uint16_t(encoded.secondFieldOffset), encoded.data.data(),
                      int32_t(encoded.data.size())),
            indices);
    }
}

} // namespace
} // namespace Qor
