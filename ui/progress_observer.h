#ifndef PROGRESS_OBSERVER_H
#define PROGRESS_OBSERVER_H

#include "pport.h"

#include <cstdint>
#include <istream>
#include <memory>

class QApplication;
class QProgressDialog;
struct Braille_Data;

// What the operator sees of a transmission: for each record a modal
// "Sending..." progress dialog with an "Abort" button, which lets pending
// events run at the transmission's progress steps and event slots. A press of
// Abort is remembered for the rest of the transmission, also after the dialog
// reset itself at its total. Cell times are handed on to `audit` when given.
class ProgressObserver : public TransmissionObserver
{
public:
    explicit ProgressObserver(TransmissionObserver* audit = nullptr);
    ~ProgressObserver() override;

    void recordStarted(std::uint64_t total) override;
    void progressed(std::uint64_t done) override;
    void eventSlot() override;
    bool abortRequested() override;
    void cellPresented(const CellTiming& cell) override;

    // The value the dialog shows after `step` of `total` steps
    // (1 <= total, 0 <= step <= total). The dialog counts in int: a total up
    // to INT_MAX is shown as is; a larger one is scaled so that the shown
    // value is at least 1 from step 1 on and reaches INT_MAX (the dialog's
    // maximum, which closes it) only at the last step.
    static int shownValue(std::uint64_t step, std::uint64_t total);

private:
    // How long the first dialog of a transmission may take to appear before
    // the first edge goes out regardless.
    static constexpr int FIRST_SHOW_LIMIT_MS = 200;

    // Lets the first dialog appear completely before the timeline begins.
    void settleFirstDialog();

    TransmissionObserver* audit;
    std::unique_ptr<QProgressDialog> dialog;
    std::uint64_t total = 1;
    bool aborted = false;
    bool timelineStarted = false;
};

// The windows' transmissions of a record and of a text file's body, under
// the progress dialog; results as the port's sendToParallelPort. `app` and
// `port` are kept for the callers' sake: events run through the application's
// static entry point, and the port is the one claimed last.
int sendToParallelPort(Braille_Data& record, QApplication*& app, int port,
                       TransmissionObserver* audit = nullptr);
int sendToParallelPort(std::istream& stream, QApplication*& app, int port,
                       TransmissionObserver* audit = nullptr);

#endif
