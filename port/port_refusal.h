#ifndef PORT_REFUSAL_H
#define PORT_REFUSAL_H

#include <string>
#include <vector>

// Why the port could not be claimed, as the operator is to be told: the
// system's error of the way tried last and the lines that explain the
// refusal, in the order they are to be read, each without a line end and with
// its hint where one helps (for example "... (the user must be in group lp)").
struct PortRefusal {
    int error = 0; // errno
    std::vector<std::string> lines;
};

#endif
