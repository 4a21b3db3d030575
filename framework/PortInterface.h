// The port through which components exchange everything, and the codes it carries.
#ifndef KELVO_FRAMEWORK_PORTINTERFACE_H
#define KELVO_FRAMEWORK_PORTINTERFACE_H

#include "framework/Variant.h"

#include <stdint.h>

namespace Qor {

// Codes share their first hexadecimal digit with the operation that carries
// them: 2 deliver, 3 notify, 4 query.
enum PortCode : uint32_t {
    MSG_STREAM_INFO = 0x2009000E,   // deliver; object: StreamInfo
    MSG_SAMPLE = 0x200D000A,        // deliver; object: MediaBuffer
    EVT_SET_SINK = 0x3000000E,      // notify; object: the downstream PortInterface
    EVT_SET_ALLOCATOR = 0x3008000E, // notify; object: BufferAllocator
    EVT_STOP = 0x30010000,          // notify; nothing read
    QRY_READY = 0x40000002,         // query; nothing read
};

// The virtual order of this class is part of the contract with hosts.
class PortInterface {
public:
    virtual ~PortInterface() = default;
    virtual bool query(uint32_t code, uint32_t argument) = 0;
    virtual bool notify(uint32_t code, Variant* value) = 0;
    virtual bool request(uint32_t code, uint32_t argument) = 0;
    virtual bool deliver(uint32_t code, Variant* value) = 0;
};

// The argument of openPort, passed by value.
struct PortFormat {
    int32_t kind;        // only 1 is accepted
    const char* fourcc;  // NUL-terminated format code; must outlive the port
    uint32_t extra;      // never examined
};

} // namespace Qor

#endif
