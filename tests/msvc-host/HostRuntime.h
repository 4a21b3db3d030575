// What a freestanding Windows program needs from kernel32 and nothing
// else: the library loader, the process heap, the console, exit; and the
// little the test itself uses (text, a seeded generator, checks that count
// and report their failures).
#ifndef KELVO_TESTS_MSVC_HOST_HOSTRUNTIME_H
#define KELVO_TESTS_MSVC_HOST_HOSTRUNTIME_H

#include <stddef.h>
#include <stdint.h>

extern "C" {
__declspec(dllimport) void* __stdcall LoadLibraryA(const char* name);
__declspec(dllimport) void* __stdcall GetProcAddress(void* module, const char* name);
__declspec(dllimport) void* __stdcall GetProcessHeap(void);
__declspec(dllimport) void* __stdcall HeapAlloc(void* heap, uint32_t flags, size_t bytes);
__declspec(dllimport) int __stdcall HeapFree(void* heap, uint32_t flags, void* block);
__declspec(dllimport) int __stdcall HeapValidate(void* heap, uint32_t flags, const void* block);
__declspec(dllimport) size_t __stdcall HeapSize(void* heap, uint32_t flags, const void* block);
__declspec(dllimport) uint32_t __stdcall GetLastError(void);
__declspec(dllimport) __attribute__((noreturn)) void __stdcall ExitProcess(uint32_t code);
}

// The only placement form used; <new> is not available here.
inline void* operator new(size_t, void* place) noexcept
{
    return place;
}
inline void operator delete(void*, void*) noexcept {}

namespace HostRuntime {

// Writes text to the standard output.
void print(const char* text);
void printNumber(int32_t value);
void printHex(uint32_t value);

bool sameText(const char* a, const char* b);
size_t textLength(const char* text);

// Whether the process heap is consistent, as a whole or for one block.
bool heapIsSound(const void* block = nullptr);
// The bytes of the process heap block at `block`.
size_t heapBlockSize(const void* block);

// A small seeded generator (xorshift), the same sequence on every machine.
class Random {
public:
    explicit Random(uint32_t seed) : state(seed ? seed : 1) {}
    uint32_t next()
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    // A number from 0 to `bound` - 1.
    uint32_t below(uint32_t bound) { return next() % bound; }

private:
    uint32_t state;
};

// Counted checks: a failure prints where it happened and what was expected.
void setSection(const char* name);
void check(bool ok, const char* what, int line);
int checkCount();
int failureCount();

} // namespace HostRuntime

#define CHECK(condition) ::HostRuntime::check((condition), #condition, __LINE__)

#endif
