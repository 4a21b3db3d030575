// The packet writer: header layout in both variants, the rectangle's
// defaults, and the refusals, including the 16-bit second field offset.
#include "encode/PacketWriter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Qor {
namespace {

// Rows 1332, 1111, 2222: fields 5B 60 12 and 11 (see the encoder's test).
PacketContents smallContents()
{
    PacketContents contents;
    contents.width = 4;
    contents.height = 3;
    contents.indices = {1, 3, 3, 2, 1, 1, 1, 1, 2, 2, 2, 2};
    contents.palette = {PaletteEntry{1, 2, 3}, PaletteEntry{4, 5, 6}, PaletteEntry{7, 8, 9}, PaletteEntry{10, 11, 12}};
    contents.left = 0x0102;
    contents.top = 0x0304;
    contents.prefixText = "abc";
    return contents;
}

std::vector<uint8_t> expectedHeader()
{
    std::vector<uint8_t> bytes = {'a', 'b', 'c'};
    bytes.resize(27, ' ');
    const std::vector<uint8_t> fields = {
        0x04, 0x00, 0x03, 0x00,             // width, height
        0x02, 0x01, 0x04, 0x03,             // left, top
        0x05, 0x01, 0x06, 0x03,             // right = left + 3, bottom = top + 2
        0x03, 0x00,                         // second field offset
        1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, // palette
    };
    bytes.insert(bytes.end(), fields.begin(), fields.end());
    return bytes;
}

TEST(PacketWriter, WritesHeaderThenFields)
{
    const WrittenPacket written = writePacket(smallContents());
    ASSERT_TRUE(written) << written.error;
    std::vector<uint8_t> expected = expectedHeader();
    expected.insert(expected.end(), {0x5B, 0x60, 0x12, 0x11});
    EXPECT_EQ(written.bytes, expected);
}

TEST(PacketWriter, AlphaVariantPutsAlphaBeforeTheData)
{
    PacketContents contents = smallContents();
    contents.alpha = std::array<uint8_t, 4>{0, 85, 170, 255};
    const WrittenPacket written = writePacket(contents);
    ASSERT_TRUE(written) << written.error;
    std::vector<uint8_t> expected = expectedHeader();
    expected.insert(expected.end(), {0, 85, 170, 255, 0x5B, 0x60, 0x12, 0x11});
    EXPECT_EQ(written.bytes, expected);
}

TEST(PacketWriter, RectangleCanDisagreeWithTheSize)
{
    PacketContents contents = smallContents();
    contents.right = 0x0007;
    contents.bottom = 0xFFFE;
    const WrittenPacket written = writePacket(contents);
    ASSERT_TRUE(written) << written.error;
    EXPECT_EQ(std::vector<uint8_t>(written.bytes.begin() + 35, written.bytes.begin() + 39),
        (std::vector<uint8_t>{0x07, 0x00, 0xFE, 0xFF}));
}

// Colours 1, 2, 1, 2... across every row: one nibble a pixel, so a row of
// even width takes width / 2 bytes and the first field (height + 1) / 2 rows.
PacketContents alternating(uint16_t width, uint16_t height)
{
    PacketContents contents;
    contents.width = width;
    contents.height = height;
    contents.indices.resize(size_t(width) * height);
    for (size_t i = 0; i < contents.indices.size(); ++i)
        contents.indices[i] = uint8_t(1 + (i % width) % 2);
    return contents;
}

TEST(PacketWriter, FirstFieldOf65535BytesFits)
{
    const WrittenPacket written = writePacket(alternating(514, 510)); // 255 rows of 257 bytes a field
    ASSERT_TRUE(written) << written.error;
    EXPECT_EQ(written.bytes[39], 0xFF);
    EXPECT_EQ(written.bytes[40], 0xFF);
    EXPECT_EQ(written.bytes.size(), 53u + 2 * 65535);
}

TEST(PacketWriter, RefusesWhatAPacketCannotHold)
{
    PacketContents wrongCount = smallContents();
    wrongCount.indices.pop_back();
    PacketContents longPrefix = smallContents();
    longPrefix.prefixText = std::string(28, 'x');
    const struct {
        const char* label;
        PacketContents contents;
    } cases[] = {
        {"indices short of width x height", wrongCount},
        {"prefix text of 28 bytes", longPrefix},
        {"first field of 65536 bytes", alternating(512, 511)}, // 256 rows of 256 bytes
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const WrittenPacket written = writePacket(c.contents);
        EXPECT_FALSE(written);
        EXPECT_FALSE(written.error.empty());
        EXPECT_TRUE(written.bytes.empty());
    }
}

TEST(PacketWriter, PrefixOf27BytesFitsExactly)
{
    PacketContents contents = smallContents();
    contents.prefixText = std::string(27, 'x');
    const WrittenPacket written = writePacket(contents);
    ASSERT_TRUE(written) << written.error;
    EXPECT_EQ(std::string(written.bytes.begin(), written.bytes.begin() + 27), std::string(27, 'x'));
    EXPECT_EQ(written.bytes[27], 0x04);
}

} // namespace
} // namespace Qor
