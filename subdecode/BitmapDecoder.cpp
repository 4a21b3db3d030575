// The run-length bitmap decoder in its plain form: each field whole, one row
// after another, one run at a time, each pixel's nibble by itself. The
// fields share no state and write disjoint pixels, so this gives the same
// image as taking one run of each in turn. It reads through the reader that
// the decoder into pixels reads through (RunCodeReader.h), so that the two
// take every input, hostile ones included, the same way. Frame production
// does not run it: with the indexed blit it is the reference the decoder
// into pixels is held to.
#include "subdecode/BitmapDecoder.h"

#include "subdecode/RunCodeReader.h"

namespace Qor {

namespace {

// Pixels `first` to first + count - 1 of the image become `colour`.
void writeRun(uint8_t* image, int64_t first, int64_t count, unsigned colour)
{
    for (int64_t pixel = first; pixel < first + count; ++pixel) {
        uint8_t& byte = image[pixel >> 1];
        byte = pixel & 1 ? uint8_t((byte & 0xF0) | colour) : uint8_t((byte & 0x0F) | colour << 4);
    }
}

// Decodes a field's rows into memory rows `firstRow`, firstRow - 2, ... 0 or 1.
void decodeField(NibbleReader reader, int64_t firstRow, int64_t width, uint8_t* image)
{
    for (int64_t row = firstRow; row >= 0; row -= 2) {
        for (int64_t x = 0; x < width;) {
            unsigned colour;
            const int64_t run = readRun(reader, width - x, colour);
            writeRun(image, row * width + x, run, colour);
            x += run;
        }
        reader.alignToByte();
    }
}

} // namespace

int32_t decodeBitmap(const PacketHeader* header, int32_t dataLength, int32_t& capacity, uint8_t* image)
{
    if (!header)
        return DecodeNoRecord;
    // At most 2147418113, for 65535 x 65535: within a signed 32-bit value.
    const int64_t need = (int64_t(header->width) * header->height + 1) / 2;
    const bool room = capacity >= need && (need == 0 || image);
    capacity = int32_t(need);
    if (!room)
        return DecodeOutputTooSmall;
    if (need > 0) {
        FieldReaders fields(header->bitmapData, dataLength, header->secondFieldOffset);
        decodeField(fields.first, header->height - 1, header->width, image);
        decodeField(fields.second, header->height - 2, header->width, image);
    }
    return DecodeOk;
}

} // namespace Qor
