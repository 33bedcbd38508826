#ifndef PPORT_H
#define PPORT_H

#include "port_refusal.h"

#include <cstdint>
#include <istream>
#include <optional>

class QApplication;
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

// Plays `record` on the port claimed last, under a modal "Sending..." progress
// dialog with an "Abort" button.
// Mode 0: the eight-pin pattern of `pins` held `charTime` ms; always returns 1.
// Modes 1 to 4: trigger (`triggerTime` ms, skipped when 0), pause
// (`afterTriggerTime` ms), then `loops` passes over `word`, each cell held
// `charTime` ms (no edge when 0) and followed by `intervalTime` ms. Returns 1
// when it ran to its end, 0 when Abort was pressed (the current cell and its
// interval complete, every data line is low, nothing more is sent).
// Every hold and gap is measured from the edge it follows on currentClock(),
// in full for any 32-bit time (no wrap-around of long waits);
// nothing but the port access happens between raising a cell and lowering it.
// The calling thread runs under real-time scheduling for the call when the
// system permits it, and goes back to its own policy afterwards.
// `app` is used only to let pending events run; `port` is not used. The record
// is not changed.
int sendToParallelPort(Braille_Data& record, QApplication*& app, int port);

// Plays the body of a text file: entries of three whitespace-separated tokens
// (word, hold ms, interval ms), each as a one-pass text transmission without
// trigger. A word that is valid UTF-8 is converted to code page 437; any other
// word is taken as code page 437 bytes. Numbers read like strtol in base 10
// (no digits: 0; negative: 0; at most 2147483647). The entries form one
// timeline: an entry's first cell comes exactly when the last interval of the
// entry before it ends (reading the entry and opening its dialog happen within
// that interval). Stops at the end of the stream or on a read error. Returns 1
// when the whole body was sent; 0 when Abort was pressed during an entry (its
// last cell included), on a read error (the entry being read is not sent) or
// when a word could not be stored (later entries not sent in each case).
int sendToParallelPort(std::istream& stream, QApplication*& app, int port);

// Lowers all eight data lines of the port claimed last. `port` is not used.
void resetParallelPort(int port);

// The value the progress dialog shows after `step` of `total` steps
// (1 <= total, 0 <= step <= total). The dialog counts in int: a total up to
// INT_MAX is shown as is; a larger one is scaled so that the shown value is at
// least 1 from step 1 on and reaches INT_MAX (the dialog's maximum, which
// closes it) only at the last step.
int scaledProgress(std::uint64_t step, std::uint64_t total);

#endif
