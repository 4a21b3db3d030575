// A copy of the contract kept apart from framework/ and host/ on purpose.
// The binary contract with hosts, declared afresh from the contract itself.
// Nothing here comes from the library's own headers: a test that drives the
// built library through these declarations shows that a host compiled from
// its own copy interoperates with it.
#ifndef KELVO_TESTS_BOUNDARY_CONTRACT_H
#define KELVO_TESTS_BOUNDARY_CONTRACT_H

#include <cstdint>
#include <vector>

namespace Qor {

class Host;
class Plugin;
class PortInterface;
struct String;
struct WString;

struct String {
    char* data;
    uint32_t length;
    void* unitAllocator;
};

struct WString {
    unsigned short* data;
    uint32_t length;
    void* unitAllocator;
};

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

struct PortFormat {
    int32_t kind;
    const char* fourcc;
    uint32_t extra;
};

class Plugin {
public:
    virtual ~Plugin() {}
    virtual int32_t addReference() = 0;
    virtual int32_t dropReference() = 0;
    virtual int32_t referenceCount() = 0;
    virtual int32_t auxiliaryValue() = 0;
    virtual Host* getHost() = 0;
    virtual int32_t queryInterface(const String& identifier, void** result) = 0;

    int32_t references;
    Host* hostObject;
    int32_t auxiliary;
};

class ComponentInterface {
public:
    virtual ~ComponentInterface() {}
    virtual bool defaultOperation1(uint32_t) = 0;
    virtual bool defaultOperation2() = 0;
    virtual bool defaultOperation3(uint32_t, uint32_t) = 0;
    virtual bool defaultOperation4(uint32_t, uint32_t) = 0;
    virtual bool defaultOperation5(uint32_t, uint32_t) = 0;
    virtual bool defaultOperation6(uint32_t, uint32_t) = 0;
    virtual bool defaultOperation7(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) = 0;
    virtual bool getPropertyNames(std::vector<const char*>& names) = 0;
    virtual bool getProperty(const char* key, Variant* destination) = 0;
};

class PortInterface {
public:
    virtual ~PortInterface() {}
    virtual bool query(uint32_t code, uint32_t argument) = 0;
    virtual bool notify(uint32_t code, Variant* value) = 0;
    virtual bool request(uint32_t code, uint32_t argument) = 0;
    virtual bool deliver(uint32_t code, Variant* value) = 0;
};

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

class TransformInterface : public InputInterface, public OutputInterface {};
class TransformComponent : public virtual ComponentInterface, public TransformInterface {};

// The reserved slots are the host's own; the component never calls them.
class Host {
public:
    virtual ~Host() {}
    virtual int32_t reserved1() { return 0; }
    virtual int32_t reserved2() { return 0; }
    virtual int32_t reserved3() { return 0; }
    virtual int32_t reserved4() { return 0; }
    virtual int32_t reserved5() { return 0; }
    virtual int32_t reserved6() { return 0; }
    virtual int32_t reserved7() { return 0; }
    virtual int32_t willDestroyPlugin(Plugin*) = 0;
    virtual int32_t didDestroyPlugin(Plugin*) = 0;
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
    double left, top, right, bottom;
    int32_t stride;
};

class BufferAllocator {
public:
    virtual ~BufferAllocator() {}
    virtual int32_t reserved1() { return 0; }
    virtual void configure(int32_t) = 0;
    virtual MediaBuffer* allocate(int32_t width, int32_t height, int32_t count) = 0;
};

struct StreamInfo {
    int32_t reserved;
    int32_t width;
    int32_t height;
};

constexpr uint8_t TypeFourCC = 6;
constexpr uint8_t TypeString = 11;
constexpr uint8_t TypeWString = 13;
constexpr uint8_t TypeObject = 14;

constexpr uint32_t MSG_STREAM_INFO = 0x2009000E;
constexpr uint32_t MSG_SAMPLE = 0x200D000A;
constexpr uint32_t EVT_SET_SINK = 0x3000000E;
constexpr uint32_t EVT_SET_ALLOCATOR = 0x3008000E;
constexpr uint32_t EVT_STOP = 0x30010000;
constexpr uint32_t QRY_READY = 0x40000002;

} // namespace Qor

extern "C" {
typedef int32_t (*GetPluginFunction)(Qor::Host* host, Qor::Plugin** out);
}

#endif
