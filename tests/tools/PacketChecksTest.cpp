// The renderer's checks of a record before the plug-in sees it: the header
// length of each format, and the frame limit at and past its boundary.
#include "tools/PacketChecks.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Qor::Tools {
namespace {

// A packet of `length` bytes whose header declares width x height.
std::vector<uint8_t> packetOf(size_t length, uint16_t width, uint16_t height)
{
    std::vector<uint8_t> packet(length, 0);
    if (length >= 31) {
        packet[27] = uint8_t(width);
        packet[28] = uint8_t(width >> 8);
        packet[29] = uint8_t(height);
        packet[30] = uint8_t(height >> 8);
    }
    return packet;
}

TEST(PacketChecks, RefusesShortPacketsAndFramesPastTheLimit)
{
    const struct {
        const char* label;
        std::vector<uint8_t> packet;
        const char* format;
        uint64_t limit;
        std::string message;
    } rows[] = {
        {"GPHB header", packetOf(53, 4, 4), "GPHB", 16, ""},
        {"GPHB one short", packetOf(52, 4, 4), "GPHB", 16,
            "the packet is 52 bytes, shorter than the 53-byte header of a GPHB packet"},
        {"GPHA header", packetOf(57, 4, 4), "GPHA", 16, ""},
        {"GPHA read as short", packetOf(56, 4, 4), "GPHA", 16,
            "the packet is 56 bytes, shorter than the 57-byte header of a GPHA packet"},
        {"empty", {}, "GPHB", 16, "the packet is 0 bytes, shorter than the 53-byte header of a GPHB packet"},
        {"one byte", {7}, "GPHB", 16, "the packet is 1 byte, shorter than the 53-byte header of a GPHB packet"},
        {"at the limit", packetOf(53, 8192, 8192), "GPHB", DefaultFramePixelLimit, ""},
        {"a row past the limit", packetOf(53, 8192, 8193), "GPHB", DefaultFramePixelLimit,
            "the packet declares a frame of 8192x8193 pixels (67117056), more than --max-frame-pixels allows"
            " (67108864); raise it to render this packet"},
        {"at a small limit", packetOf(53, 4, 4), "GPHB", 16, ""},
        {"past a small limit", packetOf(53, 4, 4), "GPHB", 15,
            "the packet declares a frame of 4x4 pixels (16), more than --max-frame-pixels allows (15); raise it to"
            " render this packet"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        EXPECT_EQ(checkPacket(row.packet, row.format, row.limit), row.message);
    }
}

} // namespace
} // namespace Qor::Tools
