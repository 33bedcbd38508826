#ifndef PARALLEL_PORT_H
#define PARALLEL_PORT_H

#include <atomic>
#include <string>

struct PortRefusal;

// A PC parallel port as this program drives it: the eight data lines and the
// four control pins are outputs, the five status pins inputs.
//
// Pins are named by a 32-bit mask: bits 0-7 data register (D0-D7), bits 8-15
// status register, bits 16-23 control register; bits 24-31 are ignored.
// Callers see every pin in positive logic: the hardware inversion of status
// bit 7 and control bits 0, 1 and 3 is undone here.
//
// The object keeps what it wrote to the data and control registers, so that
// raising or lowering a cell is one register write: the hardware is read
// only when the shadow does not know a register (after a claim, or after an
// access failed). Status lines change by themselves and are always read.
//
// A failed access is recorded (the first since the claim or since
// forgetFailure()), never printed: a transmission asks after each cell,
// outside any hold, and ends.
//
// Threads: the window's thread claims and releases, never while a
// transmission runs; the transmission's thread raises, lowers and reads; a
// signal handler may call lowerDataLinesInHandler() on any thread at any
// time. Nothing here takes a lock, allocates or prints, but claim() and
// failure().
class ParallelPort
{
public:
    ParallelPort() = default;
    ParallelPort(const ParallelPort&) = delete;
    ParallelPort& operator=(const ParallelPort&) = delete;

    // Claims the port at `base` through the back-end, makes the data lines
    // and control pins outputs (the control pins keep their levels) and
    // lowers all data lines. Returns 0; or -1, leaving no pin writable or
    // readable, with `refusal` (when given) holding the system's error and,
    // after the lines of the other ways in that were refused, "can't get IO
    // permissions!: <system error text>", or, when the port was claimed but
    // could not be set up, the failure (see failure()).
    int claim(int base, PortRefusal* refusal);

    // Lets go of the port; nothing is writable or readable until the next
    // claim. The lines stay as they are.
    void release();

    // The base address of the last claim; 0 before any.
    int base() const { return claimedBase; }

    // Raises (logical 1) / lowers (logical 0) every output pin in `pins`;
    // others are ignored. Lines not named keep their level.
    void raise(int pins);
    void lower(int pins);
    // The requested input pins that read logical 1.
    int read(int pins);

    // For a signal handler: lowers all eight data lines with one register
    // write and nothing else (async-signal-safe; the shadow is left as it
    // was, the process being about to end). Nothing when none is claimed.
    void lowerDataLinesInHandler() const;

    // Whether an access failed since the claim or forgetFailure(). Lock-free.
    bool failed() const { return failedWith.load(std::memory_order_relaxed) != 0; }
    // That failure as the operator is to be told, "can't access
    // /dev/parport1: Input/output error"; empty when none.
    std::string failure() const;
    // A new transmission answers for its own accesses only.
    void forgetFailure() { failedWith.store(0, std::memory_order_relaxed); }

private:
    enum Register { DATA = 0, STATUS = 1, CONTROL = 2 };
    struct Shadow {
        int value = 0; // logical
        bool known = false;
    };

    int current(Register r);
    int readHardware(Register r);
    void write(Register r, int value);
    void forget();

    int claimedBase = 0;
    int outputs = 0;
    int inputs = 0;
    Shadow shadow[3];
    // The base a signal handler may write to; -1 while none is set up.
    std::atomic<int> handlerBase{-1};
    // errno of the first failed access; 0 when none.
    std::atomic<int> failedWith{0};
    // Where the accesses go, for the failure's text.
    std::string device;
};

// The process's port: one, so that a signal handler can reach it.
ParallelPort& parallelPort();

#endif
