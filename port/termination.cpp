#include "termination.h"

#include "pins.h"

#include <csignal>

namespace
{

const int TERMINATING_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Runs in place of whatever the interrupted thread was doing, maybe in the
// middle of a hold or of a stdio or malloc call, while the toolkit's own
// threads go on: only async-signal-safe calls may follow. The lowering is one
// register write (an instruction or an ioctl) that reports nothing; then the
// default action is put back and the signal raised again, so that it ends the
// process as it would have without us, with its own status. The signal stays
// blocked until the handler returns, and is delivered then.
void lowerAndTerminate(int signal)
{
    pin_lower_data_lines_in_handler();
    struct sigaction byDefault = {};
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    sigaction(signal, &byDefault, nullptr);
    raise(signal);
}

} // namespace

void lowerDataLinesOnTermination()
{
    struct sigaction action = {};
    action.sa_handler = lowerAndTerminate;
    // A second terminating signal must not interrupt the first one's lowering.
    sigfillset(&action.sa_mask);
    for (const int signal : TERMINATING_SIGNALS) {
        struct sigaction previous = {};
        if (sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
            continue;
        sigaction(signal, &action, nullptr);
    }
}
