#include "tools/DecoderSession.h"

#include "framework/ComponentInterface.h"
#include "framework/GetPlugin.h"
#include "framework/Plugin.h"
#include "framework/String.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <limits>

namespace Qor::Tools {

const char* const PluginFileName = KELVO_PLUGIN_FILE_NAME;

namespace {

using GetPluginFunction = int32_t (*)(Host*, Plugin**);

std::string inQuotes(const std::string& text)
{
    return "\"" + text + "\"";
}

std::string programDirectory()
{
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return "";
    const std::string program(path, size_t(length));
    return program.substr(0, program.rfind('/'));
}

bool isFile(const std::string& path)
{
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

// The name property is a framework string of 8- or 16-bit units; a person
// reads it, so anything outside ASCII shows as '?'.
std::string propertyText(const Variant& value)
{
    std::string text;
    if (value.type == TypeString && value.value.asString && value.value.asString->data)
        text = value.value.asString->data;
    if (value.type == TypeWString && value.value.asWString && value.value.asWString->data)
        for (const unsigned short* unit = value.value.asWString->data; *unit != 0; ++unit)
            text += *unit < 0x80 ? char(*unit) : '?';
    return text;
}

std::string fourccText(uint32_t code)
{
    std::string text;
    for (int shift = 0; shift < 32; shift += 8)
        text += char(code >> shift & 0xFF);
    return text;
}

} // namespace

std::vector<std::string> pluginSearchPath()
{
    std::vector<std::string> places;
    const std::string directory = programDirectory();
    if (!directory.empty()) {
        places.push_back(directory + "/" + PluginFileName);
        const std::filesystem::path installed
            = std::filesystem::path(directory) / KELVO_RELATIVE_LIBRARY_DIRECTORY / PluginFileName;
        places.push_back(installed.lexically_normal().string());
    }
    // The build tree's library serves only the programs of that build tree;
    // an installed program never looks there.
    std::error_code ignored;
    if (!directory.empty() && std::filesystem::equivalent(directory, KELVO_BUILD_TOOLS_DIRECTORY, ignored))
        places.push_back(KELVO_BUILD_PLUGIN_PATH);
    places.push_back(KELVO_INSTALLED_PLUGIN_PATH);
    return places;
}

std::string findPluginLibrary()
{
    for (const std::string& place : pluginSearchPath())
        if (isFile(place))
            return place;
    return "";
}

DecoderSession::DecoderSession() = default;

DecoderSession::~DecoderSession()
{
    close();
}

std::string DecoderSession::fault(const std::string& what)
{
    close();
    return what;
}

std::string DecoderSession::drainFaults()
{
    std::string all;
    for (const std::string& one : faults)
        all += (all.empty() ? "" : "; ") + one;
    faults.clear();
    return all;
}

std::string DecoderSession::open(const SessionOptions& given)
{
    if (library)
        return "the session is already open";
    options = given;
    name.clear();
    library = dlopen(options.libraryPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char* reason = dlerror();
        return "cannot load the plug-in library: " + std::string(reason ? reason : options.libraryPath);
    }
    auto entry = reinterpret_cast<GetPluginFunction>(dlsym(library, "getPlugin"));
    if (!entry)
        return fault(options.libraryPath + " has no getPlugin export");

    ledger = BufferLedger{};
    faults.clear();
    host = std::make_unique<ReferenceHost>();
    allocator = std::make_unique<HostAllocator>(&ledger, &faults, options.stridePadding);
    sink = std::make_unique<FrameSink>(&faults);
    Plugin* made = nullptr;
    const int32_t answer = entry(host.get(), &made);
    plugin = made;
    if (!plugin)
        return fault("plug-in made no component (getPlugin answered " + std::to_string(answer) + ")");

    void* found = nullptr;
    const String component(IdentifierText::interfaceComponent, StandardAllocator<char>::instance());
    if (plugin->queryInterface(component, &found) != InterfaceFound || !found)
        return fault("plug-in does not answer the interface " + inQuotes(IdentifierText::interfaceComponent));
    componentSide = static_cast<ComponentInterface*>(found);
    found = nullptr;
    const String transform(IdentifierText::interfaceTransform, StandardAllocator<char>::instance());
    if (plugin->queryInterface(transform, &found) != InterfaceFound || !found)
        return fault("plug-in does not answer the interface " + inQuotes(IdentifierText::interfaceTransform));
    auto* transformSide = static_cast<TransformInterface*>(found);
    frameSide = transformSide;
    packetSide = transformSide;

    Variant property{};
    if (componentSide->getProperty("Name", &property))
        name = propertyText(property);

    // The pairing is crosswise: the output interface opens the port that
    // receives packets, the input interface the one that sends frames.
    packetPort = packetSide->openPort(PortFormat{1, options.inputFormat.c_str(), 0});
    if (!packetPort)
        return fault("plug-in refused the input format " + inQuotes(options.inputFormat));
    framePort = frameSide->openPort(PortFormat{1, options.outputOrder.c_str(), 0});
    if (!framePort)
        return fault("plug-in refused the output format " + inQuotes(options.outputOrder));
    for (const auto& [key, format] : {std::pair<const char*, const std::string*>{"InputFormat", &options.inputFormat},
             std::pair<const char*, const std::string*>{"OutputFormat", &options.outputOrder}}) {
        property = Variant{};
        property.type = TypeFourCC;
        if (!componentSide->getProperty(key, &property))
            return fault(std::string("plug-in has no ") + key + " property");
        if (property.type != TypeFourCC || fourccText(property.value.asFourcc) != *format)
            return fault(std::string("plug-in reports the ") + key + " property as "
                + inQuotes(fourccText(property.value.asFourcc)) + " after opening " + inQuotes(*format));
    }

    Variant v = objectVariant(allocator.get());
    if (!framePort->notify(EVT_SET_ALLOCATOR, &v))
        return fault("plug-in refused the allocator");
    v = objectVariant(sink.get());
    if (!framePort->notify(EVT_SET_SINK, &v))
        return fault("plug-in refused the downstream port");
    if (!packetPort->query(QRY_READY, 0))
        return fault("plug-in is not ready after it was given the downstream port");
    return "";
}

std::string DecoderSession::sendStreamInfo(int32_t width, int32_t height)
{
    if (!plugin)
        return "the session is not open";
    streamInfo = StreamInfo{0, width, height};
    Variant v = objectVariant(&streamInfo);
    const int32_t forwarded = sink->streamInfos;
    if (!packetPort->deliver(MSG_STREAM_INFO, &v))
        return "plug-in refused the stream information (picture " + std::to_string(width) + "x"
            + std::to_string(height) + ")";
    if (sink->streamInfos != forwarded + 1)
        return "plug-in did not forward the stream information downstream";
    return drainFaults();
}

std::string DecoderSession::deliverPacket(const std::vector<uint8_t>& packet, const std::array<uint32_t, 2>& timing,
    std::vector<Frame>& frames)
{
    if (!plugin)
        return "the session is not open";
    if (packet.size() > size_t(std::numeric_limits<int32_t>::max()))
        return "a packet of " + std::to_string(packet.size()) + " bytes does not fit a host buffer";
    // The buffer's one reference passes to the plug-in with the message.
    auto* buffer = new HostBuffer(packet, &ledger);
    buffer->timing[0] = timing[0];
    buffer->timing[1] = timing[1];
    Variant v = objectVariant(buffer);
    const bool taken = packetPort->deliver(MSG_SAMPLE, &v);
    for (Frame& frame : sink->frames)
        frames.push_back(std::move(frame));
    sink->frames.clear();
    std::string problems = drainFaults();
    if (!taken)
        problems = "plug-in refused the packet (" + std::to_string(packet.size()) + " bytes)"
            + (problems.empty() ? "" : "; " + problems);
    return problems;
}

std::string DecoderSession::close()
{
    std::vector<std::string> problems;
    if (plugin) {
        if (framePort && !framePort->notify(EVT_STOP, nullptr))
            problems.push_back("plug-in refused to stop");
        if (framePort && !frameSide->closePort(framePort))
            problems.push_back("plug-in refused to close the frame port");
        if (packetPort && !packetSide->closePort(packetPort))
            problems.push_back("plug-in refused to close the packet port");
        const Plugin* released = plugin;
        const int32_t left = plugin->dropReference();
        if (left != 0)
            problems.push_back("plug-in still counts " + std::to_string(left) + " references after the host's release");
        else if (const std::string told = host->checkDestroyed(released); !told.empty())
            problems.push_back(told);
    }
    if (ledger.live != 0)
        problems.push_back("plug-in kept " + std::to_string(ledger.live) + " of the host's buffers after its release");
    for (std::string& one : faults)
        problems.push_back(std::move(one));
    faults.clear();

    plugin = nullptr;
    componentSide = nullptr;
    frameSide = nullptr;
    packetSide = nullptr;
    packetPort = nullptr;
    framePort = nullptr;
    // A plug-in that kept buffers may still call them; the objects stay.
    if (ledger.live == 0) {
        sink.reset();
        allocator.reset();
    }
    if (library) {
        dlclose(library);
        library = nullptr;
    }
    std::string all;
    for (const std::string& one : problems)
        all += (all.empty() ? "" : "; ") + one;
    return all;
}

} // namespace Qor::Tools
