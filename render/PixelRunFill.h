// Runs of one 32-bit pixel stored into a row of pixels: the kernels of the
// decoder that draws run-length data straight into a frame. Each kernel is a
// struct of three static operations, the same in every instruction set:
//
// - fill(out, pixel, count) stores `count` pixels, exactly;
// - storeBlock(out, pixel) stores a block of 16 pixels (a cache line's
//   worth), for a run of at most 16 whose row has at least 16 pixels left:
//   the pixels past the run are stored again by the runs that follow it, so
//   a short run costs a few stores of fixed width, whatever its length;
// - storeFour(out, pixel) stores four pixels, likewise for runs of one to three;
// - storeFarAhead(out, pixel) stores FarReach pixels, likewise for longer runs;
// - copyShort(out, from, count) copies `count` pixels, fewer than 32;
// - where PicksEight is set, storeEight(out, colours, picks) stores eight
//   pixels, pixel j being colours[picks[j]], from four colours.
//
// `out` may lie at any byte address; `pixel` holds the pixel's four bytes in
// memory order. This header has the plain C++ kernel; the vector ones are in
// PixelRunFillSse2.h and PixelRunFillAvx2.h, for units built with those
// instruction sets. Everything is in an unnamed namespace: each unit that
// includes a kernel, built with its own compiler flags, keeps its own copy.
#ifndef KELVO_RENDER_PIXELRUNFILL_H
#define KELVO_RENDER_PIXELRUNFILL_H

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace Qor {
namespace {

struct PixelRunFillPortable {
    static constexpr int FarReach = 64;
    static constexpr bool PicksEight = false;

    static uint64_t twice(uint32_t pixel) { return uint64_t(pixel) << 32 | pixel; }

    static void fill(uint8_t* out, uint32_t pixel, size_t count)
    {
        const uint64_t two = twice(pixel);
        for (size_t i = 0; i + 2 <= count; i += 2)
            std::memcpy(out + 4 * i, &two, 8);
        if (count & 1)
            std::memcpy(out + 4 * (count - 1), &pixel, 4);
    }

    static void storeBlock(uint8_t* out, uint32_t pixel)
    {
        const uint64_t two = twice(pixel);
        for (int i = 0; i < 16; i += 2)
            std::memcpy(out + 4 * i, &two, 8);
    }

    static void storeFarAhead(uint8_t* out, uint32_t pixel)
    {
        const uint64_t two = twice(pixel);
        for (int i = 0; i < FarReach; i += 2)
            std::memcpy(out + 4 * i, &two, 8);
    }

    static void storeFour(uint8_t* out, uint32_t pixel)
    {
        const uint64_t two = twice(pixel);
        std::memcpy(out, &two, 8);
        std::memcpy(out + 8, &two, 8);
    }

    static void copyShort(uint8_t* out, const uint8_t* from, size_t count) { std::memcpy(out, from, 4 * count); }
};

} // namespace
} // namespace Qor

#endif
