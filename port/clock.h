#ifndef CLOCK_H
#define CLOCK_H

#include <cstdint>

class Interrupt;

// Monotonic time in nanoseconds, and waits to an absolute deadline.
//
// Every hold and gap of a transmission is a deadline measured from the edge it
// follows, so waits never accumulate drift. The process uses the real clock
// unless a test installs another one (for example a virtual clock that jumps
// to each deadline at once).
class Clock
{
public:
    virtual ~Clock();
    // Nanoseconds on a monotonic time line (the origin is arbitrary).
    virtual std::int64_t now() = 0;
    // Returns at `deadline` (ns, same time line), or at once if it has passed.
    virtual void waitUntil(std::int64_t deadline) = 0;
    // The same, unless `interrupt` is raised first: then it returns as soon as
    // it is (within microseconds on the real clock), with false.
    virtual bool waitUntil(std::int64_t deadline, const Interrupt& interrupt) = 0;
    // Sleeps until `deadline` or later, as the scheduler allows, without
    // spinning, unless `interrupt` is raised first (false): for reading
    // inputs now and then, where waking late only widens what a reading
    // brackets. The base class waits as waitUntil does.
    virtual bool napUntil(std::int64_t deadline, const Interrupt& interrupt);
};

// The real clock: CLOCK_MONOTONIC. waitUntil sleeps with clock_nanosleep to an
// absolute time SPIN_MARGIN_NS before the deadline, then spins on the clock, so
// it returns within about a microsecond of the deadline instead of the
// scheduler's tens of microseconds to milliseconds.
class RealClock : public Clock
{
public:
    static constexpr std::int64_t SPIN_MARGIN_NS = 1'000'000;
    std::int64_t now() override;
    void waitUntil(std::int64_t deadline) override;
    bool waitUntil(std::int64_t deadline, const Interrupt& interrupt) override;
    bool napUntil(std::int64_t deadline, const Interrupt& interrupt) override;
};

// The clock in use. Never null.
Clock& currentClock();
// Installs `clock` for the whole process; nullptr puts the real clock back.
// The caller keeps ownership and must restore before destroying it.
void setCurrentClock(Clock* clock);

// Asks for 1 ns timer slack for the calling thread (default 50 us), so that
// sleeps end when asked. Harmless to call more than once.
void requestPreciseTimers();

constexpr std::int64_t NS_PER_MS = 1'000'000;

#endif
