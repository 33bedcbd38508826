#ifndef PPORT_H
#define PPORT_H

#include "port_refusal.h"

#include <cstdint>
#include <istream>
#include <optional>
#include <string>

struct Braille_Data;

// Port base addresses.
constexpr int LPT1_BASE = 0x378;
constexpr int LPT2_BASE = 0x278;

// Claims the port at `base`, makes the eight data lines and the four control
// pins outputs and lowers all data lines. Asks for precise timers. May be
// called again for another base. Returns nothing when the port is ready; when
// it cannot be claimed, the refusal, whose lines end with "PARALLEL PORT NOT
// FOUND", and no pin can be driven until a later claim succeeds. Prints
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

// How a transmission talks to the outside: it reports each step and asks
// whether Abort was pressed, always on the transmitting thread and never while
// a cell is raised, so an observer may lengthen a gap but never a hold. The
// base class does nothing and never aborts.
class TransmissionObserver
{
public:
    virtual ~TransmissionObserver();
    // A record of `total` progress steps (at least 1) begins; step 1 follows.
    virtual void recordStarted(std::uint64_t total);
    // `done` of the record's steps are complete: step 1 before its first
    // edge, then one after each cell. Pending events may run here.
    virtual void progressed(std::uint64_t done);
    // Room for pending events to run: at the end of each pass, and shortly
    // before the deadline of each interval that has a next cell.
    virtual void eventSlot();
    // Read after the progress and event slots of each cell; once true it
    // must stay true for the rest of the transmission.
    virtual bool abortRequested();
    // A cell was lowered. Cells that raise nothing (hold 0 in a sequence, a
    // code without a cell) are not reported.
    virtual void cellPresented(const CellTiming& cell);
};

// Plays `record` on the port claimed last.
// Mode 0: the eight-pin pattern of `pins` held `charTime` ms (raised and
// lowered at once for 0); 2 progress steps; always returns 1.
// Modes 1 to 4: trigger (`triggerTime` ms, skipped when 0), pause
// (`afterTriggerTime` ms), then `loops` passes over `word`, each cell held
// `charTime` ms (no edge when 0) and followed by `intervalTime` ms;
// loops * length + 1 progress steps. Returns 1 when it ran to its end, 0 when
// Abort was requested: the transmission stops after the cell whose progress
// step or interval saw it, once that interval has passed; every data line is
// then low. A press made in an interval's last moments is seen after the next
// cell, and still gives 0, also when that cell was the record's last.
// Every hold and gap is measured from the edge it follows on currentClock(),
// in full for any 32-bit time (no wrap-around of long waits); nothing but
// the port access and the clock runs between raising a cell and lowering it.
// The calling thread runs under real-time scheduling for the call when the
// system permits it, and goes back to its own policy afterwards. The record
// is not changed.
int sendToParallelPort(const Braille_Data& record, TransmissionObserver& observer);

// Plays the body of a text file: entries of three whitespace-separated tokens
// (word, hold ms, interval ms), each as a one-pass text record without
// trigger, reported as pass n for the n-th entry. A word that is valid UTF-8
// is converted to code page 437; any other word is taken as code page 437
// bytes. Numbers read like strtol in base 10 (no digits: 0; negative: 0; at
// most 2147483647). The entries form one timeline: an entry's first cell
// comes exactly when the last interval of the entry before it ends (reading
// the entry and starting its record happen within that interval). Stops at
// the end of the stream or on a read error. Returns 1 when the whole body was
// sent; 0 when Abort was requested (as for a record, the entry's last cell
// included), on a read error (the entry being read is not sent) or when a
// word could not be stored (later entries not sent in each case).
int sendToParallelPort(std::istream& stream, TransmissionObserver& observer);

// Lowers all eight data lines of the port claimed last. `port` is not used.
void resetParallelPort(int port);

#endif
