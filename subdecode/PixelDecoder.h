// The run-length decoder that draws straight into a frame's 32-bit pixels:
// each run is one colour looked up once and stored with wide stores, with no
// indexed image in between. Its pixels are byte for byte those of
// decodeBitmap followed by blitIndexedBitmap of the whole image, top down,
// at the origin, for every input.
//
// It comes in kernels, one for each instruction set the build knows, chosen
// once by the processor's features.
#ifndef KELVO_SUBDECODE_PIXELDECODER_H
#define KELVO_SUBDECODE_PIXELDECODER_H

#include "subdecode/PacketHeader.h"

#include <cstddef>
#include <cstdint>

namespace Qor {

// One packet's work for a kernel.
struct PixelDecoderJob {
    const uint8_t* data;      // the run-length data
    int32_t dataLength;       // its bytes; a negative length counts as none
    int32_t secondFieldOffset;
    int32_t width;
    int32_t height;
    uint8_t* pixels;          // the first byte of the frame's first row
    int32_t pitch;            // row distance in pixels of four bytes
    uint32_t colours[4];      // pixel of colour i, its bytes in memory order
};

struct PixelDecoderKernel {
    const char* name;
    bool (*runsHere)(); // whether this processor has the instructions the kernel uses
    void (*decode)(const PixelDecoderJob& job);
};

// The pixel of each colour, for the blit's `tables`: byte b of pixel i is
// tables[b][i], in memory order whatever the machine's byte order.
void pixelColours(const uint8_t* const tables[4], uint32_t colours[4]);

// Draws the packet's bitmap into the width x height block at `pixels`, rows
// `pitch` pixels apart, top row first, with the kernel chosen for this
// processor. Touches no byte outside the block; reads nothing outside the
// `dataLength` bytes at header.bitmapData. Draws nothing for an empty block.
void decodeBitmapToPixels(const PacketHeader& header, int32_t dataLength, const uint32_t colours[4],
    uint8_t* pixels, int32_t pitch);

// Every kernel this build has, the portable one first, each whether or not
// this processor runs it; `count` receives their number.
const PixelDecoderKernel* pixelDecoderKernels(size_t& count);

// The kernel decodeBitmapToPixels uses: the fastest this processor runs,
// that of the widest instruction set, chosen at the first call.
const PixelDecoderKernel& chosenPixelDecoderKernel();

// The kernels' entry points, for tests that check the table above. The
// vector ones exist on x86 builds with KELVO_SIMD, and may be called only
// where the processor has their instructions.
void drawBitmapPortable(const PixelDecoderJob& job);
#if KELVO_PIXEL_KERNELS_X86
void drawBitmapSse2(const PixelDecoderJob& job);
void drawBitmapAvx2(const PixelDecoderJob& job);
#endif

} // namespace Qor

#endif
