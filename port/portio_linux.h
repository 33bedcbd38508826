#ifndef PORTIO_LINUX_H
#define PORTIO_LINUX_H

#include <cstdint>

// The real program's back-end behind portio.h. A claim tries the Linux
// parport device first (no privilege needed beyond group lp, any card) and
// direct I/O second (root or CAP_SYS_RAWIO, on-board ports up to 0x3FF). Reads
// and writes go to whichever way the last claim took; before a successful
// claim, and after a refused one, they do nothing and read 0.
//
// When both ways are refused, the device's reason is the line portio_claim
// adds ("can't open /dev/parport0: ..." with its hint), and it returns -1 with
// errno from the direct way, for the caller's final line. Only the device's
// accesses can fail: inb and outb are instructions.
namespace portio_linux
{

// The direct way's three primitives: ioperm/inb/outb unless a test installs
// its own.
struct DirectCalls {
    int (*claim)(unsigned base);
    std::uint8_t (*read)(unsigned address);
    void (*write)(std::uint8_t value, unsigned address);
};

// Installs `calls` (copied); nullptr puts ioperm/inb/outb back.
void setDirectCalls(const DirectCalls* calls);

} // namespace portio_linux

#endif
