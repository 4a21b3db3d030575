// The decoder component as a host sees it: the framework's classes, laid
// out by the compiler of each boundary for its C++ ABI, over the core
// (subdecode/KelvoCore.h), which decides everything they answer. Written
// once against framework/ and host/, and compiled by every boundary: with
// the platform's own compiler (boundary/native/) and by clang for
// Microsoft's ABI (boundary/msvc/). What differs between the two is in
// Translation.h.
#ifndef KELVO_BOUNDARY_COMMON_KELVOSUBDECODE_H
#define KELVO_BOUNDARY_COMMON_KELVOSUBDECODE_H

#include "framework/ComponentInterface.h"
#include "framework/Plugin.h"
#include "subdecode/KelvoCore.h"

#include <stdint.h>

namespace Qor {

// Plugin first, so that the component and its Plugin share one address.
class KelvoSubDecode final : public Plugin, public TransformComponent {
public:
    class Input;
    class Output;

    // The object alone; kelvoCoreCreate gives it its core (makeComponent).
    explicit KelvoSubDecode(Host* host) : Plugin(host), core(nullptr) {}
    // The component's destruction (kelvoCoreDestroy).
    ~KelvoSubDecode() override;

    KelvoSubDecode(const KelvoSubDecode&) = delete;
    KelvoSubDecode& operator=(const KelvoSubDecode&) = delete;

    int32_t queryInterface(const String& identifier, void** result) override;
    bool getPropertyNames(NameVector& names) override;
    bool getProperty(const char* key, Variant* destination) override;

    KelvoCore* core;

protected:
    // Through InputInterface: the port that sends frames.
    PortInterface* open(FramePort, PortFormat format) override;
    bool close(FramePort, PortInterface* port) override;
    // Through OutputInterface: the port that receives packets.
    PortInterface* open(PacketPort, PortFormat format) override;
    bool close(PacketPort, PortInterface* port) override;

private:
    PortInterface* openSide(int32_t side, PortFormat format);
    bool closeSide(int32_t side, PortInterface* port);
};

// The port of one side: every operation is the core's for that side.
template <int32_t Side>
class SidePort : public PortInterface {
public:
    explicit SidePort(KelvoSubDecode* owner) : owner(owner) {}

    bool query(uint32_t code, uint32_t) override { return kelvoCoreQuery(owner->core, Side, code) != 0; }
    bool notify(uint32_t code, Variant* value) override { return kelvoCoreNotify(owner->core, Side, code, value) != 0; }
    bool request(uint32_t code, uint32_t) override { return kelvoCoreRequest(owner->core, Side, code) != 0; }
    bool deliver(uint32_t code, Variant* value) override { return kelvoCoreDeliver(owner->core, Side, code, value) != 0; }

private:
    KelvoSubDecode* owner;
};

// The port that receives packets from upstream.
class KelvoSubDecode::Input final : public SidePort<KELVO_PACKET_SIDE> {
public:
    explicit Input(KelvoSubDecode* owner) : SidePort(owner) {}
};

// The port that sends frames downstream; it is told the sink, the allocator and stops.
class KelvoSubDecode::Output final : public SidePort<KELVO_FRAME_SIDE> {
public:
    explicit Output(KelvoSubDecode* owner) : SidePort(owner) {}
};

} // namespace Qor

#endif
