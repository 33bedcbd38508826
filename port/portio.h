#ifndef PORTIO_H
#define PORTIO_H

#include <cstdint>

// The primitives the pin layer needs from the machine. Exactly one back-end is
// linked into each executable: the real program's (the Linux parport device,
// else direct I/O) or the simulated port.

// Claims the three consecutive register addresses base, base + 1, base + 2 for
// reading and writing. Returns 0, or -1 with errno set (EPERM without the
// privilege, ENOSYS on kernels without I/O-port support, ...). A back-end may
// print a line of its own on standard error for a way in that it tried and
// that was refused; the caller prints the final reason.
int portio_claim(unsigned base);

// Reads the raw hardware value of the register at `address`. Only valid after
// a successful portio_claim of the range that holds `address`.
std::uint8_t portio_read(unsigned address);

// Writes the raw hardware value of the register at `address`. Same precondition.
void portio_write(std::uint8_t value, unsigned address);

// Writes the raw `value` to the data register at `base` (claimed) from a
// signal handler: async-signal-safe calls only, nothing allocated or locked,
// and a failure is not reported (the process is ending).
void portio_write_data_in_handler(std::uint8_t value, unsigned base);

#endif
