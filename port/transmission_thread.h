#ifndef TRANSMISSION_THREAD_H
#define TRANSMISSION_THREAD_H

#include "interrupt.h"
#include "pport.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

// A transmission on a thread of its own, the only one of the program that
// asks for real-time priority, so that nothing the window does (a repaint, a
// file write, a box) can delay an edge. The window's thread starts it, polls
// it, takes its cells and input edges and joins it; the two meet only through
// atomics and two preallocated single-producer, single-consumer rings, never
// a lock.
class TransmissionThread
{
public:
    using Play = std::function<Outcome(TransmissionObserver& observer, const Interrupt& interrupt)>;

    // Cells the ring holds before the window's thread has taken them; beyond
    // that they are counted in lostCells() instead (the transmission never
    // waits for the window). At a cell a millisecond, 16 s of a window that
    // takes nothing.
    static constexpr std::size_t CELL_CAPACITY = 1 << 14;
    // Input edges likewise: at an answer a second, over an hour.
    static constexpr std::size_t EDGE_CAPACITY = 1 << 12;

    // Starts `play` at once on a new thread under SCHED_FIFO at its lowest
    // priority, when the system permits it, with the flag that keeps threads
    // and processes it starts from inheriting it; with 1 ns timer slack; and
    // with the terminating signals blocked, so that their handler runs on
    // another thread. While it runs, its interrupt is the one a terminating
    // signal raises. One transmission at a time: the rings are the process's
    // own, allocated with it, so that starting a send needs no memory beyond
    // the thread. Throws std::system_error when no thread can be started or
    // another transmission runs.
    explicit TransmissionThread(Play play);
    // Aborts and joins, if it was not joined yet.
    ~TransmissionThread();
    TransmissionThread(const TransmissionThread&) = delete;
    TransmissionThread& operator=(const TransmissionThread&) = delete;

    // Raises the interrupt: the transmission ends within microseconds.
    void abort() noexcept;
    // The transmission's interrupt; a word list's producer notifies it.
    Interrupt& interrupt() noexcept { return stop; }

    bool finished() const noexcept { return done.load(std::memory_order_acquire); }
    // Waits for the end and returns how it ended.
    Outcome join();

    enum class Phase {
        Waiting,   // for the pulse that starts the send
        Playing,   // the timeline
        Answering, // every cell played, answers still watched
        Starting,  // nothing told yet: the thread has not reached the timeline
    };
    struct Progress {
        std::uint64_t total = 1; // the current record's steps
        std::uint64_t done = 0;  // of which complete
        Phase phase = Phase::Starting;
        std::uint32_t pulses = 0; // seen while waiting (it stays after the wait)
    };
    Progress progress() const noexcept;

    // Hands the cells presented since the last call to `sink`, oldest first,
    // on the calling thread.
    void takeCells(TransmissionObserver& sink);
    // Cells that found the ring full: presented, but not handed over.
    std::uint64_t lostCells() const noexcept { return cells.lost(); }
    // The same for input edges: inputSeen() on `sink` for each, oldest first.
    void takeEdges(TransmissionObserver& sink);
    std::uint64_t lostEdges() const noexcept { return edges.lost(); }
    // Whether the thread got its real-time priority; valid once finished.
    bool realTime() const noexcept { return realTimeGranted.load(); }

private:
    // A single-producer, single-consumer ring of `capacity` items in
    // preallocated `storage`: the transmission puts, the window's thread
    // takes. What finds it full is counted, never waited for.
    template <typename Item> class Ring
    {
    public:
        Ring(Item* storage, std::size_t capacity) : storage(storage), capacity(capacity) {}
        void put(const Item& item) noexcept;
        // Hands each item to `sink`, oldest first.
        template <typename Sink> void take(Sink sink);
        std::uint64_t lost() const noexcept { return dropped.load(); }

    private:
        Item* const storage;
        const std::size_t capacity;
        std::atomic<std::uint64_t> written{0};
        std::atomic<std::uint64_t> read{0};
        std::atomic<std::uint64_t> dropped{0};
    };

    // The observer on the transmission's thread: atomics and the rings only.
    class Relay : public TransmissionObserver
    {
    public:
        explicit Relay(TransmissionThread& owner) : owner(owner) {}
        void recordStarted(std::uint64_t total) override;
        void progressed(std::uint64_t done) override;
        void cellPresented(const CellTiming& cell) override;
        void pulsesSeen(std::uint32_t seen) override;
        void answering() override;
        void inputSeen(const InputEdge& edge) override;

    private:
        TransmissionThread& owner;
    };

    void run(const Play& play);

    Interrupt stop;
    Ring<CellTiming> cells;
    Ring<InputEdge> edges;
    std::atomic<std::uint64_t> steps{1};
    std::atomic<std::uint64_t> stepsDone{0};
    // The phase above the pulses seen (the low 32 bits), so that the two are
    // always read together.
    std::atomic<std::uint64_t> phasePulses{std::uint64_t(Phase::Starting) << 32};
    std::atomic<bool> done{false};
    std::atomic<bool> realTimeGranted{false};
    Outcome outcome = Outcome::Completed;
    std::thread thread;
};

#endif
