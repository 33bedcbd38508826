#include "time_audit.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
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

} // namespace

void TimingSummary::add(const CellTiming& cell)
{
    const std::int64_t delay = cell.onset - cell.targetOnset;
    const std::int64_t error = cell.hold - cell.targetHold;
    ++cells;
    worstOnsetDelay = worse(worstOnsetDelay, delay);
    worstHoldError = worse(worstHoldError, error);
    if (std::llabs(delay) > WARNING_NS || std::llabs(error) > WARNING_NS)
        ++beyondWarning;
}

std::string TimingSummary::text() const
{
    std::string line = std::to_string(cells) + (cells == 1 ? " cell" : " cells") +
                       " \u00b7 worst onset delay " + duration(worstOnsetDelay) +
                       " \u00b7 worst hold error " + duration(worstHoldError);
    if (warning())
        line += " \u00b7 " + std::to_string(beyondWarning) +
                (beyondWarning == 1 ? " cell" : " cells") + " off by more than 1 ms";
    return line;
}

const char TimeAudit::HEADER[] =
    "session_start,send_mode,pass,index,code,data_byte,target_onset_ms,onset_ms,onset_delay_ms,"
    "target_hold_ms,hold_ms,hold_error_ms,port\n";

TimeAudit::TimeAudit(std::ostream* out, std::string sessionStart, std::string sendMode,
                     const std::string& port)
    : out(out), prefix(std::move(sessionStart) + ',' + sendMode + ','), suffix(',' + port + '\n')
{
}

bool TimeAudit::open(std::ofstream& file, const std::string& path, std::string& setAside)
{
    setAside.clear();
    // Only as much of the first line as a header can be: a huge file costs
    // nothing to check.
    // Only a regular file is read: a device or a pipe could give anything, or
    // block.
    std::string first;
    struct stat status;
    if (stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
        first.resize(sizeof HEADER);
        std::ifstream existing(path, std::ios::binary);
        existing.read(first.data(), std::streamsize(first.size()));
        first.resize(std::size_t(existing.gcount()));
    }
    if (!first.empty() && first.compare(0, sizeof HEADER - 1, HEADER) != 0) {
        const std::string stem = path.size() > 4 && path.compare(path.size() - 4, 4, ".csv") == 0
                                     ? path.substr(0, path.size() - 4)
                                     : path;
        // A link fails rather than replace a file already there.
        for (unsigned n = 1; setAside.empty(); ++n) {
            std::string name = stem + '.' + std::to_string(n) + ".csv";
            if (link(path.c_str(), name.c_str()) == 0)
                setAside = std::move(name);
            else if (errno != EEXIST || n == 1000)
                return false;
        }
        if (unlink(path.c_str()) != 0)
            return false;
    }
    file.open(path, std::ios::out | std::ios::app | std::ios::binary);
    if (!file.is_open())
        return false;
    file.seekp(0, std::ios::end);
    if (file.tellp() == 0)
        file << HEADER << std::flush;
    return file.good();
}

void TimeAudit::cellPresented(const CellTiming& cell)
{
    totals.add(cell);
    if (!out)
        return;
    // Formatted on the stack: a send of millions of cells costs no memory.
    char row[256];
    std::size_t n = 0;
    const auto put = [&](int written) {
        n = std::min(sizeof row, n + std::size_t(written > 0 ? written : 0));
    };
    put(std::snprintf(row, sizeof row, "%" PRIu32 ",%" PRIu32 ",", cell.pass, cell.index));
    if (cell.code >= 0)
        put(std::snprintf(row + n, sizeof row - n, "%d", cell.code));
    put(std::snprintf(row + n, sizeof row - n, ",%u,", unsigned(cell.dataByte)));
    const std::int64_t times[] = {cell.targetOnset, cell.onset, cell.onset - cell.targetOnset,
                                  cell.targetHold,  cell.hold,  cell.hold - cell.targetHold};
    for (std::size_t i = 0; i < std::size(times); ++i) {
        put(formatMs(row + n, sizeof row - n, times[i]));
        if (i + 1 < std::size(times))
            put(std::snprintf(row + n, sizeof row - n, ","));
    }
    out->write(prefix.data(), std::streamsize(prefix.size()));
    out->write(row, std::streamsize(n));
    out->write(suffix.data(), std::streamsize(suffix.size()));
}

bool TimeAudit::finish()
{
    if (!out)
        return true;
    out->flush();
    return out->good();
}
