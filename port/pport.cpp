#include "pport.h"

#include "clock.h"
#include "interrupt.h"
#include "nubtactile.h"
#include "parallel_port.h"
#include "pins.h"
#include "portio.h"

#include <algorithm>
#include <cstdio>

// How the transmission keeps its timing while the operator can still abort.
//
// Every hold, pause and interval is a deadline taken from the clock just
// before the port access that makes the edge it follows, so a late wake-up
// never shifts later edges and nothing drifts over a long sequence. Taking the
// time before the access, not after it, makes both ends of a hold alike: each
// edge lands one port access after its reference time, so the access time
// cancels out of every hold and gap. A second reading just after each access
// brackets the edge, so that the audit can say how sure each time is.
//
// Between raising a cell and lowering it nothing runs but the port accesses
// and the clock. The observer is called only after a cell is lowered. Nothing
// here waits for the window: the transmission runs on a thread of its own,
// and Abort reaches it through the interrupt, which every wait watches, so a
// press ends a hold, a pause or an interval within microseconds.
//
// A word list is one timeline: the last interval of an entry is not waited
// for by the entry itself, so taking the next entry happens inside that
// interval instead of lengthening it.

namespace
{

constexpr int ALL_DATA_LINES = 0xFF;

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

// What a text or random record and a word list's entry have in common.
struct Sequence {
    const std::uint16_t* codes;
    std::uint32_t length;
    std::uint32_t loops;
    std::uint32_t triggerTime;
    std::uint32_t afterTriggerTime;
    std::uint32_t charTime;
    std::uint32_t intervalTime;
    std::int32_t mode;
};

// One unbroken sequence of edges. `due` is when the next edge may come: the
// deadline of the last hold, pause or interval, or the origin before the
// first edge. Each step returns false once the transmission is to end: the
// interrupt was raised or a port access failed.
class Timeline
{
public:
    Timeline(TransmissionObserver& observer, const Interrupt& interrupt)
        : observer(observer), interrupt(interrupt), clock(currentClock())
    {
        // A failure of an earlier send must not end this one at its first
        // cell: the port may work again, and if not, this send finds out.
        parallelPort().forgetFailure();
    }

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
    // lines are up; an interrupt lowers them at once.
    bool present(int byte, std::uint32_t ms, CellTiming cell)
    {
        if (!clock.waitUntil(due, interrupt))
            return false;
        const std::int64_t raised = clock.now();
        set_pin(byte);
        const std::int64_t raisedAfter = clock.now();
        const bool held = clock.waitUntil(raised + msToNs(ms), interrupt);
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
        return held && !portio_failed();
    }

    // Quiet time after the last edge (or, before any edge, after the origin).
    void gap(std::uint32_t ms) { due += msToNs(ms); }

    // A cell that raises nothing still takes its place: its hold passes in
    // silence, and what follows it comes when its hold ends.
    bool silence(std::uint32_t ms)
    {
        gap(ms);
        return clock.waitUntil(due, interrupt);
    }

    // Waits out the last gap: the transmission ends when it does.
    bool finish() { return clock.waitUntil(due, interrupt); }

    // Why the timeline stopped early. Every cell was lowered where it
    // stopped; after a failed access the lowering is tried once more.
    Outcome stopped() const
    {
        if (interrupt.raised() || !portio_failed())
            return Outcome::Aborted;
        clear_pin(ALL_DATA_LINES);
        return Outcome::PortFailed;
    }

    TransmissionObserver& observer;
    const Interrupt& interrupt;

private:
    Clock& clock;
    bool started = false;
    std::int64_t origin = 0;
    std::int64_t due = 0;
};

bool playSingleShot(Timeline& timeline, const Braille_Data& record)
{
    timeline.observer.recordStarted(2);
    timeline.observer.progressed(1);
    timeline.start();
    int pattern = 0;
    for (int k = 0; k < 8; ++k)
        pattern += record.pins[k] ? PIN[k] : 0;
    if (!timeline.present(pattern, record.charTime, {1, 1, -1, 0, 0, 0, 0, 0, 0}))
        return false;
    timeline.observer.progressed(2);
    return true;
}

// Plays a text or random sequence on `timeline` and leaves its last interval
// running. `entry` numbers a word list's entries (its passes are reported
// under that number); 0 for a record of its own. False when it stopped early.
bool playSequence(Timeline& timeline, const Sequence& sequence, std::uint32_t entry)
{
    TransmissionObserver& observer = timeline.observer;
    const std::uint32_t length = sequence.codes ? sequence.length : 0;
    const std::uint64_t total = std::uint64_t(sequence.loops) * length + 1;
    std::uint64_t done = 1;
    observer.recordStarted(total);
    observer.progressed(done);
    timeline.start();

    if (sequence.triggerTime != 0 &&
        !timeline.present(braille2int(TRIGGER), sequence.triggerTime, {0, 0, -1, 0, 0, 0, 0, 0, 0}))
        return false;
    timeline.gap(sequence.afterTriggerTime);

    for (std::uint32_t pass = 0; pass < sequence.loops; ++pass) {
        for (std::uint32_t i = 0; i < length; ++i) {
            const std::uint16_t code = sequence.codes[i];
            const int byte = dataByte(code, sequence.mode);
            const bool going =
                sequence.charTime != 0 && byte != 0
                    ? timeline.present(byte, sequence.charTime,
                                       {entry ? entry : pass + 1, i + 1, code, 0, 0, 0, 0, 0, 0})
                    : timeline.silence(sequence.charTime);
            if (!going)
                return false;
            timeline.gap(sequence.intervalTime);
            observer.progressed(++done);
        }
    }
    return true;
}

Sequence sequenceOf(const Braille_Data& record)
{
    return {record.word.get(),       record.length,   record.loops,        record.triggerTime,
            record.afterTriggerTime, record.charTime, record.intervalTime, record.mode};
}

} // namespace

std::optional<PortRefusal> initializeParallelPort(int base)
{
    PortRefusal refusal;
    if (pin_init_user(base, &refusal) != 0) {
        refusal.lines.push_back("PARALLEL PORT NOT FOUND");
        return refusal;
    }
    return std::nullopt;
}

std::string drivenPort()
{
    const int base = parallelPort().base();
    switch (base) {
    case LPT1_BASE:
        return portio_driven("LPT1");
    case LPT2_BASE:
        return portio_driven("LPT2");
    default: {
        char name[16];
        std::snprintf(name, sizeof name, "0x%x", unsigned(base));
        return portio_driven(name);
    }
    }
}

TransmissionObserver::~TransmissionObserver() = default;
void TransmissionObserver::recordStarted(std::uint64_t) {}
void TransmissionObserver::progressed(std::uint64_t) {}
void TransmissionObserver::cellPresented(const CellTiming&) {}
void TransmissionObserver::pulsesSeen(std::uint32_t) {}
void TransmissionObserver::answering() {}
void TransmissionObserver::inputSeen(const InputEdge&) {}

EntrySource::~EntrySource() = default;

Outcome sendToParallelPort(const Braille_Data& record, TransmissionObserver& observer,
                           const Interrupt& interrupt)
{
    Timeline timeline(observer, interrupt);
    const bool played = record.mode == MODE_SINGLE_SHOT
                            ? playSingleShot(timeline, record)
                            : playSequence(timeline, sequenceOf(record), 0) && timeline.finish();
    return played ? Outcome::Completed : timeline.stopped();
}

Outcome sendToParallelPort(EntrySource& entries, TransmissionObserver& observer,
                           const Interrupt& interrupt)
{
    Timeline timeline(observer, interrupt);
    Entry entry;
    for (std::uint32_t number = 1; entries.next(entry, interrupt); ++number) {
        const Sequence sequence{entry.codes, entry.length,   1,        0, 0,
                                entry.hold,  entry.interval, MODE_TEXT};
        if (!playSequence(timeline, sequence, number))
            return timeline.stopped();
    }
    if (interrupt.raised())
        return Outcome::Aborted;
    if (entries.end() != Outcome::Completed)
        return entries.end();
    return timeline.finish() ? Outcome::Completed : Outcome::Aborted;
}

void resetParallelPort()
{
    clear_pin(ALL_DATA_LINES);
}
