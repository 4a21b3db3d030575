// The indexed blit. The four channel tables are merged once per call into
// whole pixels, and those into pixel pairs: a source byte holds two indices,
// so one lookup in a 256-entry table of pairs gives the eight bytes of two
// destination pixels. A row that begins in the middle of a source byte (odd
// widths) writes its first pixel, and a row that ends there its last, alone.
//
// Rows whose indices are all 0 to 3, as every decoded subtitle's are, go
// faster still, four pixels a lookup: each source byte then has only bits
// 5, 4, 1 and 0 set, so two bytes b0, b1 fold into the 8-bit key b0 | b1 << 2
// of a 256-entry table of four pixels each.
//
// The tables hold an entry for every index the image uses, which may be
// fewer than 16: each row is scanned for its largest index before it is
// drawn, and pixels are made only for indices up to the largest seen, so no
// table is read past the entries the image needs.
//
// A large block is written with non-temporal stores where SSE2 is at hand:
// ordinary stores first read every destination line into the cache, which
// for a frame of megabytes costs as much as the writing, and leave the frame
// crowding out the decoder's data. The price is that whoever reads the frame
// next finds it in memory rather than in the cache; a block of a megabyte or
// more would mostly have left the nearer caches by then anyway.
//
// Nothing is allocated: the merged tables live on the stack.
#include "render/IndexedBlit.h"

#include "render/IndexedBlitKernels.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#if KELVO_BLIT_SSE2
#include <emmintrin.h>
#endif

namespace Qor {

namespace {

// Pixels in memory order: byte b of a pixel is tables[b][index], whatever
// the machine's byte order.
struct PixelWords {
    alignas(16) uint8_t quads[256][16]; // [b0 | b1 << 2]: the pairs of source bytes b0, b1
    alignas(16) uint8_t pairs[256][8];  // [high << 4 | low]: the high nibble's pixel, then the low one's
    uint8_t singles[16][4];
    int known = -1;     // pairs exist for indices 0..known
    int quadKnown = -1; // quads exist for indices 0..quadKnown, at most 3

    void extendTo(int largest, const uint8_t* const tables[4])
    {
        for (int i = known + 1; i <= largest; ++i)
            for (int b = 0; b < 4; ++b)
                singles[i][b] = tables[b][i];
        for (int high = 0; high <= largest; ++high) {
            for (int low = high > known ? 0 : known + 1; low <= largest; ++low) {
                std::memcpy(pairs[high << 4 | low], singles[high], 4);
                std::memcpy(pairs[high << 4 | low] + 4, singles[low], 4);
            }
        }
        known = largest;
    }

    // Makes the quads of indices up to min(known, 3); needs known >= 0.
    void makeQuads()
    {
        const int top = std::min(known, 3);
        int bytes[16];
        int count = 0;
        for (int high = 0; high <= top; ++high)
            for (int low = 0; low <= top; ++low)
                bytes[count++] = high << 4 | low;
        for (int first = 0; first < count; ++first) {
            for (int second = 0; second < count; ++second) {
                uint8_t* quad = quads[bytes[first] | bytes[second] << 2];
                std::memcpy(quad, pairs[bytes[first]], 8);
                std::memcpy(quad + 8, pairs[bytes[second]], 8);
            }
        }
        quadKnown = top;
    }
};

unsigned largestInBytesPortable(const uint8_t* bytes, size_t count)
{
    unsigned largest = 0;
    for (size_t i = 0; i < count; ++i)
        largest = std::max({largest, unsigned(bytes[i] >> 4), unsigned(bytes[i] & 0x0F)});
    return largest;
}

// Pixels `first` to `first + count - 1` of the image, count > 0.
template <unsigned (*largestInBytes)(const uint8_t*, size_t)>
unsigned largestIndex(const uint8_t* indices, int64_t first, int32_t count)
{
    const uint8_t* byte = indices + (first >> 1);
    unsigned largest = 0;
    if (first & 1) {
        largest = *byte++ & 0x0F;
        --count;
    }
    const size_t whole = size_t(count >> 1);
    largest = std::max(largest, largestInBytes(byte, whole));
    if (count & 1)
        largest = std::max(largest, unsigned(byte[whole] >> 4));
    return largest;
}

void expandPairsPortable(const PixelWords& words, const uint8_t* bytes, size_t count, uint8_t* out)
{
    for (size_t i = 0; i < count; ++i)
        std::memcpy(out + 8 * i, words.pairs[bytes[i]], 8);
}

void expandQuadsPortable(const PixelWords& words, const uint8_t* bytes, size_t count, uint8_t* out, bool = false)
{
    size_t i = 0;
    for (; i + 2 <= count; i += 2)
        std::memcpy(out + 8 * i, words.quads[bytes[i] | bytes[i + 1] << 2], 16);
    if (i < count)
        std::memcpy(out + 8 * i, words.pairs[bytes[i]], 8);
}

#if KELVO_BLIT_SSE2
unsigned largestInBytesSse2(const uint8_t* bytes, size_t count)
{
    const __m128i nibble = _mm_set1_epi8(0x0F);
    __m128i largest = _mm_setzero_si128();
    size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
        const __m128i low = _mm_and_si128(v, nibble);
        const __m128i high = _mm_and_si128(_mm_srli_epi16(v, 4), nibble);
        largest = _mm_max_epu8(largest, _mm_max_epu8(low, high));
    }
    largest = _mm_max_epu8(largest, _mm_srli_si128(largest, 8));
    largest = _mm_max_epu8(largest, _mm_srli_si128(largest, 4));
    largest = _mm_max_epu8(largest, _mm_srli_si128(largest, 2));
    largest = _mm_max_epu8(largest, _mm_srli_si128(largest, 1));
    return std::max(unsigned(_mm_cvtsi128_si32(largest) & 0xFF), largestInBytesPortable(bytes + i, count - i));
}

__m128i pairOf(const PixelWords& words, uint64_t group, int byte)
{
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(words.pairs[(group >> (8 * byte)) & 0xFF]));
}

// Eight source bytes at a time, taken in one load (x86 is little-endian:
// source byte i is bits 8i to 8i + 7), stored as four 16-byte halves of
// their pixel pairs.
void expandPairsSse2(const PixelWords& words, const uint8_t* bytes, size_t count, uint8_t* out)
{
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        uint64_t group;
        std::memcpy(&group, bytes + i, 8);
        __m128i* to = reinterpret_cast<__m128i*>(out + 8 * i);
        _mm_storeu_si128(to, _mm_unpacklo_epi64(pairOf(words, group, 0), pairOf(words, group, 1)));
        _mm_storeu_si128(to + 1, _mm_unpacklo_epi64(pairOf(words, group, 2), pairOf(words, group, 3)));
        _mm_storeu_si128(to + 2, _mm_unpacklo_epi64(pairOf(words, group, 4), pairOf(words, group, 5)));
        _mm_storeu_si128(to + 3, _mm_unpacklo_epi64(pairOf(words, group, 6), pairOf(words, group, 7)));
    }
    for (; i < count; ++i)
        std::memcpy(out + 8 * i, words.pairs[bytes[i]], 8);
}

// The pixels of eight source bytes: with source byte i in bits 8i to 8i + 7
// (x86 is little-endian), group | group >> 6 holds the key of bytes 2p and
// 2p + 1 in bits 16p to 16p + 7.
void quadsOf(const PixelWords& words, uint64_t group, __m128i quad[4])
{
    const uint64_t keys = group | group >> 6;
    for (int p = 0; p < 4; ++p)
        quad[p] = _mm_load_si128(reinterpret_cast<const __m128i*>(words.quads[(keys >> (16 * p)) & 0xFF]));
}

// Eight source bytes at a time, from `bytes` to a 16-byte aligned `out`
// when `Streaming`. Inside a long run the groups repeat, and their pixels
// are stored again from registers without a lookup.
template <bool Streaming>
size_t expandQuadGroups(const PixelWords& words, const uint8_t* bytes, size_t count, uint8_t* out)
{
    if (count < 8)
        return 0;
    uint64_t previous;
    std::memcpy(&previous, bytes, 8);
    __m128i quad[4];
    quadsOf(words, previous, quad);
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        uint64_t group;
        std::memcpy(&group, bytes + i, 8);
        if (group != previous) {
            quadsOf(words, group, quad);
            previous = group;
        }
        __m128i* to = reinterpret_cast<__m128i*>(out + 8 * i);
        for (int p = 0; p < 4; ++p) {
            if (Streaming)
                _mm_stream_si128(to + p, quad[p]);
            else
                _mm_storeu_si128(to + p, quad[p]);
        }
    }
    return i;
}

// With `streaming`, rows whose pixels can be brought to a 16-byte boundary by
// one pair go out with non-temporal stores; the others, and every row
// without it, through the cache.
void expandQuadsSse2(const PixelWords& words, const uint8_t* bytes, size_t count, uint8_t* out, bool streaming)
{
    size_t i = 0;
    const uintptr_t misalignment = reinterpret_cast<uintptr_t>(out) & 15;
    if (streaming && (misalignment == 0 || misalignment == 8)) {
        if (misalignment == 8 && count > 0) {
            std::memcpy(out, words.pairs[bytes[0]], 8);
            i = 1;
        }
        i += expandQuadGroups<true>(words, bytes + i, count - i, out + 8 * i);
    } else {
        i = expandQuadGroups<false>(words, bytes, count, out);
    }
    expandQuadsPortable(words, bytes + i, count - i, out + 8 * i);
}
#endif

void prefetchRow(const uint8_t* indices, int64_t first, int32_t count)
{
#if KELVO_BLIT_SSE2
    const char* from = reinterpret_cast<const char*>(indices + (first >> 1));
    const char* to = reinterpret_cast<const char*>(indices + ((first + count - 1) >> 1));
    for (const char* line = from; line <= to; line += 64)
        _mm_prefetch(line, _MM_HINT_T0);
    _mm_prefetch(to, _MM_HINT_T0);
#else
    (void)indices;
    (void)first;
    (void)count;
#endif
}

template <unsigned (*largestInBytes)(const uint8_t*, size_t),
    void (*expandPairs)(const PixelWords&, const uint8_t*, size_t, uint8_t*),
    void (*expandQuads)(const PixelWords&, const uint8_t*, size_t, uint8_t*, bool)>
void blitWith(const uint8_t* indices, int32_t width, int32_t height, int32_t originX, int32_t originY,
    uint8_t* pixels, int32_t pitch, int32_t rows, const uint8_t* const tables[4], bool topDown, bool streaming)
{
    if (width <= 0 || height <= 0)
        return;
    PixelWords words;
    // The table of quads costs about as much to make as it saves on a few
    // thousand source bytes; smaller images go by pairs alone.
    const bool quadsPay = int64_t(width) * height >= 8192;
    // Offsets are kept wide: (height - 1) * width overflows 32 bits for the
    // largest 16-bit images.
    const std::ptrdiff_t step = topDown ? pitch : -std::ptrdiff_t(pitch);
    const std::ptrdiff_t firstRow = topDown ? originY : std::ptrdiff_t(rows) - 1 - originY;
    int64_t source = int64_t(height - 1) * width;
    std::ptrdiff_t row = firstRow * pitch + originX;
    for (int32_t k = 0; k < height; ++k) {
        // Rows are read from the last to the first, against the direction
        // hardware prefetchers follow best: ask for the next one now.
        if (k + 1 < height)
            prefetchRow(indices, source - width, width);
        const int largest = int(largestIndex<largestInBytes>(indices, source, width));
        if (largest > words.known)
            words.extendTo(largest, tables);
        const bool byQuads = quadsPay && largest <= 3;
        if (byQuads && largest > words.quadKnown)
            words.makeQuads();

        const uint8_t* byte = indices + (source >> 1);
        uint8_t* out = pixels + row * 4;
        int32_t count = width;
        if (source & 1) {
            std::memcpy(out, words.singles[*byte++ & 0x0F], 4);
            out += 4;
            --count;
        }
        const size_t whole = size_t(count >> 1);
        if (byQuads)
            expandQuads(words, byte, whole, out, streaming);
        else
            expandPairs(words, byte, whole, out);
        if (count & 1)
            std::memcpy(out + 8 * whole, words.singles[byte[whole] >> 4], 4);
        source -= width;
        row += step;
    }
}

} // namespace

void blitIndexedBitmapPortable(const uint8_t* indices, int32_t width, int32_t height, int32_t originX,
    int32_t originY, uint8_t* pixels, int32_t pitch, int32_t rows, const uint8_t* const tables[4], bool topDown)
{
    blitWith<largestInBytesPortable, expandPairsPortable, expandQuadsPortable>(
        indices, width, height, originX, originY, pixels, pitch, rows, tables, topDown, false);
}

#if KELVO_BLIT_SSE2
void blitIndexedBitmapSse2(const uint8_t* indices, int32_t width, int32_t height, int32_t originX,
    int32_t originY, uint8_t* pixels, int32_t pitch, int32_t rows, const uint8_t* const tables[4], bool topDown,
    bool streaming)
{
    blitWith<largestInBytesSse2, expandPairsSse2, expandQuadsSse2>(
        indices, width, height, originX, originY, pixels, pitch, rows, tables, topDown, streaming);
    // Streaming stores are weakly ordered: make them visible before the
    // caller hands the pixels on.
    if (streaming)
        _mm_sfence();
}
#endif

void blitIndexedBitmap(const uint8_t* indices, int32_t width, int32_t height, int32_t originX,
    int32_t originY, uint8_t* pixels, int32_t pitch, int32_t rows, const uint8_t* const tables[4], bool topDown)
{
#if KELVO_BLIT_SSE2
    const bool streaming = int64_t(width) * height * 4 >= StreamingBlitBytes;
    blitIndexedBitmapSse2(indices, width, height, originX, originY, pixels, pitch, rows, tables, topDown, streaming);
#else
    blitIndexedBitmapPortable(indices, width, height, originX, originY, pixels, pitch, rows, tables, topDown);
#endif
}

} // namespace Qor
