#ifndef PORTIO_H
#define PORTIO_H

#include <cstdint>
#include <string>
#include <vector>

// The primitives the port object needs from the machine. Exactly one back-end
// is linked into each executable: the real program's (the Linux parport
// device, else direct I/O) or the simulated port. A back-end keeps what it
// needs to reach the device (a descriptor, the way in) and nothing about the
// registers' contents: the port object shadows those, and records failures.

// Claims the three consecutive register addresses base, base + 1, base + 2 for
// reading and writing. Returns 0; or -1 with errno set (EPERM without the
// privilege, ENOSYS on kernels without I/O-port support, ...) after adding to
// `reasons` a line for each other way in that the back-end tried and that was
// refused, hint included; the caller adds the line for errno. Prints nothing.
int portio_claim(unsigned base, std::vector<std::string>& reasons);

// Lets go of what the last claim took, so that a later claim starts afresh.
void portio_release();

// Where the last successful claim reaches the port, for the operator, after
// `name`, the port as the operator chose it ("LPT1"): for example
// "LPT1: /dev/parport1 at 0x378" or "LPT1: direct I/O at 0x378"; empty
// before a successful claim. The simulated port says "LPT1: simulated port".
std::string portio_driven(const std::string& name);

// The device whose accesses can fail, as a failure names it
// ("/dev/parport1"); empty when the last claim took a way that cannot fail.
std::string portio_device();

// Reads the raw hardware value of the register at `address` into `value`.
// Returns 0, or the errno of a failed access (then `value` is 0). Only valid
// after a successful portio_claim of the range that holds `address`. Records
// and prints nothing: the caller is between two edges.
int portio_read(unsigned address, std::uint8_t& value);

// Writes the raw hardware value of the register at `address`. Returns 0 or
// the errno of a failed access. Same precondition, same silence.
int portio_write(std::uint8_t value, unsigned address);

// Writes the raw `value` to the data register at `base` (claimed) from a
// signal handler: async-signal-safe calls only, nothing allocated or locked,
// and a failure is not reported (the process is ending).
void portio_write_data_in_handler(std::uint8_t value, unsigned base);

#endif
