// The decoder into pixels with the AVX2 run fill. Built with AVX2 enabled and
// called only where the processor has it.
#include "subdecode/PixelDecoder.h"

#include "render/PixelRunFillAvx2.h"
#include "subdecode/PixelDecoderRows.h"

namespace Qor {

void drawBitmapAvx2(const PixelDecoderJob& job)
{
    drawBitmap<PixelRunFillAvx2>(job);
}

} // namespace Qor
