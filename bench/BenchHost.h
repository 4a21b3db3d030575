// Host objects for the benchmark: a component connected as a host connects
// it, with an allocator that hands out the same frame again and again and a
// downstream port that takes every frame and lets it go at once, so that a
// measured delivery costs the component's work and nothing of the host's.
#ifndef KELVO_BENCH_BENCHHOST_H
#define KELVO_BENCH_BENCHHOST_H

#include "framework/ComponentInterface.h"
#include "framework/Plugin.h"
#include "host/Host.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Qor::Bench {

class IdleHost : public Host {
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

// A buffer that outlives every reference to it, ready to be handed out again.
class ReusedBuffer : public MediaBuffer {
public:
    int32_t addReference() override { return ++references; }
    int32_t dropReference() override { return --references; }
    void* lock() override { return payload.data(); }
    void unlock() override {}

    std::vector<uint8_t> payload;
    int32_t references = 1;
};

// Rows start on 64-byte boundaries, as hosts commonly lay frames out: the
// stride is the width rounded up to 16 pixels.
class ReusingAllocator : public BufferAllocator {
public:
    int32_t reserved1() override { return 0; }
    void configure(int32_t) override {}
    MediaBuffer* allocate(int32_t width, int32_t height, int32_t) override
    {
        frame.stride = strideFor(width);
        const size_t bytes = size_t(frame.stride) * size_t(height) * 4;
        if (frame.payload.size() < bytes)
            frame.payload.resize(bytes, 0);
        frame.references = 1;
        return &frame;
    }
    static int32_t strideFor(int32_t width) { return (width + 15) & ~15; }

    ReusedBuffer frame;
};

class TakingSink : public PortInterface {
public:
    bool query(uint32_t, uint32_t) override { return true; }
    bool notify(uint32_t, Variant*) override { return true; }
    bool request(uint32_t, uint32_t) override { return false; }
    bool deliver(uint32_t code, Variant* value) override
    {
        if (code == MSG_SAMPLE)
            static_cast<MediaBuffer*>(value->value.asObject)->dropReference();
        return true;
    }
};

// One component from getPlugin, both ports open, allocator and sink handed over.
class ConnectedComponent {
public:
    ConnectedComponent(const char* inputCode, const char* outputCode);
    ~ConnectedComponent();
    ConnectedComponent(const ConnectedComponent&) = delete;
    ConnectedComponent& operator=(const ConnectedComponent&) = delete;

    // Hands `packet` to the input port with a new reference, as an upstream
    // does; answers the port's answer.
    bool deliver(ReusedBuffer& packet);

    IdleHost host;
    ReusingAllocator allocator;
    TakingSink sink;
    Plugin* plugin = nullptr;
    PortInterface* in = nullptr;
    PortInterface* out = nullptr;
};

} // namespace Qor::Bench

#endif
