#include "pport.h"

#include "clock.h"
#include "interrupt.h"
#include "nubtactile.h"
#include "parallel_port.h"
#include "pins.h"
#include "portio.h"
#include "synchronisation.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <vector>

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

// What the sends without synchronisation play with: nothing is read.
const Synchronisation unsynchronised;

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
//
// With synchronisation the timeline also reads the input pins, but only
// where it would sleep anyway: every wait becomes reads spaced INPUT_POLL_NS
// apart, the last one INPUT_GUARD_NS before the wait's deadline, and then the
// same precise wait as without reading. So an edge's time never depends on
// what is watched. Without synchronisation not even a clock reading is
// added. Everything is in fixed tables: nothing here allocates.
class Timeline
{
public:
    Timeline(TransmissionObserver& observer, const Interrupt& interrupt,
             const Synchronisation& sync)
        : observer(observer), interrupt(interrupt), clock(currentClock()),
          waiting(sync.waitForPulse), pulsePin(sync.pulsePin),
          pulseMask(waiting ? inputMask(sync.pulsePin) : 0), pulseRising(sync.pulseRising),
          pulseNumber(
              std::clamp<std::uint32_t>(sync.pulseNumber, 1, Synchronisation::MAX_PULSE_NUMBER)),
          timeLimit(msToNs(sync.timeLimitMs)), deadTime(msToNs(sync.deadTimeMs)),
          responseWindow(msToNs(sync.responseWindowMs))
    {
        // A failure of an earlier send must not end this one at its first
        // cell: the port may work again, and if not, this send finds out.
        parallelPort().forgetFailure();
        const std::vector<int>& pins = sync.answerPins;
        for (const int pin : Synchronisation::INPUT_PINS) {
            // A pulse pin is read for pulses alone: each pulse is no press.
            if (std::find(pins.begin(), pins.end(), pin) != pins.end() &&
                !(pulseMask && pin == pulsePin))
                answers[answerCount++] = {pin, LP_PIN[pin], false, false, 0};
        }
        readMask = pulseMask;
        for (int i = 0; i < answerCount; ++i)
            readMask |= answers[i].mask;
    }

    // Reads the inputs' first levels, and when the send waits for a pulse,
    // waits for it: the reading that sees it fixes the origin. Only the
    // first call acts. False when the wait ended otherwise (see stopped()).
    bool begin()
    {
        if (begun || (readMask == 0 && !waiting))
            return true;
        begun = true;
        if (waiting)
            observer.pulsesSeen(0);
        const std::int64_t start = clock.now();
        bool going = read(start);
        nextRead = start + INPUT_POLL_NS;
        // Polling for a pulse has no edge to be precise for: no spinning.
        const std::int64_t limit = timeLimit ? start + timeLimit : INT64_MAX;
        while (going && waiting && !started) {
            if (clock.now() >= limit) {
                noPulse = true;
                break;
            }
            const std::int64_t at = std::min(nextRead, limit);
            going = clock.napUntil(at, interrupt) && readDue(at, clock.now());
        }
        if (started || !waiting)
            return going;
        // Pulses seen before a wait that came to nothing are told relative
        // to its end.
        unreported = pulses;
        reference = clock.now();
        return false;
    }

    // Fixes the origin at the first call, unless a pulse did: the first edge
    // is due now.
    void start()
    {
        if (started)
            return;
        started = true;
        origin = due = clock.now();
    }

    // Raises `byte` when it is due, holds it `ms` and lowers it; the next edge
    // is due at the lowering. Only port accesses and the clock run while the
    // lines are up, but for the reads of the hold's wait; an interrupt lowers
    // them at once.
    bool present(int byte, std::uint32_t ms, CellTiming cell)
    {
        if (!waitUntil(due))
            return false;
        const std::int64_t raised = clock.now();
        set_pin(byte);
        const std::int64_t raisedAfter = clock.now();
        if (readMask != 0)
            lastCell = {true, raised - origin, cell.pass, cell.index, cell.code};
        const bool held = waitUntil(raised + msToNs(ms));
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
        lastLowered = lowered;
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
        return waitUntil(due);
    }

    // Waits out the last gap: the timeline ends when it does.
    bool finish() { return waitUntil(due); }

    // Why the timeline stopped early. Every cell was lowered where it
    // stopped; after a failed access the lowering is tried once more.
    Outcome stopped() const
    {
        if (noPulse)
            return Outcome::NoPulse;
        if (interrupt.raised() || !portio_failed())
            return Outcome::Aborted;
        clear_pin(ALL_DATA_LINES);
        return Outcome::PortFailed;
    }

    // Ends the send as `outcome` says. After a complete timeline the answers
    // are watched for the response window, which Abort only cuts short: every
    // cell was played. Pulses not told yet are told last.
    Outcome close(Outcome outcome)
    {
        if (outcome == Outcome::Completed && answerCount != 0 && started) {
            observer.answering();
            const std::int64_t end = (lastLowered ? *lastLowered : origin) + responseWindow;
            if (!watch(end, INT64_MAX) && !interrupt.raised())
                outcome = stopped();
        }
        tellPulses(INT64_MAX);
        return outcome;
    }

    TransmissionObserver& observer;
    const Interrupt& interrupt;

private:
    struct Answer {
        int pin;
        int mask;
        bool level;              // the last one accepted
        bool changed;            // whether an edge was accepted yet
        std::int64_t acceptedAt; // its after-reading
    };
    struct Seen {
        std::int64_t time; // after-reading, on the clock's time line
        std::int64_t within;
    };
    struct LastCell {
        bool seen;
        std::int64_t onset;
        std::uint32_t pass;
        std::uint32_t index;
        int code;
    };

    // The mask of connector pin `pin` if it is an input, else 0: never read.
    static int inputMask(int pin) { return Synchronisation::isInputPin(pin) ? LP_PIN[pin] : 0; }

    // A wait of the timeline: up to `deadline`, reading the inputs on the way
    // when any are watched.
    bool waitUntil(std::int64_t deadline)
    {
        if (readMask != 0 && !watch(deadline - INPUT_GUARD_NS, deadline))
            return false;
        return clock.waitUntil(deadline, interrupt);
    }

    // Reads the inputs every INPUT_POLL_NS up to `lastRead`, never after; the
    // reads after `deadline` are the next wait's. A read is napped to, but for
    // those within SPIN_MARGIN_NS of `deadline`: a nap that ends late there
    // could push into the edge that follows, so they take the precise wait
    // (which spins there anyway). When the read due next would fall between
    // `lastRead` and `deadline`, it is made at `lastRead` instead, so that no
    // two reads are further apart than a poll period.
    bool watch(std::int64_t lastRead, std::int64_t deadline)
    {
        for (;;) {
            tellPulses(lastRead);
            std::int64_t at = nextRead;
            if (at > lastRead) {
                if (at > deadline || lastReadStart >= lastRead)
                    return true;
                at = lastRead;
            }
            const bool woke = at < deadline - RealClock::SPIN_MARGIN_NS
                                  ? clock.napUntil(at, interrupt)
                                  : clock.waitUntil(at, interrupt);
            if (!woke)
                return false;
            const std::int64_t before = clock.now();
            if (before > lastRead)
                return true;
            if (!(at == nextRead ? readDue(at, before) : read(before)))
                return false;
        }
    }

    // A read due at `at`, begun at `before`; the next is due a period later,
    // or a period after this one when it came that late.
    bool readDue(std::int64_t at, std::int64_t before)
    {
        nextRead = (before - at < INPUT_POLL_NS ? at : before) + INPUT_POLL_NS;
        return read(before);
    }

    // One reading of the watched pins, taken at `before`; tells what changed.
    // A failed read reads every pin low: it is no edge, and ends the send.
    bool read(std::int64_t before)
    {
        const int levels = pin_is_set(readMask);
        const std::int64_t after = clock.now();
        if (portio_failed())
            return false;
        const bool first = !levelsKnown;
        const bool playing = started;
        const std::int64_t within = after - lastReadStart;
        levelsKnown = true;
        lastReadStart = before;
        if (pulseMask) {
            const bool level = levels & pulseMask;
            if (!first && level != pulseLevel && level == pulseRising)
                pulse(after, within);
            pulseLevel = level;
        }
        for (int i = 0; i < answerCount; ++i) {
            Answer& answer = answers[i];
            const bool level = levels & answer.mask;
            if (first || !playing) {
                answer.level = level;
                continue;
            }
            // A bounce comes back within the dead time; a level that still
            // differs after it is a change, accepted then.
            if (level == answer.level || (answer.changed && after - answer.acceptedAt < deadTime))
                continue;
            answer = {answer.pin, answer.mask, level, true, after};
            tell(false, answer.pin, level, ++answerEdges, after - origin, within, true);
        }
        return true;
    }

    void pulse(std::int64_t after, std::int64_t within)
    {
        ++pulses;
        if (started) {
            tell(true, pulsePin, pulseRising, pulses, after - origin, within, true);
            return;
        }
        early[pulses - 1] = {after, within};
        observer.pulsesSeen(pulses);
        if (pulses == pulseNumber) {
            started = true;
            origin = due = reference = after;
            unreported = pulses;
        }
    }

    // Tells the pulses kept from before the origin, oldest first, while the
    // clock is before `until`: a wait tells them where it has time to spare.
    void tellPulses(std::int64_t until)
    {
        for (; told < unreported && clock.now() < until; ++told)
            tell(true, pulsePin, pulseRising, told + 1, early[told].time - reference,
                 early[told].within, false);
    }

    void tell(bool isPulse, int pin, bool rising, std::uint32_t number, std::int64_t time,
              std::int64_t within, bool afterOrigin)
    {
        InputEdge edge{isPulse, std::uint8_t(pin), rising, number, time, within, false, 0, 0, 0, 0};
        if (afterOrigin && lastCell.seen) {
            edge.cellSeen = true;
            edge.reaction = time - lastCell.onset;
            edge.pass = lastCell.pass;
            edge.index = lastCell.index;
            edge.code = lastCell.code;
        }
        observer.inputSeen(edge);
    }

    Clock& clock;
    bool started = false;
    std::int64_t origin = 0;
    std::int64_t due = 0;

    const bool waiting;
    const int pulsePin;
    const int pulseMask;
    const bool pulseRising;
    const std::uint32_t pulseNumber;
    const std::int64_t timeLimit;
    const std::int64_t deadTime;
    const std::int64_t responseWindow;
    Answer answers[std::size(Synchronisation::INPUT_PINS)]{};
    int answerCount = 0;
    int readMask = 0;

    bool begun = false;
    bool noPulse = false;
    bool levelsKnown = false;
    bool pulseLevel = false;
    std::int64_t lastReadStart = 0;
    std::int64_t nextRead = 0;
    std::uint32_t pulses = 0;
    std::uint32_t answerEdges = 0;
    // Pulses up to the one awaited; told from `reference` once it is known.
    Seen early[Synchronisation::MAX_PULSE_NUMBER];
    std::uint32_t unreported = 0;
    std::uint32_t told = 0;
    std::int64_t reference = 0;
    LastCell lastCell{};
    std::optional<std::int64_t> lastLowered;
};

bool playSingleShot(Timeline& timeline, const Braille_Data& record)
{
    timeline.observer.recordStarted(2);
    if (!timeline.begin())
        return false;
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
    if (!timeline.begin())
        return false;
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
    return sendToParallelPort(record, observer, interrupt, unsynchronised);
}

Outcome sendToParallelPort(const Braille_Data& record, TransmissionObserver& observer,
                           const Interrupt& interrupt, const Synchronisation& sync)
{
    Timeline timeline(observer, interrupt, sync);
    const bool played = record.mode == MODE_SINGLE_SHOT
                            ? playSingleShot(timeline, record)
                            : playSequence(timeline, sequenceOf(record), 0) && timeline.finish();
    return timeline.close(played ? Outcome::Completed : timeline.stopped());
}

Outcome sendToParallelPort(EntrySource& entries, TransmissionObserver& observer,
                           const Interrupt& interrupt)
{
    return sendToParallelPort(entries, observer, interrupt, unsynchronised);
}

Outcome sendToParallelPort(EntrySource& entries, TransmissionObserver& observer,
                           const Interrupt& interrupt, const Synchronisation& sync)
{
    Timeline timeline(observer, interrupt, sync);
    Entry entry;
    for (std::uint32_t number = 1; entries.next(entry, interrupt); ++number) {
        const Sequence sequence{entry.codes, entry.length,   1,        0, 0,
                                entry.hold,  entry.interval, MODE_TEXT};
        if (!playSequence(timeline, sequence, number))
            return timeline.close(timeline.stopped());
    }
    if (interrupt.raised())
        return timeline.close(Outcome::Aborted);
    if (entries.end() != Outcome::Completed)
        return timeline.close(entries.end());
    return timeline.close(timeline.finish() ? Outcome::Completed : timeline.stopped());
}

void resetParallelPort()
{
    clear_pin(ALL_DATA_LINES);
}
