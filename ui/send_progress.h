#ifndef SEND_PROGRESS_H
#define SEND_PROGRESS_H

#include "transmission_thread.h"

#include <atomic>
#include <cstdint>
#include <functional>

struct Synchronisation;

// What the operator sees of a transmission while it plays on its own thread:
// a modal "Sending..." dialog with an "Abort" button, shown from the start to
// the end of every send, whatever its number of steps. This side runs on the
// window's thread: it polls the transmission, shows its progress, hands its
// cells to the audit and keeps a word list supplied; Abort (the button, Esc,
// or closing the dialog) raises the transmission's interrupt at once.
class SendProgress
{
public:
    struct Result {
        Outcome outcome = Outcome::Completed;
        std::uint64_t lostCells = 0; // presented, but not handed to the audit
        std::uint64_t lostEdges = 0; // input edges seen, but not handed to it
        std::uint32_t pulses = 0;    // seen while waiting for the one that starts the send
    };

    // Plays `play` on a TransmissionThread under the dialog and returns when
    // it has ended. Cells and input edges go to `audit` when given.
    // `supply`, when given, is called on the window's thread as the send
    // starts and at every poll until it returns false, with the
    // transmission's interrupt to notify. With `sync`, the dialog says which
    // pulse it waits for ("Waiting for pulse 2 of 3 on pin 10...") and when
    // it records answers after the last cell. Throws std::system_error when
    // no thread can be started.
    static Result run(TransmissionThread::Play play, TransmissionObserver* audit = nullptr,
                      const std::function<bool(Interrupt&)>& supply = {},
                      const Synchronisation* sync = nullptr);

    // Runs `work` on a thread of its own while the window's thread stays
    // responsive: what would freeze it (drawing two billion codes, writing
    // their log line) goes there. When it takes longer than PREPARE_SHOW_MS a
    // modal "Preparing..." dialog shows its progress (`permille`, which
    // `work` raises from 0 to 1000) with "Cancel". Cancel, a closing window
    // or a terminating signal raise the interrupt that `work` is given; it
    // should then return soon. Returns false when it was raised. What `work`
    // throws is thrown again here. `work` must not touch a widget.
    static bool
    prepare(const std::function<void(const Interrupt& cancel, std::atomic<int>& permille)>& work);

    // Whether a send is being prepared or running, and Abort for it (a
    // closing window).
    static bool running();
    static void abortRunning();

    // The value the dialog shows after `step` of `total` steps
    // (1 <= total, 0 <= step <= total). The dialog counts in int: a total up
    // to INT_MAX is shown as is; a larger one is scaled so that the shown
    // value is at least 1 from step 1 on and reaches INT_MAX only at the last
    // step.
    static int shownValue(std::uint64_t step, std::uint64_t total);

    // How often the window's side looks at the transmission.
    static constexpr int POLL_MS = 5;
    static constexpr int PREPARE_SHOW_MS = 500;
};

#endif
