// The layouts hosts of Microsoft's C++ ABI rely on, asserted where the
// boundary's classes are compiled. Field offsets are where a host reads and
// writes; sizes matter where a host allocates or copies, and the sizes of
// the interface classes fix where each face of the component lies. Where
// the faces and the virtual-base table lie, and every vtable slot, is
// checked from the compiler's own layout dump (boundary/msvc/abi-*.txt).
#ifndef KELVO_BOUNDARY_MSVC_LAYOUT_H
#define KELVO_BOUNDARY_MSVC_LAYOUT_H

#include "boundary/msvc/Contract.h"

namespace Qor {

#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Winvalid-offsetof"

static_assert(sizeof(Variant) == 16, "Variant: tag, padding, 8-byte value");
static_assert(offsetof(Variant, type) == 0, "Variant::type");
static_assert(offsetof(Variant, value) == 8, "Variant::value");

static_assert(sizeof(StreamInfo) == 12, "StreamInfo");
static_assert(offsetof(StreamInfo, width) == 4, "StreamInfo::width");
static_assert(offsetof(StreamInfo, height) == 8, "StreamInfo::height");

// The vtable pointer is padded to the doubles' alignment, on both targets.
static_assert(sizeof(MediaBuffer) == 64, "MediaBuffer");
static_assert(offsetof(MediaBuffer, size) == 8, "MediaBuffer::size");
static_assert(offsetof(MediaBuffer, timing) == 12, "MediaBuffer::timing");
static_assert(offsetof(MediaBuffer, left) == 24, "MediaBuffer::left");
static_assert(offsetof(MediaBuffer, top) == 32, "MediaBuffer::top");
static_assert(offsetof(MediaBuffer, right) == 40, "MediaBuffer::right");
static_assert(offsetof(MediaBuffer, bottom) == 48, "MediaBuffer::bottom");
static_assert(offsetof(MediaBuffer, stride) == 56, "MediaBuffer::stride");

#if defined(_WIN64)
static_assert(sizeof(void*) == 8, "x64");

static_assert(sizeof(PortFormat) == 24, "PortFormat: passed as a pointer to the caller's copy");
static_assert(offsetof(PortFormat, fourcc) == 8, "PortFormat::fourcc");
static_assert(offsetof(PortFormat, extra) == 16, "PortFormat::extra");

static_assert(sizeof(String) == 24 && sizeof(WString) == 24, "String: data, length, allocator");
static_assert(offsetof(String, length) == 8, "String::length");
static_assert(offsetof(String, unitAllocator) == 16, "String::unitAllocator");

static_assert(sizeof(Plugin) == 32, "Plugin: vtable pointer, three fields");
static_assert(offsetof(Plugin, references) == 8, "Plugin::references");
static_assert(offsetof(Plugin, hostObject) == 16, "Plugin::hostObject");
static_assert(offsetof(Plugin, auxiliary) == 24, "Plugin::auxiliary");

static_assert(sizeof(NameVector) == 24, "a release-runtime vector: three pointers");

// Input face, Output face, virtual-base table pointer, ComponentInterface.
static_assert(sizeof(InputInterface) == 8 && sizeof(OutputInterface) == 8, "one vtable pointer each");
static_assert(sizeof(TransformInterface) == 16, "Input face at 0, Output face at 8");
static_assert(sizeof(TransformComponent) == 32, "faces, virtual-base table pointer, ComponentInterface");
#else
static_assert(sizeof(void*) == 4, "i686");

static_assert(sizeof(PortFormat) == 12, "PortFormat: three words, passed by value");
static_assert(offsetof(PortFormat, fourcc) == 4, "PortFormat::fourcc");
static_assert(offsetof(PortFormat, extra) == 8, "PortFormat::extra");

static_assert(sizeof(String) == 12 && sizeof(WString) == 12, "String: data, length, allocator");
static_assert(offsetof(String, length) == 4, "String::length");
static_assert(offsetof(String, unitAllocator) == 8, "String::unitAllocator");

static_assert(sizeof(Plugin) == 16, "Plugin: vtable pointer, three fields");
static_assert(offsetof(Plugin, references) == 4, "Plugin::references");
static_assert(offsetof(Plugin, hostObject) == 8, "Plugin::hostObject");
static_assert(offsetof(Plugin, auxiliary) == 12, "Plugin::auxiliary");

static_assert(sizeof(NameVector) == 12, "a release-runtime vector: three pointers");

static_assert(sizeof(InputInterface) == 4 && sizeof(OutputInterface) == 4, "one vtable pointer each");
static_assert(sizeof(TransformInterface) == 8, "Input face at 0, Output face at 4");
static_assert(sizeof(TransformComponent) == 16, "faces, virtual-base table pointer, ComponentInterface");
#endif

#pragma clang diagnostic pop

} // namespace Qor

#endif
