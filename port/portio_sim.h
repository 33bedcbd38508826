#ifndef PORTIO_SIM_H
#define PORTIO_SIM_H

#include <cerrno>
#include <cstdint>
#include <functional>
#include <vector>

// The simulated port behind portio.h: three hardware registers in memory per
// claimed base, every write recorded with the current clock's time. Values are
// raw hardware values, so the pin layer's inversion is visible.
namespace portsim
{

struct Write {
    std::int64_t time; // ns, currentClock().now() when written
    unsigned address;
    std::uint8_t value; // raw hardware value
};

// Forgets every write and register value, accepts claims again, stops the
// trace and removes the write hook. The input wires go back to raw 0: pins
// 10, 12, 13 and 15 low, pin 11 high.
void reset();

// Makes the next claims fail with `error` (an errno value, EPERM by default);
// 0 accepts them again.
void refuseClaims(int error = EPERM);

// Hardware value of the register at `address` (0 when never written).
std::uint8_t hardware(unsigned address);
// Sets what reading `address` gives, without recording a write; in a claimed
// port's status register the input pins' bits (3 to 7) follow setInput().
void setHardware(unsigned address, std::uint8_t value);

// Whether writes are recorded for writes(): on after a reset. The simulated
// program turns it off, or a rehearsal of hours would hold every edge in
// memory, and the transmission's thread would allocate to keep them.
void recordWrites(bool on);

// Every write since the last reset, in order. A write made from a signal
// handler (portio_write_data_in_handler) changes the register and is traced,
// but is not recorded here: recording may allocate.
const std::vector<Write>& writes();

// Runs `hook` at the start of every recorded write, before the write takes
// the clock's time: a test can move a virtual clock there, as if the access
// itself took that long. An empty hook removes it.
void beforeWrite(std::function<void(unsigned address, std::uint8_t value)> hook);

// Sets input pin `pin` (connector 10, 11, 12, 13 or 15) of every port as
// the wire would: `high` for a high voltage, which the pin layer reads as
// logical 1 (the hardware inversion of pin 11 is made here). Safe on any
// thread while a transmission reads the inputs. When tracing, a change prints
// "<seconds>  pin 10 high" (or low) on standard error. Other pins: nothing.
void setInput(int pin, bool high);

// Prints every change of the data register on standard error as
// "<seconds since start with microseconds>  <U+2800 + byte>  0x<hex>".
void traceDataLines();

} // namespace portsim

#endif
