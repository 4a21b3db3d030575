// PNG in and out: encoded images decode to what was encoded, grey, RGB and
// low-depth PNGs with transparency expand to RGBA, and bad bytes are refused.
#include "tools/PngImage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/tools/AllocationCeiling.h"
#include "tests/tools/TestImages.h"

namespace Qor::Tools {
namespace {

using Testing::expectSameImage;

// The PNGs below were made by hand: signature, IHDR, the rows each with
// filter byte 0 compressed by zlib, IEND, every chunk with its CRC-32.

// 2x2 eight-bit grey: 0, 255 / 128, 0.
const std::vector<uint8_t> greyPng = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49,
    0x48, 0x44, 0x52, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x02, 0x08, 0x00, 0x00, 0x00, 0x00, 0x57, 0xDD, 0x52,
    0xF8, 0x00, 0x00, 0x00, 0x0E, 0x49, 0x44, 0x41, 0x54, 0x78, 0xDA, 0x63, 0x60, 0xF8, 0xCF, 0xD0, 0xC0, 0x00, 0x00,
    0x05, 0x02, 0x01, 0x80, 0xA4, 0xA5, 0x8D, 0x6C, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60,
    0x82};

// 3x1 eight-bit RGB: red, green, red.
const std::vector<uint8_t> rgbPng = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49,
    0x48, 0x44, 0x52, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x01, 0x08, 0x02, 0x00, 0x00, 0x00, 0x94, 0x82, 0x83,
    0xE3, 0x00, 0x00, 0x00, 0x10, 0x49, 0x44, 0x41, 0x54, 0x78, 0xDA, 0x63, 0xF8, 0xCF, 0xC0, 0xC0, 0xF0, 0x1F, 0x08,
    0x19, 0x00, 0x10, 0xF9, 0x02, 0xFE, 0xEC, 0x36, 0x75, 0x67, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE,
    0x42, 0x60, 0x82};

// 4x1 one-bit grey, bits 1 0 1 1, with a tRNS chunk making grey 0 transparent.
const std::vector<uint8_t> oneBitGreyPng = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D,
    0x49, 0x48, 0x44, 0x52, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0xD1, 0x47,
    0x32, 0x60, 0x00, 0x00, 0x00, 0x02, 0x74, 0x52, 0x4E, 0x53, 0x00, 0x00, 0x76, 0x93, 0xCD, 0x38, 0x00, 0x00, 0x00,
    0x0A, 0x49, 0x44, 0x41, 0x54, 0x78, 0xDA, 0x63, 0xD8, 0x00, 0x00, 0x00, 0xB2, 0x00, 0xB1, 0xF8, 0x82, 0x92, 0xA7,
    0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};

constexpr Rgba clear{0, 0, 0, 0};
constexpr Rgba white{255, 255, 255, 255};
constexpr Rgba red{255, 0, 0, 255};
constexpr Rgba green{0, 255, 0, 255};

std::vector<Rgba> pixelsOf(const PngImage& image)
{
    std::vector<Rgba> pixels;
    for (uint32_t y = 0; y < image.height; ++y)
        for (uint32_t x = 0; x < image.width; ++x)
            pixels.push_back(image.pixel(x, y));
    return pixels;
}

TEST(PngImage, ExpandsEveryNonIndexedKindToRgba)
{
    const struct {
        const char* label;
        const std::vector<uint8_t>& bytes;
        uint32_t width;
        std::vector<Rgba> pixels;
    } rows[] = {
        {"grey", greyPng, 2, {Rgba{0, 0, 0, 255}, white, Rgba{128, 128, 128, 255}, Rgba{0, 0, 0, 255}}},
        {"rgb", rgbPng, 3, {red, green, red}},
        {"one-bit grey with transparency", oneBitGreyPng, 4, {white, clear, white, white}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        const PngReadResult read = decodePng(row.bytes, "p.png");
        ASSERT_TRUE(read) << read.error;
        EXPECT_FALSE(read.image.indexed());
        EXPECT_EQ(read.image.width, row.width);
        EXPECT_EQ(pixelsOf(read.image), row.pixels);
    }
}

PngImage indexedImage(size_t paletteSize)
{
    PngImage image;
    image.width = 5;
    image.height = 3;
    for (size_t i = 0; i < paletteSize; ++i)
        image.palette.push_back(Rgba{uint8_t(i * 7), uint8_t(255 - i), uint8_t(i * 3), uint8_t(i % 3 == 0 ? 0 : 255 - i)});
    for (uint32_t i = 0; i < image.width * image.height; ++i)
        image.indices.push_back(uint8_t((i * 5 + 1) % paletteSize));
    return image;
}

TEST(PngImage, EncodedImagesDecodeUnchanged)
{
    std::vector<Rgba> pixels;
    for (int i = 0; i < 8; ++i)
        pixels.push_back(Rgba{uint8_t(i * 30), uint8_t(255 - i), uint8_t(i), uint8_t(i * 36)});
    const PngImage rgba = Testing::rgbaImage(4, pixels);
    // Palettes of 2, 4, 16 and 256 entries take bit depths 1, 2, 4 and 8.
    const struct {
        const char* label;
        PngImage image;
    } rows[] = {{"rgba", rgba}, {"2 entries", indexedImage(2)}, {"4 entries", indexedImage(4)},
        {"16 entries", indexedImage(16)}, {"256 entries", indexedImage(256)}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        std::vector<uint8_t> bytes;
        ASSERT_EQ(encodePng(row.image, bytes), "");
        const PngReadResult read = decodePng(bytes, "p.png");
        ASSERT_TRUE(read) << read.error;
        expectSameImage(read.image, row.image);
    }
}

TEST(PngImage, RefusesBadBytesAndBadImages)
{
    std::vector<uint8_t> cutShort(rgbPng.begin(), rgbPng.begin() + 50);
    std::vector<uint8_t> badCrc = rgbPng;
    badCrc[30] ^= 0xFF; // inside IHDR's CRC
    const struct {
        const char* label;
        std::vector<uint8_t> bytes;
        const char* start;
    } rows[] = {
        {"empty", {}, "p.png: not a PNG file"},
        {"text", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'}, "p.png: not a PNG file"},
        {"cut short", cutShort, "p.png: bad PNG: "},
        {"bad checksum", badCrc, "p.png: bad PNG: "},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        const PngReadResult read = decodePng(row.bytes, "p.png");
        EXPECT_FALSE(read);
        EXPECT_EQ(read.error.rfind(row.start, 0), 0u) << read.error;
        EXPECT_EQ(read.error.find('\n'), std::string::npos);
    }

    std::vector<uint8_t> bytes;
    EXPECT_EQ(encodePng(PngImage{}, bytes), "an image of no pixels cannot be a PNG");
    PngImage mismatched = indexedImage(4);
    mismatched.indices.pop_back();
    EXPECT_EQ(encodePng(mismatched, bytes), "pixel data does not match the image size");
}

uint32_t crc32Of(const uint8_t* bytes, size_t count)
{
    uint32_t crc = 0xFFFFFFFF;
    for (size_t i = 0; i < count; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

// `png` with the size its IHDR declares changed, and the chunk's CRC to match.
std::vector<uint8_t> declaring(std::vector<uint8_t> png, uint32_t width, uint32_t height, bool interlaced = false)
{
    for (int i = 0; i < 4; ++i) {
        png[16 + i] = uint8_t(width >> (24 - 8 * i));
        png[20 + i] = uint8_t(height >> (24 - 8 * i));
    }
    png[28] = interlaced ? 1 : 0;
    const uint32_t crc = crc32Of(&png[12], 17); // the type and the 13 bytes of IHDR
    for (int i = 0; i < 4; ++i)
        png[29 + i] = uint8_t(crc >> (24 - 8 * i));
    return png;
}

TEST(PngImage, ChecksTheDeclaredSizeBeforeStoringPixels)
{
    const uint64_t everySize = uint64_t(65535) * 65535;
    const struct {
        const char* label;
        std::vector<uint8_t> bytes;
        uint64_t limit;
        std::string error;
    } rows[] = {
        // The data ends after one row: the reader holds no more than the data gave.
        {"20000 x 20000, data for one row", declaring(rgbPng, 20000, 20000), everySize, "p.png: bad PNG: "},
        {"65535 x 65535, data for one row", declaring(rgbPng, 65535, 65535), everySize, "p.png: bad PNG: "},
        {"a side past 65535", declaring(rgbPng, 65536, 1), everySize,
            "p.png: the header declares 65536x1 pixels; a subtitle is at most 65535 a side"},
        {"a million a side", declaring(rgbPng, 1000000, 1000000), everySize,
            "p.png: the header declares 1000000x1000000 pixels; a subtitle is at most 65535 a side"},
        {"interlaced past 8192x8192", declaring(rgbPng, 8193, 8192, true), everySize,
            "p.png: the header declares an interlaced image of 8193x8192 pixels; interlaced images are read whole"},
        // The pixel limit: at it the image is read (and found short), past it refused unread.
        {"at the default limit", declaring(rgbPng, 8192, 8192), DefaultPngPixelLimit, "p.png: bad PNG: "},
        {"one row past the default limit", declaring(rgbPng, 8192, 8193), DefaultPngPixelLimit,
            "p.png: the header declares 8192x8193 pixels (67117056), more than the 67108864 allowed; --max raises"
            " the limit"},
        {"at a limit of 3", rgbPng, 3, ""},
        {"past a limit of 2", rgbPng, 2, "p.png: the header declares 3x1 pixels (3), more than the 2 allowed; --max"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        allocationCeiling = size_t(64) << 20;
        const PngReadResult read = decodePng(row.bytes, "p.png", PngLimit{row.limit, "--max"});
        allocationCeiling = size_t(-1);
        EXPECT_EQ(bool(read), row.error.empty());
        EXPECT_EQ(read.error.rfind(row.error, 0), 0u) << read.error;
    }
}

TEST(PngImage, RefusesIndexBeyondPalette)
{
    // Two bits a pixel hold index 3, which a 3-entry palette does not have.
    PngImage image = indexedImage(4);
    image.palette.pop_back();
    for (uint8_t& index : image.indices)
        index = 3;
    std::vector<uint8_t> bytes;
    ASSERT_EQ(encodePng(image, bytes), "");
    const PngReadResult read = decodePng(bytes, "p.png");
    EXPECT_FALSE(read);
    EXPECT_EQ(read.error, "p.png: bad PNG: pixel index 3 beyond its 3-entry palette");
}

} // namespace
} // namespace Qor::Tools
