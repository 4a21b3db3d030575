// The layouts hosts of Microsoft's C++ ABI rely on, asserted where the
// boundary is compiled, on both targets: in words of a pointer's size,
// since every field a host reads there is a pointer or is padded to one,
// except where the doubles of MediaBuffer align to 8. Field offsets are
// where a host reads and writes; sizes matter where a host allocates or
// copies, and the sizes of the interface classes fix where each face of the
// component lies. Where the faces and the virtual-base table lie, and every
// vtable slot, is checked from the compiler's own layout dump
// (boundary/msvc/abi-*.txt).
#ifndef KELVO_BOUNDARY_MSVC_LAYOUT_H
#define KELVO_BOUNDARY_MSVC_LAYOUT_H

#include "boundary/msvc/NameVector.h"
#include "framework/ComponentInterface.h"
#include "framework/Plugin.h"
#include "host/Host.h"

#include <stddef.h>

namespace Qor {
namespace Msvc {

constexpr size_t Word = sizeof(void*);
static_assert(Word == 4 || Word == 8, "i686 or x64");

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

// Three words, passed by value on i686; on x64, larger than eight bytes, as
// a pointer to the caller's copy.
static_assert(sizeof(PortFormat) == 3 * Word, "PortFormat");
static_assert(offsetof(PortFormat, fourcc) == Word, "PortFormat::fourcc");
static_assert(offsetof(PortFormat, extra) == 2 * Word, "PortFormat::extra");

static_assert(sizeof(String) == 3 * Word && sizeof(WString) == 3 * Word, "String: data, length, allocator");
static_assert(offsetof(String, length) == Word, "String::length");
static_assert(offsetof(String, unitAllocator) == 2 * Word, "String::unitAllocator");

// Its fields' offsets, which are protected, come from the layout dump.
static_assert(sizeof(Plugin) == 4 * Word, "Plugin: vtable pointer, three fields");

static_assert(sizeof(NameVector) == 3 * Word, "a release-runtime vector: three pointers");

// Input face, Output face, virtual-base table pointer, ComponentInterface.
static_assert(sizeof(InputInterface) == Word && sizeof(OutputInterface) == Word, "one vtable pointer each");
static_assert(sizeof(TransformInterface) == 2 * Word, "Input face, then Output face");
static_assert(sizeof(TransformComponent) == 4 * Word, "faces, virtual-base table pointer, ComponentInterface");

#pragma clang diagnostic pop

} // namespace Msvc
} // namespace Qor

#endif
