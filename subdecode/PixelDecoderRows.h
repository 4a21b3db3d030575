// The body of every kernel of the decoder into pixels (PixelDecoder.h),
// over one of the run fill kernels of render/PixelRunFill*.h. Each kernel's
// unit includes it once, built with its own instruction set; like the
// reader and the fills it lies in an unnamed namespace, so that no unit's
// code is shared with another's.
//
// The decoder's image is stored bottom-up and the blit draws it upside down,
// so bitmap row y lands in frame row y: the first field draws frame rows 0,
// 2, 4..., the second rows 1, 3, 5...
//
// Far from a row's end, a step draws one code, or two one-nibble codes in a
// row, without a branch on the code's length or the run's: the code's length
// is counted from its first nibbles, and the run goes out as stores of fixed
// width that may reach past it, into pixels that the runs after it store
// again. Only runs longer than those stores take a branch. Where they are
// common, a branch on them is as good as a coin toss, so rows where they
// were common take a wider step whose stores cover them too.
#ifndef KELVO_SUBDECODE_PIXELDECODERROWS_H
#define KELVO_SUBDECODE_PIXELDECODERROWS_H

#include "subdecode/PixelDecoder.h"
#include "subdecode/RunCodeReader.h"

#include <cstddef>
#include <cstdint>
#include <type_traits>

// The branches the steps take for the common case, laid out as the straight way.
#if defined(__GNUC__)
#define KELVO_LIKELY(condition) __builtin_expect(!!(condition), 1)
#else
#define KELVO_LIKELY(condition) (condition)
#endif

namespace Qor {
namespace {

// The reader's buffer: as wide as the processor's registers.
using PixelWord = std::conditional_t<sizeof(void*) >= 8, uint64_t, uint32_t>;
using PixelReader = BasicNibbleReader<PixelWord>;

// A step takes at most four nibbles; a full buffer holds this many steps.
constexpr int StepsPerTopUp = (PixelReader::Capacity - 1) / 4;

// The kinds of step. A narrow step stores a block of 16 pixels from the
// run's start, a wide one three, covering runs of up to 48; either then
// stores four pixels for a second one-nibble code after a first. Beyond
// those, a run is drawn by its length, at most FarReach pixels past its
// start when the row has them. A short step draws four one-nibble codes at
// once where they come, as four stores of four pixels, and is narrow
// otherwise.
enum StepKind { NarrowStep, WideStep, ShortStep };

constexpr int blocksOf(int kind)
{
    return kind == WideStep ? 3 : 1;
}

// A step runs only while the row has at least this many pixels left: its
// stores reach no further.
constexpr std::ptrdiff_t roomFor(int kind)
{
    return 16 * blocksOf(kind) + 4;
}

// What a step needs of the byte at the head of its codes, the code's first
// two nibbles, packed in one word for one load: in bits 0 to 7 the bits it
// takes (four a nibble), in bits 8 to 15 the shift that leaves the first
// code's value of a window of four nibbles, and for a one-nibble code
// followed by another the second one's run in bytes (four a pixel) in bits
// 16 to 23 and its colour in bits 24 and 25. Every code's length shows in
// its first two nibbles.
struct StepTable {
    uint32_t entries[256];

    constexpr StepTable() : entries()
    {
        for (int byte = 0; byte < 256; ++byte) {
            const int high = byte >> 4;
            const int low = byte & 0x0F;
            const int length = high >= 4 ? 1 : high > 0 ? 2 : low >= 4 ? 3 : 4;
            const bool pair = length == 1 && low >= 4;
            entries[byte] = uint32_t(4 * (length + pair)) | uint32_t(16 - 4 * length) << 8
                | (pair ? uint32_t(low & ~3) << 16 | uint32_t(low & 3) << 24 : 0);
        }
    }
};

constexpr StepTable stepTable;

// The same for narrow steps, which draw codes of one or two nibbles only
// and longer ones by their length: all of it shows in the byte, so that a
// step is a few loads from one entry. `first` and `second` are the colours
// of the code and of a second one-nibble code after it (the code's own
// again when there is none), `secondAt` where the second's pixels start and
// `advance` where the next code's do, in bytes from the code's start. A
// byte below 0x10 starts a code of three or four nibbles, and has no entry
// of use.
struct NarrowEntry {
    uint8_t advance = 0;
    uint8_t secondAt = 0;
    uint8_t first = 0;
    uint8_t second = 0;
};

struct NarrowTable {
    NarrowEntry entries[256];

    constexpr NarrowTable() : entries()
    {
        for (int byte = 0x10; byte < 256; ++byte) {
            const int high = byte >> 4;
            const int low = byte & 0x0F;
            NarrowEntry& entry = entries[byte];
            const bool pair = high >= 4 && low >= 4;
            const int value = high >= 4 ? high : byte;
            entry.first = uint8_t(value & 3);
            entry.second = uint8_t(pair ? low & 3 : value & 3);
            entry.secondAt = uint8_t(4 * (value >> 2));
            entry.advance = uint8_t(4 * ((value >> 2) + (pair ? low >> 2 : 0)));
        }
    }
};

constexpr NarrowTable narrowTable;

// How a row pair's steps went, to choose the next rows' kind of step: the
// steps (counted a round of them at a time), the runs of 17 to 48 pixels
// among them, which a narrow step sends down its branch, and for short
// steps the ones that took four one-nibble codes.
struct StepCounts {
    std::ptrdiff_t steps = 0;
    std::ptrdiff_t middle = 0;
    std::ptrdiff_t quads = 0;

    // A branch on something that half of the runs do is as good as a coin
    // toss. Where most steps of short steps took four codes, or other steps
    // drew fewer than six pixels on average (pairs of one-nibble codes draw
    // two to six), short steps; where a quarter of the runs are of 17 to 48
    // pixels, wide ones.
    // Whether the next rows' fields are drawn side by side. That pays where
    // the runs are short and the steps many; where they are long, the
    // fields' turns cost more than they overlap. With eight registers, only
    // for the shortest runs.
    bool sideBySide(std::ptrdiff_t pixels) const
    {
        constexpr std::ptrdiff_t longestMean = sizeof(void*) >= 8 ? 64 : 16;
        return pixels < longestMean * steps;
    }

    StepKind next(StepKind kind, std::ptrdiff_t pixels) const
    {
        if (steps == 0)
            return NarrowStep;
        if (kind == ShortStep ? 4 * quads >= 3 * steps : pixels < 6 * steps)
            return ShortStep;
        return 4 * middle >= steps ? WideStep : NarrowStep;
    }
};

// The colours of the first eight pixels drawn from a byte of two one-nibble
// codes, pixel by pixel: six at most are theirs, the rest repeat the second.
struct ShortPairPatterns {
    uint8_t colours[256][8];

    constexpr ShortPairPatterns() : colours()
    {
        for (int byte = 0; byte < 256; ++byte) {
            const int firstRun = byte >> 6;
            for (int pixel = 0; pixel < 8; ++pixel)
                colours[byte][pixel] = uint8_t(pixel < firstRun ? byte >> 4 & 3 : byte & 3);
        }
    }
};

constexpr ShortPairPatterns shortPairPatterns;

// Draws the two one-nibble codes of `codes` with stores that reach eight
// pixels: one store of eight, for kernels that can pick the pixels of a
// vector from a table of colours, or one of four for each code.
template <class Fill>
inline void drawTwoShortCodes(uint8_t* out, unsigned codes, const uint32_t* colours)
{
    if constexpr (Fill::PicksEight) {
        Fill::storeEight(out, colours, shortPairPatterns.colours[codes]);
    } else {
        Fill::storeFour(out, colours[codes >> 4 & 3]);
        Fill::storeFour(out + (codes >> 4 & 0x0C), colours[codes & 3]);
    }
}

// A run longer than the step's stores, or the end-of-row code: cut at the
// row's end, and drawn by its length.
template <class Fill>
inline std::ptrdiff_t drawLongRun(uint8_t* out, std::ptrdiff_t rest, uint32_t value, uint32_t pixel)
{
    const std::ptrdiff_t wanted = value < 4 ? rest : std::ptrdiff_t(value >> 2);
    const std::ptrdiff_t run = wanted < rest ? wanted : rest;
    if (run <= Fill::FarReach && rest >= Fill::FarReach)
        Fill::storeFarAhead(out, pixel);
    else
        Fill::fill(out, pixel, size_t(run));
    return run;
}

// Draws the next code, or the next two (or, for a short step, four)
// one-nibble codes, of the row that ends at `rowEnd`, with at least
// roomFor(Kind) pixels left, from a cursor whose buffer holds the step's
// nibbles.
template <class Fill, int Kind>
inline void drawStep(PixelReader::Cursor& cursor, uint8_t*& out, const uint8_t* rowEnd, const uint32_t* colours,
    StepCounts& counts)
{
    constexpr int blocks = blocksOf(Kind);
    const uint32_t window = cursor.window();
    if (Kind == ShortStep && fourShortCodes(window)) {
        cursor.skip(4);
        ++counts.quads;
        // Each byte is two codes, at most six pixels; their bytes in the
        // frame, four a pixel, are their nibbles' top two bits.
        const unsigned firstTwo = window >> 8;
        const unsigned lastTwo = window & 0xFF;
        uint8_t* const next = out + ((firstTwo >> 4 & 0x0C) + (firstTwo & 0x0C));
        drawTwoShortCodes<Fill>(out, firstTwo, colours);
        drawTwoShortCodes<Fill>(next, lastTwo, colours);
        out = next + ((lastTwo >> 4 & 0x0C) + (lastTwo & 0x0C));
        return;
    }
    if (Kind != WideStep) {
        // The code's length is worked out from the byte rather than loaded
        // with the rest: the next step waits for it, and not for the rest.
        const unsigned first = window >> 8;
        if (KELVO_LIKELY(first >= 0x10)) {
            const NarrowEntry& narrow = narrowTable.entries[first];
            cursor.skipBits(first >= 0x40 && (first & 0x0C) == 0 ? 4 : 8);
            Fill::storeBlock(out, colours[narrow.first]);
            Fill::storeFour(out + narrow.secondAt, colours[narrow.second]);
            out += narrow.advance;
            return;
        }
    }
    const uint32_t entry = stepTable.entries[window >> 8];
    cursor.skipBits(int(entry & 0xFF));
    const size_t value = window >> (entry >> 8 & 0x1F);
    const size_t run = value >> 2;
    if (blocks > 1)
        counts.middle += run > 16;
    // Runs longer than the blocks, and the end-of-row code, whose value is
    // below 4.
    if (!KELVO_LIKELY(value - 4 < size_t(64 * blocks))) {
        if (blocks == 1)
            counts.middle += run > 16 && run <= 48;
        out += 4 * drawLongRun<Fill>(out, (rowEnd - out) / 4, uint32_t(value), colours[value & 3]);
        return;
    }
    for (int block = 0; block < blocks; ++block)
        Fill::storeBlock(out + 64 * block, colours[value & 3]);
    // The second code's pixels; after a code alone, pixels that the next
    // runs store again.
    Fill::storeFour(out + (value & ~size_t(3)), colours[entry >> 24 & 3]);
    out += (value & ~size_t(3)) + (entry >> 16 & 0xFF);
}

// Draws steps of one field's row while it has room for them and the cursor
// has data for them.
template <class Fill, int Kind>
inline void drawSteps(PixelReader::Cursor& cursor, uint8_t*& out, const uint8_t* rowEnd, const uint32_t* colours,
    StepCounts& counts)
{
    if (rowEnd - out < 4 * roomFor(Kind))
        return;
    const uint8_t* const last = rowEnd - 4 * roomFor(Kind);
    while (out <= last && cursor.topUp()) {
        counts.steps += StepsPerTopUp;
        drawStep<Fill, Kind>(cursor, out, rowEnd, colours, counts);
        for (int step = 1; step < StepsPerTopUp && out <= last; ++step)
            drawStep<Fill, Kind>(cursor, out, rowEnd, colours, counts);
        // One more where the codes were short enough to leave a step's
        // worth: codes of one and two nibbles mostly do. Short steps take
        // four nibbles each, and would make this a coin toss.
        if (Kind != ShortStep && cursor.hasBits(16) && out <= last) {
            ++counts.steps;
            drawStep<Fill, Kind>(cursor, out, rowEnd, colours, counts);
        }
    }
}

// Draws the rest of a row and readies the reader for the field's next row.
template <class Fill, int Kind>
void drawRowEnd(PixelReader& reader, uint8_t* out, const uint8_t* rowEnd, const uint32_t* colours,
    StepCounts& counts)
{
    PixelReader::Cursor cursor = reader.cursor();
    drawSteps<Fill, Kind>(cursor, out, rowEnd, colours, counts);
    if (roomFor(Kind) > roomFor(NarrowStep))
        drawSteps<Fill, NarrowStep>(cursor, out, rowEnd, colours, counts);
    reader.resume(cursor);
    std::ptrdiff_t rest = (rowEnd - out) / 4;
    // Near the field's limit: one code at a time, each checked.
    while (rest >= roomFor(NarrowStep)) {
        unsigned colour;
        const std::ptrdiff_t run = std::ptrdiff_t(readRun(reader, rest, colour));
        Fill::fill(out, colours[colour], size_t(run));
        out += 4 * run;
        rest -= run;
    }
    // The last pixels, fewer than a narrow step's room, go through a few
    // bytes on the stack, where stores may reach past the row's end, and
    // then to the row.
    if (rest > 0) {
        alignas(64) uint8_t tail[4 * (roomFor(NarrowStep) + 16)];
        uint8_t* at = tail;
        for (std::ptrdiff_t left = rest; left > 0;) {
            unsigned colour;
            const std::ptrdiff_t run = std::ptrdiff_t(readRun(reader, left, colour));
            if (run <= 16)
                Fill::storeBlock(at, colours[colour]);
            else
                Fill::fill(at, colours[colour], size_t(run));
            at += 4 * run;
            left -= run;
        }
        Fill::copyShort(out, tail, size_t(rest));
    }
    reader.alignToByte();
}

// Draws a row of each field. Side by side, a step of each goes in turn
// while both rows are far from their ends: every code's length depends on
// the one before it, and two fields make two such chains the processor can
// work on at once. The loop works on cursors, which the compiler keeps in
// registers. Otherwise, and at the rows' ends, one field after the other.
template <class Fill, int Kind>
StepCounts drawRowPair(PixelReader& firstReader, PixelReader& secondReader, uint8_t* firstOut, uint8_t* secondOut,
    std::ptrdiff_t width, const uint32_t* colours, bool sideBySide)
{
    StepCounts counts;
    const uint8_t* const firstEnd = firstOut + 4 * width;
    const uint8_t* const secondEnd = secondOut + 4 * width;
    if (sideBySide && width >= roomFor(Kind)) {
        // The steps go on while both rows have room for them.
        const uint8_t* const firstLast = firstEnd - 4 * roomFor(Kind);
        const uint8_t* const secondLast = secondEnd - 4 * roomFor(Kind);
        PixelReader::Cursor first = firstReader.cursor();
        PixelReader::Cursor second = secondReader.cursor();
        StepCounts steps;
        while (firstOut <= firstLast && secondOut <= secondLast && first.topUp() && second.topUp()) {
            steps.steps += 2 * StepsPerTopUp;
            drawStep<Fill, Kind>(first, firstOut, firstEnd, colours, steps);
            drawStep<Fill, Kind>(second, secondOut, secondEnd, colours, steps);
            for (int step = 1; step < StepsPerTopUp && firstOut <= firstLast && secondOut <= secondLast; ++step) {
                drawStep<Fill, Kind>(first, firstOut, firstEnd, colours, steps);
                drawStep<Fill, Kind>(second, secondOut, secondEnd, colours, steps);
            }
        }
        firstReader.resume(first);
        secondReader.resume(second);
        counts = steps;
    }
    // The rows' ends, and a field's whole row where the other one's data ran
    // out, one field at a time.
    drawRowEnd<Fill, Kind>(firstReader, firstOut, firstEnd, colours, counts);
    drawRowEnd<Fill, Kind>(secondReader, secondOut, secondEnd, colours, counts);
    return counts;
}

template <class Fill>
void drawBitmap(const PixelDecoderJob& job)
{
    if (job.width <= 0 || job.height <= 0)
        return;
    BasicFieldReaders<PixelWord> fields(job.data, job.dataLength, job.secondFieldOffset);
    PixelReader first = fields.first;
    PixelReader second = fields.second;
    const uint32_t colours[4] = {job.colours[0], job.colours[1], job.colours[2], job.colours[3]};
    const std::ptrdiff_t rowBytes = std::ptrdiff_t(job.pitch) * 4;
    const std::ptrdiff_t width = job.width;
    StepKind kind = NarrowStep;
    bool sideBySide = true;
    for (std::ptrdiff_t row = 0; row < job.height; row += 2) {
        uint8_t* firstOut = job.pixels + row * rowBytes;
        uint8_t* secondOut = firstOut + rowBytes;
        if (row + 1 == job.height) {
            StepCounts counts;
            uint8_t* const rowEnd = firstOut + 4 * width;
            drawRowEnd<Fill, NarrowStep>(first, firstOut, rowEnd, colours, counts);
            break;
        }
        const StepCounts counts = kind == WideStep
            ? drawRowPair<Fill, WideStep>(first, second, firstOut, secondOut, width, colours, sideBySide)
            : kind == ShortStep
            ? drawRowPair<Fill, ShortStep>(first, second, firstOut, secondOut, width, colours, sideBySide)
            : drawRowPair<Fill, NarrowStep>(first, second, firstOut, secondOut, width, colours, sideBySide);
        kind = counts.next(kind, 2 * width);
        sideBySide = counts.sideBySide(2 * width);
    }
}

} // namespace
} // namespace Qor

#endif
