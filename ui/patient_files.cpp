#include "patient_files.h"

#include <QList>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// The longest file name, in bytes, that Linux file systems accept.
constexpr qsizetype FILE_NAME_MAX_BYTES = 255;

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

PatientFiles::Taken PatientFiles::take(const QString& name, const QString& lastName, bool withLog)
{
    release();
    settled = true;
    busy.clear();
    setAsideName.clear();
    logFailed = false;
    logWritten = false;
    logError = 0;
    timingError = 0;
    logName = fileName(name, lastName, QStringLiteral(".log")).toStdString();
    timingName = fileName(name, lastName, QStringLiteral(".timing.csv")).toStdString();
    // Always the log before the timing file, and neither waited for: two
    // programs can never hold one each and wait on the other.
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
    if (!timingFile.open(timingName, setAsideName)) {
        if (timingFile.failure() == EWOULDBLOCK) {
            release();
            busy = QString::fromStdString(timingName);
            return Taken::Busy;
        }
        timingError = timingFile.failure();
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
    return false;
}

void PatientFiles::timingFailed()
{
    timingError = timingFile.failure();
}

std::string PatientFiles::problem(const char* first, const std::string& path, int error)
{
    return std::string(first) + '\n' + path + ": " + OwnFile::reason(path, error);
}

std::string PatientFiles::logProblem() const
{
    return logError ? problem(LOG_PROBLEM, logName, logError) : std::string();
}

std::string PatientFiles::timingProblem() const
{
    return timingError ? problem(TIMING_PROBLEM, timingName, timingError) : std::string();
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
    timingFile.release(timingName);
    settled = false;
}
