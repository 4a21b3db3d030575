// Host objects for the benchmark: a component connected as a host connects
// it, with an allocator that hands out the same frame again and again and a
// downstream port that takes every frame and lets it go at once, so that a
// measured delivery costs the component's work and nothing of the host's.
#ifndef KELVO_BENCH_BENCHHOST_H
#define KELVO_BENCH_BENCHHOST_H

#include "framework/ComponentInterface.h"
#include "framework/Plugin.h"
#include "host/Host.h"
#include "tests/support/HostStandIns.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Qor::Bench {

using Testing::StandInHost;
using Testing::StandInBuffer;
using Testing::TakingSink;

// Rows start on 64-byte boundaries, as hosts commonly lay frames out: the
// stride is the width rounded up to 16 pixels.
class ReusingAllocator : public Testing::ReusingAllocator {
public:
    ReusingAllocator() { alignment = 16; }
    static int32_t strideFor(int32_t width) { return (width + 15) & ~15; }
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
    bool deliver(StandInBuffer& packet);

    StandInHost host;
    ReusingAllocator allocator;
    TakingSink sink;
    Plugin* plugin = nullptr;
    PortInterface* in = nullptr;
    PortInterface* out = nullptr;
};

} // namespace Qor::Bench

#endif
