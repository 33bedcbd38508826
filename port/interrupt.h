#ifndef INTERRUPT_H
#define INTERRUPT_H

#include <atomic>
#include <cstdint>

// What cuts a transmission's waits short: the operator's Abort from the
// window's thread, or a terminating signal from its handler. Raising it also
// wakes any thread sleeping in wait(), at once, so a wait of days ends within
// microseconds. Everything here is lock-free and allocates nothing; raise()
// and notify() are async-signal-safe (an atomic and one futex system call).
class Interrupt
{
public:
    // Once raised it stays raised.
    void raise() noexcept;
    bool raised() const noexcept;

    // Wakes the waiters without raising: something they wait for may be there.
    void notify() noexcept;

    // A token for wait(): take it, check what you wait for, then wait with it,
    // so that a notify() or raise() in between is never missed.
    std::uint32_t token() const noexcept;
    // Sleeps until `deadline` (ns on CLOCK_MONOTONIC; negative: no deadline),
    // or until notify() or raise() changed the state since `token`, or a
    // signal or a spurious wake-up: callers check their condition again.
    void wait(std::uint32_t token, std::int64_t deadline) const noexcept;

private:
    static constexpr std::uint32_t RAISED = 1;
    // Bit 0 raised, the rest counts notifications: the futex word.
    mutable std::atomic<std::uint32_t> word{0};
};

#endif
