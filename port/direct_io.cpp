#include "direct_io.h"

#include <sys/io.h>

namespace directio
{

int claim(unsigned base)
{
    return ioperm(base, 3, 1);
}

std::uint8_t read(unsigned address)
{
    return inb(static_cast<unsigned short>(address));
}

void write(std::uint8_t value, unsigned address)
{
    outb(value, static_cast<unsigned short>(address));
}

} // namespace directio
