// fuzz_decoder: the run-length decoder on arbitrary header fields and data
// (FuzzCases.h). The data block and the image block are heap blocks of
// exactly the lengths the call claims, so the address sanitizer reports any
// access outside them. The run aborts when the result or the reported need is
// wrong, when a refused call wrote to the image, when a byte outside the
// pixels changed, or when the image differs from a plain decoder that reads
// one field after the other, one pixel at a time.
#include "fuzz/FuzzCases.h"
#include "subdecode/BitmapDecoder.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

using namespace Qor;
using Fuzzing::DecoderCase;

// Images above this many bytes are asked for only with too small a capacity.
constexpr int64_t imageByteLimit = int64_t(1) << 17;
constexpr uint8_t canary = 0xEE;

void require(bool holds, const char* what)
{
    if (holds)
        return;
    std::fprintf(stderr, "fuzz_decoder: %s\n", what);
    std::abort();
}

// The nibbles of one field, with nibbles past the end of all data read as 0.
struct NibbleReader {
    const uint8_t* data;
    int64_t end;
    int64_t next = 0;
    uint32_t read()
    {
        const int64_t k = next++;
        return k < end ? (k & 1 ? data[k >> 1] & 0x0F : data[k >> 1] >> 4) : 0;
    }
};

// Decodes one field's rows (firstRow, firstRow + 2, ... counted from the
// top) into `rows`, one byte a pixel, top row first.
void referenceField(NibbleReader nibbles, int64_t limit, int64_t firstRow, int64_t width, int64_t height,
    std::vector<uint8_t>& rows)
{
    for (int64_t row = firstRow; row < height; row += 2) {
        uint8_t* line = rows.data() + row * width;
        int64_t x = 0;
        while (x < width) {
            if (nibbles.next >= limit) {
                std::fill(line + x, line + width, 0);
                break;
            }
            uint32_t value = nibbles.read();
            int nibbleCount = 1;
            while (nibbleCount < 4 && value < (nibbleCount == 1 ? 0x4u : nibbleCount == 2 ? 0x10u : 0x40u)) {
                value = value << 4 | nibbles.read();
                ++nibbleCount;
            }
            const int64_t count = nibbleCount == 4 && value < 4 ? width - x : std::min<int64_t>(value >> 2, width - x);
            std::fill(line + x, line + x + count, uint8_t(value & 3));
            x += count;
        }
        nibbles.next += nibbles.next & 1;
    }
}

void runDecoder(const DecoderCase& c, const uint8_t* bytes, size_t size)
{
    const int64_t width = c.width;
    const int64_t height = c.height;
    const int64_t need = (width * height + 1) / 2;

    const int32_t dataLength = c.negativeLength ? -1 - int32_t(c.amount) : int32_t(size);
    const size_t dataBytes = c.negativeLength ? 0 : size;
    std::unique_ptr<uint8_t[]> data(new uint8_t[dataBytes]);
    if (dataBytes)
        std::memcpy(data.get(), bytes, dataBytes);

    // The image block, exactly `capacity` bytes long, or none.
    int64_t capacity = need;
    uint8_t mode = c.image;
    if (mode != 1 && mode != 3 && need + c.amount > imageByteLimit)
        mode = 1;
    if (mode == 1)
        capacity = std::max<int64_t>(0, std::min<int64_t>(need, imageByteLimit) - 1 - c.amount);
    else if (mode == 2)
        capacity = need + c.amount;
    std::unique_ptr<uint8_t[]> image(mode == 3 ? nullptr : new uint8_t[size_t(capacity)]);
    if (image)
        std::memset(image.get(), canary, size_t(capacity));

    PacketHeader header{};
    header.width = c.width;
    header.height = c.height;
    header.secondFieldOffset = c.secondFieldOffset;
    header.bitmapData = data.get();
    int32_t reported = mode == 3 ? int32_t(c.amount) : int32_t(capacity);
    const int32_t result = decodeBitmap(&header, dataLength, reported, image.get());

    require(reported == need, "reported need is wrong");
    const bool fits = image ? capacity >= need : need == 0;
    if (!fits) {
        require(result == DecodeOutputTooSmall, "too small an image accepted");
        for (int64_t i = 0; image && i < capacity; ++i)
            require(image[size_t(i)] == canary, "refused call wrote to the image");
        return;
    }
    require(result == DecodeOk, "fitting image refused");
    for (int64_t i = need; i < capacity; ++i)
        require(image[size_t(i)] == canary, "byte past the image written");
    if (need == 0)
        return;
    if ((width * height) & 1)
        require((image[size_t(need - 1)] & 0x0F) == (canary & 0x0F), "spare nibble written");

    // The reference: each field on its own, limits and starts as the format sets them.
    const int64_t length = std::max<int32_t>(dataLength, 0);
    const int64_t offset = c.secondFieldOffset;
    std::vector<uint8_t> rows(size_t(width * height), 0xFF);
    referenceField(NibbleReader{data.get(), 2 * length}, 2 * std::min(offset, length), 0, width, height, rows);
    if (offset < length)
        referenceField(NibbleReader{data.get() + offset, 2 * (length - offset)}, 2 * (length - offset), 1, width,
            height, rows);
    else
        referenceField(NibbleReader{nullptr, 0}, 0, 1, width, height, rows);

    // The image is bottom-up: memory row r holds row height - 1 - r.
    for (int64_t row = 0; row < height; ++row) {
        const int64_t memoryRow = height - 1 - row;
        for (int64_t x = 0; x < width; ++x) {
            const int64_t p = memoryRow * width + x;
            const uint8_t byte = image[size_t(p >> 1)];
            const uint8_t index = p & 1 ? byte & 0x0F : byte >> 4;
            require(index == rows[size_t(row * width + x)], "image differs from the plain decoder");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return Qor::Fuzzing::runCase<DecoderCase>(data, size, runDecoder);
}
