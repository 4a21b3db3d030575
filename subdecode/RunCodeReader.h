// Reading a packet's run codes: the nibble sequence of one field, its limit,
// and the codes of one to four nibbles. The indexed decoder and the decoder
// into 32-bit pixels read through this one reader, so that they take every
// input, hostile ones included, the same way.
//
// Everything here lies in an unnamed namespace on purpose: the decoder into
// pixels is built once for each instruction set, in units of their own with
// their own compiler flags, and each must keep its own copy of this code. A
// copy shared through the linker could hand one unit's instructions to a
// processor that only runs another's.
#ifndef KELVO_SUBDECODE_RUNCODEREADER_H
#define KELVO_SUBDECODE_RUNCODEREADER_H

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace Qor {
namespace {

#if defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
inline uint64_t byteSwapped(uint64_t value)
{
    return __builtin_bswap64(value);
}

inline uint32_t byteSwapped(uint32_t value)
{
    return __builtin_bswap32(value);
}

// The sizeof(Word) bytes from `bytes` on, the first in the highest bits.
template <class Word>
inline Word loadBigEndian(const uint8_t* bytes)
{
    Word value;
    std::memcpy(&value, bytes, sizeof value);
    return byteSwapped(value);
}
#else
template <class Word>
inline Word loadBigEndian(const uint8_t* bytes)
{
    Word value = 0;
    for (size_t i = 0; i < sizeof value; ++i)
        value = Word(value << 8 | bytes[i]);
    return value;
}
#endif

// One field's run-length data as a sequence of nibbles. Nibble k is counted
// from the field's first byte; a code may begin only below `limit`, and
// nibbles at or past the end of the data read as 0.
//
// A code that begins below its field's limit is read whole, and the first
// field's may go on into the second field's bytes. Where it would go past the
// end of all the data, the missing nibbles count as 0. The colour lies in a
// code's last nibble, so such a code paints colour 0, and the field is
// exhausted after it: the pixels are those of a field that ended before the
// code, which is the other reading the format permits.
// The length in nibbles of the code at the top of a window of four nibbles.
// Counted rather than branched on: where codes of different lengths mix,
// which comes next is not predictable.
inline int codeLength(uint32_t window)
{
    return 1 + (window < 0x4000) + (window < 0x1000) + (window < 0x400);
}

// Whether a window of four nibbles holds four one-nibble codes: a nibble of
// 4 or more has one of its top two bits set.
inline bool fourShortCodes(uint32_t window)
{
    return ((window | window >> 1) & 0x4444) == 0x4444;
}

//
// The buffer is a Word: 64 bits, or on a 32-bit processor, where a 64-bit
// shift takes several instructions, 32.
template <class Word>
class BasicNibbleReader {
public:
    // The nibbles the buffer holds when full.
    static constexpr int Capacity = int(2 * sizeof(Word));

    BasicNibbleReader(const uint8_t* data, int64_t bytes, int64_t limit)
        : data(data), bytes(bytes), loadEnd(bytes - int64_t(sizeof(Word))), limit(limit)
    {
    }

    bool exhausted() const { return nearLimit && nibble() >= limit; }

    // The next code's value. Only the end-of-row code (three zero nibbles,
    // then the colour) has a value below 4.
    uint32_t readCode()
    {
        if (held < 4)
            refill();
        const uint32_t window = this->window();
        const int length = codeLength(window);
        consume(length);
        return window >> (16 - 4 * length);
    }

    // The next four nibbles, the first in bits 15 to 12.
    uint32_t window() const { return uint32_t(buffer >> (8 * sizeof(Word) - 16)); }

    void skip(int count) { consume(count); }

    // The reader as a loop far from the field's limit and the data's end
    // takes it, in few enough values for registers: the buffer, its count
    // and the next byte. topUp() tops the buffer up to at least Capacity - 1
    // nibbles with no branch on how many it held, and answers whether it
    // could: then the caller may take up to Capacity - 1 nibbles through
    // window() and skip(), all of them below the limit, with no check of its
    // own. It answers false, and loads nothing, where the next whole Word
    // would reach the end of the data or take nibbles at or past the limit;
    // there the reader's careful readCode() goes on, after resume().
    class Cursor {
    public:
        Cursor(Word buffer, int held, const uint8_t* at, uintptr_t loadsBelow)
            : buffer(buffer), bits(4 * held), at(at), loadsBelow(loadsBelow)
        {
        }

        bool topUp()
        {
            if (reinterpret_cast<uintptr_t>(at) >= loadsBelow || bits >= 8 * int(sizeof(Word)))
                return false;
            buffer |= loadBigEndian<Word>(at) >> bits;
            const int whole = (8 * int(sizeof(Word)) - bits) >> 3;
            at += whole;
            bits += 8 * whole;
            return true;
        }

        uint32_t window() const { return uint32_t(buffer >> (8 * sizeof(Word) - 16)); }

        // Takes `count` bits, four a nibble.
        void skipBits(int count)
        {
            buffer <<= count & (8 * sizeof(Word) - 1);
            bits -= count;
        }

        void skip(int count) { skipBits(4 * count); }

        // Whether the buffer holds `count` more bits, all below the limit.
        bool hasBits(int count) const { return bits >= count; }

    private:
        friend class BasicNibbleReader;
        Word buffer;
        int bits; // loaded: four a nibble
        const uint8_t* at;
        uintptr_t loadsBelow; // whole Words may be loaded from below this address; 0 for none
    };

    Cursor cursor() const
    {
        // A load from byte k reaches byte k + sizeof(Word) - 1, and may take
        // nibbles up to 2 * (k + sizeof(Word)) - 1, all below the limit.
        int64_t last = loadEnd;
        const int64_t belowLimit = limit / 2 - int64_t(sizeof(Word));
        if (belowLimit < last)
            last = belowLimit;
        // Past the end of the data (where its nibbles read as 0) the cursor
        // loads nothing, and its byte is not even formed.
        if (last < next)
            return Cursor(buffer, held, data, 0);
        return Cursor(buffer, held, data + next, reinterpret_cast<uintptr_t>(data + last) + 1);
    }

    // Goes on from where the cursor got to. A cursor that may load nothing
    // has taken nothing.
    void resume(const Cursor& cursor)
    {
        if (cursor.loadsBelow == 0)
            return;
        buffer = cursor.buffer;
        held = cursor.bits / 4;
        next = cursor.at - data;
        nearLimit = 2 * next >= limit;
    }

    // Rows begin on a byte boundary: the low nibble after a row's last code is skipped.
    void alignToByte()
    {
        if (nibble() & 1) {
            if (held < 1)
                refill();
            consume(1);
        }
    }

private:
    // The next nibble to be consumed.
    int64_t nibble() const { return 2 * next - held; }

    void consume(int count)
    {
        buffer <<= 4 * count;
        held -= count;
    }

    // Tops the buffer up to at least Capacity - 1 nibbles. The whole load
    // may put half of a byte it does not count into the buffer's last
    // nibble; that is the nibble the next fill puts there again, so it does
    // no harm.
    void refill()
    {
        if (next <= loadEnd) {
            buffer |= loadBigEndian<Word>(data + next) >> (4 * held);
            const int whole = (Capacity - held) >> 1;
            next += whole;
            held += 2 * whole;
        } else {
            while (held <= Capacity - 2) {
                const Word byte = next < bytes ? data[next] : 0;
                buffer |= Word(byte << (8 * sizeof(Word) - 8 - 4 * held));
                ++next;
                held += 2;
            }
        }
        nearLimit = 2 * next >= limit;
    }

    const uint8_t* data;
    int64_t bytes;           // readable from `data`: to the end of all the data
    int64_t loadEnd;         // the last byte a whole Word may be loaded from
    int64_t limit;           // in nibbles
    int64_t next = 0;        // the next byte to enter the buffer
    Word buffer = 0;         // the nibbles from nibble() on, the next one highest
    int held = 0;            // how many nibbles of `buffer` are loaded
    bool nearLimit = true;   // false: every nibble up to the buffer's end lies below the limit
};

using NibbleReader = BasicNibbleReader<uint64_t>;

// The readers of a packet's two fields over the `length` bytes at `data`
// (a negative length counts as none), the second field from byte `offset`.
template <class Word>
struct BasicFieldReaders {
    using Reader = BasicNibbleReader<Word>;

    BasicFieldReaders(const uint8_t* data, int64_t length, int64_t offset)
        : first(data, length < 0 ? 0 : length, 2 * (offset < length ? offset : (length < 0 ? 0 : length))),
          // With the offset at or past the end the second field is empty; its
          // pointer is not even formed, since it would lie outside the data.
          second(offset < length ? Reader(data + offset, length - offset, 2 * (length - offset))
                                 : Reader(nullptr, 0, 0))
    {
    }

    Reader first;
    Reader second;
};

using FieldReaders = BasicFieldReaders<uint64_t>;

// The next run of a row with `rest` pixels left: its length, cut at the
// row's end, and its colour. An exhausted field gives the rest of the row
// in colour 0.
template <class Word>
inline int64_t readRun(BasicNibbleReader<Word>& reader, int64_t rest, unsigned& colour)
{
    colour = 0;
    if (reader.exhausted())
        return rest;
    const uint32_t value = reader.readCode();
    colour = value & 3;
    if (value < 4)
        return rest;
    // A run longer than the row is cut; its remainder does not carry over.
    const int64_t run = value >> 2;
    return run < rest ? run : rest;
}

} // namespace
} // namespace Qor

#endif
