#ifndef PATIENT_FILES_H
#define PATIENT_FILES_H

#include "time_audit.h"

#include <QString>

#include <atomic>
#include <cstddef>
#include <string>

class QDateTime;
class Interrupt;
struct Braille_Data;

// The files that the program names itself (the port file, and each patient's
// session log and timing file) live in the working directory, which may be
// shared while the program runs as root: none of them is ever opened through
// a symbolic link.
namespace OwnFile
{

// Why `path` could not be opened or written, for the operator, after a
// failure with `error` (an errno): the system's reason, or what the name is
// when it is no regular file.
std::string reason(const std::string& path, int error);

// The first `size` bytes (fewer when the file is shorter) of the regular file
// `path`, without waiting on a FIFO. False when there is none; `problem` then
// says why, or stays empty when the file does not exist.
bool readHead(const std::string& path, std::size_t size, std::string& head, std::string& problem);

// Makes `path` hold `contents`, written beside it and renamed over it, so
// that an interruption leaves the old file or the new one, never half of one;
// a link at that name is replaced, never written through. False with
// `problem` set when it failed, the old file then unchanged.
bool replace(const std::string& path, const std::string& contents, std::string& problem);

} // namespace OwnFile

// A patient's session log, timing file and events file for one send: their names, and the
// files themselves, opened for appending and locked from before the log entry
// begins until it is closed, so that two programs sending for one patient
// never interleave their entries; and the log entry itself, in its texts. Each
// file that fails is reported once per send (the messages are ready in
// logProblem(), timingProblem() and eventsProblem()); the send goes on
// without it. Needs no
// widget: the log entry may be written on any one thread at a time.
class PatientFiles
{
public:
    static const char LOG_PROBLEM[];
    static const char TIMING_PROBLEM[];
    static const char EVENTS_PROBLEM[];

    PatientFiles() = default;
    ~PatientFiles() { release(); }
    PatientFiles(const PatientFiles&) = delete;
    PatientFiles& operator=(const PatientFiles&) = delete;

    // "<name>_<last name>" then `suffix`: blanks, slashes and control
    // characters made "_" so that it always lands in the working directory,
    // invisible format characters left out so that names that look alike
    // share one file, and cut at a character so that the whole name fits in
    // 255 bytes of UTF-8.
    static QString fileName(const QString& name, const QString& lastName, const QString& suffix);
    // True when `name` shows nothing: empty, or only blanks and invisible
    // format characters.
    static bool isBlank(const QString& name);

    enum class Taken {
        Yes,  // held; a file that could not be opened has its problem ready
        Busy, // another program holds one of them: none is held
    };
    // Opens and locks the timing file and, when `withLog`, first the log;
    // then, when `withEvents`, the events file.
    Taken take(const QString& name, const QString& lastName, bool withLog, bool withEvents = false);
    // Settles a send that writes no file, so that a later take() for it is
    // not needed.
    void forgo() { settled = true; }
    // True from take() or forgo() until release().
    bool isSettled() const { return settled; }
    // The file that another program held, after take() said Busy.
    const QString& busyName() const { return busy; }

    bool logOpen() const { return logFd >= 0 && !logFailed; }
    // Appends `text` to the log at once, unbuffered, so that a full disk shows
    // now; false when it is not open or failed before. The first failure makes
    // the log problem, to be told once (takeLogFailure()).
    bool appendLog(const std::string& text);
    // True once after a write to the log failed, from whichever thread: the
    // caller tells logProblem() then.
    bool takeLogFailure() { return logFailurePending.exchange(false); }

    // The log entry's head and presented line for `record`, whose send began
    // at `started` (shown to the second, in English). Everything it needs is
    // made before the file is written, so that a failed allocation
    // (std::bad_alloc) leaves no part of an entry behind. Stops when `cancel`
    // is raised; its progress goes from 500 to 1000 in `permille`.
    void writeLogHead(const Braille_Data& record, const QDateTime& started, const Interrupt& cancel,
                      std::atomic<int>& permille);
    // Ends the entry with its closing lines when `logged`, then releases both
    // files: only now may another program write for this patient.
    void closeLog(bool logged);
    // After a failed allocation: an entry already begun in the file gets
    // "Aborted!" and its closing lines, as far as memory allows, and both
    // files are released. Never throws.
    void endLogAfterFailure();
    // The timing file and the events file when they are open, for the audits.
    TimingFile* timing() { return tables[TIMING].open(); }
    TimingFile* events() { return tables[EVENTS].open(); }
    // The name an earlier version's timing or events file was renamed to, if
    // it was.
    const std::string& setAside() const { return tables[TIMING].setAside; }
    const std::string& eventsSetAside() const { return tables[EVENTS].setAside; }
    // Takes the file's last failure as its problem.
    void timingFailed() { tables[TIMING].failed(); }
    void eventsFailed() { tables[EVENTS].failed(); }

    // The messages of the files' problems, or empty.
    std::string logProblem() const;
    std::string timingProblem() const { return tables[TIMING].problem(); }
    std::string eventsProblem() const { return tables[EVENTS].problem(); }

    // Closes the files, releasing their locks; one that this send made and
    // never wrote to is removed.
    void release();

private:
    static std::string problem(const char* first, const std::string& path, int error);

    // A CSV file of rows for one send: its name, the file, its problem.
    struct Table {
        explicit Table(const char* header, const char* firstLine)
            : file(header), firstLine(firstLine)
        {
        }
        // Opens `path`; false when another program holds it.
        bool take(const std::string& path);
        TimingFile* open() { return file.isOpen() ? &file : nullptr; }
        void failed() { error = file.failure(); }
        std::string problem() const;
        void release() { file.release(name); }

        TimingFile file;
        const char* firstLine; // of the problem's message
        std::string name;
        std::string setAside;
        int error = 0;
    };
    enum { TIMING, EVENTS };

    bool settled = false;
    QString busy;
    std::string logName;
    int logFd = -1;
    bool logCreated = false; // and still empty
    bool logFailed = false;
    bool logWritten = false; // this send's entry has begun
    std::atomic<bool> logFailurePending{false};
    int logError = 0;
    Table tables[2] = {Table(TIMING_HEADER, TIMING_PROBLEM),
                       Table(EventAudit::HEADER, EVENTS_PROBLEM)};
};

#endif
