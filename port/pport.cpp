#include "pport.h"

#include "clock.h"
#include "pins.h"

#include <cstdio>
#include <cstdlib>

namespace
{

// Data lines D0-D7 and the four control pins (connector pins 1, 14, 16, 17).
constexpr int DATA_AND_CONTROL_PINS = 0xF00FF;
constexpr int ALL_DATA_LINES = 0xFF;

} // namespace

void initializeParallelPort(int base)
{
    // Timer slack is per thread and inherited; the transmission runs on this one.
    requestPreciseTimers();
    if (pin_init_user(base) != 0) {
        std::fputs("PARALLEL PORT NOT FOUND\n", stderr);
        std::exit(1);
    }
    pin_output_mode(DATA_AND_CONTROL_PINS);
    clear_pin(ALL_DATA_LINES);
}

void resetParallelPort(int /*port*/)
{
    clear_pin(ALL_DATA_LINES);
}
