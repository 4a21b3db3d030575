// A component connected the way a host connects it, with host stand-ins
// around it writing one log: through the native boundary's classes
// (ComponentSession), or through the core's seam alone (CoreSession). Both
// give the host's part of a session the same way.
#ifndef KELVO_TESTS_SUPPORT_SESSIONS_H
#define KELVO_TESTS_SUPPORT_SESSIONS_H

#include "framework/ComponentInterface.h"
#include "framework/GetPlugin.h"
#include "host/Host.h"
#include "subdecode/KelvoCore.h"
#include "tests/support/HostStandIns.h"
#include "tests/support/Identifiers.h"
#include "tests/support/SeamCalls.h"

#include <cstdint>
#include <vector>

namespace Qor::Testing {

// The stand-ins and the host's calls of a session; each kind of session
// says how a message reaches the component's two ports.
class Session {
public:
    virtual ~Session() = default;

    // Notify on the port that sends frames, deliver on the port that receives packets.
    virtual bool notifyFrames(uint32_t code, Variant* value) = 0;
    virtual bool deliverPackets(uint32_t code, Variant* value) = 0;

    bool setAllocator()
    {
        Variant v = objectVariant(&allocator);
        return notifyFrames(EVT_SET_ALLOCATOR, &v);
    }

    bool setSink(PortInterface* port)
    {
        Variant v = objectVariant(port);
        return notifyFrames(EVT_SET_SINK, &v);
    }

    bool stop() { return notifyFrames(EVT_STOP, nullptr); }

    // Allocator and sink handed over, as a host does before streaming.
    Session& ready()
    {
        setAllocator();
        setSink(&sink);
        return *this;
    }

    bool streamInfo(int32_t width, int32_t height)
    {
        StreamInfo info{0, width, height};
        Variant v = objectVariant(&info);
        return deliverPackets(MSG_STREAM_INFO, &v);
    }

    StandInBuffer* packet(const std::vector<uint8_t>& bytes, uint32_t timing0 = 0, uint32_t timing1 = 0)
    {
        StandInBuffer* buffer = pool.make("packet", bytes);
        buffer->timing[0] = timing0;
        buffer->timing[1] = timing1;
        return buffer;
    }

    bool deliver(MediaBuffer* buffer)
    {
        Variant v = objectVariant(buffer);
        return deliverPackets(MSG_SAMPLE, &v);
    }

    CallLog log;
    StandInHost host{Witness{&log}};
    BufferPool pool{Witness{&log}};
    StandInAllocator allocator{pool};
    StandInSink sink{Witness{&log}};
};

// Through the native boundary: getPlugin, lookups and the ports' vtables.
class ComponentSession : public Session {
public:
    // Opens the ports whose codes are given; nothing is handed over yet.
    ComponentSession(const char* packetCode, const char* frameCode)
    {
        getPlugin(&host, &plugin);
        void* found = nullptr;
        plugin->queryInterface(Identifiers::interfaceTransform, &found);
        transform = static_cast<TransformInterface*>(found);
        plugin->queryInterface(Identifiers::interfaceComponent, &found);
        component = static_cast<ComponentInterface*>(found);
        packetSide = transform;
        frameSide = transform;
        if (packetCode)
            in = packetSide->openPort(PortFormat{1, packetCode, 0});
        if (frameCode)
            out = frameSide->openPort(PortFormat{1, frameCode, 0});
    }

    ~ComponentSession() override
    {
        if (plugin)
            plugin->dropReference();
        sink.releaseTaken();
    }

    bool notifyFrames(uint32_t code, Variant* value) override { return out->notify(code, value); }
    bool deliverPackets(uint32_t code, Variant* value) override { return in->deliver(code, value); }

    // Drops the host's reference to the component; the log then holds its last calls.
    void release()
    {
        plugin->dropReference();
        plugin = nullptr;
    }

    Plugin* plugin = nullptr;
    ComponentInterface* component = nullptr;
    TransformInterface* transform = nullptr;
    OutputInterface* packetSide = nullptr; // opens the port that receives packets
    InputInterface* frameSide = nullptr;   // opens the port that sends frames
    PortInterface* in = nullptr;
    PortInterface* out = nullptr;
};

// Through the seam alone: kelvoCore* calls with SeamCalls.
class CoreSession : public Session {
public:
    // Opens the sides whose codes are given; nothing is handed over yet.
    CoreSession(const char* packetCode, const char* frameCode)
    {
        kelvoCoreGetPlugin(&SeamCalls::table, &host, &component);
        core = static_cast<SeamComponent*>(component)->core;
        if (packetCode)
            open(KELVO_PACKET_SIDE, packetCode);
        if (frameCode)
            open(KELVO_FRAME_SIDE, frameCode);
        log.clear();
    }

    ~CoreSession() override
    {
        if (component)
            release();
        sink.releaseTaken();
    }

    // Opens `side` with `code` (kind 1): the core's answer; the port is kept.
    int32_t open(int32_t side, const char* code, int32_t kind = 1)
    {
        KelvoPort made = nullptr;
        const int32_t answer = kelvoCoreOpenPort(core, side, kind, code, &made);
        if (made)
            port[side] = made;
        return answer;
    }

    int32_t close(int32_t side)
    {
        const int32_t answer = kelvoCoreClosePort(core, side, port[side]);
        if (answer == KELVO_ACCEPTED)
            port[side] = nullptr;
        return answer;
    }

    bool query(int32_t side, uint32_t code) { return kelvoCoreQuery(core, side, code) != 0; }
    bool notify(int32_t side, uint32_t code, Variant* value) { return kelvoCoreNotify(core, side, code, value) != 0; }
    bool request(int32_t side, uint32_t code) { return kelvoCoreRequest(core, side, code) != 0; }
    bool deliverTo(int32_t side, uint32_t code, Variant* value)
    {
        return kelvoCoreDeliver(core, side, code, value) != 0;
    }

    bool notifyFrames(uint32_t code, Variant* value) override { return notify(KELVO_FRAME_SIDE, code, value); }
    bool deliverPackets(uint32_t code, Variant* value) override
    {
        return deliverTo(KELVO_PACKET_SIDE, code, value);
    }

    // The release of the last reference; the log then holds the core's last calls.
    void release()
    {
        kelvoCoreRelease(&SeamCalls::table, &host, component);
        component = nullptr;
        core = nullptr;
    }

    // Declared first, so that it is current before the component is made and after it is gone.
    SeamCalls calls{&log};
    KelvoComponent component = nullptr;
    KelvoCore* core = nullptr;
    KelvoPort port[2] = {nullptr, nullptr};
};

} // namespace Qor::Testing

#endif
