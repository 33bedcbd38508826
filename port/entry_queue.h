#ifndef ENTRY_QUEUE_H
#define ENTRY_QUEUE_H

#include "pport.h"

#include <atomic>
#include <cstdint>
#include <vector>

class Interrupt;

// A word list's entries, handed from the thread that reads them (the
// window's) to the one that plays them: a fixed ring of ring, one producer
// and one consumer, no lock. The producer allocates each entry's codes; the
// consumer only reads them and never waits but between cells.
class EntryQueue : public EntrySource
{
public:
    explicit EntryQueue(std::size_t capacity = 64);

    // Producer side. `wake` is the interrupt the consumer waits on (the
    // transmission's): it is notified.
    bool full() const noexcept;
    // Adds an entry; only when not full. The codes are moved in.
    void push(std::uint32_t hold, std::uint32_t interval, std::vector<std::uint16_t> codes,
              Interrupt& wake);
    // No entry follows; the consumer's end() is then `end`.
    void close(Outcome end, Interrupt& wake);
    bool closed() const noexcept { return isClosed.load(std::memory_order_acquire); }

    // Consumer side. An entry returned stays untouched until the next call.
    bool next(Entry& entry, const Interrupt& interrupt) override;
    Outcome end() const override;

private:
    struct Slot {
        std::uint32_t hold = 0;
        std::uint32_t interval = 0;
        std::vector<std::uint16_t> codes;
    };

    std::vector<Slot> ring;
    std::atomic<std::uint64_t> pushed{0}; // entries put in
    std::atomic<std::uint64_t> freed{0};  // entries the consumer is done with
    std::uint64_t taken = 0;              // the consumer's: entries returned
    std::atomic<bool> isClosed{false};
    Outcome ending = Outcome::Completed;
};

#endif
