#include "virtual_clock.h"

#include "interrupt.h"

#include <utility>

VirtualClock::VirtualClock(std::int64_t start) : current(start)
{
    setCurrentClock(this);
}

VirtualClock::~VirtualClock()
{
    setCurrentClock(nullptr);
}

void VirtualClock::waitUntil(std::int64_t deadline)
{
    static const Interrupt never;
    waitUntil(deadline, never);
}

bool VirtualClock::waitUntil(std::int64_t deadline, const Interrupt& interrupt)
{
    deadlines.push_back(deadline);
    if (interrupt.raised())
        return false;
    // An action may wait itself (a nested transmission), so take each one out
    // of the queue before running it.
    while (!actions.empty() && actions.begin()->first <= deadline) {
        auto first = actions.begin();
        if (first->first > current)
            current = first->first;
        std::function<void()> action = std::move(first->second);
        actions.erase(first);
        action();
        if (interrupt.raised())
            return false;
    }
    if (deadline > current)
        current = deadline;
    return true;
}

void VirtualClock::at(std::int64_t time, std::function<void()> action)
{
    actions.emplace(time, std::move(action));
}
