// The runtime pieces of the Microsoft-ABI boundary: the symbols its
// compiler expects from a C++ runtime, the heap, and a release-runtime
// host's allocator. Only kernel32 is called.
#include "boundary/msvc/Runtime.h"

extern "C" {
__declspec(dllimport) void* __stdcall GetProcessHeap(void);
__declspec(dllimport) void* __stdcall HeapAlloc(void* heap, uint32_t flags, size_t bytes);
__declspec(dllimport) int __stdcall HeapFree(void* heap, uint32_t flags, void* block);

// The compiler references this symbol from every object that uses floating
// point; the runtime that would define it is not linked.
int _fltused = 0;

// A pure virtual called through a half-built or half-destroyed object: a
// fault of the program, with no way to go on.
int __cdecl _purecall(void)
{
    __builtin_trap();
}
}

// Replacements of the global operators, so that the deleting destructors
// free into the same heap the boundary allocates from. The boundary makes
// its objects with Msvc::heapAllocate and placement new; the array forms
// serve the framework allocator's own operations, which the boundary's
// allocators override and never call.
void* operator new(size_t bytes)
{
    return Qor::Msvc::heapAllocate(bytes);
}

void* operator new[](size_t bytes)
{
    return Qor::Msvc::heapAllocate(bytes);
}

void operator delete(void* block) noexcept
{
    Qor::Msvc::heapFree(block);
}

void operator delete(void* block, size_t) noexcept
{
    Qor::Msvc::heapFree(block);
}

void operator delete[](void* block) noexcept
{
    Qor::Msvc::heapFree(block);
}

void operator delete[](void* block, size_t) noexcept
{
    Qor::Msvc::heapFree(block);
}

namespace Qor {
namespace Msvc {

namespace {

// What the release runtime's std::allocator does with large blocks, so
// that they can be aligned for vector instructions: from this size on it
// takes sizeof(void*) + 31 bytes more, aligns the storage to 32 and keeps
// the heap block's address in the pointer before it.
constexpr size_t bigAllocationThreshold = 4096;
constexpr size_t bigAllocationAlignment = 32;
constexpr size_t bigAllocationExtra = sizeof(void*) + bigAllocationAlignment - 1;

// std::vector<const char*>::max_size() of the host's library.
constexpr size_t hostVectorMaxSize = size_t(PTRDIFF_MAX) / sizeof(const char*);

} // namespace

void* heapAllocate(size_t bytes)
{
    // The release runtime's malloc(0) gives a block of its own too.
    return HeapAlloc(GetProcessHeap(), 0, bytes ? bytes : 1);
}

void heapFree(void* block)
{
    if (block)
        HeapFree(GetProcessHeap(), 0, block);
}

void* hostAllocate(size_t bytes)
{
    if (bytes < bigAllocationThreshold)
        return heapAllocate(bytes);
    if (bytes > SIZE_MAX - bigAllocationExtra)
        return nullptr;
    const uintptr_t block = reinterpret_cast<uintptr_t>(heapAllocate(bytes + bigAllocationExtra));
    if (!block)
        return nullptr;
    const uintptr_t storage = (block + bigAllocationExtra) & ~uintptr_t(bigAllocationAlignment - 1);
    reinterpret_cast<uintptr_t*>(storage)[-1] = block;
    return reinterpret_cast<void*>(storage);
}

void hostDeallocate(void* storage, size_t bytes)
{
    if (storage && bytes >= bigAllocationThreshold)
        storage = reinterpret_cast<void*>(static_cast<uintptr_t*>(storage)[-1]);
    heapFree(storage);
}

bool appendToHostVector(HostVector& names, const char* const* items, size_t count)
{
    const size_t size = size_t(names.last - names.first);
    const size_t capacity = size_t(names.end - names.first);
    if (count > capacity - size) {
        if (count > hostVectorMaxSize - size)
            return false;
        const size_t needed = size + count;
        // The host library's growth: half the capacity again, or what is needed.
        size_t grown = capacity > hostVectorMaxSize - capacity / 2 ? hostVectorMaxSize : capacity + capacity / 2;
        if (grown < needed)
            grown = needed;
        auto* storage = static_cast<const char**>(hostAllocate(grown * sizeof(const char*)));
        if (!storage)
            return false;
        for (size_t i = 0; i < size; ++i)
            storage[i] = names.first[i];
        hostDeallocate(names.first, capacity * sizeof(const char*));
        names.first = storage;
        names.last = storage + size;
        names.end = storage + grown;
    }
    for (size_t i = 0; i < count; ++i)
        *names.last++ = items[i];
    return true;
}

} // namespace Msvc
} // namespace Qor
