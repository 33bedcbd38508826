#ifndef PORTIO_PPDEV_H
#define PORTIO_PPDEV_H

#include <cstdint>
#include <string>

// The port's three registers through the Linux parport device (driver ppdev):
// LPT1 (base 0x378) is /dev/parport0, LPT2 (base 0x278) is /dev/parport1. It
// needs no privilege beyond access to the device node (group lp on Debian) and
// reaches any card the kernel knows, whatever its I/O address.
//
// Values are raw hardware values, as with inb/outb: the caller keeps doing the
// inversion of status bit 7 and control bits 0, 1 and 3.
//
// Register map (address - base):
//   0 data:    write PPWDATA; read PPRDATA. While the data lines are outputs
//              the register holds what was written last, so a read after a
//              write costs no system call and an edge made by a
//              read-modify-write is one ioctl.
//   1 status:  read PPRSTATUS; writes are ignored (the register is read-only).
//   2 control: write PPWCONTROL with bits 0-3, then PPDATADIR (0 forward, 1
//              reverse) when bit 5 (data lines are inputs) differs from the
//              direction set last or none was set since the claim; read
//              PPRCONTROL bits 0-3 combined with the direction bit set last (0
//              until one is set). Bits 4, 6 and 7 are not reachable through
//              the device: written as nothing, read as 0.
// Other addresses: writes ignored, reads 0.
//
// One thread only. A failed access is reported once per claim on standard
// error as "can't access /dev/parportN: <system error text>"; a failed read
// gives 0.
namespace ppdev
{

// The device calls behind the back-end: the system's open, ioctl and close
// unless a test installs its own.
struct DeviceCalls {
    int (*open)(const char* path, int flags);
    int (*ioctl)(int fd, unsigned long request, void* argument);
    int (*close)(int fd);
};

// Installs `calls` (copied); nullptr puts the system's calls back.
void setDeviceCalls(const DeviceCalls* calls);

// "/dev/parport0" for 0x378, "/dev/parport1" for 0x278, nullptr for any other base.
const char* devicePath(unsigned base);

// Claims the port at `base` for this process alone: open O_RDWR | O_CLOEXEC,
// PPEXCL, PPCLAIM. The descriptor is held until the process ends or the next
// claim of another base, which first releases and closes it. A claim of the
// base already held keeps it and succeeds at once. Returns 0, or -1 with errno
// set: ENODEV for a base without a device, otherwise the errno of the refused
// open or ioctl (ENOENT without the device node, EACCES outside group lp,
// ENXIO when another driver such as lp holds the port). Prints nothing.
int claim(unsigned base);

// The line for a refused claim of `base` with `error`:
// "can't open /dev/parport0: <system error text>", with a hint for the usual
// causes (ENOENT, EACCES, ENXIO, EBUSY); for a base without a device
// "no parport device for base 0x3bc".
std::string refusal(unsigned base, int error);

// PPRELEASE and close of the held device, if any.
void release();

// True while a device is held.
bool claimed();

std::uint8_t read(unsigned address);
void write(std::uint8_t value, unsigned address);

// From a signal handler: writes `value` to the data register of the held port
// with one ioctl and nothing else (no report of a failure, no bookkeeping: the
// process is ending). Does nothing when no port is held.
void writeDataInHandler(std::uint8_t value);

} // namespace ppdev

#endif
