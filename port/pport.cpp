#include "pport.h"

#include "clock.h"
#include "cp437.h"
#include "nubtactile.h"
#include "pins.h"

#include <QApplication>
#include <QProgressDialog>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

// How the transmission keeps its timing while the progress dialog stays alive.
//
// Every hold, pause and interval is a deadline taken from the clock right
// after the port write it follows, so a late wake-up never shifts later edges
// and nothing drifts over a long sequence.
//
// Between raising a cell and lowering it nothing runs but the port accesses.
// The progress update (which lets the toolkit process events, and so notices a
// press of Abort) happens inside the interval that follows the cell instead of
// after it: the loop sleeps to EVENT_SLOT_NS before the interval's deadline,
// updates the progress and lets events run there, then waits for the deadline
// itself and only then looks at Abort. Seen from outside the order is still
// "cell, interval, progress, Abort check", but the time spent on events is
// hidden in the interval; only processing that overruns the slot lengthens
// that one gap, and it can never lengthen a cell. With an interval shorter
// than the slot the update simply follows the lowering edge.

namespace
{

// Data lines D0-D7 and the four control pins (connector pins 1, 14, 16, 17).
constexpr int DATA_AND_CONTROL_PINS = 0xF00FF;
constexpr int ALL_DATA_LINES = 0xFF;
// The TRIGGER cell: all six dots.
constexpr int TRIGGER_BYTE = 63;
// Room left before an interval's deadline for the progress update and events.
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
    set_pin(byte);
    const std::int64_t raised = clock.now();
    clock.waitUntil(raised + msToNs(ms));
    clear_pin(byte);
    return clock.now();
}

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

int sendSequence(const Braille_Data& record)
{
    Clock& clock = currentClock();
    const std::uint32_t length = record.word ? record.length : 0;
    const std::uint64_t total = std::uint64_t(record.loops) * length + 1;
    Progress progress(total);
    std::uint64_t done = 1;
    progress.step(done);

    std::int64_t edge = clock.now();
    if (record.triggerTime != 0)
        edge = pulse(clock, TRIGGER_BYTE, record.triggerTime);
    if (record.afterTriggerTime != 0)
        clock.waitUntil(edge + msToNs(record.afterTriggerTime));

    const std::int64_t interval = msToNs(record.intervalTime);
    for (std::uint32_t pass = 0; pass < record.loops; ++pass) {
        for (std::uint32_t i = 0; i < length; ++i) {
            const int byte = dataByte(record.word[i], record.mode);
            // Without a hold the interval runs from here, with no edge.
            edge = record.charTime != 0 ? pulse(clock, byte, record.charTime) : clock.now();
            const std::int64_t end = edge + interval;
            if (end - EVENT_SLOT_NS > edge)
                clock.waitUntil(end - EVENT_SLOT_NS);
            progress.step(++done);
            if (i + 1 == length)
                QApplication::processEvents();
            clock.waitUntil(end);
            if (progress.aborted())
                return 0;
        }
    }
    return 1;
}

// strtol in base 10 with a 32-bit long, then negatives as 0: digits after an
// optional sign, up to the first other character, saturating at LONG_MAX.
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

void initializeParallelPort(int base)
{
    // Timer slack is per thread and inherited; the transmission runs on this one.
    requestPreciseTimers();
    if (pin_init_user(base) != 0) {
        std::fputs("PARALLEL PORT NOT FOUND\n", stderr);
        std::exit(1);
    }
    pin_output_mode(DATA_AND_CONTROL_PINS);
    clear_pin(ALL_DATA_LINES);
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
    return record.mode == MODE_SINGLE_SHOT ? sendSingleShot(record) : sendSequence(record);
}

int sendToParallelPort(std::istream& stream, QApplication*& app, int port)
{
    for (;;) {
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
        if (sendToParallelPort(record, app, port) == 0)
            return 0;
    }
}

void resetParallelPort(int /*port*/)
{
    clear_pin(ALL_DATA_LINES);
}
