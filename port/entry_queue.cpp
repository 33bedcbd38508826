#include "entry_queue.h"

#include "interrupt.h"

EntryQueue::EntryQueue(std::size_t capacity) : ring(capacity) {}

bool EntryQueue::full() const noexcept
{
    return pushed.load(std::memory_order_relaxed) - freed.load(std::memory_order_acquire) ==
           ring.size();
}

void EntryQueue::push(std::uint32_t hold, std::uint32_t interval, std::vector<std::uint16_t> codes,
                      Interrupt& wake)
{
    const std::uint64_t at = pushed.load(std::memory_order_relaxed);
    Slot& slot = ring[at % ring.size()];
    slot.hold = hold;
    slot.interval = interval;
    slot.codes = std::move(codes);
    pushed.store(at + 1, std::memory_order_release);
    wake.notify();
}

void EntryQueue::close(Outcome end, Interrupt& wake)
{
    ending = end;
    isClosed.store(true, std::memory_order_release);
    wake.notify();
}

bool EntryQueue::next(Entry& entry, const Interrupt& interrupt)
{
    // The entry returned last is played: its slot may be filled again.
    freed.store(taken, std::memory_order_release);
    for (;;) {
        const std::uint32_t token = interrupt.token();
        if (interrupt.raised())
            return false;
        if (pushed.load(std::memory_order_acquire) != taken)
            break;
        if (isClosed.load(std::memory_order_acquire) &&
            pushed.load(std::memory_order_acquire) == taken)
            return false;
        interrupt.wait(token, -1);
    }
    const Slot& slot = ring[taken % ring.size()];
    entry.hold = slot.hold;
    entry.interval = slot.interval;
    entry.codes = slot.codes.data();
    entry.length = std::uint32_t(slot.codes.size());
    ++taken;
    return true;
}

Outcome EntryQueue::end() const
{
    return isClosed.load(std::memory_order_acquire) ? ending : Outcome::Aborted;
}
