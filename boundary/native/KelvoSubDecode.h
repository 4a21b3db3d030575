// The bitmap subtitle decoder component as hosts built with the platform's
// own compiler see it: subtitle packets ("GPHB", "GPHA") in through the input
// port, one 32-bit overlay frame per packet out through the output port.
// The Qor classes here keep the objects a host holds (the ports, the
// properties); the rules are the core's (subdecode/KelvoCore.h), reached
// through one KelvoCore. getPlugin is the only place that makes one.
#ifndef KELVO_BOUNDARY_NATIVE_KELVOSUBDECODE_H
#define KELVO_BOUNDARY_NATIVE_KELVOSUBDECODE_H

#include "boundary/native/PropertyMap.h"
#include "framework/ComponentInterface.h"
#include "framework/Plugin.h"
#include "subdecode/KelvoCore.h"

#include <boost/thread/recursive_mutex.hpp>

#include <cstdint>

namespace Qor {

class KelvoSubDecode : public Plugin, public TransformComponent {
public:
    class Input;
    class Output;

    // Throws std::bad_alloc, with nothing left behind, when storage runs out.
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

    // Replaces a format property's String with a copy of `code` (null:
    // empty). A failed allocation leaves the property as it was.
    void setFormatProperty(const char* key, const char* code);
    // Opens the core's `side` and makes its port object, kept in `port`, and
    // its property. Answers null, changing nothing, on a refusal; on an
    // allocation failure closes the side again before the exception goes on.
    template <typename PortClass>
    PortInterface* openSide(int32_t side, const char* key, PortClass*& port, PortFormat format);
    // Closes `side` when `given` is its open `port`; false, changing nothing, otherwise.
    template <typename PortClass>
    bool closeSide(int32_t side, const char* key, PortClass*& port, PortInterface* given);
    // Frees the property values; the entries stay.
    void freePropertyValues() noexcept;

    // Input port operations (the protocol of the port that receives packets).
    bool deliverToInput(uint32_t code, Variant* value);
    // Output port operations.
    bool notifyOutput(uint32_t code, Variant* value);

    boost::recursive_mutex mutex;
    KelvoCore* core;
    Input* inputPort;
    Output* outputPort;
    PropertyMap properties;
};

} // namespace Qor

#endif
