// The yardstick of every benchmark case: the frame's bytes set to one value,
// as fast as this processor stores them. It is compiled into the benchmark,
// not taken from the C runtime, so that every build (the 32-bit Windows one
// under Wine included, whose runtime's memset is not this machine's) is
// measured against the same code.
#ifndef KELVO_BENCH_FLOORFILL_H
#define KELVO_BENCH_FLOORFILL_H

#include <cstddef>
#include <cstdint>

namespace Qor::Bench {

// Sets `count` bytes from `bytes` on to `value`: 32-byte stores on 32-byte
// boundaries where the processor has AVX2, 16-byte ones where it has SSE2,
// eight bytes at a time elsewhere.
void floorFill(uint8_t* bytes, size_t count, uint8_t value);

// Which of those floorFill uses here: "AVX2", "SSE2" or "portable".
const char* floorFillKind();

} // namespace Qor::Bench

#endif
