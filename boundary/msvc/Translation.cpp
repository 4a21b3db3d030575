// The translation of the Windows DLL's boundary, for hosts built with
// Microsoft's C++ compiler against its release runtime. No C++ runtime of
// that ABI is linked and no exception can cross into the host: objects
// come from the process heap with placement new, strings from the two
// allocators here, the name vector grows by the host's runtime's rules
// (Runtime.cpp), and running out of memory is a refusal.
#include "boundary/common/Translation.h"

#include "boundary/msvc/Layout.h"
#include "boundary/msvc/Runtime.h"
#include "framework/String.h"

namespace Qor {

namespace {

using Msvc::heapAllocate;
using Msvc::heapFree;

// The framework's allocators, one process-wide instance each, over the
// process heap. They can only refuse, never throw.
template <typename T>
class HeapUnitAllocator final : public StandardAllocator<T> {
public:
    constexpr HeapUnitAllocator() = default;
    T* allocate(uint32_t count) override
    {
        if (count > SIZE_MAX / sizeof(T))
            return nullptr;
        return static_cast<T*>(heapAllocate(size_t(count) * sizeof(T)));
    }
    void deallocate(T* pointer) override { heapFree(pointer); }
};

// Constant-initialised and never destroyed: no code runs at load or unload.
[[clang::no_destroy]] HeapUnitAllocator<char> charAllocator;
[[clang::no_destroy]] HeapUnitAllocator<unsigned short> wideAllocator;

// A heap object, or null when the heap has none.
template <typename T, typename... Arguments>
T* make(Arguments... arguments)
{
    void* memory = heapAllocate(sizeof(T));
    return memory ? new (memory) T(arguments...) : nullptr;
}

// The framework's constructors report exhaustion with an exception, which
// this ABI does not carry, so the text is copied here.
template <typename Unit>
BasicString<Unit>* makeText(const Unit* text, StandardAllocator<Unit>* unitAllocator)
{
    BasicString<Unit>* string = make<BasicString<Unit>>(static_cast<const Unit*>(nullptr), unitAllocator);
    if (!string || !text)
        return string;
    uint32_t length = 0;
    while (text[length])
        ++length;
    string->data = unitAllocator->allocate(length + 1);
    if (!string->data) {
        delete string;
        return nullptr;
    }
    for (uint32_t i = 0; i <= length; ++i)
        string->data[i] = text[i];
    string->length = length;
    return string;
}

} // namespace

namespace Translation {

KelvoSubDecode* makeComponent(Host* host)
{
    return make<KelvoSubDecode>(host);
}

PortInterface* makePort(KelvoSubDecode* owner, int32_t side)
{
    if (side == KELVO_PACKET_SIDE)
        return make<KelvoSubDecode::Input>(owner);
    return make<KelvoSubDecode::Output>(owner);
}

String* makeString(const char* text)
{
    return makeText<char>(text, &charAllocator);
}

WString* makeWideString(const unsigned short* text)
{
    return makeText<unsigned short>(text, &wideAllocator);
}

bool appendNames(NameVector& names, const char* const* keys, int32_t count)
{
    return Msvc::appendToHostVector(names, keys, size_t(count));
}

bool accepted(int32_t result)
{
    return result == KELVO_ACCEPTED;
}

} // namespace Translation
} // namespace Qor
