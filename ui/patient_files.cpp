#include "patient_files.h"

#include "cp437.h"
#include "interrupt.h"
#include "nubtactile.h"

#include <QDateTime>
#include <QList>
#include <QLocale>
#include <QRandomGenerator>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// The longest file name, in bytes, that Linux file systems accept.
constexpr qsizetype FILE_NAME_MAX_BYTES = 255;

const std::string ASTERISKS(48, '*');
// The presented line goes to the file in pieces of about this many bytes.
constexpr std::size_t LOG_PIECE_BYTES = 4096;
// The longest text of one code and its separator: three digits and ", ".
constexpr std::size_t LONGEST_CODE_BYTES = 5;

// Always English names, whatever the operator's locale, so that every log
// reads the same and a script can parse it.
std::string dateText(const QDateTime& moment)
{
    return QLocale::c().toString(moment, QStringLiteral("ddd MMM d hh:mm:ss yyyy")).toStdString();
}

// How each code reads on the presented line of `mode`: as its character in
// text mode, random valid and, for the codes that have a cell, random mixed;
// as a decimal number otherwise. Codes are bytes, so 256 texts cover them.
std::array<std::string, 256> codeTexts(std::int32_t mode)
{
    std::array<std::string, 256> texts;
    for (unsigned code = 0; code < texts.size(); ++code) {
        const bool asCharacter = mode == MODE_TEXT || mode == MODE_RANDOM_VALID ||
                                 (mode == MODE_RANDOM_MIXED && isValidCode(code));
        texts[code] =
            asCharacter ? cp437ToUtf8(static_cast<unsigned char>(code)) : std::to_string(code);
    }
    return texts;
}

bool writeAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = EIO;
            return false;
        }
        data += written;
        size -= std::size_t(written);
    }
    return true;
}

// Direction overrides, zero-width spaces and joiners, the byte order mark,
// soft hyphens: they change how a name looks without showing themselves.
bool invisible(char32_t code)
{
    return QChar::category(code) == QChar::Other_Format;
}

} // namespace

std::string OwnFile::reason(const std::string& path, int error)
{
    struct stat status;
    if (lstat(path.c_str(), &status) == 0) {
        if (S_ISLNK(status.st_mode))
            return "it is a symbolic link, which the program never follows";
        if (S_ISDIR(status.st_mode))
            return "it is a folder";
        if (!S_ISREG(status.st_mode))
            return "it is not a regular file";
    }
    return std::strerror(error);
}

bool OwnFile::readHead(const std::string& path, std::size_t size, std::string& head,
                       std::string& problem)
{
    head.clear();
    problem.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT)
            problem = reason(path, errno);
        return false;
    }
    struct stat status;
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        problem = reason(path, errno);
        ::close(fd);
        return false;
    }
    head.resize(size);
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, head.data() + got, size - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            problem = reason(path, errno);
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        got += std::size_t(n);
    }
    head.resize(got);
    ::close(fd);
    return true;
}

bool OwnFile::replace(const std::string& path, const std::string& contents, std::string& problem)
{
    problem.clear();
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[24];
        std::snprintf(suffix, sizeof suffix, ".new-%08x", QRandomGenerator::global()->generate());
        const std::string aside = path + suffix;
        // O_EXCL: a name that another user placed here first, link or not, is
        // never written to.
        const int fd =
            ::open(aside.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0) {
            problem = reason(aside, errno);
            return false;
        }
        bool written = writeAll(fd, contents.data(), contents.size()) && fsync(fd) == 0;
        int error = errno;
        written = ::close(fd) == 0 && written;
        if (written && ::rename(aside.c_str(), path.c_str()) == 0)
            return true;
        error = written ? errno : error;
        unlink(aside.c_str());
        problem = reason(written ? path : aside, error);
        return false;
    }
    problem = std::strerror(EEXIST);
    return false;
}

const char PatientFiles::LOG_PROBLEM[] =
    "There was a problem while trying to save the log information";
const char PatientFiles::TIMING_PROBLEM[] =
    "There was a problem while trying to save the timing information";
const char PatientFiles::EVENTS_PROBLEM[] =
    "There was a problem while trying to save the pulses and answers";

QString PatientFiles::fileName(const QString& name, const QString& lastName, const QString& suffix)
{
    // The base always holds "_" and the name ends in the suffix, so once no
    // "/" is left it is one plain name in the working directory (never "."
    // or "..").
    const QString base = name + QLatin1Char('_') + lastName;
    const qsizetype suffixBytes = suffix.toUtf8().size();
    QString kept;
    qsizetype bytes = 0;
    for (qsizetype i = 0; i < base.size();) {
        const QChar c = base.at(i);
        const bool pair =
            c.isHighSurrogate() && i + 1 < base.size() && base.at(i + 1).isLowSurrogate();
        const char32_t code = pair ? QChar::surrogateToUcs4(c, base.at(i + 1)) : c.unicode();
        QString piece = base.mid(i, pair ? 2 : 1);
        i += piece.size();
        if (invisible(code))
            continue;
        if (!pair && (c == QLatin1Char(' ') || c == QLatin1Char('/') ||
                      c.category() == QChar::Other_Control || c.isSurrogate()))
            piece = QStringLiteral("_");
        // Its size in UTF-8: a longer name would be refused by the file
        // system, and then every send would lose its log. Two names that
        // differ only beyond the limit share a file, which is better than none.
        const qsizetype pieceBytes = piece.toUtf8().size();
        if (bytes + pieceBytes + suffixBytes > FILE_NAME_MAX_BYTES)
            break;
        bytes += pieceBytes;
        kept += piece;
    }
    return kept + suffix;
}

bool PatientFiles::isBlank(const QString& name)
{
    for (const char32_t code : name.toUcs4())
        if (!QChar::isSpace(code) && !invisible(code))
            return false;
    return true;
}

bool PatientFiles::Table::take(const std::string& path)
{
    name = path;
    setAside.clear();
    error = 0;
    if (file.open(name, setAside))
        return true;
    if (file.failure() == EWOULDBLOCK)
        return false;
    error = file.failure();
    return true;
}

std::string PatientFiles::Table::problem() const
{
    return error ? PatientFiles::problem(firstLine, name, error) : std::string();
}

PatientFiles::Taken PatientFiles::take(const QString& name, const QString& lastName, bool withLog,
                                       bool withEvents)
{
    release();
    settled = true;
    busy.clear();
    logFailed = false;
    logFailurePending = false;
    logError = 0;
    for (Table& table : tables) {
        table.error = 0;
        table.setAside.clear();
    }
    logName = fileName(name, lastName, QStringLiteral(".log")).toStdString();
    // Always the log, the timing file, the events file in this order, and
    // none waited for: two programs can never hold one each and wait on the
    // other.
    if (withLog) {
        logFd = openPatientFile(logName, logCreated);
        if (logFd < 0 && errno == EWOULDBLOCK) {
            release();
            busy = QString::fromStdString(logName);
            return Taken::Busy;
        }
        if (logFd < 0) {
            logError = errno;
            logFailed = true;
        }
    }
    const QString suffixes[] = {QStringLiteral(".timing.csv"), QStringLiteral(".events.csv")};
    for (const int kind : {int(TIMING), int(EVENTS)}) {
        if (kind == EVENTS && !withEvents)
            break;
        Table& table = tables[kind];
        if (!table.take(fileName(name, lastName, suffixes[kind]).toStdString())) {
            const std::string held = table.name;
            release();
            busy = QString::fromStdString(held);
            return Taken::Busy;
        }
    }
    return Taken::Yes;
}

bool PatientFiles::appendLog(const std::string& text)
{
    if (!logOpen())
        return false;
    if (writeAll(logFd, text.data(), text.size())) {
        logCreated = false;
        logWritten = true;
        return true;
    }
    logError = errno;
    logFailed = true;
    logFailurePending = true;
    return false;
}

void PatientFiles::writeLogHead(const Braille_Data& record, const QDateTime& started,
                                const Interrupt& cancel, std::atomic<int>& permille)
{
    // Everything that needs memory is made before the file is written.
    std::string head = ASTERISKS + "\n";
    head += "Session started on: " + dateText(started) + "\n";
    head += "\n";
    head += "Trigger: " + std::to_string(record.triggerTime) + "\n";
    head += "After trigger: " + std::to_string(record.afterTriggerTime) + "\n";
    head += "Char duration: " + std::to_string(record.charTime) + "\n";
    head += "Interval: " + std::to_string(record.intervalTime) + "\n";
    if (record.mode == MODE_TEXT)
        head += "Loop: " + std::to_string(record.loops) + "\n";
    else
        head += "Length: " + std::to_string(record.length) + "\n";
    const bool text = record.mode == MODE_TEXT;
    head += text ? "Text: " : "Random sequence: ";
    const std::array<std::string, 256> texts = codeTexts(record.mode);
    std::string piece;
    piece.reserve(LOG_PIECE_BYTES + LONGEST_CODE_BYTES);

    // A log that could not be opened was told when it was taken.
    if (!appendLog(head))
        return;

    // A random line of two billion codes takes gigabytes: it goes out piece
    // by piece, so the log of any send needs no more memory than one piece.
    for (std::uint32_t i = 0; i < record.length; ++i) {
        if (i > 0 && !text)
            piece += ", ";
        piece += texts[record.word[i] & 0xFF];
        if (piece.size() >= LOG_PIECE_BYTES) {
            if (cancel.raised() || !appendLog(piece))
                return;
            piece.clear();
            permille = 500 + int(500 * std::uint64_t(i) / record.length);
        }
    }
    // An empty random list has no line end of its own: the tail's first one
    // ends it.
    if (text || record.length > 0)
        piece += '\n';
    appendLog(piece);
}

void PatientFiles::closeLog(bool logged)
{
    const QDateTime closed = QDateTime::currentDateTime();
    if (logged)
        appendLog("\nSession closed on: " + dateText(closed) + "\n" + ASTERISKS + "\n");
    release();
}

void PatientFiles::endLogAfterFailure()
{
    // Whatever of the entry reached the file names every code: without an
    // end it would read as a send that ran to its last cell.
    if (logWritten) {
        try {
            appendLog("Aborted!\n");
            closeLog(true);
        } catch (const std::bad_alloc&) {
            // Not even the closing line fits: "Aborted!" at least is in the file.
        }
    }
    release();
}

std::string PatientFiles::problem(const char* first, const std::string& path, int error)
{
    return std::string(first) + '\n' + path + ": " + OwnFile::reason(path, error);
}

std::string PatientFiles::logProblem() const
{
    return logError ? problem(LOG_PROBLEM, logName, logError) : std::string();
}

void PatientFiles::release()
{
    if (logFd >= 0) {
        // Still locked, so no other program has begun to write to it.
        if (logCreated)
            unlink(logName.c_str());
        ::close(logFd);
    }
    logFd = -1;
    logCreated = false;
    logWritten = false;
    for (Table& table : tables)
        table.release();
    settled = false;
}
