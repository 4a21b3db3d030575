// The bitmap subtitle decoder component: subtitle packets ("GPHB", "GPHA") in
// through the input port, one 32-bit overlay frame per packet out through the
// output port. getPlugin is the only place that makes one.
#ifndef KELVO_SUBDECODE_KELVOSUBDECODE_H
#define KELVO_SUBDECODE_KELVOSUBDECODE_H

#include "framework/ComponentInterface.h"
#include "framework/Plugin.h"
#include "framework/PropertyMap.h"
#include "subdecode/PacketHeader.h"

#include <boost/thread/recursive_mutex.hpp>

#include <cstdint>

namespace Qor {

class BufferAllocator;
class MediaBuffer;

class KelvoSubDecode : public Plugin, public TransformComponent {
public:
    class Input;
    class Output;

    explicit KelvoSubDecode(Host* host);
    ~KelvoSubDecode() override;

    KelvoSubDecode(const KelvoSubDecode&) = delete;
    KelvoSubDecode& operator=(const KelvoSubDecode&) = delete;

    // Answers the component, transform-component and transform interfaces.
    int32_t queryInterface(const String& identifier, void** result) override;

    // "InputFormat", "Name", "OutputFormat", "Type"; always true.
    bool getPropertyNames(std::vector<const char*>& names) override;
    // With TypeFourCC preset, a format property answers its port's code packed
    // into asFourcc (first character lowest), upper-cased; a closed port
    // answers true with the code 0. Any other preset, or any other key, gets
    // the stored Variant. A null or unknown key, or a null destination,
    // answers false and writes nothing.
    bool getProperty(const char* key, Variant* destination) override;

protected:
    // Through OutputInterface: the port that receives packets. Answers null,
    // changing nothing, when that port is open, `kind` is not 1, or the code
    // is not exactly "GPHA" or "GPHB".
    PortInterface* openInputPort(PortFormat format) override;
    // Through OutputInterface: false, changing nothing, unless `port` is the open input port.
    bool closeInputPort(PortInterface* port) override;
    // Through InputInterface: the port that sends frames, for "RGBA", "BGRA",
    // "ARGB" or "ABGR"; refusals as for the input port.
    PortInterface* openOutputPort(PortFormat format) override;
    // Through InputInterface: false, changing nothing, unless `port` is the open output port.
    bool closeOutputPort(PortInterface* port) override;

private:
    friend class Input;
    friend class Output;

    // Replaces a format property's String with a copy of `code` (null: empty).
    void setFormatProperty(const char* key, const char* code);
    uint32_t packedFormat(const char* code) const;

    // Input port operations (the protocol of the port that receives packets).
    bool deliverToInput(uint32_t code, Variant* value);
    // Output port operations.
    bool notifyOutput(uint32_t code, Variant* value);
    // Turns the held packet into one frame and hands it downstream. Its only
    // heap allocation is the decoder's 4-bit image, (width * height + 1) / 2
    // bytes (none for an empty one), freed before the frame is delivered.
    bool produceFrame();

    boost::recursive_mutex mutex;
    PortInterface* sink;
    Input* inputPort;
    Output* outputPort;
    const char* inputFourcc;
    const char* outputFourcc;
    bool hasAlpha;
    bool configured;
    int32_t displayWidth;
    int32_t displayHeight;
    BufferAllocator* allocator;
    MediaBuffer* heldBuffer;
    PropertyMap properties;
    PacketHeader header;  // the packet in hand
    uint8_t alpha[4];     // its alpha bytes, when the input is "GPHA"
};

} // namespace Qor

#endif
