#include "portio_ppdev.h"

#include <algorithm>
#include <atomic>
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

enum class Direction { Unknown, Forward, Reverse };

int fd = -1;
unsigned heldBase = 0;
// The device the last claim tried ("/dev/parport1"), or empty when no listed
// port was left for its base; then `listedText` says what the kernel lists.
std::string triedPath;
std::string listedText;
unsigned triedAddress = 0;
Direction direction = Direction::Unknown;
// The data register's content while the lines are outputs and we wrote it last.
bool dataKnown = false;
unsigned char dataValue = 0;
// The first failure since the claim. Atomic: the window's thread reads it
// after a transmission that another thread ran.
std::atomic<int> failedWith{0};

constexpr unsigned DATA = 0;
constexpr unsigned STATUS = 1;
constexpr unsigned CONTROL = 2;
constexpr unsigned char CONTROL_LINES = 0x0F;
constexpr unsigned char CONTROL_REVERSE = 0x20;

// Only the first failure is kept: an access that fails once fails for every
// later edge too. Printing it here would cost time between two edges.
void reportFailure()
{
    int none = 0;
    failedWith.compare_exchange_strong(none, errno ? errno : EIO);
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

int claim(unsigned base)
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
    fd = opened;
    heldBase = base;
    direction = Direction::Unknown;
    dataKnown = false;
    failedWith = 0;
    return 0;
}

std::string refusal(int error)
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

int failedError()
{
    return failedWith.load();
}

std::string failure()
{
    const int error = failedWith.load();
    return error ? "can't access " + triedPath + ": " + std::strerror(error) : std::string();
}

std::string held()
{
    if (fd < 0)
        return {};
    char address[24];
    std::snprintf(address, sizeof address, " at 0x%x", triedAddress);
    return triedPath + address;
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
