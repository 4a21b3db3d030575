// The reduction of a PNG to a subtitle's four colours: palette order kept,
// colours numbered as first met, the transparent colour made colour 0, and
// the refusals for too many colours or too large an image.
#include "tools/SubtitleImage.h"

#include "tests/tools/TestImages.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Qor::Tools {
namespace {

using Testing::rgbaImage;

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
    return rgbaImage(3, pixels);
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

// Images of more than four colours: where each pixel's colour goes.
TEST(SubtitleImage, ReducesToFourKeepingWhatShows)
{
    constexpr Rgba grey{128, 128, 128, 255};
    constexpr Rgba faint{0, 0, 0, 40};
    const struct {
        const char* label;
        PngImage image;
        std::vector<size_t> clear;   // pixels that must be colour 0, transparent
        std::vector<size_t> visible; // pixels that must be another colour, opaque
    } cases[] = {
        // Opaque white first: colour 0 is still the transparent colour.
        {"opaque top-left pixel", rgbaImage(4, {white, clear, clear, red, green, blue, clear, white}), {1, 2, 6},
            {0, 3, 4, 5, 7}},
        // One black and one blue pixel among many of four others: each joins
        // the nearest visible colour, not transparency.
        {"sparse opaque colours", rgbaImage(6, {clear, clear, clear, white, white, white, red, red, red, green, green,
                                                 green, clear, black, blue, white, red, green}),
            {0, 1, 2, 12}, {3, 6, 9, 13, 14, 15, 16, 17}},
        // A faint fringe does go to transparency; a half-opaque grey does not.
        {"faint and half-opaque", rgbaImage(4, {clear, faint, white, white, red, red, green, Rgba{128, 128, 128, 128},
                                              grey, white, red, green}),
            {0, 1}, {2, 4, 6, 7, 8}},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.label);
        const SubtitleImageResult result = reduceToSubtitle(row.image, "i.png");
        ASSERT_TRUE(result) << result.error;
        EXPECT_EQ(result.image.colours[0], clear);
        for (size_t at : row.clear)
            EXPECT_EQ(result.image.indices[at], 0) << "pixel " << at;
        for (size_t at : row.visible) {
            const uint8_t number = result.image.indices[at];
            EXPECT_NE(number, 0) << "pixel " << at;
            EXPECT_GE(result.image.colours[number].alpha, 128) << "pixel " << at;
        }
        // The message numbers the colours rather than guessing their roles.
        EXPECT_NE(result.image.reduction.find(" colours reduced to 4: colour 0 transparent ("), std::string::npos)
            << result.image.reduction;
    }
}

TEST(SubtitleImage, WarnsOfWhatAStreamWillShowOtherwise)
{
    const auto warnings = [](const PngImage& png, const char* format) {
        const SubtitleImageResult result = reduceToSubtitle(png, "i.png");
        return formatWarnings(result.image, "i.png", format);
    };
    const Rgba navy{12, 24, 72, 255};
    const struct {
        const char* label;
        PngImage image;
        const char* format;
        std::vector<std::string> expected;
    } cases[] = {
        {"transparent and opaque", direct({clear, white, black, black, clear, white}), "GPHB", {}},
        {"anything in GPHA", direct({navy, white, shade, navy, navy, navy}), "GPHA", {}},
        {"no transparent colour", direct({navy, white, white, navy, navy, navy}), "GPHB",
            {"i.png: no colour is transparent, and GPHB shows colour 0 as transparent: 12,24,72 (4 of 6 pixels) will"
             " not show; a GPHA stream (-f GPHA) keeps it"}},
        {"translucent", direct({clear, shade, white, white, clear, clear}), "GPHB",
            {"i.png: a GPHB stream shows colours opaque; translucent colour 1 (alpha 128) becomes opaque (GPHA keeps"
             " alpha)"}},
        // Alpha 250 and up cannot be told from opaque.
        {"nearly opaque", direct({clear, Rgba{1, 1, 1, 250}, white, white, clear, clear}), "GPHB", {}},
        {"just below nearly opaque", direct({clear, Rgba{1, 1, 1, 249}, white, white, clear, clear}), "GPHB",
            {"i.png: a GPHB stream shows colours opaque; translucent colour 1 (alpha 249) becomes opaque (GPHA keeps"
             " alpha)"}},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.label);
        EXPECT_EQ(warnings(row.image, row.format), row.expected);
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
