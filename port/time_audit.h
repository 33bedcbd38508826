#ifndef TIME_AUDIT_H
#define TIME_AUDIT_H

#include "pport.h"

#include <cstdint>
#include <ostream>
#include <string>

// The worst timing of the cells of one transmission, for the operator.
struct TimingSummary {
    // An onset delay or hold error beyond this (either sign) is worth a warning.
    static constexpr std::int64_t WARNING_NS = 1'000'000;

    std::uint64_t cells = 0;
    std::int64_t worstOnsetDelay = 0; // ns, the largest in magnitude, signed
    std::int64_t worstHoldError = 0;  // ns, likewise
    std::uint64_t beyondWarning = 0;  // cells whose delay or error exceeds WARNING_NS

    void add(const CellTiming& cell);
    bool warning() const { return beyondWarning != 0; }
    // One line in UTF-8, times in µs below a millisecond, else in ms:
    // "250 cells · worst onset delay 4 µs · worst hold error 3 µs", followed
    // by " · 2 cells off by more than 1 ms" when there are such cells.
    std::string text() const;
};

// The time audit of the sends of one session: one CSV row per raised cell,
// appended to `out` as the cells come (the stream's own buffer bounds what is
// held back), plus the summary of the transmission. With no stream it only
// summarises. Columns: see HEADER. Times are in ms with three decimals from
// the transmission's first scheduled edge; delays and errors are signed
// (positive: late or long).
class TimeAudit : public TransmissionObserver
{
public:
    static const char HEADER[];

    // `sessionStart` (ISO 8601 local time) and `sendMode` (text,
    // random_valid, random_non_valid, random_mixed, single_shot, text_file)
    // begin every row, `port` (drivenPort()) ends it; none may hold a comma or
    // a line end.
    TimeAudit(std::ostream* out, std::string sessionStart, std::string sendMode,
              const std::string& port);

    // Opens `path` for appending and writes the header row when the file is
    // new or empty. A file whose first line is another header (an earlier
    // version's columns) is first renamed to the first free "<path less
    // .csv>.N.csv", N from 1, whose name goes to `setAside`: every file keeps
    // one set of columns, and no row is lost. False when the file cannot be
    // opened or set aside, or the header not written.
    static bool open(std::ofstream& file, const std::string& path, std::string& setAside);

    void cellPresented(const CellTiming& cell) override;

    const TimingSummary& summary() const { return totals; }
    // Flushes the rows held back; false when any row could not be written.
    bool finish();

private:
    std::ostream* out;
    std::string prefix;
    std::string suffix;
    TimingSummary totals;
};

#endif
