#ifndef OUTPUT_CAPTURE_H
#define OUTPUT_CAPTURE_H

#include <QByteArray>

#include <cstdio>
#include <functional>

// What `action` writes to `stream` (stdout or stderr), caught at the file
// descriptor so that C stdio, iostreams and raw write() are all seen.
QByteArray capturedOutput(std::FILE* stream, const std::function<void()>& action);

// Runs `action` with standard input closed, as in a program started so: the
// first descriptor opened meanwhile is 0. False when it could not be put back.
bool withoutStandardInput(const std::function<void()>& action);

#endif
