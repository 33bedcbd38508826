#include "portio_sim.h"

#include "clock.h"
#include "portio.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <unistd.h>
#include <utility>

namespace
{

constexpr unsigned ADDRESS_MASK = 0xFFFF; // the x86 I/O space
constexpr std::size_t RESERVE = 1 << 16;

// Taken with the real clock at load, whatever clock a test installs later:
// the trace of the simulated program counts from here.
const std::int64_t processStart = RealClock().now();

// Atomic, relaxed: inputs are set from any thread while the transmission's
// reads, and a signal handler may write while it writes.
std::array<std::atomic<std::uint8_t>, ADDRESS_MASK + 1> registers{};
// The raw status bits the input wires put on every claimed port: what
// reading a status register gives in bits 3 to 7.
std::atomic<std::uint8_t> inputs{0};
constexpr std::uint8_t INPUT_BITS = 0xF8;
std::vector<unsigned> claimedBases;
int refusal = 0;
std::atomic<bool> tracing{false};
bool recording = true;
std::function<void(unsigned, std::uint8_t)> writeHook;

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

// What reading `address` gives: a claimed port's status register shows the
// input wires.
std::uint8_t readRegister(unsigned address)
{
    const std::uint8_t value = registers[address].load(std::memory_order_relaxed);
    if (address == 0 || !isDataRegister(address - 1))
        return value;
    return std::uint8_t((value & ~INPUT_BITS) | inputs.load(std::memory_order_relaxed));
}

// One line of the trace: the seconds since the process started as
// "%12.6f", then `text`. Formatted by hand and written with one write(), so
// that a signal handler can trace the lowering it makes (snprintf and stdio
// are not async-signal-safe).
void traceLine(std::int64_t time, const char* text, std::size_t length)
{
    char line[48];
    std::size_t size = 0;
    const std::int64_t ns = time - processStart;
    std::uint64_t us = (std::uint64_t(ns < 0 ? -ns : ns) + 500) / 1000;
    char digits[24]; // reversed: six decimals, the point, the whole seconds, the sign
    std::size_t count = 0;
    for (int i = 0; i < 6; ++i, us /= 10)
        digits[count++] = char('0' + us % 10);
    digits[count++] = '.';
    do {
        digits[count++] = char('0' + us % 10);
        us /= 10;
    } while (us != 0);
    if (ns < 0)
        digits[count++] = '-';
    for (std::size_t pad = count; pad < 12; ++pad)
        line[size++] = ' ';
    while (count != 0)
        line[size++] = digits[--count];
    for (std::size_t i = 0; i < length && size < sizeof line; ++i)
        line[size++] = text[i];
    const ssize_t written = ::write(STDERR_FILENO, line, size);
    (void)written; // nowhere to report a failed trace
}

// "  <U+2800 + value>  0x<hex>" after the time.
void traceData(std::int64_t time, std::uint8_t value)
{
    // U+2800 + value lies in U+2800..U+28FF: always three bytes of UTF-8.
    const unsigned code = 0x2800u + value;
    const char hex[] = "0123456789abcdef";
    char text[12];
    std::size_t size = 0;
    for (const char c :
         {' ', ' ', char(0xE0 | (code >> 12)), char(0x80 | ((code >> 6) & 0x3F)),
          char(0x80 | (code & 0x3F)), ' ', ' ', '0', 'x', hex[value >> 4], hex[value & 0xF], '\n'})
        text[size++] = c;
    traceLine(time, text, size);
}

// Traces a write that changed the data register.
void trace(unsigned address, std::uint8_t before, std::uint8_t value)
{
    if (tracing.load(std::memory_order_relaxed) && value != before && isDataRegister(address))
        traceData(currentClock().now(), value);
}

} // namespace

std::string portio_driven(const std::string& name)
{
    return name + ": simulated port";
}

int portio_claim(unsigned base, std::vector<std::string>& /*reasons*/)
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

// Memory does not fail, and there is nothing to let go.
void portio_release() {}

std::string portio_device()
{
    return {};
}

int portio_read(unsigned address, std::uint8_t& value)
{
    value = readRegister(address & ADDRESS_MASK);
    return 0;
}

int portio_write(std::uint8_t value, unsigned address)
{
    address &= ADDRESS_MASK;
    if (writeHook)
        writeHook(address, value);
    if (recording) {
        std::vector<portsim::Write>& writes = record();
        if (writes.size() == writes.capacity())
            writes.reserve(2 * writes.capacity());
        writes.push_back({currentClock().now(), address, value});
    }
    trace(address, registers[address].exchange(value, std::memory_order_relaxed), value);
    return 0;
}

void portio_write_data_in_handler(std::uint8_t value, unsigned base)
{
    base &= ADDRESS_MASK;
    trace(base, registers[base].exchange(value, std::memory_order_relaxed), value);
}

namespace portsim
{

void reset()
{
    for (std::atomic<std::uint8_t>& r : registers)
        r.store(0, std::memory_order_relaxed);
    inputs.store(0, std::memory_order_relaxed);
    claimedBases.clear();
    refusal = 0;
    tracing = false;
    writeHook = nullptr;
    record().clear();
    recording = true;
}

void recordWrites(bool on)
{
    recording = on;
}

void refuseClaims(int error)
{
    refusal = error;
}

std::uint8_t hardware(unsigned address)
{
    return readRegister(address & ADDRESS_MASK);
}

void setHardware(unsigned address, std::uint8_t value)
{
    registers[address & ADDRESS_MASK].store(value, std::memory_order_relaxed);
}

const std::vector<Write>& writes()
{
    return record();
}

void beforeWrite(std::function<void(unsigned address, std::uint8_t value)> hook)
{
    writeHook = std::move(hook);
}

void setInput(int pin, bool high)
{
    // The status bit of each input pin; the hardware inverts pin 11's.
    std::uint8_t bit = 0;
    bool inverted = false;
    switch (pin) {
    case 10:
        bit = 0x40;
        break;
    case 11:
        bit = 0x80;
        inverted = true;
        break;
    case 12:
        bit = 0x20;
        break;
    case 13:
        bit = 0x10;
        break;
    case 15:
        bit = 0x08;
        break;
    default:
        return;
    }
    const bool set = high != inverted;
    // Traced before the change, with the time just before it: the trace
    // never shows the cell that a pulse starts ahead of the pulse, and a
    // delay read off it can only be too long.
    const bool changes = bool(inputs.load(std::memory_order_relaxed) & bit) != set;
    if (changes && tracing.load(std::memory_order_relaxed)) {
        char text[16] = "  pin 1";
        std::size_t length = std::strlen(text);
        text[length++] = char('0' + pin % 10);
        for (const char* c = high ? " high\n" : " low\n"; *c != '\0'; ++c)
            text[length++] = *c;
        traceLine(currentClock().now(), text, length);
    }
    if (set)
        inputs.fetch_or(bit, std::memory_order_relaxed);
    else
        inputs.fetch_and(std::uint8_t(~bit), std::memory_order_relaxed);
}

void traceDataLines()
{
    tracing = true;
}

} // namespace portsim
