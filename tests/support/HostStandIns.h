// Host objects that do only what a test or the benchmark needs of them: a
// Host whose reserved slots are placeholders, and a quiet allocator and
// downstream port that hand out one reusable frame and take every frame.
// Header-only, so that the fuzz build and the benchmark can use them too.
#ifndef KELVO_TESTS_SUPPORT_HOSTSTANDINS_H
#define KELVO_TESTS_SUPPORT_HOSTSTANDINS_H

#include "framework/Plugin.h"
#include "framework/PortInterface.h"
#include "host/Host.h"

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace Qor::Testing {

// A Host whose seven reserved slots answer 0 and which ignores being told of
// a destruction; stand-ins that watch destruction override the last two.
class PlaceholderHost : public Host {
public:
    int32_t reserved1() override { return 0; }
    int32_t reserved2() override { return 0; }
    int32_t reserved3() override { return 0; }
    int32_t reserved4() override { return 0; }
    int32_t reserved5() override { return 0; }
    int32_t reserved6() override { return 0; }
    int32_t reserved7() override { return 0; }
    int32_t willDestroyPlugin(Plugin*) override { return 0; }
    int32_t didDestroyPlugin(Plugin*) override { return 0; }
};

// A buffer that outlives every reference to it, ready to be handed out
// again. lock() answers null while the payload is empty.
class ReusedBuffer : public MediaBuffer {
public:
    ReusedBuffer() = default;
    explicit ReusedBuffer(std::vector<uint8_t> bytes) : payload(std::move(bytes))
    {
        size = int32_t(payload.size());
    }
    int32_t addReference() override { return ++references; }
    int32_t dropReference() override { return --references; }
    void* lock() override { return payload.empty() ? nullptr : payload.data(); }
    void unlock() override {}

    std::vector<uint8_t> payload;
    int32_t references = 1;
};

// Hands out the same frame again and again, with one reference each time,
// rows `padding` pixels wider than the frame and rounded up to a multiple of
// `alignment` pixels. The payload grows to fit while `grows` is set; without
// it (a payload sized before the run, so that allocate() itself allocates
// nothing), a frame that does not fit is refused.
class ReusingAllocator : public BufferAllocator {
public:
    int32_t reserved1() override { return 0; }
    void configure(int32_t) override {}
    MediaBuffer* allocate(int32_t width, int32_t height, int32_t) override
    {
        frame.stride = (width + padding + alignment - 1) / alignment * alignment;
        const size_t bytes = size_t(frame.stride) * size_t(height) * 4;
        if (frame.payload.size() < bytes) {
            if (!grows)
                return nullptr;
            frame.payload.resize(bytes, 0);
        }
        frame.references = 1;
        ++frames;
        return &frame;
    }

    ReusedBuffer frame;
    int32_t padding = 0;
    int32_t alignment = 1;
    bool grows = true;
    int32_t frames = 0;
};

// The downstream port: takes every frame and lets it go at once; answers
// every stream information with true.
class TakingSink : public PortInterface {
public:
    bool query(uint32_t, uint32_t) override { return true; }
    bool notify(uint32_t, Variant*) override { return true; }
    bool request(uint32_t, uint32_t) override { return false; }
    bool deliver(uint32_t code, Variant* value) override
    {
        if (code == MSG_SAMPLE) {
            static_cast<MediaBuffer*>(value->value.asObject)->dropReference();
            ++taken;
        }
        return true;
    }

    int32_t taken = 0;
};

} // namespace Qor::Testing

#endif
