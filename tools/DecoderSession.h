// The reference host's session with the plug-in, as a media pipeline runs
// one: load the library with dlopen, call getPlugin, look up the component
// and transform interfaces, open the packet port and the frame port, hand
// over the allocator and the downstream port, forward the stream
// information, deliver packets and collect their frames, then stop, close
// both ports and release the component.
//
// Every refusal of the plug-in, and every breach of the contract that the
// host objects notice, comes back as one line of text; nothing is thrown
// except an allocation failure.
#ifndef KELVO_TOOLS_DECODERSESSION_H
#define KELVO_TOOLS_DECODERSESSION_H

#include "tools/ReferenceHost.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Qor {
class ComponentInterface;
class InputInterface;
class OutputInterface;
class Plugin;
} // namespace Qor

namespace Qor::Tools {

struct SessionOptions {
    std::string libraryPath;          // the plug-in library to load
    std::string inputFormat = "GPHB"; // the packet port's format
    std::string outputOrder = "RGBA"; // the frame port's byte order
    int32_t stridePadding = 0;        // pixels added to every frame row
};

// The plug-in library's file name.
extern const char* const PluginFileName;

// Where a tool looks for the plug-in when it is not told, in order: beside
// the running program, in the library folder of the installation the
// program belongs to, in the build tree when the program is the one built
// there, and in the library folder the tools install to.
std::vector<std::string> pluginSearchPath();

// The first entry of pluginSearchPath() that exists, or "" when none does.
std::string findPluginLibrary();

class DecoderSession {
public:
    DecoderSession();
    ~DecoderSession(); // closes, ignoring what close() would report
    DecoderSession(const DecoderSession&) = delete;
    DecoderSession& operator=(const DecoderSession&) = delete;

    // Loads the library and opens both ports; answers "" or why not, leaving
    // the session closed and the library unloaded.
    std::string open(const SessionOptions& options);

    // Forwards MSG_STREAM_INFO with this picture size; answers "" or why not.
    std::string sendStreamInfo(int32_t width, int32_t height);

    // Delivers one packet as MSG_SAMPLE and appends the frames the plug-in
    // sent for it to `frames`; answers "" or why not.
    std::string deliverPacket(const std::vector<uint8_t>& packet, const std::array<uint32_t, 2>& timing,
        std::vector<Frame>& frames);

    // Stops (EVT_STOP), closes both ports, releases the component and
    // unloads the library; answers "" or everything that went wrong: a
    // refusal, a buffer left unreleased, destruction notices out of order.
    // A closed session answers "".
    std::string close();

    bool isOpen() const { return plugin != nullptr; }
    // The component's "Name" property as text, once open.
    const std::string& pluginName() const { return name; }

private:
    std::string fault(const std::string& what);
    std::string drainFaults();

    SessionOptions options;
    void* library = nullptr;
    BufferLedger ledger;
    FaultList faults;
    std::unique_ptr<ReferenceHost> host;
    std::unique_ptr<HostAllocator> allocator;
    std::unique_ptr<FrameSink> sink;
    Plugin* plugin = nullptr;
    ComponentInterface* componentSide = nullptr;
    InputInterface* frameSide = nullptr;
    OutputInterface* packetSide = nullptr;
    PortInterface* packetPort = nullptr;
    PortInterface* framePort = nullptr;
    StreamInfo streamInfo{};
    std::string name;
};

} // namespace Qor::Tools

#endif
