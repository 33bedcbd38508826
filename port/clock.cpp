#include "clock.h"

#include "interrupt.h"

#include <cerrno>
#include <ctime>
#include <sys/prctl.h>

namespace
{

RealClock realClock;
Clock* installed = &realClock;

std::int64_t toNs(const timespec& t)
{
    return std::int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

timespec toTimespec(std::int64_t ns)
{
    timespec t;
    t.tv_sec = ns / 1'000'000'000;
    t.tv_nsec = ns % 1'000'000'000;
    return t;
}

} // namespace

Clock::~Clock() = default;

std::int64_t RealClock::now()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return toNs(t);
}

void RealClock::waitUntil(std::int64_t deadline)
{
    // Sleeping to the deadline itself would wake us late by the scheduler's
    // latency; sleep to shortly before it and spin for the rest.
    const std::int64_t wake = deadline - SPIN_MARGIN_NS;
    if (now() < wake) {
        const timespec t = toTimespec(wake);
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) == EINTR) {
        }
    }
    while (now() < deadline) {
    }
}

bool RealClock::waitUntil(std::int64_t deadline, const Interrupt& interrupt)
{
    // As above, but asleep on the interrupt's futex, which Abort or a signal
    // wakes at once.
    const std::int64_t wake = deadline - SPIN_MARGIN_NS;
    for (;;) {
        const std::uint32_t token = interrupt.token();
        if (interrupt.raised())
            return false;
        if (now() >= wake)
            break;
        interrupt.wait(token, wake);
    }
    while (now() < deadline) {
        if (interrupt.raised())
            return false;
    }
    return true;
}

bool Clock::napUntil(std::int64_t deadline, const Interrupt& interrupt)
{
    return waitUntil(deadline, interrupt);
}

bool RealClock::napUntil(std::int64_t deadline, const Interrupt& interrupt)
{
    for (;;) {
        const std::uint32_t token = interrupt.token();
        if (interrupt.raised())
            return false;
        if (now() >= deadline)
            return true;
        interrupt.wait(token, deadline);
    }
}

Clock& currentClock()
{
    return *installed;
}

void setCurrentClock(Clock* clock)
{
    installed = clock ? clock : &realClock;
}

void requestPreciseTimers()
{
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}
