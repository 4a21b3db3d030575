// A host's side of the boundary tests: the loaded library, a host that
// records when it is told of a plug-in's end, and the small values a host
// makes for its calls. Everything here uses the contract's declarations only.
#ifndef KELVO_TESTS_BOUNDARY_CONTRACTHOST_H
#define KELVO_TESTS_BOUNDARY_CONTRACTHOST_H

#include "tests/boundary/Contract.h"
#include "tests/support/DynamicLibrary.h"

#include <cstring>
#include <string>
#include <vector>

namespace Qor::Boundary {

// The plug-in library, loaded as a host loads it. A 32-bit Windows export
// table lists the entry point with the platform's leading underscore.
class Library {
public:
    Library() : library(KELVO_PLUGIN_PATH)
    {
#if defined(_WIN32)
        entry = library.function<int32_t(Host*, Plugin**)>("_getPlugin");
#else
        entry = library.function<int32_t(Host*, Plugin**)>("getPlugin");
#endif
    }

    bool loaded() const { return library.loaded(); }
    const std::string& error() const { return library.error(); }

    Testing::DynamicLibrary library;
    GetPluginFunction entry = nullptr;
};

class CountingHost : public Host {
public:
    int32_t willDestroyPlugin(Plugin* plugin) override { return tell("will", plugin); }
    int32_t didDestroyPlugin(Plugin* plugin) override { return tell("did", plugin); }

    std::vector<std::string> events;
    std::vector<Plugin*> told;

private:
    int32_t tell(const char* event, Plugin* plugin)
    {
        events.push_back(event);
        told.push_back(plugin);
        return 0;
    }
};

// An identifier made by the host: its text is the host's, never freed by the library.
inline String identifier(const char* text)
{
    return String{const_cast<char*>(text), uint32_t(std::strlen(text)), nullptr};
}

inline Variant object(void* pointer)
{
    Variant v{};
    v.type = TypeObject;
    v.value.asObject = pointer;
    return v;
}

} // namespace Qor::Boundary

#endif
