// What opening a big file costs the main window.
//
// Without arguments: writes a few large files into a temporary folder, opens
// each through main_form::fileOpen in a process of its own, and prints the
// time the open took and the process's peak resident memory, also as the
// difference to opening a tiny configuration. With a file name: opens that
// one file and prints the time (this is what the first form runs).

#include "main_form.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

const std::string CONFIGURATION = "#!NUBTactile_CONFIGURATION_FILE!#\n";
constexpr std::size_t MB = 1000 * 1000;
constexpr std::size_t MIB = 1024 * 1024;

class OpeningForm : public main_form
{
public:
    QString name;
    int messages = 0;
    void error(const char*) override { ++messages; }

private:
    QString openFileName() override { return name; }
};

int openOne(int argc, char** argv)
{
    QApplication app(argc, argv);
    OpeningForm form;
    form.app = &app;
    form.name = QString::fromLocal8Bit(argv[1]);
    QElapsedTimer timer;
    timer.start();
    form.fileOpen();
    std::printf("%lld %d\n", static_cast<long long>(timer.elapsed()), form.messages);
    return 0;
}

// `head`, then `line` repeated up to `size` bytes in all (the last one cut).
void writeFile(const char* name, const std::string& head, const std::string& line, std::size_t size)
{
    std::ofstream out(name, std::ios::binary);
    out << head;
    std::size_t left = size - head.size();
    for (; left >= line.size(); left -= line.size())
        out << line;
    out << line.substr(0, left);
}

// A line of prose about `length` bytes long, line feed included.
std::string prose(std::size_t length)
{
    const std::string words = "the quick brown fox jumps over the lazy dog ";
    std::string line;
    while (line.size() + words.size() < length)
        line += words;
    return line + '\n';
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1)
        return openOne(argc, argv);

    QTemporaryDir dir;
    // The window reads and writes its port file in the working directory.
    QDir::setCurrent(dir.path());
    const std::string textMode = CONFIGURATION + "100\n500\n300\n200\n1\n1\n";
    // Prose right after the magic line: its sixth line is no mode, so the
    // rest is read and not shown. As the word of a text mode, the field's own
    // layout of the text adds its cost.
    const struct {
        const char* name;
        std::string head, line;
        std::size_t size;
    } cases[] = {
        {"tiny configuration", textMode + "hola", "\n", textMode.size() + 5},
        {"160,000 empty lines", CONFIGURATION, "\n", CONFIGURATION.size() + 160000},
        {"10 MB of line feeds", CONFIGURATION, "\n", 10 * MB},
        {"10 MB of prose", CONFIGURATION, prose(64), 10 * MB},
        {"10 MB of prose, the word", textMode, prose(64), 10 * MB},
        {"64 MiB of prose", CONFIGURATION, prose(1024), 64 * MIB},
        {"384 MiB without line feed", "", "a", 384 * MIB},
    };
    std::printf("%-28s %10s %9s %9s %10s %s\n", "file", "bytes", "open ms", "peak MiB",
                "above tiny", "messages");
    long tinyKiB = 0;
    for (const auto& c : cases) {
        writeFile("file", c.head, c.line, c.size);
        char* childArgs[] = {argv[0], const_cast<char*>("file"), nullptr};
        int fds[2];
        if (pipe(fds) != 0)
            return 1;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        pid_t pid = 0;
        if (posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, childArgs, environ) != 0)
            return 1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        char out[64] = {};
        const ssize_t got = read(fds[0], out, sizeof out - 1);
        close(fds[0]);
        int status = 0;
        rusage usage{};
        wait4(pid, &status, 0, &usage);
        long long ms = -1;
        int messages = -1;
        if (got <= 0 || std::sscanf(out, "%lld %d", &ms, &messages) != 2) {
            std::printf("%-28s the open did not finish (wait status %d)\n", c.name, status);
            continue;
        }
        if (tinyKiB == 0)
            tinyKiB = usage.ru_maxrss;
        std::printf("%-28s %10zu %9lld %9.1f %10.1f %d\n", c.name, c.size, ms,
                    usage.ru_maxrss / 1024.0, (usage.ru_maxrss - tinyKiB) / 1024.0, messages);
        std::fflush(stdout);
    }
    return 0;
}
