// The framework's tagged value. It carries property values and the argument
// of every port message; it never owns what its pointer designates.
#ifndef KELVO_FRAMEWORK_VARIANT_H
#define KELVO_FRAMEWORK_VARIANT_H

#include <stdint.h>

namespace Qor {

template <typename Unit> class BasicString;
typedef BasicString<char> String;
typedef BasicString<unsigned short> WString;

enum VariantType : uint8_t {
    TypeFourCC = 6,
    TypeString = 11,
    TypeWString = 13,
    TypeObject = 14,
};

// A receiver reads the one-byte tag and the member it selects, nothing else.
struct Variant {
    uint8_t type;
    union alignas(8) {
        uint32_t asFourcc;
        String* asString;
        WString* asWString;
        void* asObject;
        uint64_t bits;
    } value;
};

static_assert(sizeof(Variant) == 16, "Variant is 16 bytes on every host");

// A Variant tagged TypeObject holding `object`, as port messages carry their objects.
inline Variant objectVariant(void* object)
{
    Variant v{};
    v.type = TypeObject;
    v.value.asObject = object;
    return v;
}

// Four characters packed with the first in the lowest byte ("RGBA" is 0x41424752).
constexpr uint32_t packFourcc(char a, char b, char c, char d)
{
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16
        | uint32_t(uint8_t(d)) << 24;
}

} // namespace Qor

#endif
