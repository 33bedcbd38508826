#include "portio.h"

#include <sys/io.h>

// ioperm covers only the first 0x400 ports, which is where the parallel ports
// live; a base above that is refused with EINVAL.
int portio_claim(unsigned base)
{
    return ioperm(base, 3, 1);
}

std::uint8_t portio_read(unsigned address)
{
    return inb(static_cast<unsigned short>(address));
}

// outb takes the value first and the port second.
void portio_write(std::uint8_t value, unsigned address)
{
    outb(value, static_cast<unsigned short>(address));
}
