#include "parallel_port.h"

#include "port_refusal.h"
#include "portio.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

namespace
{

constexpr int DATA_PINS = 0xFF;
constexpr int STATUS_PINS = 0xF800;    // pins 15, 13, 12, 10, 11
constexpr int CONTROL_PINS = 0x0F0000; // pins 1, 14, 16, 17
// Control bit 5: the data lines are inputs when set.
constexpr int DATA_INPUT = 0x20;

// What the hardware inverts, per register: none of the data lines, status
// bit 7, control bits 0, 1 and 3.
constexpr int INVERTED[3] = {0x00, 0x80, 0x0B};

ParallelPort port;

} // namespace

ParallelPort& parallelPort()
{
    return port;
}

int ParallelPort::claim(int base, PortRefusal* refusal)
{
    // A port that failed is reopened rather than kept: a device that came
    // back gets a fresh descriptor.
    if (failed())
        release();
    forget();
    claimedBase = base;
    std::vector<std::string> reasons;
    if (portio_claim(unsigned(base), reasons) != 0) {
        const int error = errno;
        if (refusal) {
            refusal->error = error;
            refusal->lines = std::move(reasons);
            refusal->lines.push_back(std::string("can't get IO permissions!: ") +
                                     std::strerror(error));
        }
        return -1;
    }
    device = portio_device();
    outputs = DATA_PINS | CONTROL_PINS;
    write(CONTROL, current(CONTROL) & ~DATA_INPUT);
    lower(DATA_PINS);
    if (failed()) {
        // Claimed but not driven: as good as refused, and the operator must
        // hear so now rather than at the first cell.
        if (refusal) {
            refusal->error = failedWith.load();
            refusal->lines = {failure()};
        }
        release();
        return -1;
    }
    inputs = STATUS_PINS;
    handlerBase.store(base);
    return 0;
}

void ParallelPort::release()
{
    forget();
    portio_release();
    claimedBase = 0;
    failedWith = 0;
    device.clear();
}

void ParallelPort::forget()
{
    handlerBase.store(-1);
    outputs = 0;
    inputs = 0;
    for (Shadow& s : shadow)
        s = Shadow();
}

int ParallelPort::readHardware(Register r)
{
    std::uint8_t raw = 0;
    if (const int error = portio_read(unsigned(claimedBase + r), raw)) {
        int none = 0;
        failedWith.compare_exchange_strong(none, error);
        return 0;
    }
    const int value = raw ^ INVERTED[r];
    // Output latches keep what they hold; status lines do not.
    if (r != STATUS)
        shadow[r] = {value, true};
    return value;
}

int ParallelPort::current(Register r)
{
    return shadow[r].known ? shadow[r].value : readHardware(r);
}

void ParallelPort::write(Register r, int value)
{
    const int error =
        portio_write(std::uint8_t((value ^ INVERTED[r]) & 0xFF), unsigned(claimedBase + r));
    if (error == 0) {
        shadow[r] = {value, true};
        return;
    }
    // Only the first failure is kept: an access that fails once fails for
    // every later edge too. Printing it here would cost time between edges.
    int none = 0;
    failedWith.compare_exchange_strong(none, error);
    shadow[r].known = false;
    // A failed control write may have left the direction of the data lines
    // anything.
    if (r == CONTROL)
        shadow[DATA].known = false;
}

void ParallelPort::raise(int pins)
{
    pins &= outputs;
    if (pins & DATA_PINS)
        write(DATA, current(DATA) | (pins & DATA_PINS));
    if (pins & CONTROL_PINS)
        write(CONTROL, current(CONTROL) | (pins & CONTROL_PINS) >> 16);
}

void ParallelPort::lower(int pins)
{
    pins &= outputs;
    // All eight lines lowered need no read of what they held.
    const int data = pins & DATA_PINS;
    if (data)
        write(DATA, data == DATA_PINS ? 0 : current(DATA) & ~data);
    if (pins & CONTROL_PINS)
        write(CONTROL, current(CONTROL) & ~((pins & CONTROL_PINS) >> 16));
}

int ParallelPort::read(int pins)
{
    pins &= inputs;
    return pins & STATUS_PINS ? (readHardware(STATUS) << 8) & pins : 0;
}

void ParallelPort::lowerDataLinesInHandler() const
{
    const int base = handlerBase.load();
    if (base >= 0)
        portio_write_data_in_handler(std::uint8_t(INVERTED[DATA]), unsigned(base));
}

std::string ParallelPort::failure() const
{
    const int error = failedWith.load();
    return error ? "can't access " + device + ": " + std::strerror(error) : std::string();
}
