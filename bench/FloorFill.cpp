#include "bench/FloorFill.h"

#include <cstring>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define KELVO_FLOOR_X86 1
#endif

namespace Qor::Bench {

namespace {

// The bytes up to the first boundary of `Width` and after the last one go
// out a byte at a time; there are fewer than 2 * Width of them.
template <size_t Width>
uint8_t* alignedStart(uint8_t* bytes, uint8_t* end, uint8_t value)
{
    uint8_t* at = bytes;
    while (at < end && reinterpret_cast<uintptr_t>(at) % Width != 0)
        *at++ = value;
    return at;
}

void fillPortable(uint8_t* bytes, size_t count, uint8_t value)
{
    uint8_t* const end = bytes + count;
    uint8_t* at = alignedStart<8>(bytes, end, value);
    uint64_t eight;
    std::memset(&eight, value, 8);
    for (; at + 8 <= end; at += 8)
        std::memcpy(at, &eight, 8);
    while (at < end)
        *at++ = value;
}

#if KELVO_FLOOR_X86
__attribute__((target("sse2"))) void fillSse2(uint8_t* bytes, size_t count, uint8_t value)
{
    uint8_t* const end = bytes + count;
    uint8_t* at = alignedStart<16>(bytes, end, value);
    const __m128i sixteen = _mm_set1_epi8(char(value));
    for (; at + 64 <= end; at += 64) {
        _mm_store_si128(reinterpret_cast<__m128i*>(at), sixteen);
        _mm_store_si128(reinterpret_cast<__m128i*>(at + 16), sixteen);
        _mm_store_si128(reinterpret_cast<__m128i*>(at + 32), sixteen);
        _mm_store_si128(reinterpret_cast<__m128i*>(at + 48), sixteen);
    }
    for (; at + 16 <= end; at += 16)
        _mm_store_si128(reinterpret_cast<__m128i*>(at), sixteen);
    while (at < end)
        *at++ = value;
}

__attribute__((target("avx2"))) void fillAvx2(uint8_t* bytes, size_t count, uint8_t value)
{
    uint8_t* const end = bytes + count;
    uint8_t* at = alignedStart<32>(bytes, end, value);
    const __m256i thirtyTwo = _mm256_set1_epi8(char(value));
    for (; at + 128 <= end; at += 128) {
        _mm256_store_si256(reinterpret_cast<__m256i*>(at), thirtyTwo);
        _mm256_store_si256(reinterpret_cast<__m256i*>(at + 32), thirtyTwo);
        _mm256_store_si256(reinterpret_cast<__m256i*>(at + 64), thirtyTwo);
        _mm256_store_si256(reinterpret_cast<__m256i*>(at + 96), thirtyTwo);
    }
    for (; at + 32 <= end; at += 32)
        _mm256_store_si256(reinterpret_cast<__m256i*>(at), thirtyTwo);
    while (at < end)
        *at++ = value;
}
#endif

struct Choice {
    void (*fill)(uint8_t*, size_t, uint8_t);
    const char* kind;
};

Choice choose()
{
#if KELVO_FLOOR_X86
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2"))
        return {fillAvx2, "AVX2"};
    if (__builtin_cpu_supports("sse2"))
        return {fillSse2, "SSE2"};
#endif
    return {fillPortable, "portable"};
}

const Choice& chosen()
{
    static const Choice choice = choose();
    return choice;
}

} // namespace

void floorFill(uint8_t* bytes, size_t count, uint8_t value)
{
    chosen().fill(bytes, count, value);
}

const char* floorFillKind()
{
    return chosen().kind;
}

} // namespace Qor::Bench
