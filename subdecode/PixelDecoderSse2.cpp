// The decoder into pixels with the SSE2 run fill. Built with SSE2 enabled and
// called only where the processor has it.
#include "subdecode/PixelDecoder.h"

#include "render/PixelRunFillSse2.h"
#include "subdecode/PixelDecoderRows.h"

namespace Qor {

void drawBitmapSse2(const PixelDecoderJob& job)
{
    drawBitmap<PixelRunFillSse2>(job);
}

} // namespace Qor
