#include "transmission_thread.h"

#include "clock.h"
#include "pins.h"
#include "termination.h"

#include <cerrno>
#include <csignal>
#include <new>
#include <pthread.h>
#include <sched.h>
#include <system_error>

namespace
{

CellTiming cellSlots[TransmissionThread::CELL_CAPACITY];
InputEdge edgeSlots[TransmissionThread::EDGE_CAPACITY];
std::atomic<bool> busy{false};

} // namespace

template <typename Item> void TransmissionThread::Ring<Item>::put(const Item& item) noexcept
{
    const std::uint64_t at = written.load(std::memory_order_relaxed);
    if (at - read.load(std::memory_order_acquire) == capacity) {
        dropped.fetch_add(1);
        return;
    }
    storage[at % capacity] = item;
    written.store(at + 1, std::memory_order_release);
}

template <typename Item>
template <typename Sink>
void TransmissionThread::Ring<Item>::take(Sink sink)
{
    const std::uint64_t end = written.load(std::memory_order_acquire);
    for (std::uint64_t next = read.load(std::memory_order_relaxed); next != end; ++next) {
        sink(storage[next % capacity]);
        // Each item given back at once: a slow sink must not make the
        // transmission find the ring fuller than it is.
        read.store(next + 1, std::memory_order_release);
    }
}

TransmissionThread::TransmissionThread(Play play)
    : cells(cellSlots, CELL_CAPACITY), edges(edgeSlots, EDGE_CAPACITY)
{
    if (busy.exchange(true))
        throw std::system_error(EBUSY, std::generic_category(), "another send is running");
    setActiveInterrupt(&stop);
    try {
        thread = std::thread([this, play = std::move(play)] { run(play); });
    } catch (...) {
        setActiveInterrupt(nullptr);
        busy = false;
        throw;
    }
}

TransmissionThread::~TransmissionThread()
{
    if (thread.joinable()) {
        abort();
        join();
    }
}

void TransmissionThread::abort() noexcept
{
    stop.raise();
}

Outcome TransmissionThread::join()
{
    if (thread.joinable()) {
        thread.join();
        setActiveInterrupt(nullptr);
        busy = false;
    }
    return outcome;
}

TransmissionThread::Progress TransmissionThread::progress() const noexcept
{
    // The steps before the phase: the phase turns to Playing before step 1
    // is stored, so a step seen done is never shown as still waiting.
    const std::uint64_t total = steps.load();
    const std::uint64_t done = stepsDone.load();
    const std::uint64_t state = phasePulses.load();
    return {total, done, Phase(state >> 32), std::uint32_t(state)};
}

void TransmissionThread::takeCells(TransmissionObserver& sink)
{
    cells.take([&sink](const CellTiming& cell) { sink.cellPresented(cell); });
}

void TransmissionThread::takeEdges(TransmissionObserver& sink)
{
    edges.take([&sink](const InputEdge& edge) { sink.inputSeen(edge); });
}

void TransmissionThread::Relay::recordStarted(std::uint64_t total)
{
    owner.stepsDone.store(0);
    owner.steps.store(total);
}

void TransmissionThread::Relay::progressed(std::uint64_t done)
{
    // Steps are only made once the send has its origin.
    owner.phasePulses.store((std::uint64_t(Phase::Playing) << 32) |
                            std::uint32_t(owner.phasePulses.load()));
    owner.stepsDone.store(done);
}

void TransmissionThread::Relay::cellPresented(const CellTiming& cell)
{
    owner.cells.put(cell);
}

void TransmissionThread::Relay::pulsesSeen(std::uint32_t seen)
{
    owner.phasePulses.store((std::uint64_t(Phase::Waiting) << 32) | seen);
}

void TransmissionThread::Relay::answering()
{
    owner.phasePulses.store((std::uint64_t(Phase::Answering) << 32) |
                            std::uint32_t(owner.phasePulses.load()));
}

void TransmissionThread::Relay::inputSeen(const InputEdge& edge)
{
    owner.edges.put(edge);
}

void TransmissionThread::run(const Play& play)
{
    sigset_t terminating;
    sigemptyset(&terminating);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        sigaddset(&terminating, signal);
    pthread_sigmask(SIG_BLOCK, &terminating, nullptr);
    requestPreciseTimers();
    // On Linux a policy set with pid 0 is the calling thread's alone.
    sched_param fifo{};
    fifo.sched_priority = sched_get_priority_min(SCHED_FIFO);
    realTimeGranted = sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &fifo) == 0;
    Relay relay(*this);
    try {
        outcome = play(relay, stop);
    } catch (const std::bad_alloc&) {
        clear_pin(0xFF);
        outcome = Outcome::OutOfMemory;
    }
    done.store(true, std::memory_order_release);
}
