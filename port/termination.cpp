#include "termination.h"

#include "interrupt.h"
#include "pins.h"

#include <atomic>
#include <csignal>

namespace
{

const int TERMINATING_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

std::atomic<Interrupt*> active{nullptr};
volatile std::sig_atomic_t pending = 0;

void endWith(int signal)
{
    struct sigaction byDefault = {};
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    sigaction(signal, &byDefault, nullptr);
    raise(signal);
}

// Runs in place of whatever the interrupted thread was doing, maybe in the
// middle of a stdio or malloc call, while other threads go on: only
// async-signal-safe calls may follow. The lowering is one register write (an
// instruction or an ioctl) that reports nothing. During a send the rest is
// left to the window's thread, which ends the send as an Abort and completes
// its files; the default action put back and the signal raised again end the
// process as it would have ended without us, with its own status. The
// handler's mask blocks every signal while it runs.
void lowerAndTerminate(int signal)
{
    pin_lower_data_lines_in_handler();
    Interrupt* send = active.load();
    if (send && signal != SIGQUIT && pending == 0) {
        pending = signal;
        send->raise();
        return;
    }
    endWith(signal);
}

} // namespace

void lowerDataLinesOnTermination()
{
    struct sigaction action = {};
    action.sa_handler = lowerAndTerminate;
    sigfillset(&action.sa_mask);
    for (const int signal : TERMINATING_SIGNALS) {
        struct sigaction previous = {};
        if (sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
            continue;
        sigaction(signal, &action, nullptr);
    }
}

void setActiveInterrupt(Interrupt* interrupt)
{
    active.store(interrupt);
}

int pendingSignal()
{
    return pending;
}

void endIfSignalled()
{
    if (pending == 0)
        return;
    pin_lower_data_lines_in_handler();
    endWith(pending);
}
