#include "progress_observer.h"

#include "nubtactile.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProgressDialog>
#include <QWindow>

#include <climits>

ProgressObserver::ProgressObserver(TransmissionObserver* audit) : audit(audit) {}

ProgressObserver::~ProgressObserver() = default;

int ProgressObserver::shownValue(std::uint64_t step, std::uint64_t total)
{
    if (total <= std::uint64_t(INT_MAX))
        return int(step);
    if (step == 0)
        return 0;
    // step * INT_MAX needs up to 95 bits.
    const auto scaled = (unsigned __int128)step * INT_MAX / total;
    return scaled == 0 ? 1 : int(scaled);
}

void ProgressObserver::recordStarted(std::uint64_t steps)
{
    total = steps;
    // A dialog left unused pops up by itself after a while: each record gets
    // a fresh one, made just before it is needed.
    dialog = std::make_unique<QProgressDialog>(
        QStringLiteral("Sending..."), QStringLiteral("Abort"), 0, shownValue(total, total));
    dialog->setObjectName(QStringLiteral("NUBTactile"));
    dialog->setWindowModality(Qt::ApplicationModal);
    dialog->setMinimumDuration(0);
    dialog->setAutoReset(true);
    dialog->setAutoClose(true);
    // Reaching the total resets the dialog and clears its own flag; a press
    // still waiting in the event queue at that moment must not be lost.
    QObject::connect(dialog.get(), &QProgressDialog::canceled, dialog.get(),
                     [this] { aborted = true; });
}

void ProgressObserver::progressed(std::uint64_t done)
{
    const int value = shownValue(done, total);
    bool eventsRan = false;
    // Once Abort was pressed the dialog is left alone: a new value would
    // show it again.
    if (!abortRequested() && value != dialog->value()) {
        // A changed value on a shown modal dialog processes events itself.
        eventsRan = dialog->isVisible();
        dialog->setValue(value);
    }
    if (!eventsRan)
        QApplication::processEvents();
    if (done == 1 && !timelineStarted)
        settleFirstDialog();
}

void ProgressObserver::settleFirstDialog()
{
    timelineStarted = true;
    // The first showing of the dialog is the slowest repaint of all: the
    // window system maps it and the style draws it whole. Left to the first
    // interval, it made the second cell milliseconds late; before the first
    // edge it delays nothing that was scheduled. Later records of a text file
    // start inside an interval and must not wait here.
    QElapsedTimer waited;
    waited.start();
    const QWindow* window = dialog->windowHandle();
    while (dialog->isVisible() && window && !window->isExposed() &&
           waited.elapsed() < FIRST_SHOW_LIMIT_MS)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    dialog->repaint();
    QApplication::processEvents();
}

void ProgressObserver::eventSlot()
{
    QApplication::processEvents();
}

bool ProgressObserver::abortRequested()
{
    aborted = aborted || (dialog && dialog->wasCanceled());
    return aborted;
}

void ProgressObserver::cellPresented(const CellTiming& cell)
{
    if (audit)
        audit->cellPresented(cell);
}

int sendToParallelPort(Braille_Data& record, QApplication*& /*app*/, int /*port*/,
                       TransmissionObserver* audit)
{
    ProgressObserver observer(audit);
    return sendToParallelPort(static_cast<const Braille_Data&>(record), observer);
}

int sendToParallelPort(std::istream& stream, QApplication*& /*app*/, int /*port*/,
                       TransmissionObserver* audit)
{
    ProgressObserver observer(audit);
    return sendToParallelPort(stream, observer);
}
