#include "framework/GetPlugin.h"

#include "boundary/native/KelvoSubDecode.h"

#include <new>

int32_t getPlugin(Qor::Host* host, Qor::Plugin** out)
{
    if (!out)
        return 0;
    // Allocation failure gives a null object; what construction itself
    // raises reaches the caller.
    Qor::KelvoSubDecode* component = new (std::nothrow) Qor::KelvoSubDecode(host);
    *out = component;
    return 0;
}
