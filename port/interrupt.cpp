#include "interrupt.h"

#include <climits>
#include <ctime>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t) &&
                  std::atomic<std::uint32_t>::is_always_lock_free,
              "the futex word must be a plain 32-bit word");

namespace
{

long futex(std::atomic<std::uint32_t>& word, int op, std::uint32_t value, const timespec* timeout,
           std::uint32_t mask)
{
    return syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), op | FUTEX_PRIVATE_FLAG,
                   value, timeout, nullptr, mask);
}

void wakeAll(std::atomic<std::uint32_t>& word)
{
    futex(word, FUTEX_WAKE, INT_MAX, nullptr, 0);
}

} // namespace

void Interrupt::raise() noexcept
{
    word.fetch_or(RAISED);
    wakeAll(word);
}

bool Interrupt::raised() const noexcept
{
    return word.load() & RAISED;
}

void Interrupt::notify() noexcept
{
    word.fetch_add(2);
    wakeAll(word);
}

std::uint32_t Interrupt::token() const noexcept
{
    return word.load();
}

void Interrupt::wait(std::uint32_t token, std::int64_t deadline) const noexcept
{
    if (deadline < 0) {
        futex(word, FUTEX_WAIT_BITSET, token, nullptr, FUTEX_BITSET_MATCH_ANY);
        return;
    }
    // FUTEX_WAIT_BITSET takes an absolute time on CLOCK_MONOTONIC, so a
    // wake-up for nothing resumes the same wait, never a longer one.
    const timespec until{time_t(deadline / 1'000'000'000), long(deadline % 1'000'000'000)};
    futex(word, FUTEX_WAIT_BITSET, token, &until, FUTEX_BITSET_MATCH_ANY);
}
