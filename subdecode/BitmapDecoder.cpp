#include "subdecode/BitmapDecoder.h"

#include <algorithm>
#include <cstring>

namespace Qor {

namespace {

// One field's progress. Pixel and nibble indices are 64-bit: the first
// field's start, (height - 1) * width, passes 2^31 for the largest bitmaps.
struct Field {
    const uint8_t* data; // the field's first byte; never read when `end` is 0
    int64_t pixel;       // next pixel in memory order; negative once the field is done
    int64_t nibble;      // next nibble, counted from `data`
    int64_t limit;       // a code may begin only below this nibble
    int64_t end;         // no nibble at or past this one is read
};

// A code that begins below its field's limit is read whole, and the first
// field's may go on into the second field's bytes. Where it would go past the
// end of all the data, the missing nibbles count as 0. The colour lies in a
// code's last nibble, so such a code paints colour 0, and the field is
// exhausted after it: the pixels are those of a field that ended before the
// code, which is the other reading the format permits.
uint32_t readNibble(Field& field)
{
    const int64_t k = field.nibble++;
    if (k >= field.end)
        return 0;
    const uint8_t byte = field.data[k >> 1];
    return k & 1 ? byte & 0x0F : byte >> 4;
}

// Writes `colour` into `count` pixels from `pixel` on, leaving the other half
// of a shared byte at either end as it was.
void fillRun(uint8_t* image, int64_t pixel, int64_t count, uint32_t colour)
{
    if (pixel & 1) {
        uint8_t& byte = image[pixel >> 1];
        byte = uint8_t((byte & 0xF0) | colour);
        ++pixel;
        --count;
    }
    const int64_t pairs = count >> 1;
    std::memset(image + (pixel >> 1), int(colour * 0x11), size_t(pairs));
    pixel += pairs * 2;
    if (count & 1) {
        uint8_t& byte = image[pixel >> 1];
        byte = uint8_t((byte & 0x0F) | colour << 4);
    }
}

// Decodes one run of `field` and, at the end of a row, moves it to its next
// row: two memory rows down, since the other field owns the row between.
void decodeRun(Field& field, int64_t width, uint8_t* image)
{
    const int64_t rest = width - field.pixel % width;
    int64_t count = rest; // an exhausted field fills the row with colour 0
    uint32_t colour = 0;
    if (field.nibble < field.limit) {
        uint32_t value = readNibble(field);
        bool toRowEnd = false;
        if (value < 0x4) {
            value = value << 4 | readNibble(field);
            if (value < 0x10) {
                value = value << 4 | readNibble(field);
                if (value < 0x40) {
                    value = value << 4 | readNibble(field);
                    toRowEnd = value < 0x4;
                }
            }
        }
        colour = value & 3;
        // A run longer than the row is cut; its remainder does not carry over.
        if (!toRowEnd)
            count = std::min<int64_t>(value >> 2, rest);
    }
    fillRun(image, field.pixel, count, colour);
    field.pixel += count;
    if (count == rest) {
        field.pixel -= 3 * width;
        field.nibble += field.nibble & 1; // rows begin on a byte boundary
    }
}

} // namespace

int32_t decodeBitmap(const PacketHeader* header, int32_t dataLength, int32_t& capacity, uint8_t* image)
{
    if (!header)
        return DecodeNoRecord;
    const int64_t width = header->width;
    const int64_t height = header->height;
    // At most 2147418113, for 65535 x 65535: within a signed 32-bit value.
    const int64_t need = (width * height + 1) / 2;
    const int64_t available = capacity;
    capacity = int32_t(need);
    if (available < need || (need > 0 && !image))
        return DecodeOutputTooSmall;
    if (need == 0)
        return DecodeOk;

    const int64_t length = std::max<int32_t>(dataLength, 0);
    const int64_t offset = header->secondFieldOffset;
    Field first{header->bitmapData, (height - 1) * width, 0, 2 * std::min(offset, length), 2 * length};
    // With the offset at or past the end the second field is empty; its
    // pointer is not even formed, since it would lie outside the data.
    Field second{nullptr, (height - 2) * width, 0, 0, 0};
    if (offset < length) {
        second.data = header->bitmapData + offset;
        second.limit = second.end = 2 * (length - offset);
    }

    while (first.pixel >= 0 || second.pixel >= 0) {
        if (first.pixel >= 0)
            decodeRun(first, width, image);
        if (second.pixel >= 0)
            decodeRun(second, width, image);
    }
    return DecodeOk;
}

} // namespace Qor
