#include "tests/support/PlainForms.h"

#include "boundary/native/NativeHostCalls.h"
#include "host/Host.h"
#include "subdecode/FrameProduction.h"

#include <algorithm>
#include <cstring>

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

void plainFill(uint8_t* pixels, int32_t size, int32_t, int32_t, int32_t)
{
    std::memset(pixels, FrameFill, size_t(size));
}

void plainExpand(const PixelSource& source, uint8_t* pixels, int32_t stride)
{
    const int32_t width = source.header->width;
    const int32_t height = source.header->height;
    plainBlitIndexedBitmap(source.image, width, height, 0, 0, pixels, stride, height, source.tables, true);
}

const FrameStages plainStages = {plainFill, plainDecodeBitmap, plainExpand};

} // namespace

int32_t plainDecodeBitmap(const PacketHeader* header, int32_t dataLength, int32_t& capacity, uint8_t* image)
{
    if (!header)
        return DecodeNoRecord;
    const int64_t width = header->width;
    const int64_t height = header->height;
    const int64_t need = (width * height + 1) / 2;
    const int64_t available = capacity;
    capacity = int32_t(need);
    if (available < need || (need > 0 && !image))
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

void plainBlitIndexedBitmap(const uint8_t* indices, int32_t width, int32_t height, int32_t originX,
    int32_t originY, uint8_t* pixels, int32_t pitch, int32_t rows, const uint8_t* const tables[4], bool topDown)
{
    for (int64_t k = 0; k < height; ++k) {
        const int64_t s = height - 1 - k;
        const int64_t d = topDown ? originY + k : rows - 1 - originY - k;
        for (int64_t x = 0; x < width; ++x) {
            const int64_t n = s * width + x;
            const unsigned i = n % 2 == 0 ? indices[n / 2] >> 4 : indices[n / 2] & 0x0F;
            uint8_t* pixel = pixels + (d * pitch + originX + x) * 4;
            for (int b = 0; b < 4; ++b)
                pixel[b] = tables[b][i];
        }
    }
}

bool plainProduceFrame(MediaBuffer* packet, bool hasAlpha, const char* outputFourcc, BufferAllocator* allocator,
    PortInterface* sink, int32_t& displayWidth, int32_t& displayHeight)
{
    const FrameJob job{packet, hasAlpha ? findInputFormat("GPHA") : &opaquePackets, findOutputOrder(outputFourcc),
        allocator, sink};
    Canvas display{displayWidth, displayHeight};
    const int32_t answer = produceFrame(nativeHostCalls, job, display, plainStages);
    displayWidth = display.width;
    displayHeight = display.height;
    if (answer == KELVO_ACCEPTED)
        packet->dropReference();
    return nativeAnswer(answer);
}

} // namespace Qor::Testing
