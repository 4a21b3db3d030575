// The body of every kernel of the decoder into pixels (PixelDecoder.h),
// over one of the run fill kernels of render/PixelRunFill*.h. Each kernel's
// unit includes it once, built with its own instruction set; like the
// reader and the fills it lies in an unnamed namespace, so that no unit's
// code is shared with another's.
//
// The decoder's image is stored bottom-up and the blit draws it upside down,
// so bitmap row y lands in frame row y: the first field draws frame rows 0,
// 2, 4..., the second rows 1, 3, 5...
#ifndef KELVO_SUBDECODE_PIXELDECODERROWS_H
#define KELVO_SUBDECODE_PIXELDECODERROWS_H

#include "subdecode/PixelDecoder.h"
#include "subdecode/RunCodeReader.h"

#include <cstddef>
#include <cstdint>

namespace Qor {
namespace {

// The pixels a step may store past the row's pixels it draws: a step runs
// only while the row has at least this many left.
constexpr int64_t StepRoom = 20;

// What a byte at the head of a row's codes holds when it starts with a code
// of one or two nibbles: a one-nibble code, two of them, or a two-nibble
// code, as the nibbles they take, the first run's length and colour, the
// second's colour (the first's again when there is none) and the pixels of
// both. `nibbles` is 0 for a byte that starts a code of three or four.
struct ShortCodes {
    uint8_t nibbles = 0;
    uint8_t firstRun = 0;
    uint8_t firstColour = 0;
    uint8_t secondColour = 0;
    uint8_t pixels = 0;
};

struct ShortCodeTable {
    ShortCodes bytes[256];

    constexpr ShortCodeTable() : bytes()
    {
        for (int byte = 0x10; byte < 256; ++byte) {
            const int high = byte >> 4;
            const int low = byte & 0x0F;
            ShortCodes& codes = bytes[byte];
            // A two-nibble code, a one-nibble code before a longer one, or two one-nibble codes.
            const int first = high < 4 ? byte : high;
            codes.nibbles = uint8_t(high >= 4 && low < 4 ? 1 : 2);
            codes.firstRun = uint8_t(first >> 2);
            codes.firstColour = uint8_t(first & 3);
            codes.secondColour = uint8_t(high >= 4 && low >= 4 ? low & 3 : first & 3);
            codes.pixels = uint8_t(codes.firstRun + (high >= 4 && low >= 4 ? low >> 2 : 0));
        }
    }
};

constexpr ShortCodeTable shortCodeTable;

// Draws the next run, or the next two or four runs of one-nibble codes, of
// a row with at least StepRoom pixels left, from a reader ready for eight
// nibbles. Short runs go out as stores of fixed width that may reach past
// them, with no length worked out: four one-nibble codes (at most 12
// pixels, reaching 13) as four stores, a byte of one- and two-nibble codes
// (at most 15 pixels, reaching 19) as two, from a table. Longer codes have
// their length counted and may be cut at the row's end.
template <class Fill>
inline void drawStep(NibbleReader& reader, uint8_t*& out, int64_t& rest, const uint32_t* colours)
{
    static_assert(Fill::Reach >= 16 && Fill::Reach <= StepRoom, "stores must cover a run of 15 and stay in the room");
    const uint32_t window = reader.window();
    if (fourShortCodes(window)) {
        reader.skip(4);
        int64_t drawn = 0;
        for (int shift = 12; shift >= 0; shift -= 4) {
            const unsigned code = (window >> shift) & 0x0F;
            Fill::storeFour(out + 4 * drawn, colours[code & 3]);
            drawn += code >> 2;
        }
        out += 4 * drawn;
        rest -= drawn;
        return;
    }
    const ShortCodes codes = shortCodeTable.bytes[window >> 8];
    if (codes.nibbles) {
        reader.skip(codes.nibbles);
        Fill::storeAhead(out, colours[codes.firstColour]);
        Fill::storeFour(out + 4 * codes.firstRun, colours[codes.secondColour]);
        out += 4 * codes.pixels;
        rest -= codes.pixels;
        return;
    }
    const int length = codeLength(window);
    reader.skip(length);
    const uint32_t value = window >> (16 - 4 * length);
    const uint32_t pixel = colours[value & 3];
    // The end-of-row code, and a run cut at the row's end.
    int64_t run = value >> 2;
    run = value < 4 || run > rest ? rest : run;
    if (run <= Fill::Reach)
        Fill::storeAhead(out, pixel);
    else if (run <= Fill::FarReach && rest >= Fill::FarReach)
        Fill::storeFarAhead(out, pixel);
    else
        Fill::fill(out, pixel, size_t(run));
    out += 4 * run;
    rest -= run;
}

// Draws the rest of a row and readies the reader for the field's next row.
template <class Fill>
void drawRowEnd(NibbleReader& reader, uint8_t* out, int64_t rest, const uint32_t* colours)
{
    while (rest >= StepRoom) {
        if (reader.readyForEight()) {
            drawStep<Fill>(reader, out, rest, colours);
            continue;
        }
        // Near the field's limit: one code at a time, each checked.
        unsigned colour;
        const int64_t run = readRun(reader, rest, colour);
        Fill::fill(out, colours[colour], size_t(run));
        out += 4 * run;
        rest -= run;
    }
    // The last pixels, fewer than StepRoom, go through a few bytes on the
    // stack, where stores may reach past the row's end, and then to the row.
    if (rest > 0) {
        alignas(32) uint8_t tail[4 * (StepRoom + Fill::Reach)];
        uint8_t* at = tail;
        for (int64_t left = rest; left > 0;) {
            unsigned colour;
            const int64_t run = readRun(reader, left, colour);
            if (run <= Fill::Reach)
                Fill::storeAhead(at, colours[colour]);
            else
                Fill::fill(at, colours[colour], size_t(run));
            at += 4 * run;
            left -= run;
        }
        Fill::copyShort(out, tail, size_t(rest));
    }
    reader.alignToByte();
}

// The fields are drawn a row of each at a time, a step of each in turn
// while both rows are far from their ends: every code's length depends on
// the one before it, and two fields make two such chains the processor can
// work on at once.
template <class Fill>
void drawBitmap(const PixelDecoderJob& job)
{
    if (job.width <= 0 || job.height <= 0)
        return;
    FieldReaders fields(job.data, job.dataLength, job.secondFieldOffset);
    NibbleReader first = fields.first;
    NibbleReader second = fields.second;
    const uint32_t colours[4] = {job.colours[0], job.colours[1], job.colours[2], job.colours[3]};
    const std::ptrdiff_t rowBytes = std::ptrdiff_t(job.pitch) * 4;
    for (int64_t row = 0; row < job.height; row += 2) {
        uint8_t* firstOut = job.pixels + row * rowBytes;
        int64_t firstRest = job.width;
        if (row + 1 == job.height) {
            drawRowEnd<Fill>(first, firstOut, firstRest, colours);
            break;
        }
        uint8_t* secondOut = firstOut + rowBytes;
        int64_t secondRest = job.width;
        // A step takes at most four nibbles: after the check for eight, two
        // steps need only the check of the room left.
        while (firstRest >= StepRoom && secondRest >= StepRoom && first.readyForEight()
            && second.readyForEight()) {
            drawStep<Fill>(first, firstOut, firstRest, colours);
            drawStep<Fill>(second, secondOut, secondRest, colours);
            if (firstRest < StepRoom || secondRest < StepRoom)
                break;
            drawStep<Fill>(first, firstOut, firstRest, colours);
            drawStep<Fill>(second, secondOut, secondRest, colours);
        }
        drawRowEnd<Fill>(first, firstOut, firstRest, colours);
        drawRowEnd<Fill>(second, secondOut, secondRest, colours);
    }
}

} // namespace
} // namespace Qor

#endif
