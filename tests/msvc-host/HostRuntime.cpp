// The runtime of the freestanding host test: kernel32 only.
#include "tests/msvc-host/HostRuntime.h"

extern "C" {
__declspec(dllimport) void* __stdcall GetStdHandle(uint32_t which);
__declspec(dllimport) int __stdcall WriteFile(void* file, const void* bytes, uint32_t count, uint32_t* written,
    void* overlapped);

// The compiler references this symbol from every object that uses floating point.
int _fltused = 0;

int __cdecl _purecall(void)
{
    HostRuntime::print("pure virtual call\n");
    ExitProcess(3);
}

// The compiler may turn copies and clears into these calls.
void* __cdecl memset(void* destination, int value, size_t count)
{
    auto* bytes = static_cast<volatile unsigned char*>(destination);
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<unsigned char>(value);
    return destination;
}

void* __cdecl memcpy(void* destination, const void* source, size_t count)
{
    auto* to = static_cast<volatile unsigned char*>(destination);
    const auto* from = static_cast<const unsigned char*>(source);
    for (size_t i = 0; i < count; ++i)
        to[i] = from[i];
    return destination;
}
}

namespace {

void* allocateOrExit(size_t bytes)
{
    void* block = HeapAlloc(GetProcessHeap(), 0, bytes ? bytes : 1);
    if (!block) {
        HostRuntime::print("out of memory\n");
        ExitProcess(2);
    }
    return block;
}

const char* section = "";
int checks = 0;
int failures = 0;

} // namespace

// The host's operator new and delete are the release runtime's: the process heap.
void* operator new(size_t bytes)
{
    return allocateOrExit(bytes);
}

void* operator new[](size_t bytes)
{
    return allocateOrExit(bytes);
}

void operator delete(void* block) noexcept
{
    if (block)
        HeapFree(GetProcessHeap(), 0, block);
}

void operator delete(void* block, size_t) noexcept
{
    operator delete(block);
}

void operator delete[](void* block) noexcept
{
    operator delete(block);
}

void operator delete[](void* block, size_t) noexcept
{
    operator delete(block);
}

namespace HostRuntime {

void print(const char* text)
{
    uint32_t written = 0;
    WriteFile(GetStdHandle(uint32_t(-11)), text, uint32_t(textLength(text)), &written, nullptr);
}

void printNumber(int32_t value)
{
    char digits[12];
    int n = 11;
    digits[n] = 0;
    uint32_t magnitude = value < 0 ? 0u - uint32_t(value) : uint32_t(value);
    do {
        digits[--n] = char('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    if (value < 0)
        digits[--n] = '-';
    print(digits + n);
}

void printHex(uint32_t value)
{
    char digits[11] = "0x";
    for (int i = 0; i < 8; ++i)
        digits[2 + i] = "0123456789ABCDEF"[(value >> (28 - 4 * i)) & 15];
    digits[10] = 0;
    print(digits);
}

bool sameText(const char* a, const char* b)
{
    while (*a && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

size_t textLength(const char* text)
{
    size_t length = 0;
    while (text[length])
        ++length;
    return length;
}

bool heapIsSound(const void* block)
{
    return HeapValidate(GetProcessHeap(), 0, block) != 0;
}

size_t heapBlockSize(const void* block)
{
    return HeapSize(GetProcessHeap(), 0, block);
}

void setSection(const char* name)
{
    section = name;
}

void check(bool ok, const char* what, int line)
{
    ++checks;
    if (ok)
        return;
    if (++failures <= 40) {
        print("HostTest.cpp:");
        printNumber(line);
        print(": ");
        print(section);
        print(": failed: ");
        print(what);
        print("\n");
    }
}

int checkCount()
{
    return checks;
}

int failureCount()
{
    return failures;
}

} // namespace HostRuntime
