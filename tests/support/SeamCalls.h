// The core driven through its own seam: a KelvoCalls table whose host calls
// reach the host stand-ins (HostStandIns.h) and whose boundary calls make
// small recorded objects in place of the component, its ports and its
// strings. Every call the core makes goes into one log, in order, so that
// the order of the core's calls is what a test checks; every object made
// is counted while it lives, and any of them can be refused, as a boundary
// out of memory refuses.
#ifndef KELVO_TESTS_SUPPORT_SEAMCALLS_H
#define KELVO_TESTS_SUPPORT_SEAMCALLS_H

#include "subdecode/KelvoCore.h"
#include "tests/support/HostStandIns.h"

#include <cstdint>
#include <string>

namespace Qor::Testing {

// The component's stand-in: its core, made by makeComponent.
struct SeamComponent {
    KelvoCore* core = nullptr;
};

// A port's stand-in.
struct SeamPort {
    int32_t side;
};

// A framework string's stand-in: its text, and whether it has storage.
struct SeamString {
    std::u16string text;
    bool wide;
    bool hasStorage;
    std::string narrow() const { return std::string(text.begin(), text.end()); }
};

// The one current recorder: the table's functions reach it. Made on the
// stack of a test, it is current until it goes.
class SeamCalls {
public:
    explicit SeamCalls(CallLog* log);
    ~SeamCalls();
    SeamCalls(const SeamCalls&) = delete;
    SeamCalls& operator=(const SeamCalls&) = delete;

    // The table the core is given.
    static const KelvoCalls table;

    void record(const std::string& call) const
    {
        if (log)
            log->push_back(call);
    }

    CallLog* log;
    // Strings made before one is refused; below 0, none is.
    int32_t stringsBeforeRefusal = -1;
    bool refusePorts = false;
    bool refuseComponents = false;
    // Objects alive.
    int32_t strings = 0;
    int32_t ports = 0;
    int32_t components = 0;
};

} // namespace Qor::Testing

#endif
