// The run-length bitmap decoder. Each field is decoded whole, one row after
// another: the fields share no state and write disjoint pixels, so this
// gives the same image as taking one run of each in turn.
//
// Reading: a field's nibbles come through a 64-bit buffer filled eight bytes
// at a time, so that a code costs a shift rather than a load per nibble.
// Where a byte holds two one-nibble codes, as bytes of short-run noise do, a
// table gives both runs' pixels at once.
//
// Writing: pixels gather in a second 64-bit buffer and leave it whole bytes
// (two pixels each) at a time. A run of up to 30 pixels away from the row's
// end is stored as eight or sixteen bytes at once, of which only the
// completed ones count; the rest are stored again, right, by the runs that
// follow, as all of them lie inside the row. Longer runs, and runs near the
// row's end, go out exactly: memset-like fills for whole bytes, and the
// half-byte at either end of a row merged with the other half already there.
#include "subdecode/BitmapDecoder.h"

#include "subdecode/RunCodeReader.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace Qor {

namespace {

#if defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
void storeBigEndian64(uint8_t* bytes, uint64_t value)
{
    value = __builtin_bswap64(value);
    std::memcpy(bytes, &value, 8);
}
#else
void storeBigEndian64(uint8_t* bytes, uint64_t value)
{
    for (int i = 0; i < 8; ++i)
        bytes[i] = uint8_t(value >> (56 - 8 * i));
}
#endif

// Sets `count` bytes: short fills as two overlapping stores, long ones by memset.
void fillBytes(uint8_t* out, uint8_t value, size_t count)
{
    if (count >= 16) {
        std::memset(out, value, count);
        return;
    }
    const uint64_t eight = value * 0x0101010101010101u;
    if (count >= 8) {
        std::memcpy(out, &eight, 8);
        std::memcpy(out + count - 8, &eight, 8);
    } else if (count >= 4) {
        const uint32_t four = uint32_t(eight);
        std::memcpy(out, &four, 4);
        std::memcpy(out + count - 4, &four, 4);
    } else if (count >= 2) {
        const uint16_t two = uint16_t(eight);
        std::memcpy(out, &two, 2);
        std::memcpy(out + count - 2, &two, 2);
    } else if (count == 1) {
        *out = value;
    }
}

// For a byte of run-length data whose two nibbles are both one-nibble codes
// (4 to 15 each): the pixels of the two runs as nibbles from bit 63 down,
// and their number, 2 to 6. A count of 0 for any other byte. Noise of short
// runs is mostly such bytes.
struct ShortRunPairs {
    uint64_t pixels[256];
    uint8_t counts[256];

    constexpr ShortRunPairs() : pixels(), counts()
    {
        for (int byte = 0; byte < 256; ++byte) {
            const int codes[2] = {byte >> 4, byte & 0x0F};
            if (codes[0] < 4 || codes[1] < 4)
                continue;
            int count = 0;
            for (int code : codes) {
                for (int i = 0; i < code >> 2; ++i, ++count)
                    pixels[byte] |= uint64_t(code & 3) << (60 - 4 * count);
            }
            counts[byte] = uint8_t(count);
        }
    }
};

constexpr ShortRunPairs shortRunPairs;

// Pixels of one row on their way into the image. `pending` holds the
// nibbles not yet stored, highest first: at most one between runs.
class RowWriter {
public:
    // A row of `width` pixels from pixel `first` on. A row that begins in the
    // middle of a byte takes the byte's high nibble, another row's pixel, as
    // its first pending nibble, to store it back unchanged.
    RowWriter(uint8_t* image, int64_t first, int64_t width)
        : out(image + (first >> 1)), ownedEnd(image + ((first + width) >> 1))
    {
        if (first & 1) {
            pending = uint64_t(*out >> 4) << 60;
            count = 1;
        }
    }

    // The `run` pixels of up to four one-nibble codes; the row has at least 17 pixels
    // left after them, so the eight bytes from `out` are all this row's.
    void appendShortRuns(uint64_t pixels, int run)
    {
        pending |= pixels >> (4 * count);
        storeBigEndian64(out, pending);
        const int total = count + run;
        out += total >> 1;
        pending <<= 8 * (total >> 1);
        count = total & 1;
    }

    void append(int64_t run, uint32_t colour)
    {
        if (run <= 14 && ownedEnd - out >= 8) {
            // The eight bytes from `out` all belong to this row, and the runs
            // that follow store over the ones not completed here.
            pending |= (colour * 0x1111111111111111u & ~(~uint64_t(0) >> (4 * run))) >> (4 * count);
            storeBigEndian64(out, pending);
            const int64_t total = count + run;
            const int64_t whole = total >> 1;
            out += whole;
            pending <<= 8 * whole;
            count = int(total & 1);
            return;
        }
        const uint64_t fill = colour * 0x1111111111111111u;
        if (run <= 30 && ownedEnd - out >= 16) {
            // Likewise with sixteen bytes, the first completing the pending nibble.
            storeBigEndian64(out, count ? pending | fill >> 4 : fill);
            storeBigEndian64(out + 8, fill);
            const int64_t total = count + run;
            out += total >> 1;
            count = int(total & 1);
            pending = count ? fill << 60 : 0;
            return;
        }
        if (count) {
            *out++ = uint8_t(pending >> 56 | colour);
            pending = 0;
            count = 0;
            --run;
        }
        fillBytes(out, uint8_t(fill), size_t(run >> 1));
        out += run >> 1;
        if (run & 1) {
            pending = uint64_t(colour) << 60;
            count = 1;
        }
    }

    // A row that ends in the middle of a byte keeps the byte's low nibble,
    // another row's pixel or the image's spare nibble.
    void finish()
    {
        if (count)
            *out = uint8_t(pending >> 56 | (*out & 0x0F));
    }

private:
    uint8_t* out;            // the byte that receives the first pending nibble
    const uint8_t* ownedEnd; // the first byte not wholly this row's
    uint64_t pending = 0;
    int count = 0;
};

// Decodes a field's rows into memory rows `firstRow`, firstRow - 2, ... 0 or 1.
// The reader is a copy of its own: the compiler may then keep its state in
// registers, as no byte stored into the image can reach it.
void decodeField(NibbleReader reader, int64_t firstRow, int64_t width, uint8_t* image)
{
    for (int64_t row = firstRow; row >= 0; row -= 2) {
        RowWriter writer(image, row * width, width);
        int64_t rest = width;
        // Far from the row's end no run needs cutting, and up to four
        // one-nibble codes, at most 12 pixels, go out in one step.
        while (rest >= 29) {
            unsigned first;
            if (reader.readTwoShortCodes(first)) {
                int count = shortRunPairs.counts[first];
                uint64_t pixels = shortRunPairs.pixels[first];
                unsigned second;
                if (reader.readTwoShortCodes(second)) {
                    pixels |= shortRunPairs.pixels[second] >> (4 * count);
                    count += shortRunPairs.counts[second];
                }
                writer.appendShortRuns(pixels, count);
                rest -= count;
            } else {
                unsigned colour;
                const int64_t run = readRun(reader, rest, colour);
                writer.append(run, colour);
                rest -= run;
            }
        }
        while (rest > 0) {
            unsigned colour;
            const int64_t run = readRun(reader, rest, colour);
            writer.append(run, colour);
            rest -= run;
        }
        writer.finish();
        reader.alignToByte();
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

    FieldReaders fields(header->bitmapData, dataLength, header->secondFieldOffset);
    decodeField(fields.first, height - 1, width, image);
    decodeField(fields.second, height - 2, width, image);
    return DecodeOk;
}

} // namespace Qor
