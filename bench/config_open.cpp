// What opening a big file costs the main window.
//
// Without arguments: writes a few large files into a temporary folder, opens
// each through main_form::fileOpen in a process of its own, and prints the
// time the open took and the process's peak resident memory, also as the
// difference to opening a tiny configuration. A case whose file cannot be
// written in full or whose process ends without its line is reported FAILED
// with the reason, and the program then ends with status 1. With a file name:
// opens that one file and prints the time (this is what the first form runs).

#include "main_form.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
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
    form.name = QString::fromLocal8Bit(argv[1]);
    QElapsedTimer timer;
    timer.start();
    form.fileOpen();
    std::printf("%lld %d\n", static_cast<long long>(timer.elapsed()), form.messages);
    return 0;
}

// `head`, then `line` repeated up to `size` bytes in all (the last one cut).
// False when the file could not be written in full (a full disk): a shorter
// file would be measured under the size of the full one.
bool writeFile(const char* name, const std::string& head, const std::string& line, std::size_t size)
{
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out << head;
    std::size_t left = size - head.size();
    for (; left >= line.size(); left -= line.size())
        out << line;
    out << line.substr(0, left);
    out.close();
    return bool(out);
}

// Why the child that opened a case ended without its line.
std::string howItEnded(int status)
{
    if (WIFSIGNALED(status)) {
        const int sig = WTERMSIG(status);
        return "killed by signal " + std::to_string(sig) + " (" + strsignal(sig) + ")" +
               (sig == SIGKILL ? ", perhaps by the out-of-memory killer" : "");
    }
    if (WIFEXITED(status))
        return "ended with status " + std::to_string(WEXITSTATUS(status));
    return "ended with wait status " + std::to_string(status);
}

// Runs this program on `file` in a process of its own. True with its output
// in `out` and its resource use in `usage`; false with the reason in `why`.
bool openInChild(char* self, const char* file, std::string& out, rusage& usage, std::string& why)
{
    char* childArgs[] = {self, const_cast<char*>(file), nullptr};
    int fds[2];
    if (pipe(fds) != 0) {
        why = std::string("no pipe: ") + std::strerror(errno);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, childArgs, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (spawned != 0) {
        close(fds[0]);
        why = std::string("could not start: ") + std::strerror(spawned);
        return false;
    }
    char buffer[256];
    ssize_t got = 0;
    while ((got = read(fds[0], buffer, sizeof buffer)) != 0) {
        if (got > 0)
            out.append(buffer, std::size_t(got));
        else if (errno != EINTR)
            break;
    }
    close(fds[0]);
    // Only the child started here is waited for, never any other.
    int status = 0;
    pid_t waited = 0;
    do
        waited = wait4(pid, &status, 0, &usage);
    while (waited < 0 && errno == EINTR);
    if (waited != pid) {
        why = std::string("could not be waited for: ") + std::strerror(errno);
        return false;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        why = howItEnded(status);
        return false;
    }
    return true;
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
    int failed = 0;
    for (const auto& c : cases) {
        std::string out, why;
        rusage usage{};
        long long ms = -1;
        int messages = -1;
        if (!writeFile("file", c.head, c.line, c.size))
            why = "could not be written in full";
        else if (openInChild(argv[0], "file", out, usage, why) &&
                 std::sscanf(out.c_str(), "%lld %d", &ms, &messages) != 2)
            why = "said no time: " + out;
        if (!why.empty()) {
            std::printf("%-28s FAILED: %s\n", c.name, why.c_str());
            std::fflush(stdout);
            ++failed;
            continue;
        }
        if (tinyKiB == 0)
            tinyKiB = usage.ru_maxrss;
        std::printf("%-28s %10zu %9lld %9.1f %10.1f %d\n", c.name, c.size, ms,
                    usage.ru_maxrss / 1024.0, (usage.ru_maxrss - tinyKiB) / 1024.0, messages);
        std::fflush(stdout);
    }
    if (failed > 0)
        std::fprintf(stderr, "%d of %zu cases failed\n", failed, std::size(cases));
    return failed > 0 ? 1 : 0;
}
