#include "tools/Interruption.h"

#include <csignal>
#include <cstdlib>

#include <pthread.h>
#include <unistd.h>

namespace Qor::Tools {

namespace {

volatile std::sig_atomic_t caught = 0;

constexpr int handled[] = {SIGINT, SIGTERM, SIGHUP};

void record(int signal)
{
    if (caught == 0)
        caught = signal;
}

sigset_t handledSet()
{
    sigset_t set;
    sigemptyset(&set);
    for (int signal : handled)
        sigaddset(&set, signal);
    return set;
}

} // namespace

void catchInterruptions()
{
    struct sigaction action {};
    action.sa_handler = record;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: blocking calls return EINTR
    for (int signal : handled)
        sigaction(signal, &action, nullptr);
}

int interrupted()
{
    return caught;
}

void endAsInterrupted()
{
    const int signal = caught;
    std::signal(signal, SIG_DFL);
    const sigset_t set = handledSet();
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    std::raise(signal);
    _exit(128 + signal);
}

InterruptionsHeld::InterruptionsHeld()
{
    const sigset_t set = handledSet();
    pthread_sigmask(SIG_BLOCK, &set, &before);
}

InterruptionsHeld::~InterruptionsHeld()
{
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

void leaveInterruptionsToMainThread()
{
    const sigset_t set = handledSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

} // namespace Qor::Tools
