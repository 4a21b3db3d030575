// The host's name vector as the DLL's boundary declares it, built with no
// C++ library: the std::vector<const char*> of a host of the release
// runtime is three pointers, its storage from that host's operator new (the
// process heap). framework/ComponentInterface.h takes it for NameVector;
// every object of the boundary is compiled with this header included first
// (boundary/msvc/CMakeLists.txt), and the Windows builds compile each
// installed header alone with it as the stand-in vector.
#ifndef KELVO_BOUNDARY_MSVC_NAMEVECTOR_H
#define KELVO_BOUNDARY_MSVC_NAMEVECTOR_H

namespace Qor {
namespace Msvc {

struct HostVector {
    const char** first;
    const char** last;
    const char** end;
};

} // namespace Msvc
} // namespace Qor

#define KELVO_NAME_VECTOR ::Qor::Msvc::HostVector

#endif
