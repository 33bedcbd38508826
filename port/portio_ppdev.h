#ifndef PORTIO_PPDEV_H
#define PORTIO_PPDEV_H

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The port's three registers through the Linux parport device (driver ppdev).
// A base address means the kernel's device at that address, whatever number
// the kernel gave it (the firmware's order decides the numbers, so 0x378 may
// well be /dev/parport1); see portFor(). It needs no privilege beyond access
// to the device node (group lp on Debian) and reaches any card the kernel
// knows, whatever its I/O address.
//
// Values are raw hardware values, as with inb/outb: the caller keeps doing the
// inversion of status bit 7 and control bits 0, 1 and 3.
//
// Register map (address - base):
//   0 data:    write PPWDATA; read PPRDATA.
//   1 status:  read PPRSTATUS; writes are ignored (the register is read-only).
//   2 control: write PPWCONTROL with bits 0-3, then PPDATADIR (0 forward, 1
//              reverse) when bit 5 (data lines are inputs) differs from the
//              direction set last or none was set since the claim; read
//              PPRCONTROL bits 0-3 combined with the direction bit set last (0
//              until one is set). Bits 4, 6 and 7 are not reachable through
//              the device: written as nothing, read as 0.
// Other addresses: writes ignored, reads 0.
namespace ppdev
{

// A parallel port the kernel lists: /dev/parport<number>, at I/O `base`.
struct ListedPort {
    int number;
    unsigned base;
    bool operator==(const ListedPort& other) const
    {
        return number == other.number && base == other.base;
    }
};

// The ports the kernel lists in `directory` (/proc/sys/dev/parport: a folder
// parportN per port, whose file base-addr starts with the decimal base
// address), in the kernel's order, by number. Entries that are not parportN
// folders, or whose base address cannot be read, are left out; a missing or
// unreadable folder lists none.
std::vector<ListedPort> readPortList(const std::string& directory);

// The listed port that `base` means: the one at `base`. LPT1 (0x378) and LPT2
// (0x278) without a port at their own address take, in the kernel's order,
// the ports at neither address (a PCIe card sits elsewhere), LPT1 first; so
// two cards are LPT1 and LPT2, and a card beside an on-board port at 0x378 is
// LPT2. Any other base is only ever its own address. Nothing when no port is
// left for `base`.
std::optional<ListedPort> portFor(unsigned base, const std::vector<ListedPort>& listed);

// The device calls behind the back-end: the system's open, ioctl and close
// unless a test installs its own.
struct DeviceCalls {
    std::vector<ListedPort> (*list)();
    int (*open)(const char* path, int flags);
    int (*ioctl)(int fd, unsigned long request, void* argument);
    int (*close)(int fd);
};

// Installs `calls` (copied); nullptr puts the system's calls back.
void setDeviceCalls(const DeviceCalls* calls);

// One parallel port device held by this process. One thread at a time, but
// writeDataInHandler(), which a signal handler may call at any moment.
class Device
{
public:
    Device() = default;
    ~Device() { release(); }
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    // Claims the port that `base` means (portFor() over the kernel's list)
    // for this process alone: open O_RDWR | O_CLOEXEC, PPEXCL, PPCLAIM. The
    // descriptor is held until release(), destruction or the next claim of
    // another base, which first releases and closes it. A claim of the base
    // already held keeps it and succeeds at once. Returns 0, or -1 with errno
    // set: ENODEV when no listed port is left for `base`, otherwise the errno
    // of the refused open or ioctl (ENOENT without the device node, EACCES
    // outside group lp, ENXIO when another driver such as lp holds the port).
    // Prints nothing.
    int claim(unsigned base);

    // The line for the last claim, refused with `error`, naming the device it
    // tried: "can't open /dev/parport1: <system error text>", with a hint for
    // the usual causes (ENOENT, EACCES, ENXIO, EBUSY); when no device was left
    // for its base "no parport device for 0x278 (the kernel lists only
    // parport0 at 0x378)", or "(the kernel lists no parallel port)".
    std::string refusal(int error) const;

    // The device held, for the operator: "/dev/parport1 at 0x378", with the
    // address the kernel gives it. Empty when none is held.
    std::string held() const;
    // Its node, "/dev/parport1"; empty when none is held.
    std::string path() const;

    // PPRELEASE and close of the held device, if any.
    void release();

    // Each returns 0, or the errno of the ioctl that failed (a failed read
    // gives 0). Nothing is printed or remembered: the caller is between two
    // edges, and decides what a failure means.
    int read(unsigned address, std::uint8_t& value);
    int write(std::uint8_t value, unsigned address);

    // From a signal handler: writes `value` to the data register of the held
    // port with one ioctl and nothing else (no report of a failure, no
    // bookkeeping: the process is ending). Does nothing when no port is held.
    void writeDataInHandler(std::uint8_t value) const;

private:
    enum class Direction { Unknown, Forward, Reverse };

    // Atomic for the signal handler, which may interrupt a release.
    std::atomic<int> fd{-1};
    unsigned heldBase = 0;
    // The device the last claim tried ("/dev/parport1"), or empty when no
    // listed port was left for its base; then `listedText` says what the
    // kernel lists.
    std::string triedPath;
    std::string listedText;
    unsigned triedAddress = 0;
    Direction direction = Direction::Unknown;
};

} // namespace ppdev

#endif
