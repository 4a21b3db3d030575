// The contract with hosts as a host built with Microsoft's C++ compiler sees
// it: the Qor values and interfaces, the host's objects, and the release
// runtime's vector that getPropertyNames appends to. The virtual orders and
// field orders here are part of the contract with hosts.
//
// This header is compiled by clang for the Windows targets of Microsoft's C++
// ABI, freestanding: no standard C++ header crosses it, only the compiler's
// own <stddef.h> and <stdint.h>. The compiler then lays out the vtables
// (one slot for a virtual destructor, the scalar deleting destructor), the
// virtual-base table of TransformComponent and the fields exactly as a
// host's compiler does; Layout.h asserts what a host relies on.
#ifndef KELVO_BOUNDARY_MSVC_CONTRACT_H
#define KELVO_BOUNDARY_MSVC_CONTRACT_H

#include <stddef.h>
#include <stdint.h>

namespace Qor {

class Host;
class PortInterface;

// The virtual order of this class is part of the contract with hosts.
template <typename T>
class StandardAllocator {
public:
    virtual ~StandardAllocator() {}
    // Storage for `count` units, or null when the heap has none.
    virtual T* allocate(uint32_t count) = 0;
    virtual void deallocate(T* pointer) = 0;
};

// A framework string: `length` units of text and a terminator at `data`
// (null when it has no storage), owned by `unitAllocator`. No virtuals.
template <typename Unit>
struct BasicString {
    Unit* data;
    uint32_t length;
    StandardAllocator<Unit>* unitAllocator;
};
using String = BasicString<char>;
using WString = BasicString<unsigned short>;

enum VariantType : uint8_t {
    TypeFourCC = 6,
    TypeString = 11,
    TypeWString = 13,
    TypeObject = 14,
};

// A receiver reads the one-byte tag and the member it selects, nothing else.
struct Variant {
    uint8_t type;
    union alignas(8) {
        uint32_t asFourcc;
        String* asString;
        WString* asWString;
        void* asObject;
        uint64_t bits;
    } value;
};

// Codes share their first hexadecimal digit with the operation that carries
// them: 2 deliver, 3 notify, 4 query.
enum PortCode : uint32_t {
    MSG_STREAM_INFO = 0x2009000E,
    MSG_SAMPLE = 0x200D000A,
    EVT_SET_SINK = 0x3000000E,
    EVT_SET_ALLOCATOR = 0x3008000E,
    EVT_STOP = 0x30010000,
    QRY_READY = 0x40000002,
};

// The argument of openPort, passed by value (on x64, as a pointer to the
// caller's copy, since it is larger than eight bytes).
struct PortFormat {
    int32_t kind;
    const char* fourcc;
    uint32_t extra;
};

// std::vector<const char*> of a release-runtime host: three pointers, its
// storage from the host's operator new (the process heap).
struct NameVector {
    const char** first;
    const char** last;
    const char** end;
};

// The virtual order and the field order of this class are part of the
// contract with hosts.
class Plugin {
public:
    explicit Plugin(Host* host) : references(1), hostObject(host), auxiliary(0) {}
    virtual ~Plugin() {}
    virtual int32_t addReference();
    virtual int32_t dropReference();
    virtual int32_t referenceCount();
    virtual int32_t auxiliaryValue();
    virtual Host* getHost();
    virtual int32_t queryInterface(const String& identifier, void** result) = 0;

    int32_t references;
    Host* hostObject;
    int32_t auxiliary;
};

// The virtual order of this class is part of the contract with hosts.
class ComponentInterface {
public:
    virtual ~ComponentInterface() {}
    virtual bool defaultOperation1(uint32_t) { return true; }
    virtual bool defaultOperation2() { return true; }
    virtual bool defaultOperation3(uint32_t, uint32_t) { return true; }
    virtual bool defaultOperation4(uint32_t, uint32_t) { return true; }
    virtual bool defaultOperation5(uint32_t, uint32_t) { return true; }
    virtual bool defaultOperation6(uint32_t, uint32_t) { return true; }
    virtual bool defaultOperation7(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) { return false; }
    virtual bool getPropertyNames(NameVector& names) = 0;
    virtual bool getProperty(const char* key, Variant* destination) = 0;
};

// The virtual order of this class is part of the contract with hosts.
class PortInterface {
public:
    virtual ~PortInterface() {}
    virtual bool query(uint32_t code, uint32_t argument) = 0;
    virtual bool notify(uint32_t code, Variant* value) = 0;
    virtual bool request(uint32_t code, uint32_t argument) = 0;
    virtual bool deliver(uint32_t code, Variant* value) = 0;
};

// The virtual orders of InputInterface and OutputInterface are part of the
// contract with hosts. The pairing is crosswise: InputInterface manages the
// port that sends frames, OutputInterface the port that receives packets.
class InputInterface {
public:
    virtual ~InputInterface() {}
    virtual PortInterface* openPort(PortFormat format) = 0;
    virtual bool closePort(PortInterface* port) = 0;
};

class OutputInterface {
public:
    virtual ~OutputInterface() {}
    virtual PortInterface* openPort(PortFormat format) = 0;
    virtual bool closePort(PortInterface* port) = 0;
};

// The two interfaces have identical slots, so one class cannot implement
// the two pairs apart. These sides give each pair a name of its own; they
// add no data, and their slots come after every slot a host calls.
class InputInterfaceSide : public InputInterface {
public:
    PortInterface* openPort(PortFormat format) final { return openFramePort(format); }
    bool closePort(PortInterface* port) final { return closeFramePort(port); }

protected:
    virtual PortInterface* openFramePort(PortFormat format) = 0;
    virtual bool closeFramePort(PortInterface* port) = 0;
};

class OutputInterfaceSide : public OutputInterface {
public:
    PortInterface* openPort(PortFormat format) final { return openPacketPort(format); }
    bool closePort(PortInterface* port) final { return closePacketPort(port); }

protected:
    virtual PortInterface* openPacketPort(PortFormat format) = 0;
    virtual bool closePacketPort(PortInterface* port) = 0;
};

// InputInterface first, OutputInterface second; no operations of its own.
class TransformInterface : public InputInterfaceSide, public OutputInterfaceSide {};

class TransformComponent : public virtual ComponentInterface, public TransformInterface {};

// The host's objects. Their virtual orders and field orders are part of the
// contract with hosts; the component calls them and never owns them.
class Host {
public:
    virtual ~Host() {}
    virtual int32_t reserved1() = 0;
    virtual int32_t reserved2() = 0;
    virtual int32_t reserved3() = 0;
    virtual int32_t reserved4() = 0;
    virtual int32_t reserved5() = 0;
    virtual int32_t reserved6() = 0;
    virtual int32_t reserved7() = 0;
    virtual int32_t willDestroyPlugin(Plugin* plugin) = 0;
    virtual int32_t didDestroyPlugin(Plugin* plugin) = 0;
};

class MediaBuffer {
public:
    virtual ~MediaBuffer() {}
    virtual int32_t addReference() = 0;
    virtual int32_t dropReference() = 0;
    virtual void* lock() = 0;
    virtual void unlock() = 0;

    int32_t size;
    uint32_t timing[2];
    double left;
    double top;
    double right;
    double bottom;
    int32_t stride;
};

class BufferAllocator {
public:
    virtual ~BufferAllocator() {}
    virtual int32_t reserved1() = 0;
    virtual void configure(int32_t bitsPerPixel) = 0;
    virtual MediaBuffer* allocate(int32_t width, int32_t height, int32_t count) = 0;
};

struct StreamInfo {
    int32_t reserved;
    int32_t width;
    int32_t height;
};

} // namespace Qor

#endif
