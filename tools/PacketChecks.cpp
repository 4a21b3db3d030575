#include "tools/PacketChecks.h"

#include "subdecode/Formats.h"
#include "subdecode/PacketFormat.h"

namespace Qor::Tools {

std::string checkPacket(const std::vector<uint8_t>& packet, const std::string& format, uint64_t frameLimit)
{
    using namespace PacketFormat;
    const InputFormat* input = findInputFormat(format.c_str());
    if (!input)
        return "input format \"" + format + "\" is neither GPHB nor GPHA";
    const size_t headerLength = size_t(input->headerLength);
    if (packet.size() < headerLength)
        return "the packet is " + std::to_string(packet.size()) + (packet.size() == 1 ? " byte" : " bytes")
            + ", shorter than the " + std::to_string(headerLength) + "-byte header of a " + format + " packet";
    const uint32_t width = readLittle16(&packet[WidthOffset]);
    const uint32_t height = readLittle16(&packet[HeightOffset]);
    if (uint64_t(width) * height > frameLimit)
        return "the packet declares a frame of " + std::to_string(width) + "x" + std::to_string(height) + " pixels ("
            + std::to_string(uint64_t(width) * height) + "), more than --max-frame-pixels allows ("
            + std::to_string(frameLimit) + "); raise it to render this packet";
    return "";
}

} // namespace Qor::Tools
