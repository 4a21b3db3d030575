// Framework strings: a counted, terminated text owned by a unit allocator.
// String (8-bit units) and WString (16-bit units) have no virtual operations,
// so their three fields are exactly what crosses the plug-in boundary.
#ifndef KELVO_FRAMEWORK_STRING_H
#define KELVO_FRAMEWORK_STRING_H

#include "framework/StandardAllocator.h"

#include <stdint.h>

namespace Qor {

template <typename Unit>
class BasicString {
public:
    typedef StandardAllocator<Unit> Allocator;

    // An empty string with no storage.
    BasicString() : data(nullptr), length(0), unitAllocator(Allocator::instance()) {}

    // A copy of `text` up to its first zero unit, owned by `allocator`; a null
    // `text` gives an empty string with no storage. Throws std::bad_alloc.
    BasicString(const Unit* text, Allocator* allocator) : data(nullptr), length(0), unitAllocator(allocator)
    {
        if (!text)
            return;
        uint32_t count = 0;
        while (text[count] != 0)
            ++count;
        copyFrom(text, count);
    }

    // A copy of `other`'s text, owned by `allocator`. The length is taken
    // from `other`, not measured again. Throws std::bad_alloc.
    BasicString(const BasicString& other, Allocator* allocator) : data(nullptr), length(0), unitAllocator(allocator)
    {
        if (other.data)
            copyFrom(other.data, other.length);
    }

    BasicString(const BasicString& other) : BasicString(other, Allocator::instance()) {}
    BasicString& operator=(const BasicString&) = delete;

    ~BasicString() { release(); }

    // True when both texts, each taken up to its first zero unit (no storage
    // counting as the empty text), are the same.
    bool equals(const BasicString& other) const
    {
        const Unit* a = data;
        const Unit* b = other.data;
        if (!a || !b) {
            const Unit* rest = a ? a : b;
            return !rest || *rest == 0;
        }
        while (*a != 0 && *a == *b) {
            ++a;
            ++b;
        }
        return *a == *b;
    }

    // Gives the text back to its allocator; the string is then empty.
    void release()
    {
        if (data)
            unitAllocator->deallocate(data);
        data = nullptr;
        length = 0;
    }

    Unit* data;
    uint32_t length;
    Allocator* unitAllocator;

private:
    void copyFrom(const Unit* text, uint32_t count)
    {
        // A 32-bit count leaves no room for the terminator of a text of
        // 2^32 - 1 units; such a text gives an empty string.
        if (count == uint32_t(-1))
            return;
        data = unitAllocator->allocate(count + 1);
        for (uint32_t i = 0; i < count; ++i)
            data[i] = text[i];
        data[count] = 0;
        length = count;
    }
};

typedef BasicString<char> String;
typedef BasicString<unsigned short> WString;

} // namespace Qor

#endif
