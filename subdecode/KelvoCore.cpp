// The component's state and port rules behind the C seam. Both sides, the
// held packet, the sink, the allocator and the sticky display size live
// here; the boundary keeps the host-facing objects (ports, properties) and
// forwards. Nothing thrown crosses the seam: an allocation failure becomes
// KELVO_OUT_OF_MEMORY.
#include "subdecode/KelvoCore.h"

#include "subdecode/Formats.h"
#include "subdecode/FrameProduction.h"
#include "subdecode/OwnedBuffer.h"

#include <new>

namespace {

using namespace Qor;

char upper(char c)
{
    return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

uint32_t packed(const char* code)
{
    if (!code)
        return 0;
    return uint32_t(uint8_t(upper(code[0]))) | uint32_t(uint8_t(upper(code[1]))) << 8
        | uint32_t(uint8_t(upper(code[2]))) << 16 | uint32_t(uint8_t(upper(code[3]))) << 24;
}

bool validSide(int32_t side)
{
    return side == KELVO_PACKET_SIDE || side == KELVO_FRAME_SIDE;
}

} // namespace

struct KelvoCore {
    explicit KelvoCore(const KelvoHostCalls& calls) : calls(calls) {}

    const KelvoHostCalls& calls;
    // The caller's code text of each side, kept by pointer; null while closed.
    const char* code[2] = {nullptr, nullptr};
    // The frame side's byte order, looked up once when it opened.
    const OutputOrder* order = nullptr;
    // How packets are read, decided when the sink is set.
    const InputFormat* packetFormat = &opaquePackets;
    KelvoSink sink = nullptr;
    KelvoAllocator allocator = nullptr;
    bool configured = false;
    Canvas display{0, 0};
    OwnedBuffer held;
};

KelvoCore* kelvoCoreCreate(const KelvoHostCalls* calls)
{
    if (!calls)
        return nullptr;
    return new (std::nothrow) KelvoCore(*calls);
}

void kelvoCoreDestroy(KelvoCore* core)
{
    delete core;
}

void kelvoCoreReleaseSample(KelvoCore* core)
{
    core->held.reset();
}

int32_t kelvoCoreOpenPort(KelvoCore* core, int32_t side, int32_t kind, const char* fourcc)
{
    if (!validSide(side) || core->code[side] || kind != 1)
        return KELVO_REFUSED;
    if (side == KELVO_PACKET_SIDE) {
        if (!findInputFormat(fourcc))
            return KELVO_REFUSED;
    } else {
        const OutputOrder* order = findOutputOrder(fourcc);
        if (!order)
            return KELVO_REFUSED;
        core->order = order;
    }
    core->code[side] = fourcc;
    return KELVO_ACCEPTED;
}

int32_t kelvoCoreClosePort(KelvoCore* core, int32_t side)
{
    if (!validSide(side) || !core->code[side])
        return KELVO_REFUSED;
    core->code[side] = nullptr;
    if (side == KELVO_FRAME_SIDE)
        core->order = nullptr;
    return KELVO_ACCEPTED;
}

const char* kelvoCoreFormatText(const KelvoCore* core, int32_t side)
{
    return validSide(side) ? core->code[side] : nullptr;
}

uint32_t kelvoCorePackedFormat(const KelvoCore* core, int32_t side)
{
    return packed(kelvoCoreFormatText(core, side));
}

int32_t kelvoCoreReady(const KelvoCore* core)
{
    return core->configured ? 1 : 0;
}

void kelvoCoreSetSink(KelvoCore* core, KelvoSink sink)
{
    core->sink = sink;
    // Decided from the packet side's code as it reads now; with the side
    // closed, packets are read without alpha.
    const InputFormat* format = findInputFormat(core->code[KELVO_PACKET_SIDE]);
    core->packetFormat = format ? format : &opaquePackets;
    core->configured = true;
}

void kelvoCoreSetAllocator(KelvoCore* core, KelvoAllocator allocator)
{
    core->allocator = allocator;
}

void kelvoCoreStop(KelvoCore* core)
{
    core->held.reset();
    core->packetFormat = &opaquePackets;
    core->configured = false;
}

int32_t kelvoCoreStreamInfo(KelvoCore* core, int32_t hasSize, int32_t width, int32_t height, KelvoMessage message)
{
    if (hasSize)
        core->display = Canvas{width, height};
    // Forwarded as it came: the very message, unchanged.
    return core->sink ? core->calls.forwardStreamInfo(core->sink, message) : 0;
}

int32_t kelvoCoreSample(KelvoCore* core, KelvoBuffer packet)
{
    if (!core->configured)
        return KELVO_REFUSED;
    // From here on the sample's reference is ours, whatever the answer; the
    // one held before goes first.
    core->held = OwnedBuffer(core->calls, packet);
    if (!packet)
        return KELVO_REFUSED;
    const void* payload = core->calls.lock(packet);
    core->calls.unlock(packet);
    if (!payload)
        return KELVO_ACCEPTED;
    const FrameJob job{packet, core->packetFormat, core->order, core->allocator, core->sink};
    int32_t answer;
    try {
        answer = produceFrame(core->calls, job, core->display);
    } catch (const std::bad_alloc&) {
        // Raised by a host call; the frame, if any, has been given back.
        return KELVO_OUT_OF_MEMORY;
    }
    if (answer == KELVO_ACCEPTED)
        core->held.reset();
    return answer;
}
