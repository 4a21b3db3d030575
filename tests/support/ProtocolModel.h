// The port protocol's expectations, worked out from the packet's own bytes
// and the state a test keeps beside the component: how a sample's delivery
// must end, which canvas its frame must be placed on, and what its frame
// may hold. One model for the random session test and the packet fuzz
// target. Header-only, as the fuzz build builds no tests.
#ifndef KELVO_TESTS_SUPPORT_PROTOCOLMODEL_H
#define KELVO_TESTS_SUPPORT_PROTOCOLMODEL_H

#include "subdecode/PacketFormat.h"
#include "tests/support/HostStandIns.h"
#include "tests/support/FrameColours.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>

namespace Qor::Testing {

// The packet's 16-bit header field at `offset` (PacketFormat).
inline int64_t packetField(const uint8_t* packet, int32_t offset)
{
    return PacketFormat::readLittle16(packet + offset);
}

// How a sample's delivery ends.
enum Outcome {
    NotTaken,
    HeldWithoutPayload,
    RefusedBeforeAllocation,
    AllocationRefused,
    FrameGivenBack,
    FrameTaken,
    FrameRefused,
    SampleOfNothing,
    OutcomeCount
};
constexpr const char* outcomeNames[] = {"not taken", "held without payload", "refused before allocation",
    "allocation refused", "frame given back", "frame taken", "frame refused", "sample of nothing"};

// What the component has been told when a sample arrives.
struct SampleConditions {
    bool configured = false;     // a sink set and no stop since
    bool hasAlpha = false;       // decided when the sink was set
    bool frameSideOpen = false;  // the output port is open
    const StandInAllocator* allocator = nullptr;
    const StandInSink* sink = nullptr;
};

// The end the protocol prescribes for a sample of `size` bytes at `packet`
// (`nullPayload`: its lock answers null), never SampleOfNothing.
inline Outcome expectedOutcome(const SampleConditions& c, const uint8_t* packet, size_t size, bool nullPayload)
{
    using namespace PacketFormat;
    if (!c.configured)
        return NotTaken;
    if (nullPayload)
        return HeldWithoutPayload;
    const int64_t headerLength = c.hasAlpha ? AlphaHeaderLength : HeaderLength;
    if (!c.allocator || !c.sink || !c.frameSideOpen || int64_t(size) < headerLength)
        return RefusedBeforeAllocation;
    const int64_t width = packetField(packet, WidthOffset);
    const int64_t height = packetField(packet, HeightOffset);
    if (width * height * 4 > std::numeric_limits<int32_t>::max())
        return RefusedBeforeAllocation;
    const int64_t stride = width + c.allocator->stridePadding;
    const int64_t bytes = (stride < width ? width : stride) * height * 4;
    if (c.allocator->refuse || bytes > c.allocator->byteLimit)
        return AllocationRefused;
    if ((height > 1 && stride < width) || (c.allocator->nullPayload && width * height > 0))
        return FrameGivenBack;
    return c.sink->answer ? FrameTaken : FrameRefused;
}

// The canvas a rectangle's right and bottom edges are placed on, given the
// last canvas: that one when the rectangle lies inside it, else the first
// standard canvas that holds both, else one just large enough.
inline std::pair<int32_t, int32_t> modelCanvas(int32_t width, int32_t height, int64_t right, int64_t bottom)
{
    if (width > right && height > bottom)
        return {width, height};
    for (auto canvas : {std::pair<int32_t, int32_t>{640, 480}, {960, 720}, {1440, 1080}})
        if (right < canvas.first && bottom < canvas.second && width < canvas.first && height < canvas.second)
            return canvas;
    return {int32_t(right + 1), int32_t(bottom + 1)};
}

// What is wrong with `frame`, made from the whole-header `packet` read with
// or without alpha into byte order `order`, whose buffer was `source`; null
// when nothing is: its size, its row pitch, its timing, and only the
// packet's four colours inside its block.
inline const char* frameFault(const StandInBuffer& frame, const uint8_t* packet, bool hasAlpha, const char* order,
    const StandInBuffer& source)
{
    const int64_t width = packetField(packet, PacketFormat::WidthOffset);
    const int64_t height = packetField(packet, PacketFormat::HeightOffset);
    if (frame.size != width * height * 4)
        return "frame size is not width x height x 4";
    if (height > 1 && frame.stride < width)
        return "frame rows overlap";
    if (frame.timing[0] != source.timing[0] || frame.timing[1] != source.timing[1])
        return "timing not copied";
    if (frame.size == 0)
        return nullptr;
    const auto colours = packetColours(packet, hasAlpha, order);
    for (int64_t y = 0; y < height; ++y)
        for (int64_t x = 0; x < width; ++x)
            if (colourOf(frame.bytes() + (y * frame.stride + x) * 4, colours) < 0)
                return "pixel of no palette colour";
    return nullptr;
}

} // namespace Qor::Testing

#endif
