// The host test's own packet writer.
#include "tests/msvc-host/Packets.h"

namespace {

// Nibbles appended high half first; every row starts on a byte boundary.
class NibbleWriter {
public:
    explicit NibbleWriter(int32_t capacity) : bytes(new uint8_t[capacity]), capacity(capacity) {}
    ~NibbleWriter() { delete[] bytes; }

    void put(uint32_t nibble)
    {
        const int32_t at = count / 2;
        if (at >= capacity)
            return;
        if (count % 2 == 0)
            bytes[at] = uint8_t(nibble << 4);
        else
            bytes[at] = uint8_t(bytes[at] | (nibble & 15));
        ++count;
    }
    void endRow()
    {
        if (count % 2)
            put(0);
    }
    int32_t size() const { return count / 2; }

    uint8_t* bytes;
    int32_t capacity;
    int32_t count = 0;
};

// One run of `length` (1 to 255) pixels of `colour`, in its shortest form
// or, for runs below 16, sometimes in the four-nibble form.
void putRun(NibbleWriter& out, uint32_t length, uint32_t colour, HostRuntime::Random& random)
{
    const uint32_t value = length << 2 | colour;
    if (length < 16 && random.below(4) == 0) {
        out.put(0);
        out.put(0);
        out.put(value >> 4);
        out.put(value & 15);
    } else if (length < 4) {
        out.put(value);
    } else if (length < 16) {
        out.put(value >> 4);
        out.put(value & 15);
    } else if (length < 64) {
        out.put(0);
        out.put(value >> 4);
        out.put(value & 15);
    } else {
        out.put(0);
        out.put(value >> 8);
        out.put((value >> 4) & 15);
        out.put(value & 15);
    }
}

void putField(NibbleWriter& out, const PacketContents& c, int32_t firstRow, HostRuntime::Random& random)
{
    for (int32_t y = firstRow; y < c.height; y += 2) {
        const uint8_t* row = c.indices + int32_t(c.width) * y;
        int32_t x = 0;
        while (x < c.width) {
            int32_t end = x + 1;
            while (end < c.width && row[end] == row[x])
                ++end;
            if (end == c.width && random.below(3) == 0) {
                // The end-of-row code: three zero nibbles, then the colour.
                out.put(0);
                out.put(0);
                out.put(0);
                out.put(row[x]);
                x = end;
                break;
            }
            const int32_t length = end - x > 255 ? 255 : end - x;
            putRun(out, uint32_t(length), row[x], random);
            x += length;
        }
        out.endRow();
    }
}

void put16(uint8_t* at, uint32_t value)
{
    at[0] = uint8_t(value & 0xFF);
    at[1] = uint8_t(value >> 8);
}

} // namespace

PacketBytes writePacket(const PacketContents& c, HostRuntime::Random& random)
{
    // At most four nibbles a pixel, and a padding nibble a row.
    const int32_t most = int32_t(c.width) * c.height * 2 + c.height + 2;
    NibbleWriter first(most);
    NibbleWriter second(most);
    putField(first, c, 0, random);
    putField(second, c, 1, random);

    const int32_t headerLength = c.hasAlpha ? 57 : 53;
    PacketBytes packet;
    packet.size = headerLength + first.size() + second.size();
    packet.bytes = new uint8_t[packet.size];
    uint8_t* p = packet.bytes;
    for (int i = 0; i < 27; ++i)
        p[i] = uint8_t("00:00:01,000 --> 00:00:02,5"[i]);
    put16(p + 27, c.width);
    put16(p + 29, c.height);
    put16(p + 31, c.left);
    put16(p + 33, c.top);
    put16(p + 35, uint32_t(c.left + c.width - 1));
    put16(p + 37, uint32_t(c.top + c.height - 1));
    put16(p + 39, uint32_t(first.size()));
    for (int i = 0; i < 4; ++i) {
        p[41 + 3 * i] = c.palette[i].red;
        p[42 + 3 * i] = c.palette[i].green;
        p[43 + 3 * i] = c.palette[i].blue;
    }
    if (c.hasAlpha)
        for (int i = 0; i < 4; ++i)
            p[53 + i] = c.alpha[i];
    for (int32_t i = 0; i < first.size(); ++i)
        p[headerLength + i] = first.bytes[i];
    for (int32_t i = 0; i < second.size(); ++i)
        p[headerLength + first.size() + i] = second.bytes[i];
    return packet;
}

void drawRandomImage(PacketContents& c, HostRuntime::Random& random)
{
    const uint32_t style = random.below(3);
    c.indices = new uint8_t[int32_t(c.width) * c.height];
    for (int32_t y = 0; y < c.height; ++y)
        for (int32_t x = 0; x < c.width; ++x) {
            uint8_t& i = c.indices[y * c.width + x];
            if (style == 0)
                i = uint8_t((x / 7 + y / 3) % 4);
            else if (style == 1)
                i = uint8_t(x > c.width / 4 && x < 3 * c.width / 4 && y > c.height / 3 ? 1 + (x / 40) % 3 : 0);
            else
                i = uint8_t(random.below(4));
        }
}
