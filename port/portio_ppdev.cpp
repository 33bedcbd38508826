#include "portio_ppdev.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace ppdev
{
namespace
{

std::vector<ListedPort> systemList()
{
    return readPortList("/proc/sys/dev/parport");
}

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

constexpr DeviceCalls systemCalls{systemList, systemOpen, systemIoctl, systemClose};

// Copied rather than pointed to, so that a register access costs one indirect
// call and nothing more on top of the ioctl.
DeviceCalls calls = systemCalls;

constexpr unsigned DATA = 0;
constexpr unsigned STATUS = 1;
constexpr unsigned CONTROL = 2;
constexpr unsigned char CONTROL_LINES = 0x0F;
constexpr unsigned char CONTROL_REVERSE = 0x20;

// A failed call that left errno at 0 still failed.
int lastError()
{
    return errno ? errno : EIO;
}

} // namespace

void setDeviceCalls(const DeviceCalls* replacement)
{
    calls = replacement ? *replacement : systemCalls;
}

std::vector<ListedPort> readPortList(const std::string& directory)
{
    std::vector<ListedPort> listed;
    DIR* folder = opendir(directory.c_str());
    if (!folder)
        return listed;
    while (const dirent* entry = readdir(folder)) {
        int number = 0;
        int end = 0;
        if (std::sscanf(entry->d_name, "parport%d%n", &number, &end) != 1 ||
            entry->d_name[end] != '\0' || number < 0)
            continue;
        std::ifstream file(directory + '/' + entry->d_name + "/base-addr");
        unsigned long base = 0;
        if (file >> base && base <= 0xFFFFFFFFUL)
            listed.push_back({number, unsigned(base)});
    }
    closedir(folder);
    std::sort(listed.begin(), listed.end(),
              [](const ListedPort& a, const ListedPort& b) { return a.number < b.number; });
    return listed;
}

std::optional<ListedPort> portFor(unsigned base, const std::vector<ListedPort>& listed)
{
    constexpr unsigned LPT1 = 0x378;
    constexpr unsigned LPT2 = 0x278;
    const auto at = [&](unsigned address) {
        return std::find_if(listed.begin(), listed.end(),
                            [&](const ListedPort& port) { return port.base == address; });
    };
    if (const auto own = at(base); own != listed.end())
        return *own;
    if (base != LPT1 && base != LPT2)
        return std::nullopt;
    // LPT2 comes after LPT1 among the ports elsewhere, unless LPT1 has its own.
    std::size_t skip = base == LPT2 && at(LPT1) == listed.end() ? 1 : 0;
    for (const ListedPort& port : listed) {
        if (port.base == LPT1 || port.base == LPT2)
            continue;
        if (skip == 0)
            return port;
        --skip;
    }
    return std::nullopt;
}

int Device::claim(unsigned base)
{
    if (fd >= 0 && base == heldBase)
        return 0;
    release();
    const std::vector<ListedPort> listed = calls.list();
    const std::optional<ListedPort> port = portFor(base, listed);
    triedAddress = base;
    if (!port) {
        triedPath.clear();
        listedText.clear();
        for (const ListedPort& other : listed) {
            char text[48];
            std::snprintf(text, sizeof text, "parport%d at 0x%x", other.number, other.base);
            listedText += (listedText.empty() ? "" : ", ") + std::string(text);
        }
        errno = ENODEV;
        return -1;
    }
    triedPath = "/dev/parport" + std::to_string(port->number);
    triedAddress = port->base;
    const char* path = triedPath.c_str();
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
    heldBase = base;
    direction = Direction::Unknown;
    fd = opened;
    return 0;
}

std::string Device::refusal(int error) const
{
    if (triedPath.empty()) {
        char line[48];
        std::snprintf(line, sizeof line, "no parport device for 0x%x", triedAddress);
        return line + (listedText.empty() ? std::string(" (the kernel lists no parallel port)")
                                          : " (the kernel lists only " + listedText + ")");
    }
    std::string line = "can't open " + triedPath + ": " + std::strerror(error);
    switch (error) {
    case ENOENT:
        // The node exists only while the driver is loaded and the port is
        // there: LPT2 picked on a PC with one port meets this too.
        line += " (no such port, or the ppdev driver is not loaded: sudo modprobe ppdev)";
        break;
    case ENXIO:
    case EBUSY:
        // Both an exclusive claim of another program and the printer driver
        // make the kernel refuse ours.
        line += " (another program, possibly another NUBTactile, or the printer driver lp holds "
                "the port)";
        break;
    case EACCES:
        line += " (the user must be in group lp)";
        break;
    default:
        break;
    }
    return line;
}

void Device::release()
{
    // Given up before it is closed, so that a signal handler never writes
    // to a number the system may already have handed to another file.
    const int held = fd.exchange(-1);
    if (held < 0)
        return;
    calls.ioctl(held, PPRELEASE, nullptr);
    calls.close(held);
    heldBase = 0;
    direction = Direction::Unknown;
}

std::string Device::held() const
{
    if (fd < 0)
        return {};
    char address[24];
    std::snprintf(address, sizeof address, " at 0x%x", triedAddress);
    return triedPath + address;
}

std::string Device::path() const
{
    return fd < 0 ? std::string() : triedPath;
}

int Device::read(unsigned address, std::uint8_t& value)
{
    value = 0;
    if (fd < 0)
        return 0;
    unsigned char byte = 0;
    switch (address - heldBase) {
    case DATA:
        if (calls.ioctl(fd, PPRDATA, &byte) < 0)
            return lastError();
        break;
    case STATUS:
        if (calls.ioctl(fd, PPRSTATUS, &byte) < 0)
            return lastError();
        break;
    case CONTROL:
        if (calls.ioctl(fd, PPRCONTROL, &byte) < 0)
            return lastError();
        byte &= CONTROL_LINES;
        if (direction == Direction::Reverse)
            byte |= CONTROL_REVERSE;
        break;
    default:
        return 0;
    }
    value = byte;
    return 0;
}

int Device::write(std::uint8_t value, unsigned address)
{
    if (fd < 0)
        return 0;
    unsigned char byte = value;
    switch (address - heldBase) {
    case DATA:
        return calls.ioctl(fd, PPWDATA, &byte) < 0 ? lastError() : 0;
    case CONTROL: {
        byte &= CONTROL_LINES;
        int error = calls.ioctl(fd, PPWCONTROL, &byte) < 0 ? lastError() : 0;
        const Direction wanted =
            (value & CONTROL_REVERSE) ? Direction::Reverse : Direction::Forward;
        if (wanted != direction) {
            int reverse = wanted == Direction::Reverse ? 1 : 0;
            if (calls.ioctl(fd, PPDATADIR, &reverse) < 0) {
                direction = Direction::Unknown;
                error = error ? error : lastError();
            } else {
                direction = wanted;
            }
        }
        return error;
    }
    default:
        return 0;
    }
}

void Device::writeDataInHandler(std::uint8_t value) const
{
    const int held = fd.load();
    if (held < 0)
        return;
    unsigned char data = value;
    calls.ioctl(held, PPWDATA, &data);
}

} // namespace ppdev
