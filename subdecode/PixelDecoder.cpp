// The decoder into pixels: its portable kernel, the table of kernels and the
// choice among them. The vector kernels live in units of their own, each
// built for its instruction set (PixelDecoderSse2.cpp, PixelDecoderAvx2.cpp);
// nothing outside them is built with their flags, so the library runs on any
// processor of its architecture and picks the vector kernels by asking the
// processor, once.
#include "subdecode/PixelDecoder.h"

#include "render/PixelRunFill.h"
#include "subdecode/PixelDecoderRows.h"

#include <cstring>

namespace Qor {

void drawBitmapPortable(const PixelDecoderJob& job)
{
    drawBitmap<PixelRunFillPortable>(job);
}

namespace {

bool always()
{
    return true;
}

#if KELVO_PIXEL_KERNELS_X86
bool hasSse2()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("sse2");
}

// The processor's AVX2 and the system's saving of its registers (the
// compiler's check covers both), and the BMI shifts that come with it on
// every processor that has it.
bool hasAvx2()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2");
}
#endif

const PixelDecoderKernel kernels[] = {
    {"Portable", always, drawBitmapPortable},
#if KELVO_PIXEL_KERNELS_X86
    {"Sse2", hasSse2, drawBitmapSse2},
    {"Avx2", hasAvx2, drawBitmapAvx2},
#endif
};

// The last kernel of the table that runs here: they are listed slowest first.
const PixelDecoderKernel& choose()
{
    const PixelDecoderKernel* chosen = &kernels[0];
    for (const PixelDecoderKernel& kernel : kernels) {
        if (kernel.runsHere())
            chosen = &kernel;
    }
    return *chosen;
}

} // namespace

void pixelColours(const uint8_t* const tables[4], uint32_t colours[4])
{
    for (int colour = 0; colour < 4; ++colour) {
        const uint8_t bytes[4] = {tables[0][colour], tables[1][colour], tables[2][colour], tables[3][colour]};
        std::memcpy(&colours[colour], bytes, 4);
    }
}

void decodeBitmapToPixels(const PacketHeader& header, int32_t dataLength, const uint32_t colours[4],
    uint8_t* pixels, int32_t pitch)
{
    PixelDecoderJob job{header.bitmapData, dataLength, header.secondFieldOffset, header.width, header.height,
        pixels, pitch, {colours[0], colours[1], colours[2], colours[3]}};
    chosenPixelDecoderKernel().decode(job);
}

const PixelDecoderKernel* pixelDecoderKernels(size_t& count)
{
    count = sizeof kernels / sizeof kernels[0];
    return kernels;
}

const PixelDecoderKernel& chosenPixelDecoderKernel()
{
    static const PixelDecoderKernel& chosen = choose();
    return chosen;
}

} // namespace Qor
