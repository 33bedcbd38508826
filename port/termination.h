#ifndef TERMINATION_H
#define TERMINATION_H

class Interrupt;

// Makes SIGINT, SIGTERM, SIGHUP and SIGQUIT lower all data lines at once,
// from the handler, so that a program stopped from its terminal or by the
// session never leaves dots raised on the cell. Outside a send the signal
// then ends the process at once, with its own status, and the port choice is
// not saved. During a send (while an interrupt is active) SIGINT, SIGTERM
// and SIGHUP only raise the send's interrupt and are remembered: the send
// ends as an Abort, its files are completed, and endIfSignalled() then ends
// the process with the signal's status. A second signal, or SIGQUIT, ends it
// at once. A signal ignored at the call (nohup) stays ignored. Call once,
// after the first claim.
void lowerDataLinesOnTermination();

// The interrupt of the send in progress, or nullptr when none runs.
void setActiveInterrupt(Interrupt* interrupt);

// The signal that ended the last send, or 0.
int pendingSignal();

// When a signal ended the send: lowers the lines once more and ends the
// process with that signal's status. Otherwise returns.
void endIfSignalled();

#endif
