#include "subdecode/FrameProduction.h"

#include "subdecode/OwnedBuffer.h"
#include "subdecode/PixelDecoder.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace Qor {

namespace {

// Fills with FrameFill the bytes among the first `size` that drawing a
// width x height block, rows `stride` pixels apart, leaves alone: from the
// end of each row to the start of the next, or to `size` after the last.
// The drawing writes every other byte there, so those need no fill of their
// own. Rows lie no closer than `width` apart when there are two or more.
void fillAroundRows(uint8_t* pixels, int32_t size, int32_t width, int32_t height, int32_t stride)
{
    const int64_t rowBytes = int64_t(width) * 4;
    const int64_t strideBytes = int64_t(stride) * 4;
    for (int64_t row = 0; row < height; ++row) {
        const int64_t gapStart = row * strideBytes + rowBytes;
        if (gapStart >= size)
            break;
        const int64_t gapEnd = row + 1 < height ? std::min<int64_t>((row + 1) * strideBytes, size) : size;
        std::memset(pixels + gapStart, FrameFill, size_t(gapEnd - gapStart));
    }
}

} // namespace

ChannelTables buildChannelTables(const PaletteEntry (&palette)[4], const uint8_t* alpha)
{
    ChannelTables channels{};
    for (int colour = 0; colour < 4; ++colour) {
        const uint8_t a = alpha ? alpha[colour] : (colour == 0 ? 0 : 255);
        channels.alpha[colour] = a;
        if (a != 0) {
            channels.red[colour] = palette[colour].red;
            channels.green[colour] = palette[colour].green;
            channels.blue[colour] = palette[colour].blue;
        }
    }
    return channels;
}

void orderTables(const ChannelTables& c, const OutputOrder& order, const uint8_t* tables[4])
{
    const uint8_t* const byChannel[4] = {c.alpha, c.red, c.green, c.blue};
    for (int b = 0; b < 4; ++b)
        tables[b] = byChannel[order.bytes[b]];
}

bool orderTables(const ChannelTables& channels, const char* fourcc, const uint8_t* tables[4])
{
    const OutputOrder* order = findOutputOrder(fourcc);
    if (!order)
        return false;
    orderTables(channels, *order, tables);
    return true;
}

Canvas chooseReferenceCanvas(int32_t lastWidth, int32_t lastHeight, uint16_t right, uint16_t bottom)
{
    if (lastWidth > right && lastHeight > bottom)
        return Canvas{lastWidth, lastHeight};
    const Canvas standard[] = {{640, 480}, {960, 720}, {1440, 1080}};
    for (const Canvas& canvas : standard) {
        if (right < canvas.width && bottom < canvas.height && lastWidth < canvas.width
            && lastHeight < canvas.height)
            return canvas;
    }
    return Canvas{right + 1, bottom + 1};
}

int32_t produceFrame(const KelvoCalls& calls, const FrameJob& job, Canvas& lastCanvas)
{
    // Without a downstream port or an output order there is nobody to make a
    // frame for; refuse before any host call.
    if (!job.packet || !job.allocator || !job.sink || !job.format || !job.order)
        return KELVO_REFUSED;

    // A packet shorter than its header is never parsed: the parser reads the
    // whole header length without knowing the packet's.
    const int32_t headerLength = job.format->headerLength;
    const bool hasAlpha = job.format->hasAlpha;
    PacketHeader header;
    uint8_t alpha[4];
    const auto* packet = static_cast<const uint8_t*>(calls.lock(job.packet));
    const int32_t packetSize = calls.size(job.packet);
    const bool whole = packet && packetSize >= headerLength;
    if (whole)
        parsePacketHeader(packet, &header, hasAlpha ? alpha : nullptr);
    calls.unlock(job.packet);
    if (!whole)
        return KELVO_REFUSED;

    const int32_t width = header.width;
    const int32_t height = header.height;
    const int64_t frameBytes = int64_t(width) * height * 4;
    if (frameBytes > std::numeric_limits<int32_t>::max())
        return KELVO_REFUSED;
    const int32_t size = int32_t(frameBytes);

    calls.configure(job.allocator, 32);
    OwnedBuffer frame(calls, calls.allocate(job.allocator, width, height, 1));
    if (!frame)
        return KELVO_REFUSED;
    // Rows closer than a row's width apart would overlap; a negative stride
    // would write before the payload.
    const int32_t stride = calls.stride(frame.get());
    if (height > 1 && stride < width)
        return KELVO_REFUSED;
    calls.setSize(frame.get(), size);

    // A frame of no pixels may come without a payload; any other must have one.
    auto* pixels = static_cast<uint8_t*>(calls.lock(frame.get()));
    if (pixels)
        fillAroundRows(pixels, size, width, height, stride);
    calls.unlock(frame.get());
    if (!pixels && size > 0)
        return KELVO_REFUSED;

    calls.copyTiming(job.packet, frame.get());

    const ChannelTables channels = buildChannelTables(header.palette, hasAlpha ? alpha : nullptr);
    const uint8_t* tables[4];
    orderTables(channels, *job.order, tables);
    uint32_t colours[4];
    pixelColours(tables, colours);
    pixels = static_cast<uint8_t*>(calls.lock(frame.get()));
    if (pixels)
        decodeBitmapToPixels(header, packetSize - headerLength, colours, pixels, stride);
    calls.unlock(frame.get());
    if (!pixels && size > 0)
        return KELVO_REFUSED;

    const Canvas canvas = chooseReferenceCanvas(lastCanvas.width, lastCanvas.height, header.right, header.bottom);
    lastCanvas = canvas;
    calls.setRectangle(frame.get(), double(header.left) / canvas.width, double(header.top) / canvas.height,
        double(header.right) / canvas.width, double(header.bottom) / canvas.height);

    if (calls.deliverFrame(job.sink, frame.get()) != 1)
        return KELVO_REFUSED;
    frame.release();
    return KELVO_ACCEPTED;
}

} // namespace Qor
