#ifndef PINS_H
#define PINS_H

// Pin-level access to a PC parallel port through its three registers.
//
// Pins are named by a 32-bit mask: bits 0-7 data register (D0-D7), bits 8-15
// status register, bits 16-23 control register; bits 24-31 are ignored.
// Callers see every pin in positive logic: the hardware inversion of status
// bit 7 and control bits 0, 1 and 3 is undone here.
//
// Process-wide state, one thread only. Every register update is a read of the
// hardware register followed by a write; a register holding none of the
// requested bits is not touched. No system call, no allocation.

struct PortRefusal;

// Connector pin number (0 to 25) to mask; 0 for pin 0 and the grounds 18-25.
extern const int LP_PIN[26];

// Inversion byte of the data, status and control registers: 0x00, 0x80, 0x0B.
extern const int lp_invert_masks[3];

// Control-register bits that are not connector pins.
constexpr int LP_IRQ_MODE = 0x100000;   // control bit 4, interrupt enable
constexpr int LP_DATA_INPUT = 0x200000; // control bit 5, data lines are inputs when set

extern int lp_base;        // base I/O address of the claimed port
extern int lp_output_pins; // pins that may be written now
extern int lp_input_pins;  // pins that may be read now
extern int lp_register[3]; // last logical value read from or written to each register

// Claims the port at `base`. Returns 0; or -1, leaving no pin writable or
// readable, with `refusal` (when given) holding the system's error and, after
// the lines of the other ways in that were refused, "can't get IO
// permissions!: <system error text>". Prints nothing.
int pin_init_user(int base, PortRefusal* refusal = nullptr);

// Raises (logical 1) / lowers (logical 0) every output pin in `pins`; others
// are ignored. Data lines not named keep their level.
void set_pin(int pins);
void clear_pin(int pins);
// mode 1: set_pin, mode 0: clear_pin, anything else: nothing.
void change_pin(int pins, int mode);

// The requested input pins that read logical 1.
int pin_is_set(int pins);

// Make the data lines (as a group of eight, when any data bit is named) and the
// named control pins (bits 16-19) inputs or outputs. Other bits are ignored.
// Before a successful pin_init_user they do nothing.
void pin_input_mode(int pins);
void pin_output_mode(int pins);
// mode 0: pin_input_mode, mode 1: pin_output_mode, anything else: nothing.
void pin_mode(int pins, int mode);

// For a signal handler: lowers all eight data lines, when they are outputs,
// with one register write and nothing else (async-signal-safe; lp_register is
// left as it was, the process being about to end).
void pin_lower_data_lines_in_handler();

// Back to the uninitialised state (nothing claimed, empty masks, registers 0).
// A test starts from here; the program never needs it. It stays in this header
// because the layer's state is plain process-wide data with no class to grant
// a test access: a header of its own would export the same function, only
// less visibly.
void pin_layer_reset();

#endif
