// A component connected the way a host connects it, with recording host
// objects around it, for the tests of the port protocol and frame production.
#ifndef KELVO_TESTS_SUPPORT_COMPONENTSESSION_H
#define KELVO_TESTS_SUPPORT_COMPONENTSESSION_H

#include "boundary/native/Identifiers.h"
#include "boundary/native/KelvoSubDecode.h"
#include "framework/GetPlugin.h"
#include "tests/support/RecordingHost.h"

#include <string>
#include <vector>

namespace Qor::Testing {

class ComponentSession {
public:
    // Opens both ports with the given codes; nothing is handed over yet.
    ComponentSession(const char* inputCode, const char* outputCode)
    {
        getPlugin(&host, &plugin);
        void* found = nullptr;
        plugin->queryInterface(Identifiers::interfaceTransform, &found);
        transform = static_cast<TransformInterface*>(found);
        plugin->queryInterface(Identifiers::interfaceComponent, &found);
        component = static_cast<ComponentInterface*>(found);
        if (inputCode)
            in = static_cast<OutputInterface*>(transform)->openPort(PortFormat{1, inputCode, 0});
        if (outputCode)
            out = static_cast<InputInterface*>(transform)->openPort(PortFormat{1, outputCode, 0});
    }

    ~ComponentSession()
    {
        if (plugin)
            plugin->dropReference();
        sink.releaseTaken();
    }

    bool setAllocator()
    {
        Variant v = objectVariant(&allocator);
        return out->notify(EVT_SET_ALLOCATOR, &v);
    }

    bool setSink(PortInterface* port)
    {
        Variant v = objectVariant(port);
        return out->notify(EVT_SET_SINK, &v);
    }

    // Allocator and sink handed over, as a host does before streaming.
    ComponentSession& ready()
    {
        setAllocator();
        setSink(&sink);
        return *this;
    }

    bool streamInfo(int32_t width, int32_t height)
    {
        StreamInfo info{0, width, height};
        Variant v = objectVariant(&info);
        return in->deliver(MSG_STREAM_INFO, &v);
    }

    RecordingBuffer* packet(const std::vector<uint8_t>& bytes, uint32_t timing0 = 0, uint32_t timing1 = 0)
    {
        RecordingBuffer* buffer = pool.make("packet", bytes);
        buffer->timing[0] = timing0;
        buffer->timing[1] = timing1;
        return buffer;
    }

    bool deliver(RecordingBuffer* buffer)
    {
        Variant v = objectVariant(buffer);
        return in->deliver(MSG_SAMPLE, &v);
    }

    // Drops the host's reference to the component; the log then holds its last calls.
    void release()
    {
        plugin->dropReference();
        plugin = nullptr;
    }

    CallLog log;
    RecordingHost host{&log};
    BufferPool pool{&log};
    RecordingAllocator allocator{&pool, &log};
    RecordingSink sink{&log};
    Plugin* plugin = nullptr;
    ComponentInterface* component = nullptr;
    TransformInterface* transform = nullptr;
    PortInterface* in = nullptr;
    PortInterface* out = nullptr;
};

} // namespace Qor::Testing

#endif
