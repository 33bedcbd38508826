// Watches the data registers of both ISA parallel ports from inside the
// emulated PC and prints each change as "<seconds> <port> <byte>", starting
// with the value each port holds. The emulated port returns the last byte
// written to its data register, so polling it sees every change of the data
// lines that lasts longer than one round of the loop. Needs root (ioperm).
// SIGTERM or SIGINT end it after one more round, so that a change made before
// the signal is always in the output.
#include <sys/io.h>

#include <csignal>
#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace
{

const unsigned short PORTS[] = {0x378, 0x278};

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int)
{
    stopRequested = 1;
}

double now()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

} // namespace

int main()
{
    for (const unsigned short port : PORTS) {
        if (ioperm(port, 1, 1) != 0) {
            std::perror("ioperm");
            return 1;
        }
    }
    struct sigaction action = {};
    action.sa_handler = requestStop;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    // Line by line: the output is read while the probe still runs.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    int last[2] = {-1, -1};
    for (;;) {
        // Read before the round, so that the round after a signal still runs.
        const bool lastRound = stopRequested;
        for (int i = 0; i < 2; ++i) {
            const int value = inb(PORTS[i]);
            if (value != last[i]) {
                std::printf("%.6f 0x%03x 0x%02x\n", now(), PORTS[i], value);
                last[i] = value;
            }
        }
        if (lastRound)
            return 0;
        // A short sleep leaves the other processor to the program under test;
        // the holds it is given last hundreds of times longer.
        usleep(200);
    }
}
