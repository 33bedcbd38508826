#include "pport.h"

#include "clock.h"
#include "cp437.h"
#include "nubtactile.h"
#include "pins.h"
#include "portio.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <sched.h>
#include <string>

// How the transmission keeps its timing while the operator can still abort.
//
// Every hold, pause and interval is a deadline taken from the clock just
// before the port access that makes the edge it follows, so a late wake-up
// never shifts later edges and nothing drifts over a long sequence. Taking the
// time before the access, not after it, makes both ends of a hold alike: each
// edge lands one port access (a register read and a write, about a
// microsecond on real ports, less on a warm cache) after its reference time,
// so the access time cancels out of every hold and gap.
//
// Between raising a cell and lowering it nothing runs but the port accesses
// and the clock. The observer (the progress dialog, the time audit) is called
// only inside the interval that follows a cell: right after the lowering edge
// it gets the cell's times and the progress step (a repaint can take a
// millisecond or more, and the whole interval is there to absorb it), which
// sees a press of Abort made during the cell; then, EVENT_SLOT_NS before the
// interval's deadline, it may run pending events once more, which sees a
// press made during the interval; Abort is read after that, and the
// transmission stops once the deadline has passed. A press that comes later
// than that slot is seen at the progress step after the next cell and stops
// the transmission there, with the same result, even when that cell was the
// record's last. Only processing that overruns an interval lengthens that one
// gap; it can never lengthen a cell.
//
// A text file is one timeline: the last interval of an entry is not waited
// for by the entry itself, so reading the next entry and starting its record
// happen inside that interval instead of lengthening it.
//
// A precise wait is only as good as the scheduler lets it be: on a busy
// machine a thread that wakes 1 ms before its deadline can wait milliseconds
// for a processor, and a spinning thread can be preempted for a whole time
// slice. So each transmission runs under the real-time FIFO policy at its
// lowest priority when the system allows it (root, CAP_SYS_NICE or an
// RLIMIT_RTPRIO above 0), and falls back silently to the normal policy when
// it does not. The thread sleeps for all but about a millisecond of every
// wait, so it takes little from other programs.

namespace
{

// Data lines D0-D7 and the four control pins (connector pins 1, 14, 16, 17).
constexpr int DATA_AND_CONTROL_PINS = 0xF00FF;
constexpr int ALL_DATA_LINES = 0xFF;
// The TRIGGER cell: all six dots.
constexpr int TRIGGER_BYTE = 63;
// Room left before an interval's deadline for a last run of pending events.
constexpr std::int64_t EVENT_SLOT_NS = 2'000'000;

std::int64_t msToNs(std::uint32_t ms)
{
    return std::int64_t(ms) * NS_PER_MS;
}

// The data byte a code raises; a code outside a byte has no cell.
int dataByte(std::uint16_t code, std::int32_t mode)
{
    if (code > 255)
        return 0;
    return mode == MODE_TEXT ? braille2int(ASCII[code]) : code;
}

// Real-time scheduling of the calling thread while it exists, when permitted.
// A thread that already runs under a real-time policy (a nested transmission,
// or a user's own set-up) is left as it is.
class RealTimeSection
{
public:
    RealTimeSection()
    {
        previousPolicy = sched_getscheduler(0);
        if (previousPolicy == SCHED_FIFO || previousPolicy == SCHED_RR || previousPolicy < 0 ||
            sched_getparam(0, &previous) != 0)
            return;
        sched_param fifo{};
        fifo.sched_priority = sched_get_priority_min(SCHED_FIFO);
        raised = sched_setscheduler(0, SCHED_FIFO, &fifo) == 0;
    }
    ~RealTimeSection()
    {
        if (raised)
            sched_setscheduler(0, previousPolicy, &previous);
    }
    RealTimeSection(const RealTimeSection&) = delete;
    RealTimeSection& operator=(const RealTimeSection&) = delete;

private:
    int previousPolicy = -1;
    sched_param previous{};
    bool raised = false;
};

// One unbroken sequence of edges. `due` is when the next edge may come: the
// deadline of the last hold, pause or interval, or the origin before the
// first edge.
class Timeline
{
public:
    explicit Timeline(TransmissionObserver& observer) : observer(observer), clock(currentClock()) {}

    // Fixes the origin at the first call: the first edge is due now.
    void start()
    {
        if (started)
            return;
        started = true;
        origin = due = clock.now();
    }

    // Raises `byte` when it is due, holds it `ms` and lowers it; the next edge
    // is due at the lowering. Only port accesses and the clock run while the
    // lines are up. `cell` names the cell for the observer.
    void present(int byte, std::uint32_t ms, CellTiming cell)
    {
        clock.waitUntil(due);
        const std::int64_t raised = clock.now();
        set_pin(byte);
        const std::int64_t raisedAfter = clock.now();
        clock.waitUntil(raised + msToNs(ms));
        const std::int64_t lowered = clock.now();
        clear_pin(byte);
        const std::int64_t loweredAfter = clock.now();
        cell.dataByte = std::uint8_t(byte);
        cell.targetOnset = due - origin;
        cell.onset = raised - origin;
        cell.targetHold = msToNs(ms);
        cell.hold = lowered - raised;
        cell.uncertainty = std::max(raisedAfter - raised, loweredAfter - lowered);
        due = lowered;
        observer.cellPresented(cell);
    }

    // Quiet time after the last edge (or, before any edge, after the origin).
    void gap(std::uint32_t ms) { due += msToNs(ms); }

    // A cell that raises nothing still takes its place: its hold passes in
    // silence, and what follows it comes when its hold ends.
    void silence(std::uint32_t ms)
    {
        gap(ms);
        clock.waitUntil(due);
    }

    // Lets events run once more shortly before the next edge is due, when
    // the gap leaves room for it.
    void eventSlotBeforeDue()
    {
        const std::int64_t slot = due - EVENT_SLOT_NS;
        if (slot > clock.now()) {
            clock.waitUntil(slot);
            observer.eventSlot();
        }
    }

    // Waits out the last gap: the transmission ends when it does.
    void finish() { clock.waitUntil(due); }

    TransmissionObserver& observer;

private:
    Clock& clock;
    bool started = false;
    std::int64_t origin = 0;
    std::int64_t due = 0;
};

void playSingleShot(Timeline& timeline, const Braille_Data& record)
{
    timeline.observer.recordStarted(2);
    timeline.observer.progressed(1);
    timeline.start();
    int pattern = 0;
    for (int k = 0; k < 8; ++k)
        pattern += record.pins[k] ? PIN[k] : 0;
    timeline.present(pattern, record.charTime, {1, 1, -1, 0, 0, 0, 0, 0, 0});
    timeline.observer.progressed(2);
}

// Plays a text or random record on `timeline` and leaves its last interval
// running. `entry` numbers a text file's entries (its passes are reported
// under that number); 0 for a record of its own. Returns false when Abort was
// requested.
bool playSequence(Timeline& timeline, const Braille_Data& record, std::uint32_t entry)
{
    TransmissionObserver& observer = timeline.observer;
    const std::uint32_t length = record.word ? record.length : 0;
    const std::uint64_t total = std::uint64_t(record.loops) * length + 1;
    std::uint64_t done = 1;
    observer.recordStarted(total);
    observer.progressed(done);
    timeline.start();

    if (record.triggerTime != 0)
        timeline.present(TRIGGER_BYTE, record.triggerTime, {0, 0, -1, 0, 0, 0, 0, 0, 0});
    timeline.gap(record.afterTriggerTime);

    for (std::uint32_t pass = 0; pass < record.loops; ++pass) {
        for (std::uint32_t i = 0; i < length; ++i) {
            const std::uint16_t code = record.word[i];
            const int byte = dataByte(code, record.mode);
            if (record.charTime != 0 && byte != 0)
                timeline.present(byte, record.charTime,
                                 {entry ? entry : pass + 1, i + 1, code, 0, 0, 0, 0, 0, 0});
            else
                timeline.silence(record.charTime);
            timeline.gap(record.intervalTime);
            observer.progressed(++done);
            if (i + 1 == length)
                observer.eventSlot();
            if (done < total)
                timeline.eventSlotBeforeDue();
            if (observer.abortRequested())
                return false;
        }
    }
    return true;
}

// strtol in base 10 with a 32-bit long, then negatives as 0: digits after an
// optional sign, up to the first other character, saturating at 2147483647.
std::uint32_t readTime(const std::string& token)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < token.size() && (token[i] == '+' || token[i] == '-')) {
        negative = token[i] == '-';
        ++i;
    }
    std::uint32_t value = 0;
    for (; i < token.size() && token[i] >= '0' && token[i] <= '9'; ++i) {
        const std::uint32_t digit = std::uint32_t(token[i] - '0');
        value = value > (std::uint32_t(INT32_MAX) - digit) / 10 ? std::uint32_t(INT32_MAX)
                                                                : value * 10 + digit;
    }
    return negative ? 0 : value;
}

// The code page 437 bytes of a word token. A NUL byte would end the text
// early for setWord, and has no cell anyway.
std::string wordBytes(const std::string& token)
{
    std::string bytes;
    if (!utf8ToCp437(token, bytes))
        bytes = token;
    std::string text;
    text.reserve(bytes.size());
    for (char c : bytes) {
        if (c != '\0')
            text += c;
    }
    return text;
}

// The entries of a text file, one after the other on `timeline`. Returns 1
// when all were sent.
int playFile(Timeline& timeline, std::istream& stream)
{
    for (std::uint32_t entry = 1;; ++entry) {
        std::string word, duration, interval;
        stream >> word >> duration >> interval;
        // A read that fails before the end of the stream may have cut the
        // entry short: better not send it, and tell the caller the file was
        // not sent in full.
        if (stream.bad() || (stream.fail() && !stream.eof()))
            return 0;
        if (word.empty())
            return 1;

        Braille_Data record;
        if (setWord(record, wordBytes(word).c_str()) == ENCODE_NO_MEMORY)
            return 0;
        record.triggerTime = 0;
        record.afterTriggerTime = 0;
        record.charTime = readTime(duration);
        record.intervalTime = readTime(interval);
        record.loops = 1;
        record.mode = MODE_TEXT;
        if (!playSequence(timeline, record, entry))
            return 0;
    }
}

} // namespace

std::optional<PortRefusal> initializeParallelPort(int base)
{
    // Timer slack is per thread and inherited; the transmission runs on this one.
    requestPreciseTimers();
    PortRefusal refusal;
    if (pin_init_user(base, &refusal) != 0) {
        refusal.lines.push_back("PARALLEL PORT NOT FOUND");
        return refusal;
    }
    pin_output_mode(DATA_AND_CONTROL_PINS);
    clear_pin(ALL_DATA_LINES);
    return std::nullopt;
}

std::string drivenPort()
{
    switch (lp_base) {
    case LPT1_BASE:
        return portio_driven("LPT1");
    case LPT2_BASE:
        return portio_driven("LPT2");
    default: {
        char name[16];
        std::snprintf(name, sizeof name, "0x%x", unsigned(lp_base));
        return portio_driven(name);
    }
    }
}

TransmissionObserver::~TransmissionObserver() = default;
void TransmissionObserver::recordStarted(std::uint64_t) {}
void TransmissionObserver::progressed(std::uint64_t) {}
void TransmissionObserver::eventSlot() {}
bool TransmissionObserver::abortRequested()
{
    return false;
}
void TransmissionObserver::cellPresented(const CellTiming&) {}

int sendToParallelPort(const Braille_Data& record, TransmissionObserver& observer)
{
    const RealTimeSection realTime;
    Timeline timeline(observer);
    int result = 1;
    if (record.mode == MODE_SINGLE_SHOT)
        playSingleShot(timeline, record);
    else
        result = playSequence(timeline, record, 0) ? 1 : 0;
    timeline.finish();
    return result;
}

int sendToParallelPort(std::istream& stream, TransmissionObserver& observer)
{
    const RealTimeSection realTime;
    Timeline timeline(observer);
    const int result = playFile(timeline, stream);
    timeline.finish();
    return result;
}

void resetParallelPort(int /*port*/)
{
    clear_pin(ALL_DATA_LINES);
}
