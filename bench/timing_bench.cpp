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
//
// Then the same record while LOAD_THREADS busy loops of ours keep every
// processor busy at the normal policy, LOADED_RUNS times: ours with the
// progress dialog as the program shows it, and the bare waits over the same
// deadlines under the same load and the policy the transmission gets; the
// count of phases off by more than 100 us and 1 ms of each, and the ratio of
// the 1 ms counts. Then a word list of WORD_LIST_ENTRIES entries "ab 5 5"
// played as the program plays a text file: how late each entry's first cell
// rises after the previous entry's last interval, against the second cells.
//
// Last a record of WATCHED_CELLS cells, hold and interval as above, is played
// twice on the transmission's thread: once as usual, once watching an answer
// pin while another thread flips that pin every INJECT_PERIOD_US and notes
// the time just after each flip. How long after a flip the transmission saw
// it (its edge's time from the origin, the origin being the first cell's
// recorded write less that cell's onset), and the cells' onset and hold
// errors of both plays.

#include "clock.h"
#include "entry_queue.h"
#include "nubtactile.h"
#include "pins.h"
#include "portio_sim.h"
#include "pport.h"
#include "send_progress.h"
#include "synchronisation.h"
#include "transmission_thread.h"
#include "word_list.h"

#include <QApplication>
#include <QProgressDialog>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <sched.h>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

constexpr std::uint32_t TRIGGER_MS = 20;
constexpr std::uint32_t PAUSE_MS = 10;
constexpr std::uint32_t HOLD_MS = 5;
constexpr std::uint32_t INTERVAL_MS = 5;
constexpr int REPEATS = 25; // of a ten-letter word: 250 cells
constexpr int LOAD_THREADS = 4;
constexpr int LOADED_RUNS = 5;
constexpr int WORD_LIST_ENTRIES = 1000;
constexpr int WATCHED_CELLS = 200;
constexpr int ANSWER_PIN = 12;
// Apart from every multiple of the cells' 10 ms, and beyond the dead time.
constexpr std::int64_t INJECT_PERIOD_US = 7300;

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

// Busy loops at the normal policy on every processor and more, while it exists.
class Load
{
public:
    Load()
    {
        for (int i = 0; i < LOAD_THREADS; ++i)
            threads.emplace_back([this] {
                const sched_param normal{};
                pthread_setschedparam(pthread_self(), SCHED_OTHER, &normal);
                while (!stop.load(std::memory_order_relaxed)) {
                }
            });
    }
    ~Load()
    {
        stop = true;
        for (std::thread& thread : threads)
            thread.join();
    }
    Load(const Load&) = delete;
    Load& operator=(const Load&) = delete;

private:
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
};

// Plays `record` as the program does: on its own thread, under the dialog.
void playAsTheProgram(const Braille_Data& record)
{
    SendProgress::run([&record](TransmissionObserver& observer, const Interrupt& interrupt) {
        return sendToParallelPort(record, observer, interrupt);
    });
}

// A word list as the program plays a text file: read on the window's thread
// into the queue the transmission takes its entries from.
void playWordList(const std::string& body)
{
    std::istringstream stream(body);
    WordList list(stream);
    EntryQueue queue;
    SendProgress::run(
        [&queue](TransmissionObserver& observer, const Interrupt& interrupt) {
            return sendToParallelPort(queue, observer, interrupt);
        },
        nullptr, [&](Interrupt& wake) { return list.supply(queue, wake); });
}

// How late the cells whose raising edge is edges[first + 4k] rose against the
// lowering before them plus `gapMs`: the count beyond 1 ms and the worst, us.
std::pair<std::size_t, double> lateness(const std::vector<std::int64_t>& edges, std::size_t first,
                                        std::uint32_t gapMs)
{
    std::size_t over1ms = 0;
    double worst = 0;
    for (std::size_t i = first; i < edges.size(); i += 4) {
        const double late = double(edges[i] - edges[i - 1] - std::int64_t(gapMs) * NS_PER_MS) / 1e3;
        over1ms += late > 1000.0;
        worst = std::max(worst, late);
    }
    return {over1ms, worst};
}

void print(const char* name, const Stats& s)
{
    std::printf("%-18s %4zu phases  error us: p50 %8.2f  p99 %8.2f  p99.9 %8.2f  max %8.2f"
                "  >100us %3zu  >1ms %3zu\n",
                name, s.count, s.p50, s.p99, s.p999, s.max, s.over100us, s.over1ms);
}

// What the transmission's thread hands over.
struct Collected : TransmissionObserver {
    std::vector<CellTiming> cells;
    std::vector<InputEdge> edges;
    void cellPresented(const CellTiming& cell) override { cells.push_back(cell); }
    void inputSeen(const InputEdge& edge) override { edges.push_back(edge); }
};

// Plays `record` with `sync` on the transmission's thread, taking what it
// hands over as the window would, without a window.
Collected playCollected(const Braille_Data& record, const Synchronisation& sync)
{
    Collected got;
    TransmissionThread thread([&](TransmissionObserver& observer, const Interrupt& interrupt) {
        return sendToParallelPort(record, observer, interrupt, sync);
    });
    while (!thread.finished()) {
        thread.takeCells(got);
        thread.takeEdges(got);
        usleep(10'000);
    }
    thread.join();
    thread.takeCells(got);
    thread.takeEdges(got);
    return got;
}

// p50, p99 and max of `values` (us), sorted here.
void printPercentiles(const char* name, std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    if (values.empty()) {
        std::printf("  %-34s none\n", name);
        return;
    }
    std::printf("  %-34s p50 %8.2f  p99 %8.2f  max %8.2f\n", name, percentile(values, 0.50),
                percentile(values, 0.99), values.back());
}

void printCells(const char* how, const Collected& got)
{
    std::vector<double> onset, hold;
    for (const CellTiming& cell : got.cells) {
        onset.push_back(double(cell.onset - cell.targetOnset) / 1e3);
        hold.push_back(std::abs(double(cell.hold - cell.targetHold)) / 1e3);
    }
    std::printf("cells %s (%zu):\n", how, got.cells.size());
    printPercentiles("onset error us:", onset);
    printPercentiles("hold error us:", hold);
}

// The record played without and with an answer pin watched, its pin flipped
// meanwhile by another thread.
bool measureWatching(bool realTime)
{
    std::string text;
    for (int i = 0; i < WATCHED_CELLS / 10; ++i)
        text += "nubtactile";
    Braille_Data record;
    record.mode = MODE_TEXT;
    record.loops = 1;
    record.charTime = HOLD_MS;
    record.intervalTime = INTERVAL_MS;
    if (setWord(record, text.c_str()) != 1)
        return false;
    const std::int64_t lasts = std::int64_t(record.length) * (HOLD_MS + INTERVAL_MS) * NS_PER_MS;

    const Collected plain = playCollected(record, Synchronisation());

    Synchronisation sync;
    sync.answerPins = {ANSWER_PIN};
    sync.responseWindowMs = 0;
    portsim::setInput(ANSWER_PIN, true);
    std::vector<std::int64_t> flipped;
    flipped.reserve(std::size_t(lasts / (INJECT_PERIOD_US * 1000)) + 1);
    const std::size_t first = portsim::writes().size();
    RealClock clock;
    // Flips begin well after the send has started and end before it does:
    // answers are watched from the origin to the end.
    const std::int64_t from = clock.now() + 20 * NS_PER_MS;
    std::thread flipper([&] {
        // At the transmission's policy where permitted, so that nothing of
        // the normal policy comes between a flip and the time taken after it.
        const RealTime policy(realTime);
        requestPreciseTimers();
        const Interrupt never;
        bool high = true;
        for (std::int64_t at = from; at < from + lasts - 40 * NS_PER_MS;
             at += INJECT_PERIOD_US * 1000) {
            clock.napUntil(at, never);
            high = !high;
            portsim::setInput(ANSWER_PIN, high);
            flipped.push_back(clock.now());
        }
    });
    const Collected watched = playCollected(record, sync);
    flipper.join();
    const auto& writes = portsim::writes();
    if (watched.cells.empty() || writes.size() <= first)
        return false;
    const std::int64_t origin = writes[first].time - watched.cells.front().onset;

    // The flips before the origin were not watched; each later one is an
    // edge, in order (the flips are further apart than the dead time).
    const auto watchedFrom = std::upper_bound(flipped.begin(), flipped.end(), origin);
    const auto flips = std::size_t(flipped.end() - watchedFrom);
    std::vector<double> latency, within;
    for (std::size_t i = 0; i < watched.edges.size(); ++i) {
        if (watched.edges.size() == flips)
            latency.push_back(double(origin + watched.edges[i].time - watchedFrom[i]) / 1e3);
        within.push_back(double(watched.edges[i].within) / 1e3);
    }
    std::printf("\nanswer pin %d watched: %u cells, hold %u ms, interval %u ms, the pin flipped "
                "every %.1f ms by another thread: %zu edges seen of %zu flips\n",
                ANSWER_PIN, record.length, HOLD_MS, INTERVAL_MS, INJECT_PERIOD_US / 1e3,
                watched.edges.size(), flips);
    printPercentiles("detection latency us (seen - set):", latency);
    printPercentiles("bracket of each edge us:", within);
    printCells("without watching", plain);
    printCells("while watching", watched);
    return true;
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
    playAsTheProgram(record);
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

    std::printf("\nunder load: %d busy threads of ours at the normal policy, %u processors\n",
                LOAD_THREADS, std::thread::hardware_concurrency());
    std::size_t ours1ms = 0, bare1ms = 0;
    for (int run = 1; run <= LOADED_RUNS; ++run) {
        const Load load;
        first = portsim::writes().size();
        playAsTheProgram(record);
        const Stats loaded = measure(recordedEdges(first), expected);
        std::vector<std::int64_t> edges;
        {
            const RealTime policy(realTime);
            edges = bareWaits(expected);
        }
        const Stats bareLoaded = measure(edges, expected);
        std::printf("run %d  ours: >100us %3zu  >1ms %3zu  max %9.2f us | bare: >100us %3zu  "
                    ">1ms %3zu  max %9.2f us\n",
                    run, loaded.over100us, loaded.over1ms, loaded.max, bareLoaded.over100us,
                    bareLoaded.over1ms, bareLoaded.max);
        ours1ms += loaded.over1ms;
        bare1ms += bareLoaded.over1ms;
    }
    std::printf("phases off by more than 1 ms in %d runs: ours %zu, bare %zu; ours / bare: %s "
                "(aim: within 2)\n",
                LOADED_RUNS, ours1ms, bare1ms,
                bare1ms ? std::to_string(double(ours1ms) / double(bare1ms)).c_str()
                        : (ours1ms ? "inf" : "0/0"));

    std::string body;
    for (int i = 0; i < WORD_LIST_ENTRIES; ++i)
        body += "ab 5 5\n";
    first = portsim::writes().size();
    playWordList(body);
    const std::vector<std::int64_t> edges = recordedEdges(first);
    if (edges.size() != std::size_t(4 * WORD_LIST_ENTRIES))
        return 1;
    const auto [entryLate, entryWorst] = lateness(edges, 4, INTERVAL_MS);
    const auto [secondLate, secondWorst] = lateness(edges, 2, INTERVAL_MS);
    std::printf("\nword list of %d entries \"ab 5 5\": first cells of entries late by more than "
                "1 ms: %zu (worst %.2f us); second cells: %zu (worst %.2f us)\n",
                WORD_LIST_ENTRIES, entryLate, entryWorst, secondLate, secondWorst);
    return measureWatching(realTime) ? 0 : 1;
}
