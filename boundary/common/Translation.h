// What each boundary translates for its ABI, beyond the layouts and vtables
// its compiler makes of the same classes: where objects come from, framework
// strings made from text, the host's name vector, and an answer of the core
// that says memory ran out, which becomes an exception where the ABI lets
// one reach the host and a refusal where it does not. Declared once here,
// defined by boundary/native/Translation.cpp and boundary/msvc/Translation.cpp.
#ifndef KELVO_BOUNDARY_COMMON_TRANSLATION_H
#define KELVO_BOUNDARY_COMMON_TRANSLATION_H

#include "boundary/common/KelvoSubDecode.h"

namespace Qor {
namespace Translation {

// New objects of the boundary's heap, freed by `delete`; null when there is
// no storage.
KelvoSubDecode* makeComponent(Host* host);
PortInterface* makePort(KelvoSubDecode* owner, int32_t side);

// A framework string on the boundary's heap holding a copy of `text` (no
// storage for null), its text owned by the boundary's allocator for that
// unit; destroyed with `delete`. Null when out of memory.
String* makeString(const char* text);
WString* makeWideString(const unsigned short* text);

// Appends the `count` keys to the host's vector and answers true. When its
// storage cannot grow, an ABI that lets exceptions through lets the
// vector's own out-of-memory exception reach the host, with the keys
// appended until then; the other answers false with the vector as it was.
bool appendNames(NameVector& names, const char* const* keys, int32_t count);

// A core result as the ABI answers it: true for KELVO_ACCEPTED, false for a
// refusal, and for KELVO_OUT_OF_MEMORY the ABI's out-of-memory answer.
bool accepted(int32_t result);

} // namespace Translation
} // namespace Qor

#endif
