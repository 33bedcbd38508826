#include "send_progress.h"

#include "synchronisation.h"
#include "termination.h"

#include <QEventLoop>
#include <QProgressDialog>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <exception>
#include <thread>

namespace
{

TransmissionThread* active = nullptr;
Interrupt* preparing = nullptr;

// Points `slot` at `value` for as long as it exists, whatever leaves the scope.
template <typename T> class Pointing
{
public:
    Pointing(T*& slot, T* value) : slot(slot) { slot = value; }
    ~Pointing() { slot = nullptr; }
    Pointing(const Pointing&) = delete;
    Pointing& operator=(const Pointing&) = delete;

private:
    T*& slot;
};

// Cells the audit does not want still leave the ring.
TransmissionObserver discard;

// What the dialog says the transmission is doing. Before its thread has
// told anything, it is about to do what the send asked for.
QString phaseText(const TransmissionThread::Progress& now, const Synchronisation* sync)
{
    using Phase = TransmissionThread::Phase;
    if (sync && sync->waitForPulse && (now.phase == Phase::Waiting || now.phase == Phase::Starting))
        return QStringLiteral("Waiting for pulse %1 of %2 on pin %3...")
            .arg(std::min(now.pulses + 1, sync->pulseNumber))
            .arg(sync->pulseNumber)
            .arg(sync->pulsePin);
    if (now.phase == Phase::Answering)
        return QStringLiteral("Recording answers...");
    return QStringLiteral("Sending...");
}

} // namespace

int SendProgress::shownValue(std::uint64_t step, std::uint64_t total)
{
    if (total <= std::uint64_t(INT_MAX))
        return int(step);
    if (step == 0)
        return 0;
    // step * INT_MAX needs up to 95 bits.
    const auto scaled = (unsigned __int128)step * INT_MAX / total;
    return scaled == 0 ? 1 : int(scaled);
}

bool SendProgress::running()
{
    return active || preparing;
}

void SendProgress::abortRunning()
{
    if (active)
        active->abort();
    if (preparing)
        preparing->raise();
}

bool SendProgress::prepare(
    const std::function<void(const Interrupt& cancel, std::atomic<int>& permille)>& work)
{
    Interrupt cancel;
    std::atomic<int> permille{0};
    std::atomic<bool> done{false};
    std::exception_ptr failure;
    QProgressDialog dialog(QStringLiteral("Preparing..."), QStringLiteral("Cancel"), 0, 1000);
    dialog.setObjectName(QStringLiteral("NUBTactile"));
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setAutoReset(false);
    dialog.setAutoClose(false);
    // Shown by the timer below, not by its own guess.
    dialog.setMinimumDuration(INT_MAX);
    dialog.reset();
    QObject::connect(&dialog, &QProgressDialog::canceled, &dialog, [&cancel] { cancel.raise(); });
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(POLL_MS);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        // Only while shown: a value given to the hidden dialog would let it
        // guess whether to show itself, and Cancel hides it for good.
        if (dialog.isVisible())
            dialog.setValue(permille.load());
        if (done.load())
            loop.quit();
    });
    QTimer::singleShot(PREPARE_SHOW_MS, &dialog, [&dialog] { dialog.show(); });

    const Pointing<Interrupt> current(preparing, &cancel);
    // A signal now cancels the work; the handler must never be left with an
    // interrupt that is gone, also when no thread could be started.
    struct Signalled {
        explicit Signalled(Interrupt& interrupt) { setActiveInterrupt(&interrupt); }
        ~Signalled() { setActiveInterrupt(nullptr); }
    } signalled(cancel);
    std::thread worker([&] {
        try {
            work(cancel, permille);
        } catch (...) {
            failure = std::current_exception();
        }
        done.store(true);
    });
    poll.start();
    loop.exec();
    // The loop also ends when the application quits: the work stops first.
    if (!done.load())
        cancel.raise();
    worker.join();
    if (failure)
        std::rethrow_exception(failure);
    return !cancel.raised();
}

SendProgress::Result SendProgress::run(TransmissionThread::Play play, TransmissionObserver* audit,
                                       const std::function<bool(Interrupt&)>& supply,
                                       const Synchronisation* sync)
{
    // Everything the window needs is made before the first edge can go out.
    TransmissionObserver& sink = audit ? *audit : discard;
    bool supplying = bool(supply);
    QProgressDialog dialog(phaseText({}, sync), QStringLiteral("Abort"), 0, 1);
    dialog.setObjectName(QStringLiteral("NUBTactile"));
    dialog.setWindowModality(Qt::ApplicationModal);
    // Shown, and closed, by this function alone: the end of a record (a word
    // list plays many) is not the end of the send.
    dialog.setAutoReset(false);
    dialog.setAutoClose(false);
    dialog.setMinimumDuration(0);
    QEventLoop loop;
    QTimer timer;
    timer.setInterval(POLL_MS);

    TransmissionThread thread(std::move(play));
    const Pointing<TransmissionThread> current(active, &thread);
    QObject::connect(&dialog, &QProgressDialog::canceled, &dialog, [&thread] { thread.abort(); });
    const auto poll = [&] {
        if (supplying)
            supplying = supply(thread.interrupt());
        thread.takeCells(sink);
        thread.takeEdges(sink);
        const TransmissionThread::Progress now = thread.progress();
        const QString text = phaseText(now, sync);
        if (dialog.labelText() != text)
            dialog.setLabelText(text);
        const int maximum = shownValue(now.total, now.total);
        if (dialog.maximum() != maximum)
            dialog.setMaximum(maximum);
        // Once Abort was pressed a new value would only show the dialog again.
        if (!dialog.wasCanceled() && dialog.value() != shownValue(now.done, now.total))
            dialog.setValue(shownValue(now.done, now.total));
        if (thread.finished())
            loop.quit();
    };
    QObject::connect(&timer, &QTimer::timeout, &loop, poll);
    dialog.show();
    poll();
    if (!thread.finished()) {
        timer.start();
        loop.exec();
    }
    // The loop also ends when the application quits: the send goes first.
    if (!thread.finished())
        thread.abort();
    Result result;
    result.outcome = thread.join();
    thread.takeCells(sink);
    thread.takeEdges(sink);
    result.lostCells = thread.lostCells();
    result.lostEdges = thread.lostEdges();
    result.pulses = thread.progress().pulses;
    return result;
}
