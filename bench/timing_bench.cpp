// How exactly a transmission keeps its times with the real clock.
//
// Plays one text-mode record (trigger, pause, 250 cells) on the simulated port
// under the progress dialog, takes every hold and every gap from the recorded
// writes and compares it with the time asked for. Then plays the same record
// the plain way (each wait a usleep of time * 1000 us, progress and events
// after each interval, normal scheduling), and last waits the same sequence of
// deadlines with the bare wait primitive alone (no dialog, no port, no
// events): the limit this machine sets. Each is measured the same way. Prints
// the error percentiles of the three and, last, how many times larger the
// plain way's median error is than ours, and how close ours comes to the
// limit at p99.

#include "clock.h"
#include "nubtactile.h"
#include "pins.h"
#include "portio_sim.h"
#include "pport.h"
#include "send_progress.h"

#include <QApplication>
#include <QProgressDialog>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sched.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{

constexpr std::uint32_t TRIGGER_MS = 20;
constexpr std::uint32_t PAUSE_MS = 10;
constexpr std::uint32_t HOLD_MS = 5;
constexpr std::uint32_t INTERVAL_MS = 5;
constexpr int REPEATS = 25; // of a ten-letter word: 250 cells

struct Stats {
    std::size_t count = 0;
    double p50 = 0, p99 = 0, p999 = 0, max = 0; // microseconds
    std::size_t over100us = 0, over1ms = 0;
};

// Nearest-rank percentile of sorted values.
double percentile(const std::vector<double>& sorted, double p)
{
    const auto rank = std::size_t(std::ceil(p * double(sorted.size())));
    return sorted[std::max<std::size_t>(rank, 1) - 1];
}

// Phase n lasted edges[n + 1] - edges[n] ns and should have lasted expected[n] ms.
Stats measure(const std::vector<std::int64_t>& edges, const std::vector<std::uint32_t>& expected)
{
    std::vector<double> errors;
    for (std::size_t n = 0; n + 1 < edges.size() && n < expected.size(); ++n) {
        const std::int64_t lasted = edges[n + 1] - edges[n];
        errors.push_back(std::abs(double(lasted - std::int64_t(expected[n]) * 1'000'000)) / 1e3);
    }
    std::sort(errors.begin(), errors.end());
    Stats s;
    s.count = errors.size();
    if (!errors.empty()) {
        s.p50 = percentile(errors, 0.50);
        s.p99 = percentile(errors, 0.99);
        s.p999 = percentile(errors, 0.999);
        s.max = errors.back();
    }
    s.over100us = std::size_t(errors.end() - std::upper_bound(errors.begin(), errors.end(), 100.0));
    s.over1ms = std::size_t(errors.end() - std::upper_bound(errors.begin(), errors.end(), 1000.0));
    return s;
}

// The times of the data-register writes from `first` on: raise and lower alternate.
std::vector<std::int64_t> recordedEdges(std::size_t first)
{
    std::vector<std::int64_t> edges;
    const auto& writes = portsim::writes();
    for (std::size_t i = first; i < writes.size(); ++i) {
        if (writes[i].address == unsigned(LPT1_BASE))
            edges.push_back(writes[i].time);
    }
    return edges;
}

// The same deadlines with nothing but the wait: each phase measured from the
// clock reading that ends the one before, as the transmission does.
std::vector<std::int64_t> bareWaits(const std::vector<std::uint32_t>& phases)
{
    Clock& clock = currentClock();
    std::vector<std::int64_t> edges{clock.now()};
    for (std::uint32_t ms : phases) {
        clock.waitUntil(edges.back() + std::int64_t(ms) * NS_PER_MS);
        edges.push_back(clock.now());
    }
    return edges;
}

// The way a transmission is written without deadlines: sleep for each time,
// and update the progress (letting events run) after each interval.
void playWithUsleep(const Braille_Data& r)
{
    const std::uint64_t total = std::uint64_t(r.loops) * r.length + 1;
    QProgressDialog dialog(QStringLiteral("Sending..."), QStringLiteral("Abort"), 0, int(total));
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setMinimumDuration(0);
    int progress = 1;
    dialog.setValue(progress);
    QApplication::processEvents();
    set_pin(63);
    usleep(r.triggerTime * 1000);
    clear_pin(63);
    usleep(r.afterTriggerTime * 1000);
    for (std::uint32_t pass = 0; pass < r.loops; ++pass) {
        for (std::uint32_t i = 0; i < r.length; ++i) {
            const int byte = braille2int(ASCII[r.word[i]]);
            set_pin(byte);
            usleep(r.charTime * 1000);
            clear_pin(byte);
            usleep(r.intervalTime * 1000);
            dialog.setValue(++progress);
            if (dialog.wasCanceled())
                return;
        }
        QApplication::processEvents();
    }
}

// Whether the transmission may raise itself to the real-time policy; the
// baseline always runs under the normal one.
bool realTimePermitted()
{
    sched_param fifo{};
    fifo.sched_priority = sched_get_priority_min(SCHED_FIFO);
    if (sched_setscheduler(0, SCHED_FIFO, &fifo) != 0)
        return false;
    const sched_param normal{};
    sched_setscheduler(0, SCHED_OTHER, &normal);
    return true;
}

// The bare waits run under the policy the transmission gets, for a fair limit.
class RealTime
{
public:
    explicit RealTime(bool on) : on(on)
    {
        sched_param fifo{};
        fifo.sched_priority = sched_get_priority_min(SCHED_FIFO);
        if (on)
            sched_setscheduler(0, SCHED_FIFO, &fifo);
    }
    ~RealTime()
    {
        const sched_param normal{};
        if (on)
            sched_setscheduler(0, SCHED_OTHER, &normal);
    }

private:
    bool on;
};

void print(const char* name, const Stats& s)
{
    std::printf("%-18s %4zu phases  error us: p50 %8.2f  p99 %8.2f  p99.9 %8.2f  max %8.2f"
                "  >100us %3zu  >1ms %3zu\n",
                name, s.count, s.p50, s.p99, s.p999, s.max, s.over100us, s.over1ms);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (initializeParallelPort(LPT1_BASE))
        return 1;

    std::string text;
    for (int i = 0; i < REPEATS; ++i)
        text += "nubtactile"; // every letter has a cell: every cell makes two edges
    Braille_Data record;
    record.mode = MODE_TEXT;
    record.loops = 1;
    record.triggerTime = TRIGGER_MS;
    record.afterTriggerTime = PAUSE_MS;
    record.charTime = HOLD_MS;
    record.intervalTime = INTERVAL_MS;
    if (setWord(record, text.c_str()) != 1)
        return 1;

    // Trigger, pause, then hold and interval for each cell; the last interval
    // ends with no edge, so it cannot be measured.
    std::vector<std::uint32_t> expected{TRIGGER_MS, PAUSE_MS};
    for (std::uint32_t i = 0; i < record.length; ++i) {
        expected.push_back(HOLD_MS);
        expected.push_back(INTERVAL_MS);
    }
    expected.pop_back();

    std::printf("%u cells: trigger %u ms, pause %u ms, hold %u ms, interval %u ms\n", record.length,
                TRIGGER_MS, PAUSE_MS, HOLD_MS, INTERVAL_MS);
    const bool realTime = realTimePermitted();
    std::printf("real-time scheduling for the deadline waits: %s\n",
                realTime ? "yes" : "not permitted");
    std::size_t first = portsim::writes().size();
    SendProgress::run([&record](TransmissionObserver& observer, const Interrupt& interrupt) {
        return sendToParallelPort(record, observer, interrupt);
    });
    const Stats ours = measure(recordedEdges(first), expected);
    print("deadline waits:", ours);

    first = portsim::writes().size();
    playWithUsleep(record);
    const Stats baseline = measure(recordedEdges(first), expected);
    print("usleep baseline:", baseline);

    std::vector<std::int64_t> bare;
    {
        const RealTime policy(realTime);
        bare = bareWaits(expected);
    }
    const Stats limit = measure(bare, expected);
    print("bare wait (limit):", limit);

    std::printf("baseline p50 error / ours: %.0f\n",
                ours.p50 > 0 ? baseline.p50 / ours.p50 : INFINITY);
    std::printf("ours p99 error / bare limit: %.2f (aim: within 2)\n",
                limit.p99 > 0 ? ours.p99 / limit.p99 : INFINITY);
    return 0;
}
