// The two expansions behind blitIndexedBitmap, each a complete blit with the
// same arguments and the same effect, so that the tests can hold both to the
// plain form and the benchmark can weigh them. The build picks one for
// blitIndexedBitmap: the SSE2 one where the target has SSE2 (every x86-64)
// and KELVO_NO_SIMD is not defined, the portable one otherwise.
#ifndef KELVO_RENDER_INDEXEDBLITKERNELS_H
#define KELVO_RENDER_INDEXEDBLITKERNELS_H

#include <cstdint>

#if defined(__SSE2__) && !defined(KELVO_NO_SIMD)
#define KELVO_BLIT_SSE2 1
#endif

namespace Qor {

// Plain C++: a pixel pair (8 bytes) stored per source byte.
void blitIndexedBitmapPortable(const uint8_t* indices, int32_t width, int32_t height, int32_t originX,
    int32_t originY, uint8_t* pixels, int32_t pitch, int32_t rows, const uint8_t* const tables[4], bool topDown);

#if KELVO_BLIT_SSE2
// Sixteen bytes stored at a time, and the rows scanned for their largest
// index sixteen bytes at a time. With `streaming`, rows of indices 0 to 3
// go out with non-temporal stores where they are 8-byte aligned, bypassing
// the caches; blitIndexedBitmap asks for that for blocks of
// StreamingBlitBytes or more.
void blitIndexedBitmapSse2(const uint8_t* indices, int32_t width, int32_t height, int32_t originX,
    int32_t originY, uint8_t* pixels, int32_t pitch, int32_t rows, const uint8_t* const tables[4], bool topDown,
    bool streaming);

// Blocks smaller than this may well be read again from the cache; larger
// ones are written past it.
constexpr int64_t StreamingBlitBytes = int64_t(1) << 20;
#endif

} // namespace Qor

#endif
