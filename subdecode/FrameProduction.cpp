// Frame production: one held subtitle packet becomes one positioned overlay
// frame, handed to the downstream port inside the upstream's delivery.
#include "subdecode/FrameProduction.h"

#include "host/Host.h"
#include "render/IndexedBlit.h"
#include "subdecode/BitmapDecoder.h"
#include "subdecode/KelvoSubDecode.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>

namespace Qor {

namespace {

constexpr uint8_t frameFill = 0x28;

bool sameCode(const char* text, const char* code)
{
    return std::strncmp(text, code, 5) == 0;
}

// Fills with frameFill the bytes among the first `size` that the blit of a
// width x height block, rows `stride` pixels apart, leaves alone: from the
// end of each row to the start of the next, or to `size` after the last.
// The blit writes every other byte there, so those need no fill of their
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
        std::memset(pixels + gapStart, frameFill, size_t(gapEnd - gapStart));
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

bool orderTables(const ChannelTables& c, const char* fourcc, const uint8_t* tables[4])
{
    const struct {
        const char* code;
        const uint8_t* bytes[4];
    } orders[] = {
        {"ARGB", {c.alpha, c.red, c.green, c.blue}},
        {"BGRA", {c.blue, c.green, c.red, c.alpha}},
        {"RGBA", {c.red, c.green, c.blue, c.alpha}},
        {"ABGR", {c.alpha, c.blue, c.green, c.red}},
    };
    for (const auto& order : orders) {
        if (sameCode(fourcc, order.code)) {
            for (int b = 0; b < 4; ++b)
                tables[b] = order.bytes[b];
            return true;
        }
    }
    return false;
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

bool KelvoSubDecode::produceFrame()
{
    if (!allocator || !heldBuffer)
        return false;
    // Without a downstream port or an output order there is nobody to make a
    // frame for; refuse before any host call.
    if (!sink || !outputFourcc)
        return false;

    // A packet shorter than its header is never parsed: the parser reads the
    // whole header length without knowing the packet's.
    const int32_t headerLength = hasAlpha ? AlphaPacketHeaderLength : PacketHeaderLength;
    const auto* packet = static_cast<const uint8_t*>(heldBuffer->lock());
    const bool whole = packet && heldBuffer->size >= headerLength;
    if (whole)
        parsePacketHeader(packet, &header, hasAlpha ? alpha : nullptr);
    heldBuffer->unlock();
    if (!whole)
        return false;

    const int32_t width = header.width;
    const int32_t height = header.height;
    const int64_t frameBytes = int64_t(width) * height * 4;
    if (frameBytes > std::numeric_limits<int32_t>::max())
        return false;
    const int32_t size = int32_t(frameBytes);

    allocator->configure(32);
    MediaBuffer* frame = allocator->allocate(width, height, 1);
    if (!frame)
        return false;
    // Rows closer than a row's width apart would overlap; a negative pitch
    // would write before the payload.
    if (height > 1 && frame->stride < width) {
        frame->dropReference();
        return false;
    }

    // The decoder writes a 4-bit image, up to 256 MiB for a hostile size. It
    // is made only once the host has given the frame, so a frame the host
    // refuses costs nothing; running out of memory here gives the frame back
    // before the exception goes on to the caller.
    int32_t capacity = int32_t((int64_t(width) * height + 1) / 2);
    std::unique_ptr<uint8_t[]> scratch;
    try {
        if (capacity > 0)
            scratch.reset(new uint8_t[capacity]);
    } catch (...) {
        frame->dropReference();
        throw;
    }
    frame->size = size;

    // The fill byte remains only where the blit does not write; when a blit
    // follows, the fill skips the bytes it will overwrite.
    const ChannelTables channels = buildChannelTables(header.palette, hasAlpha ? alpha : nullptr);
    const uint8_t* tables[4];
    const bool blit = orderTables(channels, outputFourcc, tables);

    // A frame of no pixels may come without a payload; any other must have one.
    auto* pixels = static_cast<uint8_t*>(frame->lock());
    if (pixels && blit)
        fillAroundRows(pixels, size, width, height, frame->stride);
    else if (pixels)
        std::memset(pixels, frameFill, size_t(size));
    frame->unlock();
    if (!pixels && size > 0) {
        frame->dropReference();
        return false;
    }

    decodeBitmap(&header, heldBuffer->size - headerLength, capacity, scratch.get());

    frame->timing[0] = heldBuffer->timing[0];
    frame->timing[1] = heldBuffer->timing[1];

    if (blit) {
        pixels = static_cast<uint8_t*>(frame->lock());
        if (pixels)
            blitIndexedBitmap(scratch.get(), width, height, 0, 0, pixels, frame->stride, height, tables, true);
        frame->unlock();
        if (!pixels && size > 0) {
            frame->dropReference();
            return false;
        }
    }
    scratch.reset();

    const Canvas canvas = chooseReferenceCanvas(displayWidth, displayHeight, header.right, header.bottom);
    displayWidth = canvas.width;
    displayHeight = canvas.height;
    frame->left = double(header.left) / canvas.width;
    frame->top = double(header.top) / canvas.height;
    frame->right = double(header.right) / canvas.width;
    frame->bottom = double(header.bottom) / canvas.height;

    Variant v{};
    v.type = TypeObject;
    v.value.asObject = frame;
    if (sink->deliver(MSG_SAMPLE, &v)) {
        heldBuffer->dropReference();
        heldBuffer = nullptr;
        return true;
    }
    frame->dropReference();
    return false;
}

} // namespace Qor
