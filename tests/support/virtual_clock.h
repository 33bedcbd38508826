#ifndef VIRTUAL_CLOCK_H
#define VIRTUAL_CLOCK_H

#include "clock.h"

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

// A clock for tests: time stands still until someone waits, and a wait jumps
// straight to its deadline, so a transmission of minutes runs in microseconds
// and the simulated port's records carry exact times. Installs itself as the
// process clock while it exists.
class VirtualClock : public Clock
{
public:
    explicit VirtualClock(std::int64_t start = 0);
    ~VirtualClock() override;

    std::int64_t now() override { return current; }
    void waitUntil(std::int64_t deadline) override;
    // Stops at the time of the action after which `interrupt` is raised.
    bool waitUntil(std::int64_t deadline, const Interrupt& interrupt) override;

    // Runs `action` once, during the first wait that reaches or passes `time`
    // (after the clock has moved to `time`, before it moves on). Several
    // actions at one time run in the order they were added.
    void at(std::int64_t time, std::function<void()> action);

    // Every deadline waited for, in order (also those already passed).
    const std::vector<std::int64_t>& waits() const { return deadlines; }

private:
    std::int64_t current;
    std::multimap<std::int64_t, std::function<void()>> actions;
    std::vector<std::int64_t> deadlines;
};

#endif
