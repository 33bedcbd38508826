#include "simulated_lab.h"

#include "clock.h"
#include "portio_sim.h"
#include "synchronisation.h"

#include <QCoreApplication>
#include <QKeyEvent>

SimulatedLab::SimulatedLab(std::uint32_t pulseEvery, int pulsePin, QObject* parent)
    : QObject(parent)
{
    for (const int pin : Synchronisation::INPUT_PINS)
        portsim::setInput(pin, pin != pulsePin || pulseEvery == 0);
    // The resting levels are no news; the first pulse is. Written down, the
    // edges of a rehearsal of hours would fill the memory.
    portsim::traceDataLines();
    portsim::recordWrites(false);
    QCoreApplication::instance()->installEventFilter(this);
    if (pulseEvery != 0)
        scanner = std::thread(&SimulatedLab::sendPulses, this, std::int64_t(pulseEvery) * NS_PER_MS,
                              pulsePin);
}

SimulatedLab::~SimulatedLab()
{
    stop.raise();
    if (scanner.joinable())
        scanner.join();
}

int SimulatedLab::pinOfKey(int key)
{
    switch (key) {
    case Qt::Key_F5:
        return 10;
    case Qt::Key_F6:
        return 11;
    case Qt::Key_F7:
        return 12;
    case Qt::Key_F8:
        return 13;
    case Qt::Key_F10:
        return 15;
    default:
        return 0;
    }
}

bool SimulatedLab::eventFilter(QObject* watched, QEvent* event)
{
    const bool press = event->type() == QEvent::KeyPress;
    if (press || event->type() == QEvent::KeyRelease) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (const int pin = pinOfKey(key->key())) {
            // A held key repeats; the button only moves when it is pressed
            // or let go.
            if (!key->isAutoRepeat())
                portsim::setInput(pin, !press);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void SimulatedLab::sendPulses(std::int64_t period, int pin)
{
    // Each pulse at its own deadline from the start: a late one never
    // shifts the ones after it, as with a scanner's own clock.
    RealClock clock;
    requestPreciseTimers();
    const std::int64_t start = clock.now();
    for (std::int64_t next = start; !stop.raised(); next += period) {
        if (!clock.waitUntil(next, stop))
            return;
        portsim::setInput(pin, true);
        if (!clock.waitUntil(next + PULSE_WIDTH_MS * NS_PER_MS, stop))
            return;
        portsim::setInput(pin, false);
    }
}
