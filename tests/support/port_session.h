#ifndef PORT_SESSION_H
#define PORT_SESSION_H

#include "pins.h"
#include "portio_sim.h"
#include "pport.h"
#include "virtual_clock.h"

#include <QtGlobal>

#include <cstddef>

// LPT1 claimed afresh on the simulated port, on a virtual clock that starts at
// 0. `firstWrite` indexes the first write after the claim, where a test's own
// timeline begins. For tests that link the port and the simulated back-end.
struct PortSession {
    VirtualClock clock;
    const std::size_t firstWrite = claim();

private:
    static std::size_t claim()
    {
        pin_layer_reset();
        portsim::reset();
        if (initializeParallelPort(LPT1_BASE))
            qFatal("the simulated port refused LPT1");
        return portsim::writes().size();
    }
};

#endif
