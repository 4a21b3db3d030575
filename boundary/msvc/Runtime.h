// The few runtime pieces the Microsoft-ABI boundary needs, written over
// kernel32 alone, since no C++ runtime of that ABI is linked: the heap, and
// the storage of a release-runtime host's std::allocator.
#ifndef KELVO_BOUNDARY_MSVC_RUNTIME_H
#define KELVO_BOUNDARY_MSVC_RUNTIME_H

#include "boundary/msvc/NameVector.h"

#include <stddef.h>
#include <stdint.h>

// The only placement form the boundary uses; <new> is not available here.
inline void* operator new(size_t, void* place) noexcept
{
    return place;
}
inline void operator delete(void*, void*) noexcept {}

namespace Qor {
namespace Msvc {

// A block of the process heap, or null when the heap has none.
void* heapAllocate(size_t bytes);
// Gives a block of heapAllocate back; null does nothing.
void heapFree(void* block);

// Storage of `bytes` as a host's std::allocator<const char*> makes it, so
// that the host's own deallocation frees it: a plain process heap block
// below 4096 bytes; from 4096 bytes on, a block aligned to 32 whose heap
// block's address sits in the pointer just before it. Null when exhausted.
void* hostAllocate(size_t bytes);
// Frees storage of `bytes` that hostAllocate (or the host) made.
void hostDeallocate(void* storage, size_t bytes);

// Appends `count` pointers to a host's vector, growing it as the host's
// vector grows (by half its capacity, or to what is needed). Answers false
// and leaves the vector as it was when the storage cannot be had.
bool appendToHostVector(HostVector& names, const char* const* items, size_t count);

} // namespace Msvc
} // namespace Qor

#endif
