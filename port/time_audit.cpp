#include "time_audit.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

std::int64_t worse(std::int64_t a, std::int64_t b)
{
    return std::llabs(b) > std::llabs(a) ? b : a;
}

// "12 µs" below a millisecond, "12.3 ms" from there on; the magnitude only.
std::string duration(std::int64_t ns)
{
    const std::int64_t magnitude = std::llabs(ns);
    char text[32];
    if (magnitude < 999'500)
        std::snprintf(text, sizeof text, "%" PRId64 " \u00b5s", (magnitude + 500) / 1000);
    else
        std::snprintf(text, sizeof text, "%.1f ms", double(magnitude) / 1e6);
    return text;
}

// ns as ms with three decimals, rounded to the nearest µs, half away from 0.
int formatMs(char* at, std::size_t room, std::int64_t ns)
{
    const std::int64_t us = (std::llabs(ns) + 500) / 1000;
    return std::snprintf(at, room, "%s%" PRId64 ".%03" PRId64, ns < 0 && us != 0 ? "-" : "",
                         us / 1000, us % 1000);
}

// A row's own fields, built in place: a row never allocates, and a field
// that would not fit is cut rather than overrun.
class Fields
{
public:
    template <typename... Values> void print(const char* format, Values... values)
    {
        grow(std::snprintf(text + size, sizeof text - size, format, values...));
    }
    void ms(std::int64_t ns) { grow(formatMs(text + size, sizeof text - size, ns)); }
    void to(RowBatch& rows) const { rows.add(text, size); }

private:
    void grow(int written)
    {
        size = std::min(sizeof text, size + std::size_t(std::max(written, 0)));
    }

    char text[RowBatch::ROW_BYTES];
    std::size_t size = 0;
};

// Writes all of `data`, going on after a short write; false at the first
// failure, with part of it perhaps written.
bool writeAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= std::size_t(written);
    }
    return true;
}

// Renames `path` to the first free "<path less .csv>.N.csv", whose name goes
// to `setAside`. A link fails rather than replace a file already there.
bool setAsideFile(const std::string& path, std::string& setAside)
{
    const std::string stem = path.size() > 4 && path.compare(path.size() - 4, 4, ".csv") == 0
                                 ? path.substr(0, path.size() - 4)
                                 : path;
    for (unsigned n = 1; setAside.empty(); ++n) {
        std::string name = stem + '.' + std::to_string(n) + ".csv";
        if (link(path.c_str(), name.c_str()) == 0)
            setAside = std::move(name);
        else if (errno != EEXIST || n == 1000)
            return false;
    }
    return unlink(path.c_str()) == 0;
}

} // namespace

int openPatientFile(const std::string& path, bool& created)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        // Made here when it is new, so that a send that never starts can take
        // back the file it made, and only that one.
        created = true;
        int fd = ::open(path.c_str(),
                        O_RDWR | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                        0666);
        if (fd < 0 && errno == EEXIST) {
            created = false;
            fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0 && errno == ENOENT)
                continue;
        }
        if (fd < 0)
            return -1;
        // O_NONBLOCK only kept a FIFO from stalling the open; a device or a
        // pipe could give anything, or block.
        struct stat held;
        struct stat named;
        const bool stated = fstat(fd, &held) == 0;
        if (!stated || !S_ISREG(held.st_mode)) {
            const int error = stated ? EINVAL : errno;
            ::close(fd);
            errno = error;
            return -1;
        }
        if (flock(fd, LOCK_EX | LOCK_NB) != 0 || fcntl(fd, F_SETFL, O_APPEND) != 0) {
            const int error = errno;
            ::close(fd);
            errno = error;
            return -1;
        }
        // The program that held the lock may have removed or set aside the
        // file meanwhile; what it wrote there is not ours to add to.
        if (lstat(path.c_str(), &named) == 0 && named.st_dev == held.st_dev &&
            named.st_ino == held.st_ino)
            return fd;
        ::close(fd);
    }
    errno = EAGAIN;
    return -1;
}

void TimingSummary::add(const CellTiming& cell)
{
    const std::int64_t delay = cell.onset - cell.targetOnset;
    const std::int64_t error = cell.hold - cell.targetHold;
    // Each edge lies somewhere in its bracket: the real delay and error may be
    // off by as much again as the bracket is wide.
    const std::int64_t margin = std::max<std::int64_t>(cell.uncertainty, 0);
    ++cells;
    worstOnsetDelay = worse(worstOnsetDelay, delay);
    worstHoldError = worse(worstHoldError, error);
    if (std::llabs(delay) + margin > WARNING_NS || std::llabs(error) + margin > WARNING_NS)
        ++beyondWarning;
}

std::string TimingSummary::text() const
{
    std::string line = (aborted ? "Aborted after " : "") + std::to_string(cells) +
                       (cells == 1 ? " cell" : " cells") + " \u00b7 worst onset delay " +
                       duration(worstOnsetDelay) + " \u00b7 worst hold error " +
                       duration(worstHoldError);
    if (warning())
        line += " \u00b7 " + std::to_string(beyondWarning) +
                (beyondWarning == 1 ? " cell" : " cells") + " off by more than 1 ms";
    if (answersWatched)
        line += " \u00b7 " + std::to_string(answers) + (answers == 1 ? " answer" : " answers");
    return line;
}

const char TIMING_HEADER[] =
    "session_start,send_mode,pass,index,code,data_byte,target_onset_ms,onset_ms,onset_delay_ms,"
    "target_hold_ms,hold_ms,hold_error_ms,edge_uncertainty_ms,port\n";

TimingFile::~TimingFile()
{
    close();
}

void TimingFile::close()
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
    length = 0;
    unended = false;
    created = false;
}

void TimingFile::release(const std::string& path)
{
    // Still locked, so no other program has begun to write to it.
    if (fd >= 0 && created)
        unlink(path.c_str());
    close();
}

bool TimingFile::open(const std::string& path, std::string& setAside)
{
    close();
    setAside.clear();
    // Only as much of the first line as a header can be: a huge file costs
    // nothing to check.
    const std::size_t headerSize = std::strlen(header);
    char first[512];
    for (;;) {
        bool made = false;
        fd = openPatientFile(path, made);
        struct stat status;
        if (fd < 0 || fstat(fd, &status) != 0) {
            lastError = errno;
            close();
            return false;
        }
        created = made;
        length = std::uint64_t(status.st_size);
        if (length == 0 || (pread(fd, first, headerSize, 0) == ssize_t(headerSize) &&
                            std::memcmp(first, header, headerSize) == 0))
            break;
        // Set aside once; a foreign header again means someone else is at
        // work on this name.
        if (!setAside.empty() || !setAsideFile(path, setAside)) {
            lastError = errno;
            close();
            return false;
        }
        close();
    }
    char last = '\n';
    if (length > 0 && pread(fd, &last, 1, off_t(length - 1)) != 1) {
        lastError = errno;
        close();
        return false;
    }
    unended = last != '\n';
    const bool made = created;
    if (length == 0 && !append(header, headerSize)) {
        close();
        return false;
    }
    created = made;
    return true;
}

bool TimingFile::append(const char* rows, std::size_t size)
{
    if (fd < 0)
        return false;
    if ((!unended || writeAll(fd, "\n", 1)) && writeAll(fd, rows, size)) {
        length += size + (unended ? 1 : 0);
        unended = false;
        created = false;
        return true;
    }
    lastError = errno;
    // Half a row would shift every column of what a reader takes for the
    // next one. Should even this fail, the next open ends the torn line.
    if (ftruncate(fd, off_t(length)) != 0)
        unended = true;
    return false;
}

RowBatch::RowBatch(TimingFile* file, std::string prefix, std::string suffix)
    : file(file), prefix(std::move(prefix)), suffix(std::move(suffix))
{
    // Reserved before the send: a batch never grows while cells are raised.
    if (file)
        batch.reserve(BATCH_BYTES + ROW_BYTES + this->prefix.size() + this->suffix.size());
}

void RowBatch::add(const char* fields, std::size_t size)
{
    if (!file || failed)
        return;
    batch.append(prefix).append(fields, size).append(suffix);
    if (batch.size() >= BATCH_BYTES)
        flush();
}

void RowBatch::flush()
{
    if (!batch.empty() && !failed && !file->append(batch.data(), batch.size()))
        failed = true;
    batch.clear();
}

bool RowBatch::finish()
{
    if (!file)
        return true;
    flush();
    return !failed;
}

TimeAudit::TimeAudit(TimingFile* file, std::string sessionStart, std::string sendMode,
                     const std::string& port)
    : rows(file, std::move(sessionStart) + ',' + sendMode + ',', ',' + port + '\n')
{
}

void TimeAudit::cellPresented(const CellTiming& cell)
{
    totals.add(cell);
    Fields row;
    row.print("%" PRIu32 ",%" PRIu32 ",", cell.pass, cell.index);
    if (cell.code >= 0)
        row.print("%d", cell.code);
    row.print(",%u,", unsigned(cell.dataByte));
    const std::int64_t times[] = {cell.targetOnset, cell.onset, cell.onset - cell.targetOnset,
                                  cell.targetHold,  cell.hold,  cell.hold - cell.targetHold,
                                  cell.uncertainty};
    for (std::size_t i = 0; i < std::size(times); ++i) {
        row.ms(times[i]);
        if (i + 1 < std::size(times))
            row.print("%c", ',');
    }
    row.to(rows);
}

const char EventAudit::HEADER[] =
    "session_start,send_mode,event,pin,edge,number,time_ms,seen_within_ms,reaction_time_ms,pass,"
    "index,code,port\n";

EventAudit::EventAudit(TimingFile* file, std::string sessionStart, std::string sendMode,
                       const std::string& port, bool pressRising)
    : rows(file, std::move(sessionStart) + ',' + sendMode + ',', ',' + port + '\n'),
      pressRising(pressRising)
{
}

void EventAudit::inputSeen(const InputEdge& edge)
{
    if (!edge.pulse && edge.rising == pressRising)
        ++presses;
    Fields row;
    row.print("%s,%u,%s,%" PRIu32 ",", edge.pulse ? "pulse" : "answer", unsigned(edge.pin),
              edge.rising ? "rising" : "falling", edge.number);
    row.ms(edge.time);
    row.print("%c", ',');
    row.ms(edge.within);
    row.print("%c", ',');
    if (edge.cellSeen) {
        row.ms(edge.reaction);
        row.print(",%" PRIu32 ",%" PRIu32 ",", edge.pass, edge.index);
        if (edge.code >= 0)
            row.print("%d", edge.code);
    } else {
        row.print("%s", ",,,");
    }
    row.to(rows);
}
