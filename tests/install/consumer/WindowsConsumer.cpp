// The first unit of a Windows host project, compiled against the installed
// package's headers with its usage requirements, never run: a program built
// by MinGW does not speak the DLL's C++ ABI, so it only finds the entry.
#include "framework/ComponentInterface.h"
#include "framework/GetPlugin.h"
#include "framework/Plugin.h"
#include "host/Host.h"

#include <windows.h>

int main()
{
    HMODULE library = LoadLibraryA(PLUGIN_PATH);
    const char* name = sizeof(void*) == 4 ? "_getPlugin" : "getPlugin";
    auto entry = reinterpret_cast<decltype(&getPlugin)>(reinterpret_cast<void*>(GetProcAddress(library, name)));
    return library && entry ? 0 : 1;
}
