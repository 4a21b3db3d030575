// The host pipeline's objects as the plug-in sees them. They belong to the
// host: the component calls them and never owns, creates or frees them.
#ifndef KELVO_HOST_HOST_H
#define KELVO_HOST_HOST_H

#include <stdint.h>

namespace Qor {

class Plugin;

// The virtual order of this class is part of the contract with hosts.
// The component calls only willDestroyPlugin and didDestroyPlugin; the
// reserved slots are the host's own, and answer 0 unless a host says
// otherwise.
class Host {
public:
    virtual ~Host() = default;
    virtual int32_t reserved1() { return 0; }
    virtual int32_t reserved2() { return 0; }
    virtual int32_t reserved3() { return 0; }
    virtual int32_t reserved4() { return 0; }
    virtual int32_t reserved5() { return 0; }
    virtual int32_t reserved6() { return 0; }
    virtual int32_t reserved7() { return 0; }
    // Told just before a plug-in object is destroyed.
    virtual int32_t willDestroyPlugin(Plugin* plugin) = 0;
    // Told just after; `plugin` then serves only as an identity.
    virtual int32_t didDestroyPlugin(Plugin* plugin) = 0;
};

// The virtual order and the field order of this class are part of the
// contract with hosts. One packet (input) or one overlay frame (output).
class MediaBuffer {
public:
    virtual ~MediaBuffer() = default;
    virtual int32_t addReference() = 0;
    virtual int32_t dropReference() = 0;
    // The payload, or null when there is none. It stays valid and unchanged
    // while the holder keeps its reference, unlock() notwithstanding.
    virtual void* lock() = 0;
    virtual void unlock() = 0;

    int32_t size = 0;          // payload bytes
    uint32_t timing[2] = {};   // copied unchanged from packet to frame
    double left = 0;           // destination rectangle, as fractions of the reference canvas
    double top = 0;
    double right = 0;
    double bottom = 0;
    int32_t stride = 0;        // distance of the payload's rows in four-byte pixels
};

// The virtual order of this class is part of the contract with hosts. The
// component never calls the reserved slot, which answers 0 unless a host
// says otherwise.
class BufferAllocator {
public:
    virtual ~BufferAllocator() = default;
    virtual int32_t reserved1() { return 0; }
    // Called with 32 before every allocation.
    virtual void configure(int32_t bitsPerPixel) = 0;
    // A new buffer whose one reference passes to the caller, or null.
    virtual MediaBuffer* allocate(int32_t width, int32_t height, int32_t count) = 0;
};

// The object carried by MSG_STREAM_INFO; the component reads width and height.
struct StreamInfo {
    int32_t reserved;
    int32_t width;
    int32_t height;
};

} // namespace Qor

#endif
