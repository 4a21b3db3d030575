// The core's host calls for hosts built with the platform's own compiler:
// each one call or field access on the host's Qor objects. The core's
// handles are the very pointers the host passed in Variants: a MediaBuffer*,
// a BufferAllocator*, the downstream PortInterface*, the message's Variant*.
#ifndef KELVO_BOUNDARY_NATIVE_NATIVEHOSTCALLS_H
#define KELVO_BOUNDARY_NATIVE_NATIVEHOSTCALLS_H

#include "subdecode/KelvoCore.h"

namespace Qor {

extern const KelvoHostCalls nativeHostCalls;

// The boundary's answer for a core result: true for KELVO_ACCEPTED, false
// for a refusal; KELVO_OUT_OF_MEMORY raises std::bad_alloc, as the
// component lets a failed allocation's exception reach its caller.
bool nativeAnswer(int32_t result);

} // namespace Qor

#endif
