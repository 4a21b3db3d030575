// One reference on a host buffer, owned: dropped when the holder goes or is
// given another, handed over by release() when the reference passes on (a
// frame the downstream took). With it every refusal path of the core is one
// return, and no path can drop a reference twice or not at all.
#ifndef KELVO_SUBDECODE_OWNEDBUFFER_H
#define KELVO_SUBDECODE_OWNEDBUFFER_H

#include "subdecode/KelvoCore.h"

namespace Qor {

class OwnedBuffer {
public:
    OwnedBuffer() noexcept = default;
    // Takes over the reference on `buffer` (null: holds nothing).
    OwnedBuffer(const KelvoCalls& calls, KelvoBuffer buffer) noexcept : calls(&calls), buffer(buffer) {}
    OwnedBuffer(OwnedBuffer&& other) noexcept : calls(other.calls), buffer(other.release()) {}
    // Drops what this holds first, then takes over `other`'s reference.
    OwnedBuffer& operator=(OwnedBuffer&& other) noexcept
    {
        if (this != &other) {
            reset();
            calls = other.calls;
            buffer = other.release();
        }
        return *this;
    }
    OwnedBuffer(const OwnedBuffer&) = delete;
    OwnedBuffer& operator=(const OwnedBuffer&) = delete;
    ~OwnedBuffer() { reset(); }

    // Drops the reference, if any; the holder is then empty.
    void reset() noexcept
    {
        if (KelvoBuffer held = release())
            calls->dropReference(held);
    }

    // Gives up the reference without dropping it; the caller owns it now.
    KelvoBuffer release() noexcept
    {
        KelvoBuffer held = buffer;
        buffer = nullptr;
        return held;
    }

    KelvoBuffer get() const noexcept { return buffer; }
    explicit operator bool() const noexcept { return buffer != nullptr; }

private:
    const KelvoCalls* calls = nullptr;
    KelvoBuffer buffer = nullptr;
};

} // namespace Qor

#endif
