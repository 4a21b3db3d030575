#include "bench/BenchHost.h"

#include "framework/GetPlugin.h"
#include "tests/support/Identifiers.h"

namespace Qor::Bench {

ConnectedComponent::ConnectedComponent(const char* inputCode, const char* outputCode)
{
    getPlugin(&host, &plugin);
    void* found = nullptr;
    plugin->queryInterface(Identifiers::interfaceTransform, &found);
    auto* transform = static_cast<TransformInterface*>(found);
    in = static_cast<OutputInterface*>(transform)->openPort(PortFormat{1, inputCode, 0});
    out = static_cast<InputInterface*>(transform)->openPort(PortFormat{1, outputCode, 0});
    Variant v = objectVariant(&allocator);
    out->notify(EVT_SET_ALLOCATOR, &v);
    v = objectVariant(&sink);
    out->notify(EVT_SET_SINK, &v);
}

ConnectedComponent::~ConnectedComponent()
{
    plugin->dropReference();
}

bool ConnectedComponent::deliver(StandInBuffer& packet)
{
    packet.addReference();
    Variant v = objectVariant(&packet);
    return in->deliver(MSG_SAMPLE, &v);
}

} // namespace Qor::Bench
