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

// Draws a field's rows, frame rows `firstRow`, firstRow + 2... below `height`.
// The reader is a copy of its own, so that its state may stay in registers.
template <class Fill>
void drawField(NibbleReader reader, int64_t firstRow, const PixelDecoderJob& job)
{
    const int64_t width = job.width;
    const std::ptrdiff_t rowBytes = std::ptrdiff_t(job.pitch) * 4;
    const uint32_t* const colours = job.colours;
    static_assert(Fill::Reach >= 13, "four one-nibble codes reach 13 pixels");
    for (int64_t row = firstRow; row < job.height; row += 2) {
        uint8_t* out = job.pixels + row * rowBytes;
        int64_t rest = width;
        // Far from the row's end a short run goes out as a store of fixed
        // width that may reach past it, and four one-nibble codes (at most
        // 12 pixels, reaching 13) in four stores without a length worked out.
        while (rest >= Fill::Reach) {
            uint32_t codes;
            if (reader.readFourShortCodes(codes)) {
                int64_t drawn = 0;
                for (int shift = 12; shift >= 0; shift -= 4) {
                    const unsigned code = (codes >> shift) & 0x0F;
                    Fill::storeFour(out + 4 * drawn, colours[code & 3]);
                    drawn += code >> 2;
                }
                out += 4 * drawn;
                rest -= drawn;
                continue;
            }
            unsigned colour;
            const int64_t run = readRun(reader, rest, colour);
            if (run <= Fill::Reach)
                Fill::storeAhead(out, colours[colour]);
            else
                Fill::fill(out, colours[colour], size_t(run));
            out += 4 * run;
            rest -= run;
        }
        while (rest > 0) {
            unsigned colour;
            const int64_t run = readRun(reader, rest, colour);
            Fill::fill(out, colours[colour], size_t(run));
            out += 4 * run;
            rest -= run;
        }
        reader.alignToByte();
    }
}

template <class Fill>
void drawBitmap(const PixelDecoderJob& job)
{
    if (job.width <= 0 || job.height <= 0)
        return;
    FieldReaders fields(job.data, job.dataLength, job.secondFieldOffset);
    drawField<Fill>(fields.first, 0, job);
    drawField<Fill>(fields.second, 1, job);
}

} // namespace
} // namespace Qor

#endif
