// Images for the tools' tests: RGBA images made from their pixels, the
// check that two images are stored alike, and the blend of one colour over
// another that a preview shows, worked out in floating point.
#ifndef KELVO_TESTS_TOOLS_TESTIMAGES_H
#define KELVO_TESTS_TOOLS_TESTIMAGES_H

#include "tools/PngImage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

namespace Qor::Tools::Testing {

// An RGBA image of `width` x `height` pixels, four bytes each in `rgba`.
inline PngImage rgbaImage(uint32_t width, uint32_t height, std::vector<uint8_t> rgba)
{
    PngImage image;
    image.width = width;
    image.height = height;
    image.rgba = std::move(rgba);
    return image;
}

// An RGBA image `width` pixels wide of `pixels`, row after row.
inline PngImage rgbaImage(uint32_t width, const std::vector<Rgba>& pixels)
{
    std::vector<uint8_t> rgba;
    for (const Rgba& c : pixels)
        rgba.insert(rgba.end(), {c.red, c.green, c.blue, c.alpha});
    return rgbaImage(width, uint32_t(pixels.size() / width), std::move(rgba));
}

// Expects `actual` to be `expected` as stored: the size, the palette and
// indices of an indexed image, the bytes of an RGBA one.
inline void expectSameImage(const PngImage& actual, const PngImage& expected)
{
    EXPECT_EQ(actual.width, expected.width);
    EXPECT_EQ(actual.height, expected.height);
    EXPECT_EQ(actual.palette, expected.palette);
    EXPECT_EQ(actual.indices, expected.indices);
    EXPECT_EQ(actual.rgba, expected.rgba);
}

// One channel of a colour of `alpha` (not premultiplied) over `under`.
inline uint8_t blended(uint8_t source, uint8_t under, uint8_t alpha)
{
    return uint8_t(std::lround((source * alpha + under * (255.0 - alpha)) / 255.0));
}

} // namespace Qor::Tools::Testing

#endif
