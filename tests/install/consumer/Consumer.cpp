// Loads the installed plug-in as a host does, opens and closes both ports,
// releases it, and prints "ok" when the host was told of its destruction
// twice; anything else is a failure.
#include "framework/ComponentInterface.h"
#include "framework/GetPlugin.h"
#include "framework/Plugin.h"
#include "host/Host.h"

#include <dlfcn.h>

#include <cstdio>

namespace {

class CountingHost : public Qor::Host {
public:
    int32_t willDestroyPlugin(Qor::Plugin*) override { return ++told; }
    int32_t didDestroyPlugin(Qor::Plugin*) override { return ++told; }
    int told = 0;
};

int fail(const char* what)
{
    std::fprintf(stderr, "consumer: %s\n", what);
    return 1;
}

} // namespace

int main()
{
    void* library = dlopen(PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return fail(dlerror());
    using Entry = int32_t (*)(Qor::Host*, Qor::Plugin**);
    auto entry = reinterpret_cast<Entry>(dlsym(library, "getPlugin"));
    if (!entry)
        return fail("no getPlugin");
    CountingHost host;
    Qor::Plugin* plugin = nullptr;
    if (entry(&host, &plugin) != 0 || !plugin)
        return fail("no component");
    void* found = nullptr;
    {
        const Qor::String identifier(Qor::IdentifierText::interfaceTransform, Qor::StandardAllocator<char>::instance());
        if (plugin->queryInterface(identifier, &found) != Qor::InterfaceFound)
            return fail("no transform interface");
    }
    auto* transform = static_cast<Qor::TransformInterface*>(found);
    Qor::OutputInterface* packetSide = transform;
    Qor::InputInterface* frameSide = transform;
    Qor::PortInterface* in = packetSide->openPort(Qor::PortFormat{1, "GPHB", 0});
    Qor::PortInterface* out = frameSide->openPort(Qor::PortFormat{1, "RGBA", 0});
    if (!in || !out)
        return fail("a port was refused");
    if (!frameSide->closePort(out) || !packetSide->closePort(in))
        return fail("a port would not close");
    if (plugin->dropReference() != 0 || host.told != 2)
        return fail("release went wrong");
    dlclose(library);
    std::puts("ok");
    return 0;
}
