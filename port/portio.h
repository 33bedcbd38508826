#ifndef PORTIO_H
#define PORTIO_H

#include <cstdint>
#include <string>
#include <vector>

// The primitives the pin layer needs from the machine. Exactly one back-end is
// linked into each executable: the real program's (the Linux parport device,
// else direct I/O) or the simulated port.

// Claims the three consecutive register addresses base, base + 1, base + 2 for
// reading and writing. Returns 0; or -1 with errno set (EPERM without the
// privilege, ENOSYS on kernels without I/O-port support, ...) after adding to
// `reasons` a line for each other way in that the back-end tried and that was
// refused, hint included; the caller adds the line for errno. Prints nothing.
int portio_claim(unsigned base, std::vector<std::string>& reasons);

// Where the last successful claim reaches the port, for the operator, after
// `name`, the port as the operator chose it ("LPT1"): for example
// "LPT1: /dev/parport1 at 0x378" or "LPT1: direct I/O at 0x378"; empty
// before a successful claim. The simulated port says "LPT1: simulated port".
std::string portio_driven(const std::string& name);

// Reads the raw hardware value of the register at `address`. Only valid after
// a successful portio_claim of the range that holds `address`.
std::uint8_t portio_read(unsigned address);

// Writes the raw hardware value of the register at `address`. Same precondition.
void portio_write(std::uint8_t value, unsigned address);

// Whether a read or write failed since the last claim. A failure is recorded,
// never printed: a transmission asks after each cell, outside any hold, and
// ends. Lock-free and cheap, for the transmission's thread.
bool portio_failed();
// The first failure since the last claim, as the operator is to be told, for
// example "can't access /dev/parport1: Input/output error"; empty when none.
std::string portio_failure();

// Writes the raw `value` to the data register at `base` (claimed) from a
// signal handler: async-signal-safe calls only, nothing allocated or locked,
// and a failure is not reported (the process is ending).
void portio_write_data_in_handler(std::uint8_t value, unsigned base);

#endif
