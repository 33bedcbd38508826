#include "synchronisation.h"

#include <algorithm>
#include <iterator>

namespace
{

const char* const PIN_LIST = "(10, 11, 12, 13 or 15)";

std::string trimmed(const std::string& text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    const auto first = std::find_if_not(text.begin(), text.end(), blank);
    const auto last = std::find_if_not(text.rbegin(), text.rend(), blank).base();
    return first < last ? std::string(first, last) : std::string();
}

// Decimal digits only, no sign, at most `maximum`: a number too large for the
// field is refused rather than cut to fit, which would start a different
// experiment than the one written down.
bool readNumber(const std::string& text, std::uint32_t maximum, std::uint32_t& number)
{
    if (text.empty())
        return false;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + std::uint64_t(c - '0');
        if (value > maximum)
            return false;
    }
    number = std::uint32_t(value);
    return true;
}

// A value as a problem names it: a line of a damaged file can be long.
std::string shown(const std::string& value)
{
    if (value.empty())
        return "an empty value";
    return value.size() <= 32 ? value : value.substr(0, 32) + "...";
}

bool readChoice(const std::string& text, const char* yes, const char* no, bool& choice)
{
    if (text != yes && text != no)
        return false;
    choice = text == yes;
    return true;
}

// "11,12" into ascending pins; order carries no meaning, a pin named twice
// is most likely a typing slip for another one, so it is refused. Empty: none.
std::string readPins(const std::string& text, std::vector<int>& pins)
{
    std::vector<int> read;
    std::size_t from = 0;
    while (!text.empty() && from <= text.size()) {
        const std::size_t comma = std::min(text.find(',', from), text.size());
        const std::string item = trimmed(text.substr(from, comma - from));
        std::uint32_t pin = 0;
        if (!readNumber(item, 99, pin) || !Synchronisation::isInputPin(int(pin)))
            return shown(item) + " is not an input pin " + PIN_LIST;
        read.push_back(int(pin));
        from = comma + 1;
    }
    std::sort(read.begin(), read.end());
    const auto twice = std::adjacent_find(read.begin(), read.end());
    if (twice != read.end())
        return "pin " + std::to_string(*twice) + " is named twice";
    pins = std::move(read);
    return {};
}

std::string pinsText(const std::vector<int>& pins)
{
    std::string text;
    for (const int pin : pins)
        text += (text.empty() ? "" : ",") + std::to_string(pin);
    return text;
}

} // namespace

bool Synchronisation::isInputPin(int pin)
{
    return std::find(std::begin(INPUT_PINS), std::end(INPUT_PINS), pin) != std::end(INPUT_PINS);
}

bool Synchronisation::operator==(const Synchronisation& other) const
{
    return waitForPulse == other.waitForPulse && pulsePin == other.pulsePin &&
           pulseRising == other.pulseRising && pulseNumber == other.pulseNumber &&
           timeLimitMs == other.timeLimitMs && answerPins == other.answerPins &&
           pressRising == other.pressRising && responseWindowMs == other.responseWindowMs &&
           deadTimeMs == other.deadTimeMs;
}

std::string Synchronisation::toText() const
{
    const auto edge = [](bool rising) { return rising ? "rising" : "falling"; };
    return std::string("wait_for_pulse=") + (waitForPulse ? "yes" : "no") +
           "\npulse_pin=" + std::to_string(pulsePin) + "\npulse_edge=" + edge(pulseRising) +
           "\npulse_number=" + std::to_string(pulseNumber) +
           "\ntime_limit_ms=" + std::to_string(timeLimitMs) +
           "\nanswer_pins=" + pinsText(answerPins) + "\npress_edge=" + edge(pressRising) +
           "\nresponse_window_ms=" + std::to_string(responseWindowMs) +
           "\ndead_time_ms=" + std::to_string(deadTimeMs) + "\n";
}

Synchronisation Synchronisation::fromText(const std::string& text,
                                          std::vector<std::string>& problems)
{
    Synchronisation s;
    std::size_t from = 0;
    while (from < text.size()) {
        const std::size_t end = std::min(text.find('\n', from), text.size());
        std::string line = text.substr(from, end - from);
        from = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        const std::string key = trimmed(line.substr(0, equals));
        const std::string value = trimmed(line.substr(equals + 1));
        std::string why;
        std::uint32_t number = 0;
        if (key == "wait_for_pulse") {
            if (!readChoice(value, "yes", "no", s.waitForPulse))
                why = shown(value) + " is not yes or no";
        } else if (key == "pulse_pin") {
            if (readNumber(value, 99, number) && isInputPin(int(number)))
                s.pulsePin = int(number);
            else
                why = shown(value) + " is not an input pin " + PIN_LIST;
        } else if (key == "pulse_edge" || key == "press_edge") {
            if (!readChoice(value, "rising", "falling",
                            key == "pulse_edge" ? s.pulseRising : s.pressRising))
                why = shown(value) + " is not rising or falling";
        } else if (key == "pulse_number") {
            if (readNumber(value, MAX_PULSE_NUMBER, number) && number >= 1)
                s.pulseNumber = number;
            else
                why =
                    shown(value) + " is not a number from 1 to " + std::to_string(MAX_PULSE_NUMBER);
        } else if (key == "time_limit_ms" || key == "response_window_ms" || key == "dead_time_ms") {
            std::uint32_t& field = key == "time_limit_ms"        ? s.timeLimitMs
                                   : key == "response_window_ms" ? s.responseWindowMs
                                                                 : s.deadTimeMs;
            if (!readNumber(value, MAX_MS, field))
                why = shown(value) + " is not a number of ms from 0 to " + std::to_string(MAX_MS);
        } else if (key == "answer_pins") {
            why = readPins(value, s.answerPins);
        }
        if (!why.empty())
            problems.push_back(key + ": " + why);
    }
    // A pin cannot both start the send and answer: each pulse would count as
    // a press. The pulse is what the experiment cannot do without; the other
    // pins answer still, as the transmission reads them.
    const auto pulsePin = std::find(s.answerPins.begin(), s.answerPins.end(), s.pulsePin);
    if (s.waitForPulse && pulsePin != s.answerPins.end()) {
        problems.push_back("answer_pins: pin " + std::to_string(s.pulsePin) + " is the pulse pin");
        s.answerPins.erase(pulsePin);
    }
    return s;
}
