// What SIGINT, SIGTERM and SIGHUP do to a run. The run ends as the signal
// ends it (status 128+N), but first removes the image it was writing and
// erases the progress display. While tar works on the payload, an interrupt
// is only noted: the caller stops feeding tar, waits for it, then ends the
// run with end_by_interrupt.
#ifndef VORLAN_INTERRUPT_H
#define VORLAN_INTERRUPT_H

#include <signal.h>

// Installs the handler for those of the three signals that were not ignored
// when the launcher started (nohup, a background job): those stay ignored.
void catch_interrupts();

// The file an interrupt removes, or nullptr for none; one at a time.
// Changed only while interrupts_held, so that a handler never sees it half set.
void remove_on_interrupt(const char *path);

// Blocks the three signals for its lifetime; one that arrives meanwhile is
// acted on when the block ends.
class interrupts_held {
public:
    interrupts_held();
    ~interrupts_held();
    interrupts_held(const interrupts_held &) = delete;
    interrupts_held &operator=(const interrupts_held &) = delete;

private:
    sigset_t previous_;
};

// From now on an interrupt is noted instead of ending the run.
void defer_interrupts();
// Acts on interrupts at once again; the signal noted meanwhile, or 0.
int stop_deferring_interrupts();
// Whether an interrupt has been noted: work that feeds tar stops.
bool interrupt_noted();

// Ends the process as the signal would have, had it not been caught.
[[noreturn]] void end_by_interrupt(int signal_number);

#endif
