// The reduction of a PNG to a subtitle's four colours: palette order kept,
// colours numbered as first met, the transparent colour made colour 0, and
// the refusals for too many colours or too large an image.
#include "tools/SubtitleImage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Qor::Tools {
namespace {

constexpr Rgba clear{0, 0, 0, 0};
constexpr Rgba white{255, 255, 255, 255};
constexpr Rgba black{0, 0, 0, 255};
constexpr Rgba red{255, 0, 0, 255};
constexpr Rgba green{0, 255, 0, 255};
constexpr Rgba blue{0, 0, 255, 255};
constexpr Rgba shade{10, 20, 30, 128};

// A 3x2 indexed image.
PngImage indexed(std::vector<Rgba> palette, std::vector<uint8_t> indices)
{
    PngImage image;
    image.width = 3;
    image.height = 2;
    image.palette = std::move(palette);
    image.indices = std::move(indices);
    return image;
}

// A 3x2 RGBA image.
PngImage direct(const std::vector<Rgba>& pixels)
{
    PngImage image;
    image.width = 3;
    image.height = 2;
    for (const Rgba& c : pixels)
        image.rgba.insert(image.rgba.end(), {c.red, c.green, c.blue, c.alpha});
    return image;
}

TEST(SubtitleImage, NumbersColoursByTheRules)
{
    const struct {
        const char* label;
        PngImage image;
        std::array<Rgba, 4> colours;
        int count;
        std::vector<uint8_t> indices;
    } rows[] = {
        {"palette kept as it is", indexed({clear, red, green, blue}, {0, 1, 2, 3, 2, 1}), {clear, red, green, blue}, 4,
            {0, 1, 2, 3, 2, 1}},
        // Entry 2 is transparent: it trades places with entry 0.
        {"transparent entry becomes 0", indexed({red, green, clear, blue}, {0, 1, 2, 3, 2, 0}),
            {clear, green, red, blue}, 4, {2, 1, 0, 3, 0, 2}},
        // Entries 1 and 3 are transparent: the first of them goes to 0.
        {"first transparent entry", indexed({red, clear, green, clear}, {0, 1, 2, 3, 0, 0}), {clear, red, green, clear},
            4, {1, 0, 2, 3, 1, 1}},
        // A long palette counts the entries in use: red, clear and white, in palette order.
        {"entries in use", indexed({red, clear, green, blue, white, black}, {0, 1, 4, 4, 1, 0}),
            {clear, red, white, clear}, 3, {1, 0, 2, 2, 0, 1}},
        {"no transparent entry", indexed({shade, red, green}, {2, 2, 1, 0, 0, 0}), {shade, red, green, clear}, 3,
            {2, 2, 1, 0, 0, 0}},
        // Met in the order white, clear, black, red; clear trades with white.
        {"rgba, transparent traded with the first", direct({white, Rgba{1, 2, 3, 0}, black, Rgba{9, 9, 9, 0}, white, red}),
            {clear, white, black, red}, 4, {1, 0, 2, 0, 1, 3}},
        {"rgba, transparent first", direct({Rgba{7, 7, 7, 0}, white, white, clear, shade, white}), {clear, white, shade, clear},
            3, {0, 1, 1, 0, 2, 1}},
        // No transparent colour: the top-left pixel's colour is colour 0.
        {"rgba, no transparent colour", direct({shade, white, black, black, shade, white}), {shade, white, black, clear}, 3,
            {0, 1, 2, 2, 0, 1}},
        {"rgba, one colour", direct({red, red, red, red, red, red}), {red, clear, clear, clear}, 1, {0, 0, 0, 0, 0, 0}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        const SubtitleImageResult result = reduceToSubtitle(row.image, "i.png");
        ASSERT_TRUE(result) << result.error;
        EXPECT_EQ(result.image.width, 3);
        EXPECT_EQ(result.image.height, 2);
        EXPECT_EQ(result.image.colourCount, row.count);
        EXPECT_EQ(result.image.colours, row.colours);
        EXPECT_EQ(result.image.indices, row.indices);
    }
}

TEST(SubtitleImage, RefusesWhatNoPacketCanCarry)
{
    PngImage wide;
    wide.width = 65536;
    wide.height = 1;
    wide.rgba.assign(size_t(65536) * 4, 0);
    const struct {
        const char* label;
        PngImage image;
        const char* message;
    } rows[] = {
        {"five palette entries used", indexed({clear, red, green, blue, white}, {0, 1, 2, 3, 4, 0}),
            "i.png: indexed PNG using 5 of its 5 palette entries; a subtitle has at most four colours"},
        // The fifth colour, blue, is met at the start of row 1.
        {"five colours", direct({clear, red, green, white, blue, red}),
            "i.png: more than four colours (a fifth, 0,0,255,255, at column 1 of row 1); a subtitle has at most four"},
        {"too wide", wide, "i.png: 65536x1 pixels; a subtitle is at most 65535 a side"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        const SubtitleImageResult result = reduceToSubtitle(row.image, "i.png", true);
        EXPECT_FALSE(result);
        EXPECT_EQ(result.error, row.message);
        EXPECT_TRUE(result.image.indices.empty());
    }
}

} // namespace
} // namespace Qor::Tools
