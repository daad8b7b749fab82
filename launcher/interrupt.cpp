#include "interrupt.h"

#include "progress.h"

#include <unistd.h>

#include <errno.h>
#include <stdlib.h>

namespace {

constexpr int INTERRUPTS[] = {SIGINT, SIGTERM, SIGHUP};

// Read by the handler: only async-signal-safe calls and volatile state.
const char *volatile removed_path;
volatile sig_atomic_t deferring;
volatile sig_atomic_t noted_signal;

sigset_t interrupt_set()
{
    sigset_t set;
    sigemptyset(&set);
    for (const int signal_number : INTERRUPTS)
        sigaddset(&set, signal_number);
    return set;
}

// The handler is reset to the default action as it starts (SA_RESETHAND), so
// the signal raised again here ends the process once the handler returns,
// and a second interrupt while tar winds down ends it at once.
void on_interrupt(int signal_number)
{
    const int saved_errno = errno;
    if (deferring) {
        noted_signal = signal_number;
        errno = saved_errno;
        return;
    }
    if (removed_path != nullptr)
        unlink(removed_path);
    erase_progress_now();
    raise(signal_number);
}

} // namespace

void catch_interrupts()
{
    struct sigaction action = {};
    action.sa_handler = on_interrupt;
    action.sa_mask = interrupt_set();
    // No SA_RESTART: a write blocked on tar's pipe returns, so that the copy stops.
    action.sa_flags = SA_RESETHAND;
    for (const int signal_number : INTERRUPTS) {
        struct sigaction inherited;
        if (sigaction(signal_number, nullptr, &inherited) == 0 && inherited.sa_handler != SIG_IGN)
            sigaction(signal_number, &action, nullptr);
    }
}

void remove_on_interrupt(const char *path)
{
    removed_path = path;
}

interrupts_held::interrupts_held()
{
    const sigset_t set = interrupt_set();
    sigprocmask(SIG_BLOCK, &set, &previous_);
}

interrupts_held::~interrupts_held()
{
    sigprocmask(SIG_SETMASK, &previous_, nullptr);
}

void defer_interrupts()
{
    deferring = 1;
}

int stop_deferring_interrupts()
{
    deferring = 0;
    return noted_signal;
}

bool interrupt_noted()
{
    return noted_signal != 0;
}

void end_by_interrupt(int signal_number)
{
    signal(signal_number, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal_number);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(signal_number);
    // Not reached: the default action of all three ends the process.
    _exit(128 + signal_number);
}
