#include "pins.h"

#include "port_refusal.h"
#include "portio.h"

#include <cerrno>
#include <cstring>
#include <utility>

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

const int lp_invert_masks[3] = {0x00, 0x80, 0x0B};

int lp_base = 0;
int lp_output_pins = 0;
int lp_input_pins = 0;
int lp_register[3] = {0, 0, 0};

namespace
{

enum Register { DATA = 0, STATUS = 1, CONTROL = 2 };

constexpr int DATA_BITS = 0xFF;
constexpr int STATUS_BITS = 0xFF00;
constexpr int CONTROL_BITS = 0xFF0000;
constexpr int CONTROL_PINS = 0x0F0000;

// Access granted and masks valid for lp_base. Until then the direction calls
// must not touch the masks: a pin made an output there would send the next
// set_pin to an address the process may not access, which kills it.
bool claimed = false;

void pin_init_internal()
{
    lp_output_pins = LP_IRQ_MODE | LP_DATA_INPUT;
    lp_input_pins = 0xF800 | LP_IRQ_MODE | LP_DATA_INPUT;
}

int read_register(int regnum)
{
    const int value = portio_read(unsigned(lp_base + regnum)) ^ lp_invert_masks[regnum];
    lp_register[regnum] = value;
    return value;
}

void write_register(int value, int regnum)
{
    lp_register[regnum] = value;
    portio_write(std::uint8_t((value ^ lp_invert_masks[regnum]) & 0xFF),
                 unsigned(lp_base + regnum));
}

// Control pins in input mode must be driven high (logical 1) by every control
// write, or the open-collector line would pull the connector pin down and the
// pin could never be read as an input.
int control_input_bits()
{
    return (lp_input_pins & CONTROL_PINS) >> 16;
}

void set_datareg(int pins)
{
    write_register(read_register(DATA) | (pins & DATA_BITS), DATA);
}

void clear_datareg(int pins)
{
    write_register(read_register(DATA) & ~(pins & DATA_BITS), DATA);
}

void set_controlreg(int pins)
{
    const int bits = (pins & CONTROL_BITS) >> 16;
    write_register(read_register(CONTROL) | bits | control_input_bits(), CONTROL);
}

void clear_controlreg(int pins)
{
    const int bits = (pins & CONTROL_BITS) >> 16;
    write_register((read_register(CONTROL) & ~bits) | control_input_bits(), CONTROL);
}

void rewrite_controlreg()
{
    write_register(read_register(CONTROL) | control_input_bits(), CONTROL);
}

void dataline_input_mode()
{
    lp_input_pins |= DATA_BITS;
    lp_output_pins &= ~DATA_BITS;
    set_pin(LP_DATA_INPUT);
}

void dataline_output_mode()
{
    lp_input_pins &= ~DATA_BITS;
    lp_output_pins |= DATA_BITS;
    clear_pin(LP_DATA_INPUT);
}

void controlreg_input_mode(int pins)
{
    lp_input_pins |= pins;
    lp_output_pins &= ~pins;
    rewrite_controlreg();
}

void controlreg_output_mode(int pins)
{
    lp_output_pins |= pins;
    lp_input_pins &= ~pins;
    rewrite_controlreg();
}

} // namespace

int pin_init_user(int base, PortRefusal* refusal)
{
    lp_base = base;
    std::vector<std::string> reasons;
    if (portio_claim(unsigned(base), reasons) != 0) {
        const int error = errno;
        // Whatever an earlier claim allowed belongs to another address now.
        claimed = false;
        lp_output_pins = 0;
        lp_input_pins = 0;
        if (refusal) {
            refusal->error = error;
            refusal->lines = std::move(reasons);
            refusal->lines.push_back(std::string("can't get IO permissions!: ") +
                                     std::strerror(error));
        }
        return -1;
    }
    claimed = true;
    pin_init_internal();
    return 0;
}

void set_pin(int pins)
{
    pins &= lp_output_pins;
    if (pins & DATA_BITS)
        set_datareg(pins);
    if (pins & CONTROL_BITS)
        set_controlreg(pins);
}

void clear_pin(int pins)
{
    pins &= lp_output_pins;
    if (pins & DATA_BITS)
        clear_datareg(pins);
    if (pins & CONTROL_BITS)
        clear_controlreg(pins);
}

void change_pin(int pins, int mode)
{
    if (mode == 1)
        set_pin(pins);
    else if (mode == 0)
        clear_pin(pins);
}

int pin_is_set(int pins)
{
    pins &= lp_input_pins;
    int result = 0;
    if (pins & DATA_BITS)
        result |= read_register(DATA) & pins;
    if (pins & STATUS_BITS)
        result |= (read_register(STATUS) << 8) & pins;
    if (pins & CONTROL_BITS)
        result |= (read_register(CONTROL) << 16) & pins;
    return result;
}

void pin_input_mode(int pins)
{
    if (!claimed)
        return;
    if (pins & DATA_BITS)
        dataline_input_mode();
    if (pins & CONTROL_PINS)
        controlreg_input_mode(pins & CONTROL_PINS);
}

void pin_output_mode(int pins)
{
    if (!claimed)
        return;
    if (pins & DATA_BITS)
        dataline_output_mode();
    if (pins & CONTROL_PINS)
        controlreg_output_mode(pins & CONTROL_PINS);
}

void pin_mode(int pins, int mode)
{
    if (mode == 0)
        pin_input_mode(pins);
    else if (mode == 1)
        pin_output_mode(pins);
}

void pin_lower_data_lines_in_handler()
{
    // clear_pin(0xFF) would read the register first; with all eight lines
    // lowered the result is the same without the read.
    if (claimed && (lp_output_pins & DATA_BITS))
        portio_write_data_in_handler(std::uint8_t(lp_invert_masks[DATA]), unsigned(lp_base));
}

void pin_layer_reset()
{
    claimed = false;
    lp_base = 0;
    lp_output_pins = 0;
    lp_input_pins = 0;
    lp_register[DATA] = 0;
    lp_register[STATUS] = 0;
    lp_register[CONTROL] = 0;
}
