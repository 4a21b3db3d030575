// The library's one export.
#ifndef KELVO_FRAMEWORK_GETPLUGIN_H
#define KELVO_FRAMEWORK_GETPLUGIN_H

#include <stdint.h>

namespace Qor {
class Host;
class Plugin;
} // namespace Qor

#if defined(_WIN32)
// The library's module definition file names the export and its ordinal; a
// dllexport here would add a second, undecorated name.
#define KELVO_EXPORT extern "C"
#else
#define KELVO_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// Makes a component with one reference, which passes to the caller through
// *out, and answers 0. Nothing is made, and *out is null, when no storage is
// obtained for the component; when its properties' texts cannot be had, a
// library that shares the host's C++ runtime raises the standard
// out-of-memory exception, and one that does not answers 0 with *out null.
// A null `out` is ignored: nothing is made and nothing is called.
KELVO_EXPORT int32_t getPlugin(Qor::Host* host, Qor::Plugin** out);

#endif
