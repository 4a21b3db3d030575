// The host objects of the reference host: what a media pipeline hands a
// plug-in. Buffers count their references and free themselves at the last
// release; the allocator gives frames a chosen row padding; the host checks
// that a plug-in tells it twice, in order, when it is destroyed; the frame
// sink takes every frame and keeps a packed copy of its pixels.
//
// Each object writes what the plug-in did against the contract into a fault
// list rather than stopping, so that a session can report it as one line.
#ifndef KELVO_TOOLS_REFERENCEHOST_H
#define KELVO_TOOLS_REFERENCEHOST_H

#include "framework/PortInterface.h"
#include "host/Host.h"

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace Qor::Tools {

using FaultList = std::vector<std::string>;

// How many host buffers exist; a session checks it is zero at the end.
struct BufferLedger {
    int64_t live = 0;
    int64_t made = 0;
};

// A reference-counted buffer on the heap. The last dropReference frees the
// payload and the object. Made only by new; never destroyed otherwise.
class HostBuffer final : public MediaBuffer {
public:
    // One reference, held by the caller; `ledger` must outlive the buffer.
    HostBuffer(std::vector<uint8_t> payload, BufferLedger* ledger);
    HostBuffer(const HostBuffer&) = delete;
    HostBuffer& operator=(const HostBuffer&) = delete;

    int32_t addReference() override;
    int32_t dropReference() override;
    // The payload, or null when it has no bytes.
    void* lock() override;
    void unlock() override;

    int32_t references() const { return count; }
    size_t payloadSize() const { return payload.size(); }

    int32_t pixelWidth = 0; // as the allocator was asked; 0 for a packet
    int32_t pixelHeight = 0;

private:
    ~HostBuffer() override;

    std::vector<uint8_t> payload;
    BufferLedger* ledger;
    int32_t count = 1;
};

// Frames of width x height pixels whose rows are `padding` pixels longer
// than their width, so that a plug-in that ignores the stride shows it.
class HostAllocator final : public BufferAllocator {
public:
    HostAllocator(BufferLedger* ledger, FaultList* faults, int32_t padding);

    void configure(int32_t bitsPerPixel) override;
    // Null, with a fault, for a negative size or a count other than 1.
    MediaBuffer* allocate(int32_t width, int32_t height, int32_t count) override;

    int32_t allocations = 0;

private:
    BufferLedger* ledger;
    FaultList* faults;
    int32_t padding;
    int32_t configuredBits = 0; // 0: not configured since the last allocation
};

// Counts the plug-in's destruction notices.
class ReferenceHost final : public Host {
public:
    int32_t willDestroyPlugin(Plugin* plugin) override;
    int32_t didDestroyPlugin(Plugin* plugin) override;

    // "" when `plugin`, and it alone, was announced once before and once
    // after its destruction; otherwise what went wrong.
    std::string checkDestroyed(const Plugin* plugin) const;

private:
    std::vector<std::pair<char, const Plugin*>> notices; // 'w' or 'd'
};

// A frame as the sink copied it: rows packed, top line first, in the byte
// order the output port was opened with.
struct Frame {
    int32_t width = 0;
    int32_t height = 0;
    std::array<uint32_t, 2> timing{};
    double left = 0;
    double top = 0;
    double right = 0;
    double bottom = 0;
    std::vector<uint8_t> pixels; // width x height x 4 bytes
};

// The downstream port: takes every frame (answers true), copies it into
// `frames` and releases it; answers true to stream information.
class FrameSink final : public PortInterface {
public:
    explicit FrameSink(FaultList* faults) : faults(faults) {}

    bool query(uint32_t, uint32_t) override { return true; }
    bool notify(uint32_t, Variant*) override { return true; }
    bool request(uint32_t, uint32_t) override { return false; }
    bool deliver(uint32_t code, Variant* value) override;

    std::vector<Frame> frames;
    int32_t streamInfos = 0;

private:
    FaultList* faults;
};

} // namespace Qor::Tools

#endif
