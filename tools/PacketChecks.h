// What the renderer checks of a record before the plug-in is given it: a
// packet shorter than its format's header (the core's table says how long)
// and a frame larger than the limit are refused here, with a message that
// says how to go on, rather than by the plug-in in silence or at the cost
// of a huge frame.
#ifndef KELVO_TOOLS_PACKETCHECKS_H
#define KELVO_TOOLS_PACKETCHECKS_H

#include <cstdint>
#include <string>
#include <vector>

namespace Qor::Tools {

// The renderer's default frame limit, 8192 x 8192 pixels.
constexpr uint64_t DefaultFramePixelLimit = uint64_t(8192) * 8192;

// Why the plug-in must not be given `packet` of input format `format`, or
// "": shorter than its header (an empty packet included, which the plug-in
// would pass over), or a frame of more than `frameLimit` pixels.
std::string checkPacket(const std::vector<uint8_t>& packet, const std::string& format, uint64_t frameLimit);

} // namespace Qor::Tools

#endif
