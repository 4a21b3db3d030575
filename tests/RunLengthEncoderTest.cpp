// The run-length encoder on small images whose codes were worked out by hand:
// shortest forms, splits at 255, the end-of-row code, padding, and the
// longer forms the options ask for.
#include "encode/RunLengthEncoder.h"
#include "tests/support/IndexedImages.h"

#include <gtest/gtest.h>

#include <vector>

namespace Qor {
namespace {

using Testing::codeChoices;

const RunLengthOptions shortest;
const RunLengthOptions endOfRowAlways = codeChoices(false, EndOfRowCode::Always, false);
const RunLengthOptions endOfRowNever = codeChoices(false, EndOfRowCode::Never, false);
const RunLengthOptions passing = codeChoices(false, EndOfRowCode::Never, true);
const RunLengthOptions fourNibbles = codeChoices(true, EndOfRowCode::WhenNotLonger, false);
const RunLengthOptions fourNibblesNoEnd = codeChoices(true, EndOfRowCode::Never, false);

// A code's value is run << 2 | colour; nibbles are listed high half first.
struct EncodeCase {
    const char* label;
    uint16_t width;
    uint16_t height;
    std::vector<uint8_t> indices;
    RunLengthOptions options;
    std::vector<uint8_t> data;
    size_t secondFieldOffset;
};

const EncodeCase encodeCases[] = {
    // Rows 1332 (5, B, 6, pad), 1111 (11), 2222 (12); rows 0 and 2 first.
    {"shortest codes", 4, 3, {1, 3, 3, 2, 1, 1, 1, 1, 2, 2, 2, 2}, shortest, {0x5B, 0x60, 0x12, 0x11}, 3},
    {"end-of-row code always", 4, 3, {1, 3, 3, 2, 1, 1, 1, 1, 2, 2, 2, 2}, endOfRowAlways,
        {0x5B, 0x00, 0x02, 0x00, 0x02, 0x00, 0x01}, 5},
    {"fields interleave rows", 1, 4, {0, 1, 2, 3}, shortest, {0x40, 0x60, 0x50, 0x70}, 2},
    {"odd nibble count pads the row", 3, 1, {1, 2, 3}, shortest, {0x56, 0x70}, 2},
    {"only the low two bits count", 2, 1, {5, 1}, shortest, {0x90}, 1},
    // 300 of colour 2: 0002 against 0x3FE then 0xB6, 7 nibbles.
    {"end-of-row code shorter than a split run", 300, 1, std::vector<uint8_t>(300, 2), shortest, {0x00, 0x02}, 2},
    {"split at 255 without end-of-row", 300, 1, std::vector<uint8_t>(300, 2), endOfRowNever,
        {0x03, 0xFE, 0x0B, 0x60}, 4},
    // The last 45 go out as 63 (0xFE), the most three nibbles hold.
    {"last code passes the row end", 300, 1, std::vector<uint8_t>(300, 2), passing, {0x03, 0xFE, 0x0F, 0xE0}, 4},
    {"four-nibble codes", 300, 1, std::vector<uint8_t>(300, 2), fourNibblesNoEnd, {0x03, 0xFE, 0x00, 0xB6}, 4},
    {"64 pixels: equal length goes to end-of-row", 64, 1, std::vector<uint8_t>(64, 3), shortest, {0x00, 0x03}, 2},
    {"63 pixels take three nibbles", 63, 1, std::vector<uint8_t>(63, 3), shortest, {0x0F, 0xF0}, 2},
    // 0x8, then the last 2 of colour 1 written as 3 (0xD).
    {"short last run passes the row end", 4, 1, {0, 0, 1, 1}, passing, {0x8D}, 1},
    {"four-nibble codes end rows with end-of-row", 4, 1, {0, 0, 1, 1}, fourNibbles, {0x00, 0x08, 0x00, 0x01}, 4},
    {"no width", 0, 5, {}, shortest, {}, 0},
    {"no height", 5, 0, {}, shortest, {}, 0},
};

TEST(RunLengthEncoder, WritesHandWorkedCodes)
{
    for (const EncodeCase& c : encodeCases) {
        SCOPED_TRACE(c.label);
        const EncodedBitmap encoded = encodeRunLength(c.indices.data(), c.width, c.height, c.options);
        EXPECT_EQ(encoded.data, c.data);
        EXPECT_EQ(encoded.secondFieldOffset, c.secondFieldOffset);
    }
}

} // namespace
} // namespace Qor
