#include "framework/Plugin.h"

#include "host/Host.h"

namespace Qor {

Plugin::Plugin(Host* host) noexcept : references(1), hostObject(host), auxiliary(0) {}

Plugin::~Plugin() = default;

int32_t Plugin::addReference()
{
    return ++references;
}

int32_t Plugin::dropReference()
{
    const int32_t count = --references;
    if (count != 0)
        return count;
    // The host outlives the object, so read it before the object goes; after
    // the delete the address serves the host only as an identity.
    Host* const host = hostObject;
    Plugin* const identity = this;
    if (host)
        host->willDestroyPlugin(identity);
    delete this;
    if (host)
        host->didDestroyPlugin(identity);
    return 0;
}

int32_t Plugin::referenceCount()
{
    return references;
}

int32_t Plugin::auxiliaryValue()
{
    return auxiliary;
}

Host* Plugin::getHost()
{
    return hostObject;
}

} // namespace Qor
