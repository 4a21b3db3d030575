// The native boundary's translation: hosts built with the platform's own
// compiler share its C++ runtime, so objects come from the global heap,
// strings from the framework's standard allocators, the name vector is the
// host's std::vector itself, and running out of memory is the standard
// exception, which reaches the host.
#include "boundary/common/Translation.h"

#include "framework/String.h"

#include <new>

namespace Qor {
namespace Translation {

namespace {

template <typename Unit>
BasicString<Unit>* makeText(const Unit* text)
{
    try {
        return new BasicString<Unit>(text, StandardAllocator<Unit>::instance());
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

} // namespace

KelvoSubDecode* makeComponent(Host* host)
{
    return new (std::nothrow) KelvoSubDecode(host);
}

PortInterface* makePort(KelvoSubDecode* owner, int32_t side)
{
    if (side == KELVO_PACKET_SIDE)
        return new (std::nothrow) KelvoSubDecode::Input(owner);
    return new (std::nothrow) KelvoSubDecode::Output(owner);
}

String* makeString(const char* text)
{
    return makeText(text);
}

WString* makeWideString(const unsigned short* text)
{
    return makeText(text);
}

bool appendNames(NameVector& names, const char* const* keys, int32_t count)
{
    for (int32_t i = 0; i < count; ++i)
        names.push_back(keys[i]);
    return true;
}

bool accepted(int32_t result)
{
    if (result == KELVO_OUT_OF_MEMORY)
        throw std::bad_alloc();
    return result == KELVO_ACCEPTED;
}

} // namespace Translation
} // namespace Qor
