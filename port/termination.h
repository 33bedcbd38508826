#ifndef TERMINATION_H
#define TERMINATION_H

// Makes SIGINT, SIGTERM, SIGHUP and SIGQUIT lower all data lines before they
// end the process (with the signal's own status), so that a program stopped
// from its terminal or by the session never leaves dots raised on the cell.
// The port choice is not saved then. A signal ignored at the call (nohup)
// stays ignored. Call once, after the first claim.
void lowerDataLinesOnTermination();

#endif
