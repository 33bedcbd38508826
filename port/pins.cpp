#include "pins.h"

#include "parallel_port.h"

const int LP_PIN[26] = {
    0,                                                 // no pin 0
    0x10000,                                           // 1: control bit 0, inverted
    0x01,    0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80, // 2-9: D0-D7
    0x4000,                                            // 10: status bit 6
    0x8000,                                            // 11: status bit 7, inverted
    0x2000,                                            // 12: status bit 5
    0x1000,                                            // 13: status bit 4
    0x20000,                                           // 14: control bit 1, inverted
    0x0800,                                            // 15: status bit 3
    0x40000,                                           // 16: control bit 2
    0x80000,                                           // 17: control bit 3, inverted
    0,       0,    0,    0,    0,    0,    0,    0,    // 18-25: ground
};

int pin_init_user(int base, PortRefusal* refusal)
{
    return parallelPort().claim(base, refusal);
}

void set_pin(int pins)
{
    parallelPort().raise(pins);
}

void clear_pin(int pins)
{
    parallelPort().lower(pins);
}

int pin_is_set(int pins)
{
    return parallelPort().read(pins);
}

void pin_lower_data_lines_in_handler()
{
    parallelPort().lowerDataLinesInHandler();
}

bool portio_failed()
{
    return parallelPort().failed();
}

std::string portio_failure()
{
    return parallelPort().failure();
}

void pin_layer_reset()
{
    parallelPort().release();
}
