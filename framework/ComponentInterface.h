// The property side of a component, and the transform interfaces through
// which a host opens and closes its ports.
#ifndef KELVO_FRAMEWORK_COMPONENTINTERFACE_H
#define KELVO_FRAMEWORK_COMPONENTINTERFACE_H

#include "framework/PortInterface.h"
#include "framework/Variant.h"

#include <stdint.h>

// The caller's vector that getPropertyNames appends the property keys to:
// std::vector<const char*> of the host's C++ library. A translation unit
// built without a C++ library (the Windows DLL's boundary) defines
// KELVO_NAME_VECTOR as the type that stands in for it, with that library's
// layout of the vector.
#ifndef KELVO_NAME_VECTOR
#include <vector>
#endif

namespace Qor {

#ifdef KELVO_NAME_VECTOR
typedef KELVO_NAME_VECTOR NameVector;
#else
typedef std::vector<const char*> NameVector;
#endif

// The virtual order of this class is part of the contract with hosts. The
// seven default operations keep their slots; this library never calls them.
class ComponentInterface {
public:
    virtual ~ComponentInterface() = default;
    virtual bool defaultOperation1(uint32_t) { return true; }
    virtual bool defaultOperation2() { return true; }
    virtual bool defaultOperation3(uint32_t, uint32_t) { return true; }
    virtual bool defaultOperation4(uint32_t, uint32_t) { return true; }
    virtual bool defaultOperation5(uint32_t, uint32_t) { return true; }
    virtual bool defaultOperation6(uint32_t, uint32_t) { return true; }
    virtual bool defaultOperation7(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) { return false; }
    // Appends every property key, in byte-wise order, to `names`; always true.
    virtual bool getPropertyNames(NameVector& names) = 0;
    // Copies the property `key` into *destination and answers true, or answers
    // false and leaves *destination alone when there is no such key.
    virtual bool getProperty(const char* key, Variant* destination) = 0;
};

// The virtual orders of InputInterface and OutputInterface are part of the
// contract with hosts. The pairing is crosswise: InputInterface manages the
// port that sends frames, OutputInterface the port that receives packets.
class InputInterface {
public:
    virtual ~InputInterface() = default;
    virtual PortInterface* openPort(PortFormat format) = 0;
    virtual bool closePort(PortInterface* port) = 0;
};

class OutputInterface {
public:
    virtual ~OutputInterface() = default;
    virtual PortInterface* openPort(PortFormat format) = 0;
    virtual bool closePort(PortInterface* port) = 0;
};

// What each interface manages, as a type: InputInterface the frame port,
// OutputInterface the packet port.
struct FramePort {};
struct PacketPort {};

// InputInterface and OutputInterface have identical slots, so one class
// cannot implement the two pairs apart. A side gives its interface's pair
// operations of their own, told apart by the port they manage. It adds no
// data, and its slots come after every slot a host calls, so a host
// declaring TransformInterface directly over the two interfaces sees the
// same layout.
template <typename Interface, typename Port>
class InterfaceSide : public Interface {
public:
    PortInterface* openPort(PortFormat format) final { return open(Port(), format); }
    bool closePort(PortInterface* port) final { return close(Port(), port); }

protected:
    virtual PortInterface* open(Port, PortFormat format) = 0;
    virtual bool close(Port, PortInterface* port) = 0;
};

// InputInterface first, OutputInterface second; no operations of its own.
class TransformInterface : public InterfaceSide<InputInterface, FramePort>,
                           public InterfaceSide<OutputInterface, PacketPort> {};

class TransformComponent : public virtual ComponentInterface, public TransformInterface {};

} // namespace Qor

#endif
