// The property side of a component, and the transform interfaces through
// which a host opens and closes its ports.
#ifndef KELVO_FRAMEWORK_COMPONENTINTERFACE_H
#define KELVO_FRAMEWORK_COMPONENTINTERFACE_H

#include "framework/PortInterface.h"
#include "framework/Variant.h"

#include <cstdint>
#include <vector>

namespace Qor {

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
    virtual bool getPropertyNames(std::vector<const char*>& names) = 0;
    // Copies the property `key` into *destination and answers true, or answers
    // false and leaves *destination alone when there is no such key.
    virtual bool getProperty(const char* key, Variant* destination) = 0;
};

// The virtual orders of InputInterface and OutputInterface are part of the
// contract with hosts. The pairing is crosswise: InputInterface manages the
// port that sends output, OutputInterface the port that receives input.
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

// InputInterface and OutputInterface have identical slots, so one class
// cannot implement the two pairs separately. These sides give each pair a
// name of its own. They add no data, and the slots they add come after every
// slot a host calls, so a host declaring TransformInterface directly over
// the two interfaces sees the same layout.
class InputInterfaceSide : public InputInterface {
public:
    PortInterface* openPort(PortFormat format) final { return openOutputPort(format); }
    bool closePort(PortInterface* port) final { return closeOutputPort(port); }

protected:
    virtual PortInterface* openOutputPort(PortFormat format) = 0;
    virtual bool closeOutputPort(PortInterface* port) = 0;
};

class OutputInterfaceSide : public OutputInterface {
public:
    PortInterface* openPort(PortFormat format) final { return openInputPort(format); }
    bool closePort(PortInterface* port) final { return closeInputPort(port); }

protected:
    virtual PortInterface* openInputPort(PortFormat format) = 0;
    virtual bool closeInputPort(PortInterface* port) = 0;
};

// InputInterface first, OutputInterface second; no operations of its own.
class TransformInterface : public InputInterfaceSide, public OutputInterfaceSide {};

class TransformComponent : public virtual ComponentInterface, public TransformInterface {};

} // namespace Qor

#endif
