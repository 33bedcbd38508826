#include "output_capture.h"

#include <QTemporaryFile>

#include <unistd.h>

QByteArray capturedOutput(std::FILE* stream, const std::function<void()>& action)
{
    QTemporaryFile file;
    if (!file.open())
        return "<no temporary file>";
    const int fd = fileno(stream);
    std::fflush(stream);
    const int saved = dup(fd);
    dup2(file.handle(), fd);
    action();
    std::fflush(stream);
    dup2(saved, fd);
    close(saved);
    file.seek(0);
    return file.readAll();
}

bool withoutStandardInput(const std::function<void()>& action)
{
    const int input = dup(0);
    close(0);
    action();
    return dup2(input, 0) == 0 && close(input) == 0;
}
