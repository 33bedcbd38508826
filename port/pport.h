#ifndef PPORT_H
#define PPORT_H

#include "port_refusal.h"

#include <cstdint>
#include <istream>
#include <optional>
#include <string>

struct Braille_Data;
struct Synchronisation;

// Port base addresses.
constexpr int LPT1_BASE = 0x378;
constexpr int LPT2_BASE = 0x278;

// Claims the port at `base`, makes the eight data lines and the four control
// pins outputs and lowers all data lines. May be called again for another
// base. Returns nothing when the port is ready; when it cannot be claimed or
// set up, the refusal, whose lines end with "PARALLEL PORT NOT FOUND", and no
// pin can be driven until a later claim succeeds. Prints
// nothing and never ends the process: telling the operator is the caller's.
[[nodiscard]] std::optional<PortRefusal> initializeParallelPort(int base);

// Which socket the port claimed last drives, for the operator and the files:
// "LPT1: /dev/parport1 at 0x378", "LPT2: direct I/O at 0x278", "LPT1:
// simulated port". Holds no comma and no line end.
std::string drivenPort();

// What one raised cell was asked to be and what it was. Times are in ns from
// the transmission's origin: the moment its first edge was scheduled for.
struct CellTiming {
    std::uint32_t pass;       // from 1; 0 for the trigger; a text file's entry number
    std::uint32_t index;      // from 1 within the pass; 0 for the trigger
    int code;                 // the record's code; -1 for the trigger and a single shot
    std::uint8_t dataByte;    // what was raised on D0-D7
    std::int64_t targetOnset; // when the raising edge was due
    std::int64_t onset;       // clock reading just before the raising access
    std::int64_t targetHold;  // the hold asked for
    std::int64_t hold;        // from that reading to the one just before the lowering access
    // The wider of the two edges' brackets: the clock read just after a port
    // access less the reading just before it. Each edge happened somewhere in
    // its bracket, so the real onset delay and hold error lie within this of
    // the ones above.
    std::int64_t uncertainty;
};

// How a transmission ended.
enum class Outcome {
    Completed,      // every cell and wait played
    Aborted,        // the interrupt was raised: Abort, a closing window or a signal
    PortFailed,     // a port access failed (portio_failure() says which); lines lowered
    OutOfMemory,    // what was to be played could not be stored (a word list's entry)
    FileUnreadable, // a word list could not be read to its end
    NoPulse,        // the time limit passed before the pulse awaited came: nothing was sent
};

// An edge seen on a watched input pin. Times are in ns from the
// transmission's origin (negative before it): for a send that never began
// (aborted, or no pulse in time), from the moment it stopped waiting.
struct InputEdge {
    bool pulse;           // on the pulse pin, in the pulse's direction; else an answer
    std::uint8_t pin;     // connector pin: 10, 11, 12, 13 or 15
    bool rising;          // low to high
    std::uint32_t number; // from 1: the pulse's number, or the answer edge's among the send's
    std::int64_t time;    // the clock read just after the port read that saw it
    // How long before `time` the edge may have happened: back to the start
    // of the previous read of the pin. The edge lies in [time - within, time].
    std::int64_t within;
    // The last cell raised before the edge (it may still be raised); when
    // there was none, cellSeen is false and the rest is 0.
    bool cellSeen;
    std::int64_t reaction; // time less that cell's onset: the reaction time
    std::uint32_t pass;
    std::uint32_t index;
    int code;
};

class Interrupt;

// How a transmission reports. Every call comes on the transmitting thread,
// which may be a real-time one: an observer must neither block nor take a
// lock, and should not allocate. Never called while a cell is raised, but
// for inputSeen(). The base class does nothing.
class TransmissionObserver
{
public:
    virtual ~TransmissionObserver();
    // A record of `total` progress steps (at least 1) begins; step 1 follows.
    // A word list reports each entry as a record.
    virtual void recordStarted(std::uint64_t total);
    // `done` of the record's steps are complete: step 1 before its first
    // edge (after the pulse, when the send waits for one), then one after
    // each cell.
    virtual void progressed(std::uint64_t done);
    // A cell was lowered. Cells that raise nothing (hold 0 in a sequence, a
    // code without a cell in text mode) are not reported.
    virtual void cellPresented(const CellTiming& cell);
    // Waiting for the pulse that starts the send: `seen` pulses have come
    // (0 when the wait begins, then after each).
    virtual void pulsesSeen(std::uint32_t seen);
    // Every cell is played; answers are still watched for the response
    // window. Not called when no answer pin is watched.
    virtual void answering();
    // An edge on a watched input, as soon as it is seen: unlike the calls
    // above, this one may come during a hold, though only where the
    // transmission sleeps, never within INPUT_GUARD_NS of an edge.
    virtual void inputSeen(const InputEdge& edge);
};

// One entry of a word list, ready to play: `length` text-mode codes, each
// held `hold` ms and followed by `interval` ms.
struct Entry {
    std::uint32_t hold = 0;
    std::uint32_t interval = 0;
    const std::uint16_t* codes = nullptr;
    std::uint32_t length = 0;
};

// Where a word list's entries come from, as the transmission plays them.
class EntrySource
{
public:
    virtual ~EntrySource();
    // Fills `entry` with the next one, valid until the next call, and returns
    // true; or false at the end, which end() then explains. May wait for an
    // entry to be ready (never while a cell is raised), but returns false
    // soon after `interrupt` is raised.
    virtual bool next(Entry& entry, const Interrupt& interrupt) = 0;
    // Why next() returned false: Completed at the list's end, or what cut it
    // short (FileUnreadable, OutOfMemory); Aborted when the interrupt did.
    virtual Outcome end() const = 0;
};

// Plays `record` on the port claimed last, on the calling thread.
// Mode 0: the eight-pin pattern of `pins` held `charTime` ms (raised and
// lowered at once for 0); 2 progress steps.
// Modes 1 to 4: trigger (`triggerTime` ms, skipped when 0), pause
// (`afterTriggerTime` ms), then `loops` passes over `word`, each cell held
// `charTime` ms (no edge when 0) and followed by `intervalTime` ms;
// loops * length + 1 progress steps.
// Every hold and gap is measured from the edge it follows on currentClock(),
// in full for any 32-bit time; nothing but the port access and the clock runs
// between raising a cell and lowering it. When `interrupt` is raised the
// transmission ends at once wherever it is: a raised cell is lowered and
// reported with the hold it really had, a wait is cut short; Aborted. After a
// cell whose port access failed it ends with PortFailed. Every data line is
// low when it returns. The record is not changed.
Outcome sendToParallelPort(const Braille_Data& record, TransmissionObserver& observer,
                           const Interrupt& interrupt);

// The same with `sync`: when it waits for a pulse, the origin is the moment
// pulse `sync.pulseNumber` was seen on `sync.pulsePin` (the trigger, if any,
// still comes first); NoPulse when `sync.timeLimitMs` (not 0) passes first,
// Aborted when the interrupt comes first: nothing was sent either way. A
// pulse number outside 1 to MAX_PULSE_NUMBER counts as the nearer end; a
// pulse pin that is no input never pulses. The pulses before the origin are
// reported once it is known.
// When it watches answer pins, their edges are reported from the origin until
// `sync.responseWindowMs` after the last cell is lowered (after the origin
// when none was), or the timeline's end, when later; the interrupt ends that
// window with Completed. An answer pin that is no input, or that is the pulse
// pin of a send that waits, is not watched. A change less than
// `sync.deadTimeMs` after the last edge reported on its pin is a bounce: a
// level that still differs then is reported then. The inputs are read only while the transmission
// waits, every INPUT_POLL_NS, never in the last INPUT_GUARD_NS before an edge; a failed read ends
// the send with PortFailed.
Outcome sendToParallelPort(const Braille_Data& record, TransmissionObserver& observer,
                           const Interrupt& interrupt, const Synchronisation& sync);

// Plays a word list's entries as they come from `entries`, each as a
// one-pass text record without trigger, reported as pass n for the n-th
// entry. The entries form one timeline: an entry's first cell comes exactly
// when the last interval of the entry before it ends (taking the next entry
// happens within that interval). Completed when the source ended at its end;
// otherwise as for a record, or the source's end().
Outcome sendToParallelPort(EntrySource& entries, TransmissionObserver& observer,
                           const Interrupt& interrupt);
// The same with `sync`, as for a record; a word list waits once, before its
// first entry.
Outcome sendToParallelPort(EntrySource& entries, TransmissionObserver& observer,
                           const Interrupt& interrupt, const Synchronisation& sync);

// How often watched inputs are read, and how long before an edge they no
// longer are, so that a read never delays a cell.
constexpr std::int64_t INPUT_POLL_NS = 100'000;
constexpr std::int64_t INPUT_GUARD_NS = 20'000;

// Lowers all eight data lines of the port claimed last.
void resetParallelPort();

#endif
