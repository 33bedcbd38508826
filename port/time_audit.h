#ifndef TIME_AUDIT_H
#define TIME_AUDIT_H

#include "pport.h"

#include <cstddef>
#include <cstdint>
#include <string>

// The worst timing of the cells of one transmission, for the operator.
struct TimingSummary {
    // An onset delay or hold error beyond this (either sign) is worth a warning.
    static constexpr std::int64_t WARNING_NS = 1'000'000;

    std::uint64_t cells = 0;
    std::int64_t worstOnsetDelay = 0; // ns, the largest in magnitude, signed
    std::int64_t worstHoldError = 0;  // ns, likewise
    // Cells whose delay or error, widened by the edges' uncertainty, exceeds
    // WARNING_NS: a cell is only called within when it surely was.
    std::uint64_t beyondWarning = 0;
    // The send stopped before its end (Abort, or a text file that could not
    // be read on).
    bool aborted = false;
    // Whether answers were watched, and how many presses came.
    bool answersWatched = false;
    std::uint64_t answers = 0;

    void add(const CellTiming& cell);
    bool warning() const { return beyondWarning != 0; }
    // One line in UTF-8, times in µs below a millisecond, else in ms:
    // "250 cells · worst onset delay 4 µs · worst hold error 3 µs", followed
    // by " · 2 cells off by more than 1 ms" when there are such cells, then
    // " · 3 answers" when answers were watched. An aborted send begins
    // "Aborted after 12 cells · " instead.
    std::string text() const;
};

// Opens the per-patient file `path` (one plain name, in the working
// directory) for reading and appending, as a regular file only and never
// through a symbolic link: the program may run as root in a shared folder. It
// comes back locked (an exclusive flock, not waited for), so that two programs
// sending for one patient never interleave their entries; should the name
// have been removed or replaced while the lock was awaited, the file now under
// it is opened instead. `created` tells whether this call made the file.
// -1 on failure, with errno set (EWOULDBLOCK: another program holds it).
int openPatientFile(const std::string& path, bool& created);

// The first line of a timing file, with its line end.
extern const char TIMING_HEADER[];

// A per-patient CSV file (the timing file, the events file) open for
// appending: it only ever grows by whole rows. An append that fails partway
// (a full disk, the file size limit) is cut away again, so a reader never
// meets half a row.
class TimingFile
{
public:
    // `header`: the file's first line with its line end, which outlives the
    // object; at most 512 bytes.
    explicit TimingFile(const char* header = TIMING_HEADER) : header(header) {}
    ~TimingFile();
    TimingFile(const TimingFile&) = delete;
    TimingFile& operator=(const TimingFile&) = delete;

    // Opens `path` for appending, without following a link, and writes the
    // header row when the file is new or empty. Only a regular file is taken.
    // A file whose first line is another header (an earlier version's
    // columns) is first renamed to the first free "<path less .csv>.N.csv",
    // N from 1, whose name goes to `setAside`: every file keeps one set of
    // columns, and no row is lost. The file stays locked until it is closed,
    // so that cutting back a failed append can never take another program's
    // rows. False when the file cannot be opened, locked or set aside, or the
    // header not written.
    bool open(const std::string& path, std::string& setAside);
    bool isOpen() const { return fd >= 0; }
    // The errno of the last failure of open() or append().
    int failure() const { return lastError; }
    // Closes the file, removing it first when this open made it and no row
    // went in: a send that never started leaves no file behind.
    void release(const std::string& path);

    // Appends `size` bytes of whole rows, after a line end when the file's
    // last line has none (left by a crash or another program). On failure
    // the file is cut back to what it held before and false returned.
    bool append(const char* rows, std::size_t size);

private:
    void close();

    const char* const header;
    int fd = -1;
    int lastError = 0;
    bool created = false;     // by this open, and no row appended since
    std::uint64_t length = 0; // what the file holds: a failed append is cut back to it
    bool unended = false;     // its last byte is not a line end
};

// Rows for a TimingFile, held back up to about BATCH_BYTES, so that a send
// costs one write per batch, not one per cell. After a failed write no
// further row is written: the file ends at the last row before it.
class RowBatch
{
public:
    // Room for a row's own numbers, between the common prefix and suffix.
    static constexpr std::size_t ROW_BYTES = 256;

    // Rows begin with `prefix` and end with `suffix`. With no file, nothing
    // is kept.
    RowBatch(TimingFile* file, std::string prefix, std::string suffix);
    // Adds one row: prefix, the `size` bytes of `fields`, suffix.
    void add(const char* fields, std::size_t size);
    // Writes the rows held back; false when any row could not be written.
    bool finish();

private:
    static constexpr std::size_t BATCH_BYTES = 8192;
    void flush();

    TimingFile* file;
    std::string prefix;
    std::string suffix;
    std::string batch;
    bool failed = false;
};

// The time audit of the sends of one session: one CSV row per raised cell,
// appended to `file` in batches of whole rows as the cells come, plus the
// summary of the transmission. With no file it only summarises. Columns: see
// HEADER. Times are in ms with three decimals from the transmission's first
// scheduled edge; delays and errors are signed (positive: late or long).
class TimeAudit : public TransmissionObserver
{
public:
    static constexpr const char* HEADER = TIMING_HEADER;

    // `sessionStart` (ISO 8601 local time) and `sendMode` (text,
    // random_valid, random_non_valid, random_mixed, single_shot, text_file)
    // begin every row, `port` (drivenPort()) ends it; none may hold a comma or
    // a line end.
    TimeAudit(TimingFile* file, std::string sessionStart, std::string sendMode,
              const std::string& port);

    void cellPresented(const CellTiming& cell) override;

    const TimingSummary& summary() const { return totals; }
    // Writes the rows held back; false when any row could not be written.
    // After a failure no further row is written: the file ends at the last
    // row before it.
    bool finish() { return rows.finish(); }

private:
    RowBatch rows;
    TimingSummary totals;
};

// The input edges of the sends of one session: one CSV row per pulse and per
// answer edge, appended to `file` (the events file) like the time audit's.
// Columns: see HEADER. `event` is "pulse" or "answer", `edge` "rising" or
// "falling"; `number` counts the send's pulses, or its answer edges; time_ms
// is from the transmission's origin (negative for the pulses before it);
// seen_within_ms is how much earlier the edge may have happened;
// reaction_time_ms is from the onset of the last cell raised before the edge,
// whose pass, index and code follow (all four empty when no cell was raised
// yet; code empty for the trigger and a single shot).
class EventAudit : public TransmissionObserver
{
public:
    static const char HEADER[];

    // As TimeAudit's; `pressRising` tells which answer edges are presses.
    EventAudit(TimingFile* file, std::string sessionStart, std::string sendMode,
               const std::string& port, bool pressRising);

    void inputSeen(const InputEdge& edge) override;

    // The answer edges that were presses.
    std::uint64_t answers() const { return presses; }
    // As TimeAudit::finish().
    bool finish() { return rows.finish(); }

private:
    RowBatch rows;
    bool pressRising;
    std::uint64_t presses = 0;
};

#endif
