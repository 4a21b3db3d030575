// Every allocation of the test program that includes this (in one file
// only: it replaces operator new) goes through here, so that a test can set
// a ceiling that an allocation out of proportion to an input breaks.
#ifndef KELVO_TESTS_TOOLS_ALLOCATIONCEILING_H
#define KELVO_TESTS_TOOLS_ALLOCATIONCEILING_H

#include <cstddef>
#include <cstdlib>
#include <new>

// The replacements below pair malloc with free themselves; GCC, seeing them
// inlined where operator new and delete are called, takes that for a mismatch.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {
size_t allocationCeiling = size_t(-1);

// Sets the ceiling for as long as it lives.
struct CeilingHeld {
    explicit CeilingHeld(size_t bytes) { allocationCeiling = bytes; }
    ~CeilingHeld() { allocationCeiling = size_t(-1); }
};
} // namespace

void* operator new(size_t size)
{
    if (size > allocationCeiling)
        throw std::bad_alloc();
    if (void* block = std::malloc(size ? size : 1))
        return block;
    throw std::bad_alloc();
}

void operator delete(void* block) noexcept
{
    std::free(block);
}

void operator delete(void* block, size_t) noexcept
{
    std::free(block);
}

#endif
