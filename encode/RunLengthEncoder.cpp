#include "encode/RunLengthEncoder.h"

namespace Qor {

namespace {

constexpr size_t LongestCodedRun = 255;

// Appends nibbles high half first, as the decoder reads them.
class NibbleWriter {
public:
    explicit NibbleWriter(std::vector<uint8_t>& bytes) : bytes(bytes) {}

    void putCode(uint32_t value, int nibbles)
    {
        for (int shift = 4 * (nibbles - 1); shift >= 0; shift -= 4)
            putNibble((value >> shift) & 0xF);
    }

    // A row's unused low nibble stays 0.
    void alignToByte() { halfFull = false; }

private:
    void putNibble(uint32_t nibble)
    {
        if (halfFull)
            bytes.back() = uint8_t(bytes.back() | nibble);
        else
            bytes.push_back(uint8_t(nibble << 4));
        halfFull = !halfFull;
    }

    std::vector<uint8_t>& bytes;
    bool halfFull = false;
};

// The nibbles of a plain code for a run of 1 to 255 pixels.
int codeNibbles(size_t run, const RunLengthOptions& options)
{
    if (options.fourNibbleCodes || run >= 64)
        return 4;
    return run >= 16 ? 3 : run >= 4 ? 2 : 1;
}

// The nibbles of all the plain codes for a run of any length.
size_t plainNibbles(size_t run, const RunLengthOptions& options)
{
    const size_t rest = run % LongestCodedRun;
    return run / LongestCodedRun * 4 + (rest ? size_t(codeNibbles(rest, options)) : 0);
}

bool useEndOfRow(size_t run, const RunLengthOptions& options)
{
    switch (options.endOfRow) {
    case EndOfRowCode::Always:
        return true;
    case EndOfRowCode::Never:
        return false;
    case EndOfRowCode::WhenNotLonger:
        break;
    }
    return plainNibbles(run, options) >= 4;
}

void encodeRun(NibbleWriter& out, size_t run, uint32_t colour, bool lastInRow, const RunLengthOptions& options)
{
    if (lastInRow && useEndOfRow(run, options)) {
        out.putCode(colour, 4);
        return;
    }
    for (; run > LongestCodedRun; run -= LongestCodedRun)
        out.putCode(uint32_t(LongestCodedRun) << 2 | colour, 4);
    const int nibbles = codeNibbles(run, options);
    if (lastInRow && options.passRowEnd)
        run = nibbles == 1 ? 3 : nibbles == 2 ? 15 : nibbles == 3 ? 63 : 255;
    out.putCode(uint32_t(run) << 2 | colour, nibbles);
}

void encodeRow(NibbleWriter& out, const uint8_t* row, size_t width, const RunLengthOptions& options)
{
    for (size_t x = 0; x < width;) {
        const uint32_t colour = row[x] & 3;
        size_t end = x + 1;
        while (end < width && (row[end] & 3) == colour)
            ++end;
        encodeRun(out, end - x, colour, end == width, options);
        x = end;
    }
    out.alignToByte();
}

} // namespace

EncodedBitmap encodeRunLength(const uint8_t* indices, uint16_t width, uint16_t height,
    const RunLengthOptions& options)
{
    EncodedBitmap encoded;
    if (width == 0 || height == 0)
        return encoded;
    NibbleWriter out(encoded.data);
    for (size_t y = 0; y < height; y += 2)
        encodeRow(out, indices + y * width, width, options);
    encoded.secondFieldOffset = encoded.data.size();
    for (size_t y = 1; y < height; y += 2)
        encodeRow(out, indices + y * width, width, options);
    return encoded;
}

} // namespace Qor
