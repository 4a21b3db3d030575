// The packet header parser: byte-wise fields, both variants, the null record.
#include "subdecode/PacketHeader.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

namespace Qor {
namespace {

// Bytes 0..60 hold their own offset, so every field shows where it was read from.
std::array<uint8_t, 61> countingPacket()
{
    std::array<uint8_t, 61> packet{};
    for (size_t i = 0; i < packet.size(); ++i)
        packet[i] = uint8_t(i);
    return packet;
}

TEST(PacketHeader, AssemblesLittleEndianFieldsAtOddOffsets)
{
    auto packet = countingPacket();
    packet[27] = 0x40;
    packet[28] = 0x01;
    PacketHeader header{};
    EXPECT_EQ(parsePacketHeader(packet.data(), &header, nullptr), DecodeOk);
    EXPECT_EQ(header.width, 0x140);
    EXPECT_EQ(header.height, 29 | 30 << 8);
    EXPECT_EQ(header.left, 31 | 32 << 8);
    EXPECT_EQ(header.top, 33 | 34 << 8);
    EXPECT_EQ(header.right, 35 | 36 << 8);
    EXPECT_EQ(header.bottom, 37 | 38 << 8);
    EXPECT_EQ(header.secondFieldOffset, 39 | 40 << 8);
    for (int colour = 0; colour < 4; ++colour) {
        EXPECT_EQ(header.palette[colour].red, 41 + 3 * colour);
        EXPECT_EQ(header.palette[colour].green, 42 + 3 * colour);
        EXPECT_EQ(header.palette[colour].blue, 43 + 3 * colour);
    }
}

TEST(PacketHeader, AlphaVariantMovesTheDataAndFillsAlpha)
{
    auto packet = countingPacket();
    PacketHeader plain{};
    PacketHeader withAlpha{};
    uint8_t alpha[4] = {9, 9, 9, 9};
    parsePacketHeader(packet.data(), &plain, nullptr);
    EXPECT_EQ(plain.bitmapData, packet.data() + 53);
    EXPECT_EQ(alpha[0], 9);
    EXPECT_EQ(parsePacketHeader(packet.data(), &withAlpha, alpha), DecodeOk);
    EXPECT_EQ(withAlpha.bitmapData, packet.data() + 57);
    EXPECT_EQ(std::memcmp(plain.palette, withAlpha.palette, sizeof plain.palette), 0);
    EXPECT_EQ(alpha[0], 53);
    EXPECT_EQ(alpha[3], 56);
}

TEST(PacketHeader, PrefixIsCopiedVerbatim)
{
    auto packet = countingPacket();
    packet[0] = 0;
    packet[13] = 0xFF;
    PacketHeader header{};
    parsePacketHeader(packet.data(), &header, nullptr);
    EXPECT_EQ(std::memcmp(header.prefixText, packet.data(), 27), 0);
}

TEST(PacketHeader, NullRecordReadsAndWritesNothing)
{
    uint8_t alpha[4] = {1, 2, 3, 4};
    // A null packet would crash if it were read.
    EXPECT_EQ(parsePacketHeader(nullptr, nullptr, alpha), DecodeNoRecord);
    EXPECT_EQ(alpha[0], 1);
}

} // namespace
} // namespace Qor
