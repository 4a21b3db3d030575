// The run fill kernel with AVX2 stores of eight pixels (see PixelRunFill.h).
// For units built with AVX2 only.
#ifndef KELVO_RENDER_PIXELRUNFILLAVX2_H
#define KELVO_RENDER_PIXELRUNFILLAVX2_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include <immintrin.h>

namespace Qor {
namespace {

struct PixelRunFillAvx2 {
    static constexpr int FarReach = 64;
    static constexpr bool PicksEight = true;

    static void store(uint8_t* out, __m256i eight) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), eight); }
    static void store(uint8_t* out, __m128i four) { _mm_storeu_si128(reinterpret_cast<__m128i*>(out), four); }

    // Runs of eight pixels or more: a store at either end, and from sixteen
    // on stores on 32-byte boundaries between them (as near them as a row
    // that is not 4-byte aligned comes), two at a time, and one more before
    // the end's. One loop, so that a run's length costs one guess at most.
    static void fill(uint8_t* out, uint32_t pixel, size_t count)
    {
        if (count >= 8) {
            const __m256i eight = _mm256_set1_epi32(int32_t(pixel));
            uint8_t* const end = out + 4 * count;
            store(out, eight);
            if (count >= 16) {
                uint8_t* at = out + ((32 - (reinterpret_cast<uintptr_t>(out) & 31)) & ~uintptr_t(3));
                for (; at + 64 <= end; at += 64) {
                    store(at, eight);
                    store(at + 32, eight);
                }
                store(end - 64, eight);
            }
            store(end - 32, eight);
            return;
        }
        if (count >= 4) {
            const __m128i four = _mm_set1_epi32(int32_t(pixel));
            store(out, four);
            store(out + 4 * count - 16, four);
        } else if (count >= 2) {
            const uint64_t two = uint64_t(pixel) << 32 | pixel;
            std::memcpy(out, &two, 8);
            std::memcpy(out + 4 * count - 8, &two, 8);
        } else if (count == 1) {
            std::memcpy(out, &pixel, 4);
        }
    }

    static void storeBlock(uint8_t* out, uint32_t pixel)
    {
        const __m256i eight = _mm256_set1_epi32(int32_t(pixel));
        store(out, eight);
        store(out + 32, eight);
    }

    static void storeFarAhead(uint8_t* out, uint32_t pixel)
    {
        const __m256i eight = _mm256_set1_epi32(int32_t(pixel));
        for (int i = 0; i < 4 * FarReach; i += 32)
            store(out + i, eight);
    }

    static void storeFour(uint8_t* out, uint32_t pixel) { store(out, _mm_set1_epi32(int32_t(pixel))); }

    // The four colours twice over, so that a pick's third bit does not matter.
    static void storeEight(uint8_t* out, const uint32_t* colours, const uint8_t* picks)
    {
        const __m256i palette =
            _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(colours)));
        const __m256i lanes = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(picks)));
        store(out, _mm256_permutevar8x32_epi32(palette, lanes));
    }

    // Stores from either end that overlap as much as `count` asks.
    static void copyShort(uint8_t* out, const uint8_t* from, size_t count)
    {
        const size_t bytes = 4 * count;
        if (count >= 16) {
            for (size_t at : {size_t(0), size_t(32), bytes - 64, bytes - 32})
                store(out + at, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + at)));
        } else if (count >= 8) {
            store(out, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from)));
            store(out + bytes - 32, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + bytes - 32)));
        } else if (count >= 4) {
            store(out, _mm_loadu_si128(reinterpret_cast<const __m128i*>(from)));
            store(out + bytes - 16, _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + bytes - 16)));
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
