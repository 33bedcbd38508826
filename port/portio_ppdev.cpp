#include "portio_ppdev.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace ppdev
{
namespace
{

int systemOpen(const char* path, int flags)
{
    return ::open(path, flags);
}

int systemIoctl(int fd, unsigned long request, void* argument)
{
    return ::ioctl(fd, request, argument);
}

int systemClose(int fd)
{
    return ::close(fd);
}

constexpr DeviceCalls systemCalls{systemOpen, systemIoctl, systemClose};

// Copied rather than pointed to, so that a register access costs one indirect
// call and nothing more on top of the ioctl.
DeviceCalls calls = systemCalls;

enum class Direction { Unknown, Forward, Reverse };

int fd = -1;
unsigned heldBase = 0;
Direction direction = Direction::Unknown;
// The data register's content while the lines are outputs and we wrote it last.
bool dataKnown = false;
unsigned char dataValue = 0;
bool accessFailed = false;

constexpr unsigned DATA = 0;
constexpr unsigned STATUS = 1;
constexpr unsigned CONTROL = 2;
constexpr unsigned char CONTROL_LINES = 0x0F;
constexpr unsigned char CONTROL_REVERSE = 0x20;

// Only the first failure is worth a line: an access that fails once fails for
// every later edge too, and a line per edge would bury the message.
void reportFailure()
{
    if (accessFailed)
        return;
    accessFailed = true;
    const int error = errno;
    std::fprintf(stderr, "can't access %s: %s\n", devicePath(heldBase), std::strerror(error));
}

bool setDirection(Direction wanted)
{
    int reverse = wanted == Direction::Reverse ? 1 : 0;
    if (calls.ioctl(fd, PPDATADIR, &reverse) < 0) {
        direction = Direction::Unknown;
        dataKnown = false;
        return false;
    }
    direction = wanted;
    if (wanted != Direction::Forward)
        dataKnown = false;
    return true;
}

} // namespace

void setDeviceCalls(const DeviceCalls* replacement)
{
    calls = replacement ? *replacement : systemCalls;
}

const char* devicePath(unsigned base)
{
    switch (base) {
    case 0x378:
        return "/dev/parport0";
    case 0x278:
        return "/dev/parport1";
    default:
        return nullptr;
    }
}

int claim(unsigned base)
{
    if (fd >= 0 && base == heldBase)
        return 0;
    release();
    const char* path = devicePath(base);
    if (!path) {
        errno = ENODEV;
        return -1;
    }
    const int opened = calls.open(path, O_RDWR | O_CLOEXEC);
    if (opened < 0)
        return -1;
    // Exclusive: nothing else (lp, another program) may drive the lines
    // between our edges, and PPCLAIM then never waits for another user.
    if (calls.ioctl(opened, PPEXCL, nullptr) < 0 || calls.ioctl(opened, PPCLAIM, nullptr) < 0) {
        const int error = errno;
        calls.close(opened);
        errno = error;
        return -1;
    }
    fd = opened;
    heldBase = base;
    direction = Direction::Unknown;
    dataKnown = false;
    accessFailed = false;
    return 0;
}

std::string refusal(unsigned base, int error)
{
    const char* path = devicePath(base);
    if (!path) {
        char line[64];
        std::snprintf(line, sizeof line, "no parport device for base 0x%x", base);
        return line;
    }
    std::string line = std::string("can't open ") + path + ": " + std::strerror(error);
    switch (error) {
    case ENOENT:
        // The node exists only while the driver is loaded and the port is
        // there: LPT2 picked on a PC with one port meets this too.
        line += " (no such port, or the ppdev driver is not loaded: sudo modprobe ppdev)";
        break;
    case ENXIO:
    case EBUSY:
        line += " (another driver, usually lp, holds the port)";
        break;
    case EACCES:
        line += " (the user must be in group lp)";
        break;
    default:
        break;
    }
    return line;
}

void release()
{
    if (fd < 0)
        return;
    calls.ioctl(fd, PPRELEASE, nullptr);
    calls.close(fd);
    fd = -1;
    heldBase = 0;
    direction = Direction::Unknown;
    dataKnown = false;
}

bool claimed()
{
    return fd >= 0;
}

std::uint8_t read(unsigned address)
{
    if (fd < 0)
        return 0;
    unsigned char value = 0;
    switch (address - heldBase) {
    case DATA:
        if (dataKnown)
            return dataValue;
        if (calls.ioctl(fd, PPRDATA, &value) < 0) {
            reportFailure();
            return 0;
        }
        // Only an output latch keeps its value; input lines change by themselves.
        if (direction == Direction::Forward) {
            dataKnown = true;
            dataValue = value;
        }
        return value;
    case STATUS:
        if (calls.ioctl(fd, PPRSTATUS, &value) < 0) {
            reportFailure();
            return 0;
        }
        return value;
    case CONTROL:
        if (calls.ioctl(fd, PPRCONTROL, &value) < 0) {
            reportFailure();
            return 0;
        }
        value &= CONTROL_LINES;
        if (direction == Direction::Reverse)
            value |= CONTROL_REVERSE;
        return value;
    default:
        return 0;
    }
}

void write(std::uint8_t value, unsigned address)
{
    if (fd < 0)
        return;
    switch (address - heldBase) {
    case DATA: {
        unsigned char data = value;
        if (calls.ioctl(fd, PPWDATA, &data) < 0) {
            dataKnown = false;
            reportFailure();
            return;
        }
        dataKnown = direction == Direction::Forward;
        dataValue = data;
        return;
    }
    case CONTROL: {
        unsigned char lines = value & CONTROL_LINES;
        if (calls.ioctl(fd, PPWCONTROL, &lines) < 0)
            reportFailure();
        const Direction wanted =
            (value & CONTROL_REVERSE) ? Direction::Reverse : Direction::Forward;
        if (wanted != direction && !setDirection(wanted))
            reportFailure();
        return;
    }
    default:
        return;
    }
}

void writeDataInHandler(std::uint8_t value)
{
    if (fd < 0)
        return;
    unsigned char data = value;
    calls.ioctl(fd, PPWDATA, &data);
}

} // namespace ppdev
