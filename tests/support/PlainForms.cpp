#include "tests/support/PlainForms.h"

#include "framework/PortInterface.h"
#include "host/Host.h"
#include "render/IndexedBlit.h"
#include "subdecode/FrameProduction.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

namespace Qor::Testing {

namespace {

struct PlainField {
    const uint8_t* data;
    int64_t pixel;
    int64_t nibble;
    int64_t limit;
    int64_t end;
};

// Nibbles at or past the end of the data read as 0, as the library's decoder reads them.
uint32_t plainNibble(PlainField& field)
{
    const int64_t k = field.nibble++;
    if (k >= field.end)
        return 0;
    return k % 2 == 0 ? field.data[k / 2] >> 4 : field.data[k / 2] & 0x0F;
}

void plainWritePixel(uint8_t* image, int64_t pixel, uint32_t colour)
{
    uint8_t& byte = image[pixel / 2];
    byte = pixel % 2 == 0 ? uint8_t((byte & 0x0F) | colour << 4) : uint8_t((byte & 0xF0) | colour);
}

void plainDecodeRun(PlainField& field, int64_t width, uint8_t* image)
{
    const int64_t rest = width - field.pixel % width;
    int64_t count = rest;
    uint32_t colour = 0;
    if (field.nibble < field.limit) {
        uint32_t value = plainNibble(field);
        int nibbles = 1;
        while (nibbles < 4 && value < (nibbles == 1 ? 0x4u : nibbles == 2 ? 0x10u : 0x40u)) {
            value = value * 16 + plainNibble(field);
            ++nibbles;
        }
        if (nibbles == 4 && value < 4) {
            colour = value;
        } else {
            count = std::min<int64_t>(value >> 2, rest);
            colour = value & 3;
        }
    }
    for (int64_t i = 0; i < count; ++i)
        plainWritePixel(image, field.pixel + i, colour);
    field.pixel += count;
    if (field.pixel % width == 0) {
        field.pixel -= 3 * width;
        if (field.nibble % 2 == 1)
            ++field.nibble;
    }
}

} // namespace

int32_t plainDecodeBitmap(const PacketHeader* header, int32_t dataLength, int32_t& capacity, uint8_t* image)
{
    if (!header)
        return DecodeNoRecord;
    const int64_t width = header->width;
    const int64_t height = header->height;
    const int64_t need = (width * height + 1) / 2;
    const bool fits = capacity >= need && (need == 0 || image);
    capacity = int32_t(need);
    if (!fits)
        return DecodeOutputTooSmall;
    if (need == 0)
        return DecodeOk;

    const int64_t length = std::max(dataLength, 0);
    const int64_t offset = header->secondFieldOffset;
    PlainField first{header->bitmapData, (height - 1) * width, 0, 2 * std::min(offset, length), 2 * length};
    PlainField second{nullptr, (height - 2) * width, 0, 0, 0};
    if (offset < length) {
        second.data = header->bitmapData + offset;
        second.limit = second.end = 2 * (length - offset);
    }
    while (first.pixel >= 0 || second.pixel >= 0) {
        if (first.pixel >= 0)
            plainDecodeRun(first, width, image);
        if (second.pixel >= 0)
            plainDecodeRun(second, width, image);
    }
    return DecodeOk;
}

bool plainProduceFrame(MediaBuffer* packet, bool hasAlpha, const char* outputFourcc, BufferAllocator* allocator,
    PortInterface* sink, int32_t& lastWidth, int32_t& lastHeight)
{
    if (!allocator || !sink || !findOutputOrder(outputFourcc))
        return false;
    const int32_t headerLength = hasAlpha ? PacketFormat::AlphaHeaderLength : PacketFormat::HeaderLength;
    PacketHeader header;
    uint8_t alpha[4];
    const void* bytes = packet->lock();
    const bool parsed = bytes && packet->size >= headerLength;
    if (parsed)
        parsePacketHeader(static_cast<const uint8_t*>(bytes), &header, hasAlpha ? alpha : nullptr);
    packet->unlock();
    if (!parsed || int64_t(header.width) * header.height * 4 > std::numeric_limits<int32_t>::max())
        return false;
    const int32_t size = header.width * header.height * 4;
    std::vector<uint8_t> image(size_t(int64_t(header.width) * header.height + 1) / 2);
    int32_t capacity = int32_t(image.size());
    plainDecodeBitmap(&header, packet->size - headerLength, capacity, image.data());

    allocator->configure(32);
    MediaBuffer* frame = allocator->allocate(header.width, header.height, 1);
    if (!frame)
        return false;
    const auto giveBack = [frame] {
        frame->dropReference();
        return false;
    };
    if (header.height > 1 && frame->stride < header.width)
        return giveBack();
    frame->size = size;
    auto* pixels = static_cast<uint8_t*>(frame->lock());
    if (pixels)
        std::memset(pixels, FrameFill, size_t(size));
    frame->unlock();
    if (!pixels && size > 0)
        return giveBack();
    frame->timing[0] = packet->timing[0];
    frame->timing[1] = packet->timing[1];
    const ChannelTables channels = buildChannelTables(header.palette, hasAlpha ? alpha : nullptr);
    const uint8_t* tables[4];
    orderTables(channels, outputFourcc, tables);
    pixels = static_cast<uint8_t*>(frame->lock());
    if (pixels)
        blitIndexedBitmap(image.data(), header.width, header.height, 0, 0, pixels, frame->stride, header.height,
            tables, true);
    frame->unlock();
    if (!pixels && size > 0)
        return giveBack();

    const Canvas canvas = chooseReferenceCanvas(lastWidth, lastHeight, header.right, header.bottom);
    lastWidth = canvas.width;
    lastHeight = canvas.height;
    frame->left = double(header.left) / canvas.width;
    frame->top = double(header.top) / canvas.height;
    frame->right = double(header.right) / canvas.width;
    frame->bottom = double(header.bottom) / canvas.height;
    Variant v = objectVariant(frame);
    if (!sink->deliver(MSG_SAMPLE, &v))
        return giveBack();
    packet->dropReference();
    return true;
}

} // namespace Qor::Testing
