#include "portio_linux.h"

#include "direct_io.h"
#include "portio.h"
#include "portio_ppdev.h"

#include <cerrno>
#include <cstdio>

namespace portio_linux
{
namespace
{

constexpr DirectCalls systemDirect{directio::claim, directio::read, directio::write};

DirectCalls direct = systemDirect;
Way way = Way::None;
unsigned directBase = 0;

} // namespace

Way claimedWay()
{
    return way;
}

void setDirectCalls(const DirectCalls* calls)
{
    direct = calls ? *calls : systemDirect;
}

} // namespace portio_linux

int portio_claim(unsigned base, std::vector<std::string>& reasons)
{
    using namespace portio_linux;
    if (ppdev::claim(base) == 0) {
        way = Way::Device;
        return 0;
    }
    const int deviceError = errno;
    if (direct.claim(base) == 0) {
        way = Way::Direct;
        directBase = base;
        return 0;
    }
    const int directError = errno;
    way = Way::None;
    // Most lab machines reach the port through the device, so its reason is
    // the one the operator can act on; the caller adds the direct way's.
    reasons.push_back(ppdev::refusal(deviceError));
    errno = directError;
    return -1;
}

std::string portio_driven(const std::string& name)
{
    using namespace portio_linux;
    switch (way) {
    case Way::Device:
        return name + ": " + ppdev::held();
    case Way::Direct: {
        char address[32];
        std::snprintf(address, sizeof address, ": direct I/O at 0x%x", directBase);
        return name + address;
    }
    case Way::None:
        break;
    }
    return {};
}

std::uint8_t portio_read(unsigned address)
{
    using namespace portio_linux;
    switch (way) {
    case Way::Device:
        return ppdev::read(address);
    case Way::Direct:
        return direct.read(address);
    case Way::None:
        break;
    }
    return 0;
}

void portio_write(std::uint8_t value, unsigned address)
{
    using namespace portio_linux;
    switch (way) {
    case Way::Device:
        ppdev::write(value, address);
        return;
    case Way::Direct:
        direct.write(value, address);
        return;
    case Way::None:
        return;
    }
}

bool portio_failed()
{
    return portio_linux::claimedWay() == portio_linux::Way::Device && ppdev::failedError() != 0;
}

std::string portio_failure()
{
    return portio_failed() ? ppdev::failure() : std::string();
}

void portio_write_data_in_handler(std::uint8_t value, unsigned base)
{
    using namespace portio_linux;
    switch (way) {
    case Way::Device:
        ppdev::writeDataInHandler(value);
        return;
    case Way::Direct:
        // outb is one instruction.
        direct.write(value, base);
        return;
    case Way::None:
        return;
    }
}
