// A shared library loaded at run time, the way a host loads a plug-in:
// dlopen on POSIX systems, LoadLibrary on Windows. The library stays loaded
// until close() or the object's end.
#ifndef KELVO_TESTS_SUPPORT_DYNAMICLIBRARY_H
#define KELVO_TESTS_SUPPORT_DYNAMICLIBRARY_H

#include <string>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace Qor::Testing {

class DynamicLibrary {
public:
    // Loads `path`. On failure loaded() is false and error() says why. On
    // Windows a bare file name is looked for first beside the program.
    explicit DynamicLibrary(const std::string& path)
    {
#if defined(_WIN32)
        handle = LoadLibraryA(path.c_str());
        if (!handle)
            failure = "LoadLibrary failed for " + path + ", error " + std::to_string(GetLastError());
#else
        handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle)
            failure = dlerror();
#endif
    }

    ~DynamicLibrary() { close(); }

    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    bool loaded() const { return handle != nullptr; }
    const std::string& error() const { return failure; }

    // The function exported as `name`, or null when the library exports no
    // such name or is not loaded.
    template <typename Function>
    Function* function(const char* name) const
    {
        if (!handle)
            return nullptr;
#if defined(_WIN32)
        // Through the generic function type, which converts to any other without a warning.
        return reinterpret_cast<Function*>(reinterpret_cast<void (*)()>(GetProcAddress(handle, name)));
#else
        return reinterpret_cast<Function*>(dlsym(handle, name));
#endif
    }

    // Unloads the library; a second call does nothing.
    void close()
    {
        if (!handle)
            return;
#if defined(_WIN32)
        FreeLibrary(handle);
#else
        dlclose(handle);
#endif
        handle = nullptr;
    }

private:
#if defined(_WIN32)
    HMODULE handle;
#else
    void* handle;
#endif
    std::string failure;
};

} // namespace Qor::Testing

#endif
