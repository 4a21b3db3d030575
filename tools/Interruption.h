// Ctrl-C and its kin for the tools: SIGINT, SIGTERM and SIGHUP are caught
// rather than left to kill the program, so that a tool can remove what it
// was making and then end as the signal would have ended it (status 128 + n
// to a shell). The handlers do not restart system calls: a read of a pipe,
// a wait for a lock or a write that blocks returns EINTR, and the readers
// and writers of the tools stop there when interrupted() says so.
#ifndef KELVO_TOOLS_INTERRUPTION_H
#define KELVO_TOOLS_INTERRUPTION_H

#include <signal.h>

namespace Qor::Tools {

// Installs the handlers; call once, early in main.
void catchInterruptions();

// The signal caught since catchInterruptions, or 0.
int interrupted();

// Ends the program as the signal caught would have: the default action is
// restored and the signal raised again. Call after the cleanup, only when
// interrupted() is not 0.
[[noreturn]] void endAsInterrupted();

// While one lives, the three signals wait (they are blocked in the calling
// thread): for a last step that must not stop half-way, such as moving a
// finished run into place. They are delivered when it ends.
class InterruptionsHeld {
public:
    InterruptionsHeld();
    ~InterruptionsHeld();
    InterruptionsHeld(const InterruptionsHeld&) = delete;
    InterruptionsHeld& operator=(const InterruptionsHeld&) = delete;

private:
    sigset_t before; // the thread's signal mask before
};

// Blocks the three signals in the calling thread for good: for worker
// threads, so that the signals reach the main thread and interrupt its
// reads and waits.
void leaveInterruptionsToMainThread();

} // namespace Qor::Tools

#endif
