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
constexpr int64_t roomFor(int kind)
{
    return 16 * blocksOf(kind) + 4;
}

// What a step needs of the byte at the head of its codes, the code's first
// two nibbles: the bits it takes (four a nibble), the shift that leaves the
// first code's value of a window of four nibbles, and for a one-nibble code
// followed by another the second one's run. Every code's length shows in
// its first two nibbles.
struct StepEntry {
    uint8_t bits = 0;
    uint8_t valueShift = 0;
    uint8_t secondRun = 0;
    uint8_t pair = 0;
};

struct StepTable {
    StepEntry entries[256];

    constexpr StepTable() : entries()
    {
        for (int byte = 0; byte < 256; ++byte) {
            const int high = byte >> 4;
            const int low = byte & 0x0F;
            const int length = high >= 4 ? 1 : high > 0 ? 2 : low >= 4 ? 3 : 4;
            const bool pair = length == 1 && low >= 4;
            StepEntry& entry = entries[byte];
            entry.bits = uint8_t(4 * (length + pair));
            entry.valueShift = uint8_t(16 - 4 * length);
            entry.secondRun = uint8_t(pair ? low >> 2 : 0);
            entry.pair = uint8_t(pair);
        }
    }
};

constexpr StepTable stepTable;

// How a row's steps went, to choose the next rows' kind of step: the fast
// loop's rounds (each a step of both fields StepsPerTopUp times), the runs
// of 17 to 48 pixels, which a narrow step sends down its branch, and the
// steps that took two or four one-nibble codes.
struct StepCounts {
    int64_t rounds = 0;
    int64_t middle = 0;
    int64_t shortCodes = 0;

    // A branch on something that half of the runs do is as good as a coin
    // toss: where most steps took one-nibble codes, short steps; where a
    // quarter of the runs are of 17 to 48 pixels, wide ones.
    StepKind next() const
    {
        const int64_t steps = 2 * StepsPerTopUp * rounds;
        if (steps == 0)
            return NarrowStep;
        if (4 * shortCodes >= 3 * steps)
            return ShortStep;
        return 4 * middle >= steps ? WideStep : NarrowStep;
    }
};

// A run longer than the step's stores, or the end-of-row code: cut at the
// row's end, and drawn by its length.
template <class Fill>
inline int64_t drawLongRun(uint8_t* out, int64_t rest, uint32_t value, uint32_t pixel)
{
    int64_t run = value >> 2;
    run = value < 4 || run > rest ? rest : run;
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
        ++counts.shortCodes;
        int64_t drawn = 0;
        for (int shift = 12; shift >= 0; shift -= 4) {
            const unsigned code = (window >> shift) & 0x0F;
            Fill::storeFour(out + 4 * drawn, colours[code & 3]);
            drawn += code >> 2;
        }
        out += 4 * drawn;
        return;
    }
    const StepEntry entry = stepTable.entries[window >> 8];
    cursor.skipBits(entry.bits);
    const uint32_t value = window >> entry.valueShift;
    const uint32_t run = value >> 2;
    const uint32_t pixel = colours[value & 3];
    if (Kind != ShortStep)
        counts.shortCodes += entry.pair;
    if (blocks > 1)
        counts.middle += run > 16;
    if (run > 16 * blocks || value < 4) {
        if (blocks == 1)
            counts.middle += run > 16 && run <= 48;
        out += 4 * drawLongRun<Fill>(out, (rowEnd - out) / 4, value, pixel);
        return;
    }
    for (int block = 0; block < blocks; ++block)
        Fill::storeBlock(out + 64 * block, pixel);
    Fill::storeFour(out + 4 * run, colours[entry.pair ? (window >> 8) & 3 : value & 3]);
    out += 4 * (run + entry.secondRun);
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
        for (int step = 0; step < StepsPerTopUp && out <= last; ++step)
            drawStep<Fill, Kind>(cursor, out, rowEnd, colours, counts);
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
    int64_t rest = (rowEnd - out) / 4;
    // Near the field's limit: one code at a time, each checked.
    while (rest >= roomFor(NarrowStep)) {
        unsigned colour;
        const int64_t run = readRun(reader, rest, colour);
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
        for (int64_t left = rest; left > 0;) {
            unsigned colour;
            const int64_t run = readRun(reader, left, colour);
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

// Draws a row of each field, a step of each in turn while both rows are far
// from their ends: every code's length depends on the one before it, and
// two fields make two such chains the processor can work on at once. The
// loop works on cursors, which the compiler keeps in registers.
template <class Fill, int Kind>
StepCounts drawRowPair(PixelReader& firstReader, PixelReader& secondReader, uint8_t* firstOut, uint8_t* secondOut,
    int64_t width, const uint32_t* colours)
{
    StepCounts counts;
    const uint8_t* const firstEnd = firstOut + 4 * width;
    const uint8_t* const secondEnd = secondOut + 4 * width;
    if (width >= roomFor(Kind)) {
        // The steps go on while both rows have room for them.
        const uint8_t* const firstLast = firstEnd - 4 * roomFor(Kind);
        const uint8_t* const secondLast = secondEnd - 4 * roomFor(Kind);
        PixelReader::Cursor first = firstReader.cursor();
        PixelReader::Cursor second = secondReader.cursor();
        StepCounts steps;
        while (firstOut <= firstLast && secondOut <= secondLast && first.topUp() && second.topUp()) {
            ++steps.rounds;
            for (int step = 0; step < StepsPerTopUp; ++step) {
                if (step > 0 && (firstOut > firstLast || secondOut > secondLast))
                    break;
                drawStep<Fill, Kind>(first, firstOut, firstEnd, colours, steps);
                drawStep<Fill, Kind>(second, secondOut, secondEnd, colours, steps);
            }
        }
        firstReader.resume(first);
        secondReader.resume(second);
        counts = steps;
    }
    // The rows' ends, and a field's whole row where the other one's data ran
    // out, one field at a time; their steps do not count.
    StepCounts ends;
    drawRowEnd<Fill, Kind>(firstReader, firstOut, firstEnd, colours, ends);
    drawRowEnd<Fill, Kind>(secondReader, secondOut, secondEnd, colours, ends);
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
    StepKind kind = NarrowStep;
    for (int64_t row = 0; row < job.height; row += 2) {
        uint8_t* firstOut = job.pixels + row * rowBytes;
        uint8_t* secondOut = firstOut + rowBytes;
        if (row + 1 == job.height) {
            StepCounts counts;
            drawRowEnd<Fill, NarrowStep>(first, firstOut, firstOut + 4 * int64_t(job.width), colours, counts);
            break;
        }
        const StepCounts counts = kind == WideStep
            ? drawRowPair<Fill, WideStep>(first, second, firstOut, secondOut, job.width, colours)
            : kind == ShortStep ? drawRowPair<Fill, ShortStep>(first, second, firstOut, secondOut, job.width, colours)
                                : drawRowPair<Fill, NarrowStep>(first, second, firstOut, secondOut, job.width, colours);
        kind = counts.next();
    }
}

} // namespace
} // namespace Qor

#endif
