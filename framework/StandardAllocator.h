// The framework's unit allocators. Every framework string owns its text
// through one of the two process-wide instances, so text made on one side of
// the plug-in boundary always goes back to the allocator that made it.
#ifndef KELVO_FRAMEWORK_STANDARDALLOCATOR_H
#define KELVO_FRAMEWORK_STANDARDALLOCATOR_H

#include <cstdint>
#include <limits>
#include <new>

namespace Qor {

// The virtual order of this class is part of the contract with hosts.
template <typename T>
class StandardAllocator {
public:
    virtual ~StandardAllocator() = default;

    // Storage for `count` units; throws std::bad_alloc when there is none or
    // when the byte size of `count` units does not fit in 32 bits.
    virtual T* allocate(uint32_t count)
    {
        if (count > std::numeric_limits<uint32_t>::max() / sizeof(T))
            throw std::bad_alloc();
        return new T[count];
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
