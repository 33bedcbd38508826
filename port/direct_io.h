#ifndef DIRECT_IO_H
#define DIRECT_IO_H

#include <cstdint>

// Direct x86 port I/O (ioperm, inb, outb) under names of its own, so that a
// back-end can offer it as one way in among others. Needs CAP_SYS_RAWIO (root,
// or `setcap cap_sys_rawio+ep` on the program) and a kernel with I/O-port
// support; reaches addresses up to 0x3FF only.
namespace directio
{

// ioperm(base, 3, 1). Returns 0, or -1 with errno set (EPERM without the
// privilege, ENOSYS without kernel support, EINVAL above 0x3FF).
int claim(unsigned base);

// inb / outb. Only after a successful claim of the range holding `address`:
// without it the process is killed.
std::uint8_t read(unsigned address);
void write(std::uint8_t value, unsigned address);

} // namespace directio

#endif
