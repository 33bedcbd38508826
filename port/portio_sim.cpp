#include "portio_sim.h"

#include "clock.h"
#include "portio.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

namespace
{

constexpr unsigned ADDRESS_MASK = 0xFFFF; // the x86 I/O space
constexpr std::size_t RESERVE = 1 << 16;

// Taken with the real clock at load, whatever clock a test installs later:
// the trace of the simulated program counts from here.
const std::int64_t processStart = RealClock().now();

std::array<std::uint8_t, ADDRESS_MASK + 1> registers{};
std::vector<unsigned> claimedBases;
int refusal = 0;
std::function<void(const portsim::Write&)> observer;
// Hardware value the last written register held before that write; lets the
// trace tell a change from a repeated value.
std::uint8_t previousValue = 0;

std::vector<portsim::Write>& record()
{
    static std::vector<portsim::Write> writes = [] {
        std::vector<portsim::Write> v;
        v.reserve(RESERVE);
        return v;
    }();
    return writes;
}

bool isDataRegister(unsigned address)
{
    return std::find(claimedBases.begin(), claimedBases.end(), address) != claimedBases.end();
}

// U+2800 + byte lies in U+2800..U+28FF: always three bytes of UTF-8.
void brailleUtf8(std::uint8_t cell, char out[4])
{
    const unsigned code = 0x2800u + cell;
    out[0] = char(0xE0 | (code >> 12));
    out[1] = char(0x80 | ((code >> 6) & 0x3F));
    out[2] = char(0x80 | (code & 0x3F));
    out[3] = '\0';
}

void traceWrite(const portsim::Write& w)
{
    if (w.value == previousValue || !isDataRegister(w.address))
        return;
    char cell[4];
    brailleUtf8(w.value, cell);
    std::fprintf(stderr, "%12.6f  %s  0x%02x\n", double(w.time - processStart) / 1e9, cell,
                 unsigned(w.value));
}

} // namespace

int portio_claim(unsigned base)
{
    if (refusal != 0) {
        errno = refusal;
        return -1;
    }
    // Like ioperm: the three addresses must lie inside the I/O space.
    if (base > ADDRESS_MASK - 2) {
        errno = EINVAL;
        return -1;
    }
    if (!isDataRegister(base))
        claimedBases.push_back(base);
    return 0;
}

std::uint8_t portio_read(unsigned address)
{
    return registers[address & ADDRESS_MASK];
}

void portio_write(std::uint8_t value, unsigned address)
{
    address &= ADDRESS_MASK;
    std::vector<portsim::Write>& writes = record();
    if (writes.size() == writes.capacity())
        writes.reserve(2 * writes.capacity());
    writes.push_back({currentClock().now(), address, value});
    previousValue = std::exchange(registers[address], value);
    if (observer)
        observer(writes.back());
}

namespace portsim
{

void reset()
{
    registers.fill(0);
    claimedBases.clear();
    refusal = 0;
    observer = nullptr;
    previousValue = 0;
    record().clear();
}

void refuseClaims(int error)
{
    refusal = error;
}

std::uint8_t hardware(unsigned address)
{
    return registers[address & ADDRESS_MASK];
}

void setHardware(unsigned address, std::uint8_t value)
{
    registers[address & ADDRESS_MASK] = value;
}

const std::vector<Write>& writes()
{
    return record();
}

void setObserver(std::function<void(const Write&)> newObserver)
{
    observer = std::move(newObserver);
}

void traceDataLines()
{
    setObserver(traceWrite);
}

} // namespace portsim
