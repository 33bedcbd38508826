#ifndef SYNCHRONISATION_H
#define SYNCHRONISATION_H

#include <cstdint>
#include <string>
#include <vector>

// How a send meets the lab's other machines through the port's five input
// pins (connector pins 10, 11, 12, 13 and 15): it may start on a scanner's
// pulse, and it may record the patient's answers from a button box. Levels
// are the voltages on the connector: "high" is logical 1 for every input pin
// (the inversion of pin 11 is undone by the pin layer). An unconnected input
// reads high: the port pulls it up.
struct Synchronisation {
    // The input pins, in connector numbers.
    static constexpr int INPUT_PINS[5] = {10, 11, 12, 13, 15};
    // The largest pulse number that may be waited for: a scanner's dummy
    // volumes are a handful, and the pulses before the one awaited are kept
    // in a fixed table on the transmission's thread.
    static constexpr std::uint32_t MAX_PULSE_NUMBER = 1000;
    // The largest time limit, response window and dead time, in ms.
    static constexpr std::uint32_t MAX_MS = 2147483647;

    // Whether connector pin `pin` is one of INPUT_PINS.
    static bool isInputPin(int pin);

    // Off (false): a send starts when the operator asks for it.
    bool waitForPulse = false;
    int pulsePin = 10;             // one of INPUT_PINS
    bool pulseRising = true;       // the pulse's edge that counts: low to high
    std::uint32_t pulseNumber = 1; // 1 to MAX_PULSE_NUMBER: the send starts on this pulse
    std::uint32_t timeLimitMs = 0; // 0: waits until Abort

    // The pins whose edges are recorded as answers (connector numbers, each
    // one of INPUT_PINS, ascending, none twice); empty: none are watched.
    std::vector<int> answerPins;
    // A press makes the pin go high; false: low (a button to ground).
    bool pressRising = false;
    // Watching goes on this long after the last cell is lowered.
    std::uint32_t responseWindowMs = 2000;
    // An edge this soon after the last one on its pin is a bounce.
    std::uint32_t deadTimeMs = 5;

    bool watchesAnswers() const { return !answerPins.empty(); }
    // Whether a send reads the inputs at all.
    bool active() const { return waitForPulse || watchesAnswers(); }

    bool operator==(const Synchronisation& other) const;

    // The settings as the lines of their file, "key=value" each, ending in a
    // line end:
    //   wait_for_pulse=yes|no, pulse_pin=10, pulse_edge=rising|falling,
    //   pulse_number=3, time_limit_ms=0, answer_pins=11,12 (empty for none),
    //   press_edge=rising|falling, response_window_ms=2000, dead_time_ms=5
    std::string toText() const;
    // Reads what toText() wrote. Blank lines, a trailing carriage return
    // (a file saved on Windows), blanks around keys and values, lines without
    // "=" and unknown keys are passed over; a key whose value is not valid
    // keeps its default, and `problems` gets one line per such key, for
    // example "pulse_pin: 9 is not an input pin (10, 11, 12, 13 or 15)".
    // Numbers are decimal digits only, and one beyond its range is not valid
    // (never cut to fit). Answer pins may come in any order; a pin named twice
    // is not valid. When the send waits for a pulse on one of the answer
    // pins, that is a problem of answer_pins, and no answer pin is kept. A
    // key given twice takes its last valid value. Never throws on any input.
    static Synchronisation fromText(const std::string& text, std::vector<std::string>& problems);
};

#endif
