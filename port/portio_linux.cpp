#include "portio_linux.h"

#include "direct_io.h"
#include "portio.h"
#include "portio_ppdev.h"

#include <atomic>
#include <cerrno>
#include <cstdio>

namespace portio_linux
{
namespace
{

constexpr DirectCalls systemDirect{directio::claim, directio::read, directio::write};

enum class Way { None, Device, Direct };

// Everything the real back-end knows of the port it reaches: which way the
// last claim took, and that way's handle.
struct Reach {
    ppdev::Device device;
    // Atomic for the signal handler.
    std::atomic<Way> way{Way::None};
    unsigned directBase = 0;
    DirectCalls direct = systemDirect;
};

Reach reach;

// ioperm grants any address, port or none, and an ISA bus with no port there
// reads 0xFF whatever was written: without a look, the program would send a
// whole session to nothing and audit it as perfect. A port keeps what is
// written to its data register while the lines are outputs; only 0 is
// written, so the cell stays down.
bool answers(const DirectCalls& direct, unsigned base)
{
    constexpr std::uint8_t DATA_INPUT = 0x20;
    direct.write(std::uint8_t(direct.read(base + 2) & ~DATA_INPUT), base + 2);
    direct.write(0x00, base);
    return direct.read(base) == 0x00;
}

} // namespace

void setDirectCalls(const DirectCalls* calls)
{
    reach.direct = calls ? *calls : systemDirect;
}

} // namespace portio_linux

using portio_linux::reach;
using portio_linux::Way;
using portio_linux::answers;

int portio_claim(unsigned base, std::vector<std::string>& reasons)
{
    reach.way = Way::None;
    if (reach.device.claim(base) == 0) {
        reach.way = Way::Device;
        return 0;
    }
    const int deviceError = errno;
    const bool permitted = reach.direct.claim(base) == 0;
    const int directError = permitted ? ENODEV : errno;
    if (permitted && answers(reach.direct, base)) {
        reach.directBase = base;
        reach.way = Way::Direct;
        return 0;
    }
    // Most lab machines reach the port through the device, so its reason is
    // the one the operator can act on; the caller adds the direct way's.
    reasons.push_back(reach.device.refusal(deviceError));
    if (permitted) {
        char line[96];
        std::snprintf(line, sizeof line,
                      "no port answers at 0x%x (its data register does not keep what is written)",
                      base);
        reasons.push_back(line);
    }
    errno = directError;
    return -1;
}

void portio_release()
{
    reach.way = Way::None;
    reach.device.release();
}

std::string portio_driven(const std::string& name)
{
    switch (reach.way.load()) {
    case Way::Device:
        return name + ": " + reach.device.held();
    case Way::Direct: {
        char address[32];
        std::snprintf(address, sizeof address, ": direct I/O at 0x%x", reach.directBase);
        return name + address;
    }
    case Way::None:
        break;
    }
    return {};
}

std::string portio_device()
{
    return reach.way == Way::Device ? reach.device.path() : std::string();
}

int portio_read(unsigned address, std::uint8_t& value)
{
    switch (reach.way.load(std::memory_order_relaxed)) {
    case Way::Device:
        return reach.device.read(address, value);
    case Way::Direct:
        value = reach.direct.read(address);
        return 0;
    case Way::None:
        break;
    }
    value = 0;
    return 0;
}

int portio_write(std::uint8_t value, unsigned address)
{
    switch (reach.way.load(std::memory_order_relaxed)) {
    case Way::Device:
        return reach.device.write(value, address);
    case Way::Direct:
        reach.direct.write(value, address);
        return 0;
    case Way::None:
        break;
    }
    return 0;
}

void portio_write_data_in_handler(std::uint8_t value, unsigned base)
{
    switch (reach.way.load()) {
    case Way::Device:
        reach.device.writeDataInHandler(value);
        return;
    case Way::Direct:
        // outb is one instruction.
        reach.direct.write(value, base);
        return;
    case Way::None:
        return;
    }
}
