// The run fill kernel with SSE2 stores of four pixels (see PixelRunFill.h).
// For units built with SSE2 only.
#ifndef KELVO_RENDER_PIXELRUNFILLSSE2_H
#define KELVO_RENDER_PIXELRUNFILLSSE2_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include <emmintrin.h>

namespace Qor {
namespace {

struct PixelRunFillSse2 {
    static constexpr int FarReach = 64;
    static constexpr bool PicksEight = false;

    static void store(uint8_t* out, __m128i four) { _mm_storeu_si128(reinterpret_cast<__m128i*>(out), four); }

    // Runs of four pixels or more: a store at either end, and between them
    // stores on 16-byte boundaries where the row's pixels allow it.
    static void fill(uint8_t* out, uint32_t pixel, size_t count)
    {
        if (count >= 4) {
            const __m128i four = _mm_set1_epi32(int32_t(pixel));
            uint8_t* const end = out + 4 * count;
            store(out, four);
            // Whole pixels up to the next boundary, or as near it as a
            // row that is not 4-byte aligned comes.
            uint8_t* at = out + ((16 - (reinterpret_cast<uintptr_t>(out) & 15)) & ~uintptr_t(3));
            for (; at + 16 <= end; at += 16)
                store(at, four);
            store(end - 16, four);
            return;
        }
        if (count >= 2) {
            const uint64_t two = uint64_t(pixel) << 32 | pixel;
            std::memcpy(out, &two, 8);
            std::memcpy(out + 4 * count - 8, &two, 8);
        } else if (count == 1) {
            std::memcpy(out, &pixel, 4);
        }
    }

    static void storeBlock(uint8_t* out, uint32_t pixel)
    {
        const __m128i four = _mm_set1_epi32(int32_t(pixel));
        store(out, four);
        store(out + 16, four);
        store(out + 32, four);
        store(out + 48, four);
    }

    static void storeFarAhead(uint8_t* out, uint32_t pixel)
    {
        const __m128i four = _mm_set1_epi32(int32_t(pixel));
        for (int i = 0; i < 4 * FarReach; i += 16)
            store(out + i, four);
    }

    static void storeFour(uint8_t* out, uint32_t pixel) { store(out, _mm_set1_epi32(int32_t(pixel))); }

    static __m128i load(const uint8_t* from) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(from)); }

    // Stores from either end that overlap as much as `count` asks.
    static void copyShort(uint8_t* out, const uint8_t* from, size_t count)
    {
        const size_t bytes = 4 * count;
        if (count >= 16) {
            for (size_t at : {size_t(0), size_t(16), size_t(32), size_t(48)}) {
                store(out + at, load(from + at));
                store(out + bytes - 64 + at, load(from + bytes - 64 + at));
            }
        } else if (count >= 8) {
            store(out, load(from));
            store(out + 16, load(from + 16));
            store(out + bytes - 32, load(from + bytes - 32));
            store(out + bytes - 16, load(from + bytes - 16));
        } else if (count >= 4) {
            store(out, load(from));
            store(out + bytes - 16, load(from + bytes - 16));
        } else if (count >= 2) {
            std::memcpy(out, from, 8);
            std::memcpy(out + bytes - 8, from + bytes - 8, 8);
        } else if (count == 1) {
            std::memcpy(out, from, 4);
        }
    }
};

} // namespace
} // namespace Qor

#endif
