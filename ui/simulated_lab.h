#ifndef SIMULATED_LAB_H
#define SIMULATED_LAB_H

#include "interrupt.h"

#include <QObject>

#include <cstdint>
#include <thread>

// The lab's other machines for a rehearsal on the simulated port: a scanner
// that sends a pulse on one input pin at a steady rate, and a button box on
// the keyboard. The inputs rest as on a real port: unconnected pins high
// (pulled up), the scanner's pin low between pulses.
//
// F5, F6, F7, F8 and F10 are buttons wired to pins 10, 11, 12, 13 and 15
// and ground (F9 stays the About window's): a key
// held down holds its pin low, wherever the keyboard's focus is (the progress
// dialog of a send included).
class SimulatedLab : public QObject
{
    Q_OBJECT

public:
    // How long each simulated pulse stays high.
    static constexpr std::int64_t PULSE_WIDTH_MS = 10;

    // Rests the inputs, then traces every change of the data lines and inputs
    // on standard error without recording the writes (portsim::writes() stays
    // as it is), and watches the application's keys. With `pulseEvery`
    // (ms, 0 for none) a pulse goes out on `pulsePin` every `pulseEvery` ms
    // from now, the first one at once, from a thread of its own until the
    // object is destroyed.
    SimulatedLab(std::uint32_t pulseEvery, int pulsePin, QObject* parent = nullptr);
    ~SimulatedLab() override;

    // The connector pin a key stands for; 0 for other keys.
    static int pinOfKey(int key);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void sendPulses(std::int64_t period, int pin);

    Interrupt stop;
    std::thread scanner;
};

#endif
