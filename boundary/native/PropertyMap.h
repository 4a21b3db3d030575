// A component's properties: static key text to Variant, in byte-wise order.
// The map stores the key pointer it was first given and never owns key text
// or the objects its values point to.
#ifndef KELVO_BOUNDARY_NATIVE_PROPERTYMAP_H
#define KELVO_BOUNDARY_NATIVE_PROPERTYMAP_H

#include "framework/Variant.h"

#include <map>

namespace Qor {

// Orders NUL-terminated texts byte by byte as unsigned values; a prefix sorts first.
struct CStringLess {
    bool operator()(const char* a, const char* b) const noexcept
    {
        const unsigned char* x = reinterpret_cast<const unsigned char*>(a);
        const unsigned char* y = reinterpret_cast<const unsigned char*>(b);
        while (*x != 0 && *x == *y) {
            ++x;
            ++y;
        }
        return *x < *y;
    }
};

// operator[] creates an all-zero Variant under the given key pointer when no
// key of equal text exists; find() never creates an entry.
using PropertyMap = std::map<const char*, Variant, CStringLess>;

} // namespace Qor

#endif
