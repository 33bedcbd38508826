// What one register write costs on each way to the port this machine offers:
// the simulated port, the Linux parport device and direct I/O. A cell edge is
// one such write, so this is the latency every raise and lower adds to the
// timeline.
//
// On real hardware the program only ever writes back the value the data
// register already holds, so no line changes while it measures. Do not run it
// while an experiment drives the same port.

#include "direct_io.h"
#include "portio.h"
#include "portio_ppdev.h"
#include "portio_sim.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

namespace
{

constexpr unsigned BASE = 0x378;
constexpr int BATCHES = 301;

// The device the parport measurements claim.
ppdev::Device parport;

using WriteFn = void (*)(std::uint8_t value, unsigned address);

// Median over BATCHES of the mean cost of one write within a batch of `perBatch`
// writes; `between` runs after each batch, outside the timing.
double medianNsPerWrite(WriteFn write, std::uint8_t value, int perBatch, void (*between)())
{
    std::vector<double> samples;
    samples.reserve(BATCHES);
    for (int batch = 0; batch < BATCHES; ++batch) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < perBatch; ++i)
            write(value, BASE);
        const auto end = std::chrono::steady_clock::now();
        samples.push_back(std::chrono::duration<double, std::nano>(end - start).count() / perBatch);
        if (between)
            between();
    }
    std::nth_element(samples.begin(), samples.begin() + BATCHES / 2, samples.end());
    return samples[BATCHES / 2];
}

void printCost(const char* way, double ns, int perBatch)
{
    std::printf("  %-32s %9.1f ns  (median of %d batches of %d writes)\n", way, ns, BATCHES,
                perBatch);
}

void printUnavailable(const char* way, const std::string& reason)
{
    std::printf("  %-32s not available here: %s\n", way, reason.c_str());
}

void writeSimulated(std::uint8_t value, unsigned address)
{
    portio_write(value, address);
}

void simulated()
{
    constexpr int perBatch = 1000;
    portsim::reset();
    // Keeps the recording from growing without bound; its capacity stays.
    const auto forget = [] { portsim::reset(); };
    printCost("simulated port", medianNsPerWrite(writeSimulated, 0, perBatch, forget), perBatch);
    portsim::reset();
}

void writeParport(std::uint8_t value, unsigned address)
{
    parport.write(value, address);
}

void device()
{
    constexpr int perBatch = 100;
    if (parport.claim(BASE) != 0) {
        printUnavailable("parport device for 0x378", parport.refusal(errno));
        return;
    }
    const std::string way = "parport device " + parport.held();
    std::uint8_t current = 0;
    parport.read(BASE, current);
    printCost(way.c_str(), medianNsPerWrite(writeParport, current, perBatch, nullptr), perBatch);
    parport.release();
}

// The parport back-end with every register access sent to /dev/null, which
// refuses it: the system call round trip and our own dispatch, without the bus
// cycle of a real port. Available on any Linux machine.
std::vector<ppdev::ListedPort> oneListedPort()
{
    return {{0, BASE}};
}

int nullOpen(const char*, int flags)
{
    return ::open("/dev/null", flags);
}

int nullIoctl(int fd, unsigned long request, void* argument)
{
    if (request != PPEXCL && request != PPCLAIM && request != PPRELEASE)
        ::ioctl(fd, request, argument);
    return 0;
}

int nullClose(int fd)
{
    return ::close(fd);
}

void deviceRoundTrip()
{
    constexpr int perBatch = 100;
    const char* way = "parport back-end on /dev/null";
    const ppdev::DeviceCalls nullDevice{oneListedPort, nullOpen, nullIoctl, nullClose};
    ppdev::setDeviceCalls(&nullDevice);
    if (parport.claim(BASE) != 0) {
        printUnavailable(way, std::string("/dev/null: ") + std::strerror(errno));
    } else {
        printCost(way, medianNsPerWrite(writeParport, 0, perBatch, nullptr), perBatch);
        parport.release();
    }
    ppdev::setDeviceCalls(nullptr);
}

void direct()
{
    constexpr int perBatch = 100;
    char way[40];
    std::snprintf(way, sizeof way, "direct I/O at 0x%x", BASE);
    if (directio::claim(BASE) != 0) {
        printUnavailable(way, std::string("ioperm: ") + std::strerror(errno));
        return;
    }
    const std::uint8_t current = directio::read(BASE);
    printCost(way, medianNsPerWrite(directio::write, current, perBatch, nullptr), perBatch);
}

} // namespace

int main()
{
    std::printf("Cost of one port register write\n");
    simulated();
    device();
    deviceRoundTrip();
    direct();
    return 0;
}
