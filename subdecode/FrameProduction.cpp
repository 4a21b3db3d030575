#include "subdecode/FrameProduction.h"

#include "subdecode/OwnedBuffer.h"
#include "subdecode/PixelDecoder.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

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
    const int64_t pitchBytes = int64_t(stride) * 4;
    for (int64_t row = 0; row < height; ++row) {
        const int64_t gapStart = row * pitchBytes + rowBytes;
        if (gapStart >= size)
            break;
        const int64_t gapEnd = row + 1 < height ? std::min<int64_t>((row + 1) * pitchBytes, size) : size;
        std::memset(pixels + gapStart, FrameFill, size_t(gapEnd - gapStart));
    }
}

// The run-length data drawn straight into the frame, with no 4-bit image:
// the pixels decodeBitmap and then blitIndexedBitmap would make, the
// picture's top line first.
void drawStage(const PixelSource& source, uint8_t* pixels, int32_t stride)
{
    uint32_t colours[4];
    pixelColours(source.tables, colours);
    decodeBitmapToPixels(*source.header, source.dataLength, colours, pixels, stride);
}

} // namespace

const FrameStages libraryStages = {fillAroundRows, nullptr, drawStage};

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

Canvas chooseReferenceCanvas(int32_t displayWidth, int32_t displayHeight, uint16_t right, uint16_t bottom)
{
    if (displayWidth > right && displayHeight > bottom)
        return Canvas{displayWidth, displayHeight};
    const Canvas standard[] = {{640, 480}, {960, 720}, {1440, 1080}};
    for (const Canvas& canvas : standard) {
        if (right < canvas.width && bottom < canvas.height && displayWidth < canvas.width
            && displayHeight < canvas.height)
            return canvas;
    }
    return Canvas{right + 1, bottom + 1};
}

int32_t produceFrame(const KelvoHostCalls& calls, const FrameJob& job, Canvas& display, const FrameStages& stages)
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
    // Rows closer than a row's width apart would overlap; a negative pitch
    // would write before the payload.
    const int32_t stride = calls.stride(frame.get());
    if (height > 1 && stride < width)
        return KELVO_REFUSED;

    // The decoder writes a 4-bit image, up to 256 MiB for a hostile size. It
    // is made only once the host has given the frame, so a frame the host
    // refuses costs nothing; running out of memory here gives the frame back.
    int32_t capacity = stages.decode ? int32_t((int64_t(width) * height + 1) / 2) : 0;
    std::unique_ptr<uint8_t[]> image;
    try {
        if (capacity > 0)
            image.reset(new uint8_t[capacity]);
    } catch (const std::bad_alloc&) {
        return KELVO_OUT_OF_MEMORY;
    }
    calls.setSize(frame.get(), size);

    // A frame of no pixels may come without a payload; any other must have one.
    auto* pixels = static_cast<uint8_t*>(calls.lock(frame.get()));
    if (pixels)
        stages.fill(pixels, size, width, height, stride);
    calls.unlock(frame.get());
    if (!pixels && size > 0)
        return KELVO_REFUSED;

    const int32_t dataLength = packetSize - headerLength;
    if (stages.decode)
        stages.decode(&header, dataLength, capacity, image.get());

    uint32_t timing[2];
    calls.timing(job.packet, timing);
    calls.setTiming(frame.get(), timing);

    const ChannelTables channels = buildChannelTables(header.palette, hasAlpha ? alpha : nullptr);
    const uint8_t* tables[4];
    orderTables(channels, *job.order, tables);
    pixels = static_cast<uint8_t*>(calls.lock(frame.get()));
    if (pixels)
        stages.expand(PixelSource{&header, dataLength, image.get(), tables}, pixels, stride);
    calls.unlock(frame.get());
    if (!pixels && size > 0)
        return KELVO_REFUSED;
    image.reset();

    const Canvas canvas = chooseReferenceCanvas(display.width, display.height, header.right, header.bottom);
    display = canvas;
    calls.setRectangle(frame.get(), double(header.left) / canvas.width, double(header.top) / canvas.height,
        double(header.right) / canvas.width, double(header.bottom) / canvas.height);

    if (calls.deliverFrame(job.sink, frame.get()) != 1)
        return KELVO_REFUSED;
    frame.release();
    return KELVO_ACCEPTED;
}

} // namespace Qor
