// The framework's unit allocators. Every framework string owns its text
// through one of them, so text made on one side of the plug-in boundary
// always goes back to the allocator that made it.
#ifndef KELVO_FRAMEWORK_STANDARDALLOCATOR_H
#define KELVO_FRAMEWORK_STANDARDALLOCATOR_H

#include <stddef.h>
#include <stdint.h>

namespace Qor {

// The virtual order of this class is part of the contract with hosts.
template <typename T>
class StandardAllocator {
public:
    virtual ~StandardAllocator() = default;

    // Storage for `count` units: the standard array allocation, which
    // reports exhaustion as a new-expression does (std::bad_alloc). A count
    // whose byte size does not fit in 32 bits is asked for as an array
    // larger than any address space, so that it fails the same way.
    virtual T* allocate(uint32_t count)
    {
        return new T[count <= uint32_t(-1) / sizeof(T) ? size_t(count) : size_t(-1)];
    }

    // Gives back storage obtained from allocate(); null is ignored.
    virtual void deallocate(T* pointer) { delete[] pointer; }

    // The process-wide instance for this unit type, made at the first call.
    // Its exit-time destruction releases nothing.
    static StandardAllocator* instance()
    {
        static StandardAllocator theInstance;
        return &theInstance;
    }
};

} // namespace Qor

#endif
