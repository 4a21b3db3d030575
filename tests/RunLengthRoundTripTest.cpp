// The decoder against the encoder: every image the encoder makes, in every
// code form it can write, decodes to the indices it came from; so do whole
// packets from the writer, read back through the header parser.
#include "encode/PacketWriter.h"
#include "encode/RunLengthEncoder.h"
#include "subdecode/BitmapDecoder.h"
#include "subdecode/PacketHeader.h"
#include "tests/support/IndexedImages.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace Qor {
namespace {

using Testing::codeChoices;
using Testing::exactCopy;
using Testing::randomRunImage;
using Testing::topFirstIndices;

struct Shape {
    uint16_t width;
    uint16_t height;
};

struct Image {
    Shape shape;
    std::vector<uint8_t> indices;
};

// Hand-picked edges, then random sizes of both parities; the runs are random,
// so rows begin and end inside runs of every length.
std::vector<Image> sampleImages()
{
    std::mt19937 random(0x6B656C76);
    std::vector<Shape> shapes = {{1, 1}, {1, 2}, {2, 1}, {2, 2}, {3, 3}, {4, 5}, {5, 4}, {7, 7}, {64, 3}, {1, 300},
        {300, 1}, {255, 2}, {256, 3}, {257, 5}, {299, 298}, {300, 300}};
    std::uniform_int_distribution<int> side(1, 300);
    for (int i = 0; i < 40; ++i)
        shapes.push_back({uint16_t(side(random)), uint16_t(side(random))});
    std::vector<Image> images;
    for (const Shape& shape : shapes)
        images.push_back({shape, randomRunImage(random, shape.width, shape.height)});
    // One colour throughout: every row a single run to its end.
    images.push_back({{300, 7}, std::vector<uint8_t>(300 * 7, 3)});
    return images;
}

std::string firstDifference(const std::vector<uint8_t>& decoded, const std::vector<uint8_t>& original, int width)
{
    if (decoded.size() != original.size())
        return "sizes differ";
    for (size_t i = 0; i < decoded.size(); ++i)
        if (decoded[i] != original[i])
            return "row " + std::to_string(i / width) + " column " + std::to_string(i % width) + ": "
                + std::to_string(decoded[i]) + " instead of " + std::to_string(original[i]);
    return "";
}

// Decodes `length` bytes at `data` into an image of exactly the size needed,
// and answers its indices top row first.
std::vector<uint8_t> decodeToIndices(const PacketHeader& header, int32_t length)
{
    const int32_t need = int32_t((size_t(header.width) * header.height + 1) / 2);
    std::vector<uint8_t> image(need, 0xEE);
    int32_t capacity = need;
    EXPECT_EQ(decodeBitmap(&header, length, capacity, image.data()), DecodeOk);
    EXPECT_EQ(capacity, need);
    if ((size_t(header.width) * header.height) % 2) {
        EXPECT_EQ(image.back() & 0x0F, 0x0E) << "spare nibble written";
    }
    return topFirstIndices(image.data(), header.width, header.height);
}

const struct {
    const char* label;
    RunLengthOptions options;
} variants[] = {
    {"shortest codes", RunLengthOptions{}},
    {"end-of-row always", codeChoices(false, EndOfRowCode::Always, false)},
    {"end-of-row never", codeChoices(false, EndOfRowCode::Never, false)},
    {"runs pass the row end", codeChoices(false, EndOfRowCode::Never, true)},
    {"four-nibble codes", codeChoices(true, EndOfRowCode::WhenNotLonger, false)},
    {"four-nibble codes, end-of-row never", codeChoices(true, EndOfRowCode::Never, false)},
    {"four-nibble runs pass the row end", codeChoices(true, EndOfRowCode::Never, true)},
};

TEST(RunLengthRoundTrip, DecoderRestoresEveryEncodedImage)
{
    const std::vector<Image> images = sampleImages();
    for (const auto& variant : variants) {
        SCOPED_TRACE(variant.label);
        for (const Image& image : images) {
            SCOPED_TRACE(testing::Message() << image.shape.width << "x" << image.shape.height);
            const EncodedBitmap encoded =
                encodeRunLength(image.indices.data(), image.shape.width, image.shape.height, variant.options);
            ASSERT_LE(encoded.secondFieldOffset, 0xFFFFu);
            const auto data = exactCopy(encoded.data.data(), encoded.data.size());
            PacketHeader header{};
            header.width = image.shape.width;
            header.height = image.shape.height;
            header.secondFieldOffset = uint16_t(encoded.secondFieldOffset);
            header.bitmapData = data.get();
            const std::vector<uint8_t> decoded = decodeToIndices(header, int32_t(encoded.data.size()));
            EXPECT_EQ(firstDifference(decoded, image.indices, image.shape.width), "");
        }
    }
}

TEST(RunLengthRoundTrip, WrittenPacketsParseAndDecode)
{
    std::mt19937 random(0x70616B74);
    const Shape shapes[] = {{1, 1}, {3, 2}, {37, 23}, {200, 51}};
    for (bool withAlpha : {false, true}) {
        for (const Shape& shape : shapes) {
            SCOPED_TRACE(testing::Message() << (withAlpha ? "GPHA " : "GPHB ") << shape.width << "x" << shape.height);
            PacketContents contents;
            contents.width = shape.width;
            contents.height = shape.height;
            contents.indices = randomRunImage(random, shape.width, shape.height);
            contents.palette = {PaletteEntry{0, 0, 0}, PaletteEntry{255, 0, 0}, PaletteEntry{0, 255, 0},
                PaletteEntry{0, 0, 255}};
            if (withAlpha)
                contents.alpha = std::array<uint8_t, 4>{0, 64, 128, 255};
            contents.left = 10;
            contents.top = 20;
            const WrittenPacket written = writePacket(contents);
            ASSERT_TRUE(written) << written.error;

            const auto packet = exactCopy(written.bytes.data(), written.bytes.size());
            PacketHeader header{};
            uint8_t alpha[4] = {};
            ASSERT_EQ(parsePacketHeader(packet.get(), &header, withAlpha ? alpha : nullptr), DecodeOk);
            EXPECT_EQ(header.width, shape.width);
            EXPECT_EQ(header.height, shape.height);
            EXPECT_EQ(header.right, 10 + shape.width - 1);
            EXPECT_EQ(header.bottom, 20 + shape.height - 1);
            EXPECT_EQ(header.palette[1].red, 255);
            EXPECT_EQ(header.palette[3].blue, 255);
            if (withAlpha) {
                EXPECT_EQ(alpha[1], 64);
            }
            const int32_t headerLength = withAlpha ? PacketFormat::AlphaHeaderLength : PacketFormat::HeaderLength;
            const std::vector<uint8_t> decoded = decodeToIndices(header, int32_t(written.bytes.size()) - headerLength);
            EXPECT_EQ(firstDifference(decoded, contents.indices, shape.width), "");
        }
    }
}

} // namespace
} // namespace Qor
