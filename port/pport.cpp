#include "pport.h"

#include "clock.h"
#include "cp437.h"
#include "nubtactile.h"
#include "pins.h"

#include <QApplication>
#include <QProgressDialog>

#include <climits>
#include <sched.h>
#include <string>

// How the transmission keeps its timing while the progress dialog stays alive.
//
// Every hold, pause and interval is a deadline taken from the clock just
// before the port access that makes the edge it follows, so a late wake-up
// never shifts later edges and nothing drifts over a long sequence. Taking the
// time before the access, not after it, makes both ends of a hold alike: each
// edge lands one port access (a register read and a write, about a
// microsecond on real ports, less on a warm cache) after its reference time,
// so the access time cancels out of every hold and gap.
//
// Between raising a cell and lowering it nothing runs but the port accesses.
// Events run only inside the interval that follows a cell, never in a cell:
// right after the lowering edge the progress is updated (a repaint can take a
// millisecond or more, and the whole interval is there to absorb it), which
// sees a press of Abort made during the cell; then, EVENT_SLOT_NS before the
// interval's deadline, pending events run once more, which sees a press made
// during the interval; the Abort check comes after the deadline itself. Seen
// from outside the order is still "cell, interval, progress, Abort check":
// Abort pressed during a cell or its interval stops the transmission when that
// interval ends. Only processing that overruns the interval lengthens that
// one gap; it can never lengthen a cell.
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

// Raises `byte`, holds it `ms` and lowers it. Returns the time of the lowering
// edge. Only port accesses and the clock run while the lines are up.
std::int64_t pulse(Clock& clock, int byte, std::uint32_t ms)
{
    const std::int64_t raised = clock.now();
    set_pin(byte);
    clock.waitUntil(raised + msToNs(ms));
    const std::int64_t lowered = clock.now();
    clear_pin(byte);
    return lowered;
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

// The modal progress dialog of one transmission, counting `total` steps.
class Progress
{
public:
    explicit Progress(std::uint64_t total)
        : total(total), dialog(QStringLiteral("Sending..."), QStringLiteral("Abort"), 0,
                               scaledProgress(total, total))
    {
        dialog.setObjectName(QStringLiteral("NUBTactile"));
        dialog.setWindowModality(Qt::ApplicationModal);
        dialog.setMinimumDuration(0);
        dialog.setAutoReset(true);
        dialog.setAutoClose(true);
    }

    // Shows `done` steps and lets pending events run exactly once. Reaching
    // the total closes the dialog. Once Abort was pressed the dialog is left
    // alone: a new value would show it again, and the total would clear the
    // abort.
    void step(std::uint64_t done)
    {
        const int value = scaledProgress(done, total);
        bool eventsRan = false;
        if (!dialog.wasCanceled() && value != dialog.value()) {
            // A changed value on a shown modal dialog processes events itself.
            eventsRan = dialog.isVisible();
            dialog.setValue(value);
        }
        if (!eventsRan)
            QApplication::processEvents();
    }

    bool aborted() const { return dialog.wasCanceled(); }

private:
    std::uint64_t total;
    QProgressDialog dialog;
};

int sendSingleShot(const Braille_Data& record)
{
    Clock& clock = currentClock();
    Progress progress(2);
    progress.step(1);
    int pattern = 0;
    for (int k = 0; k < 8; ++k)
        pattern += record.pins[k] ? PIN[k] : 0;
    pulse(clock, pattern, record.charTime);
    progress.step(2);
    return 1;
}

// Plays a text or random record. With `carry`, the record continues a
// timeline: nothing is raised before *carry (the deadline of the interval that
// ended the previous record), and the record's own last interval is not waited
// for here but handed on in *carry, so that setting up the next record (its
// dialog, its events) happens inside that interval instead of lengthening it.
int sendSequence(const Braille_Data& record, std::int64_t* carry = nullptr)
{
    Clock& clock = currentClock();
    const std::uint32_t length = record.word ? record.length : 0;
    const std::uint64_t total = std::uint64_t(record.loops) * length + 1;
    Progress progress(total);
    std::uint64_t done = 1;
    progress.step(done);

    if (carry)
        clock.waitUntil(*carry);
    std::int64_t edge = clock.now();
    if (record.triggerTime != 0)
        edge = pulse(clock, TRIGGER_BYTE, record.triggerTime);
    if (record.afterTriggerTime != 0)
        clock.waitUntil(edge + msToNs(record.afterTriggerTime));

    const std::int64_t interval = msToNs(record.intervalTime);
    int byte = length != 0 ? dataByte(record.word[0], record.mode) : 0;
    for (std::uint32_t pass = 0; pass < record.loops; ++pass) {
        for (std::uint32_t i = 0; i < length; ++i) {
            // Without a hold the interval runs from here, with no edge.
            edge = record.charTime != 0 ? pulse(clock, byte, record.charTime) : clock.now();
            const std::int64_t end = edge + interval;
            const bool last = pass + 1 == record.loops && i + 1 == length;
            if (carry && last) {
                // Reaching the total resets the dialog, and with it a press
                // of Abort still waiting in the event queue; here that press
                // must still stop the records that would follow.
                QApplication::processEvents();
                if (progress.aborted()) {
                    clock.waitUntil(end);
                    return 0;
                }
            }
            progress.step(++done);
            if (i + 1 == length)
                QApplication::processEvents();
            if (carry && last) {
                *carry = end;
                return 1;
            }
            if (end - EVENT_SLOT_NS > edge) {
                clock.waitUntil(end - EVENT_SLOT_NS);
                QApplication::processEvents();
            }
            // No event runs from here to the deadline, so Abort can be read
            // now; the next cell is made ready too, so that nothing but the
            // port access separates the deadline from the next edge.
            const bool aborted = progress.aborted();
            byte = dataByte(record.word[i + 1 == length ? 0 : i + 1], record.mode);
            clock.waitUntil(end);
            if (aborted)
                return 0;
        }
    }
    return 1;
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

int scaledProgress(std::uint64_t step, std::uint64_t total)
{
    if (total <= std::uint64_t(INT_MAX))
        return int(step);
    if (step == 0)
        return 0;
    // step * INT_MAX needs up to 95 bits.
    const auto scaled = (unsigned __int128)step * INT_MAX / total;
    return scaled == 0 ? 1 : int(scaled);
}

int sendToParallelPort(Braille_Data& record, QApplication*& /*app*/, int /*port*/)
{
    // Events run through the application object's static entry point, the
    // same one the caller's `app` would reach.
    const RealTimeSection realTime;
    return record.mode == MODE_SINGLE_SHOT ? sendSingleShot(record) : sendSequence(record);
}

int sendToParallelPort(std::istream& stream, QApplication*& /*app*/, int /*port*/)
{
    // One timeline for the whole file: each entry starts when the last
    // interval of the one before ends, however long it took to read the
    // entry and open its dialog meanwhile.
    const RealTimeSection realTime;
    Clock& clock = currentClock();
    std::int64_t next = clock.now();
    const auto finish = [&](int result) {
        clock.waitUntil(next);
        return result;
    };
    for (;;) {
        std::string word, duration, interval;
        stream >> word >> duration >> interval;
        // A read that fails before the end of the stream may have cut the
        // entry short: better not send it, and tell the caller the file was
        // not sent in full.
        if (stream.bad() || (stream.fail() && !stream.eof()))
            return finish(0);
        if (word.empty())
            return finish(1);

        Braille_Data record;
        if (setWord(record, wordBytes(word).c_str()) == ENCODE_NO_MEMORY)
            return finish(0);
        record.triggerTime = 0;
        record.afterTriggerTime = 0;
        record.charTime = readTime(duration);
        record.intervalTime = readTime(interval);
        record.loops = 1;
        record.mode = MODE_TEXT;
        if (sendSequence(record, &next) == 0)
            return 0;
    }
}

void resetParallelPort(int /*port*/)
{
    clear_pin(ALL_DATA_LINES);
}
