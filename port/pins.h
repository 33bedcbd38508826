#ifndef PINS_H
#define PINS_H

#include <string>

// Pin-level access to the process's parallel port (parallelPort(), see
// parallel_port.h for the masks, the logic and the threads).

struct PortRefusal;

// Connector pin number (0 to 25) to mask; 0 for pin 0 and the grounds 18-25.
extern const int LP_PIN[26];

// Claims the port at `base`: see ParallelPort::claim. Prints nothing.
int pin_init_user(int base, PortRefusal* refusal = nullptr);

// Raises (logical 1) / lowers (logical 0) every output pin in `pins`: the data
// lines and the control pins 1, 14, 16 and 17; others are ignored.
void set_pin(int pins);
void clear_pin(int pins);

// The requested input pins (status pins 10, 11, 12, 13, 15) that read logical 1.
int pin_is_set(int pins);

// For a signal handler: lowers all eight data lines with one register write.
void pin_lower_data_lines_in_handler();

// Whether a port access failed since the claim or the start of the last
// transmission; lock-free, for the transmission's thread.
bool portio_failed();
// That failure as the operator is to be told, for example "can't access
// /dev/parport1: Input/output error"; empty when none.
std::string portio_failure();

// Back to the uninitialised state (nothing claimed, nothing known), the
// device let go. A test starts from here; the program never needs it.
void pin_layer_reset();

#endif
