// The layouts that 32-bit Windows hosts rely on, checked where the plug-in is
// built for them. Field offsets are where a host built with another compiler
// reads and writes; the sizes matter where a host allocates or copies.
#if defined(_WIN32) && !defined(_WIN64)

#include "framework/PortInterface.h"
#include "framework/String.h"
#include "framework/Variant.h"
#include "host/Host.h"

#include <cstddef>

namespace Qor {

static_assert(sizeof(void*) == 4, "32-bit pointers");

static_assert(sizeof(Variant) == 16, "Variant: tag, padding, 8-byte value");
static_assert(offsetof(Variant, type) == 0, "Variant::type");
static_assert(offsetof(Variant, value) == 8, "Variant::value");

static_assert(sizeof(PortFormat) == 12, "PortFormat: three words, passed by value");
static_assert(offsetof(PortFormat, kind) == 0, "PortFormat::kind");
static_assert(offsetof(PortFormat, fourcc) == 4, "PortFormat::fourcc");
static_assert(offsetof(PortFormat, extra) == 8, "PortFormat::extra");

static_assert(sizeof(String) == 12, "String: data, length, allocator");
static_assert(offsetof(String, data) == 0, "String::data");
static_assert(offsetof(String, length) == 4, "String::length");
static_assert(offsetof(String, unitAllocator) == 8, "String::unitAllocator");

static_assert(sizeof(StreamInfo) == 12, "StreamInfo");
static_assert(offsetof(StreamInfo, width) == 4, "StreamInfo::width");
static_assert(offsetof(StreamInfo, height) == 8, "StreamInfo::height");

// MediaBuffer is polymorphic, so offsetof is only conditionally supported;
// GCC gives the true offsets for a class without virtual bases. The doubles
// sit on 8-byte boundaries as in every Windows compiler's layout, unlike the
// 4-byte alignment of 32-bit Linux.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
static_assert(offsetof(MediaBuffer, size) == 4, "MediaBuffer::size follows the vtable pointer");
static_assert(offsetof(MediaBuffer, timing) == 8, "MediaBuffer::timing");
static_assert(offsetof(MediaBuffer, left) == 16, "MediaBuffer::left");
static_assert(offsetof(MediaBuffer, top) == 24, "MediaBuffer::top");
static_assert(offsetof(MediaBuffer, right) == 32, "MediaBuffer::right");
static_assert(offsetof(MediaBuffer, bottom) == 40, "MediaBuffer::bottom");
static_assert(offsetof(MediaBuffer, stride) == 48, "MediaBuffer::stride");
#pragma GCC diagnostic pop

} // namespace Qor

#endif
