#include "word_list.h"

#include "cp437.h"
#include "entry_queue.h"
#include "nubtactile.h"

#include <QStringList>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>

namespace
{

// Enough distinct characters to tell the operator what to fix.
constexpr int LEFT_OUT_SHOWN = 20;

// How much of a token a message quotes.
constexpr std::size_t QUOTED_BYTES = 24;

bool isBlank(int c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// A token as a message quotes it: cut short, its control bytes made visible
// as replacement characters, so that a message box shows the line as it is.
std::string quoted(const std::string& token)
{
    std::string out = "'";
    for (std::size_t i = 0; i < token.size() && i < QUOTED_BYTES; ++i) {
        const auto c = static_cast<unsigned char>(token[i]);
        out += c < 0x20 || c == 0x7F ? std::string("\xEF\xBF\xBD") : std::string(1, char(c));
    }
    return out + (token.size() > QUOTED_BYTES ? "…'" : "'");
}

// The characters of valid UTF-8: its bytes that begin one.
std::size_t codePoints(const std::string& utf8)
{
    std::size_t n = 0;
    for (const char c : utf8)
        n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

} // namespace

void LeftOut::add(char32_t c)
{
    // NUL and other controls would show as nothing, or break the line.
    const QString item =
        QChar::isPrint(c) ? QString::fromUcs4(&c, 1)
                          : QStringLiteral("U+%1").arg(uint(c), 4, 16, QLatin1Char('0')).toUpper();
    if (shown.contains(item))
        return;
    if (shown.size() == LEFT_OUT_SHOWN)
        more = true;
    else
        shown << item;
}

void LeftOut::addText(const QString& text)
{
    forEachCharacter(text, [this](char32_t c, int code) {
        if (code < 0 || !isValidCode(unsigned(code)))
            add(c);
    });
}

void LeftOut::addCode(unsigned char code)
{
    if (!isValidCode(code))
        add(cp437ToUnicode(code));
}

QString LeftOut::note() const
{
    if (shown.isEmpty())
        return QString();
    return QStringLiteral("Left out, having no cell: ") + shown.join(QLatin1String(", ")) +
           (more ? QStringLiteral(", …") : QString());
}

WordList::WordList(std::istream& stream, std::uint64_t firstLine) : stream(stream), line(firstLine)
{
}

bool WordList::token(Token& read, std::size_t keep)
{
    read.text.clear();
    read.digits = false;
    // The number is read as the bytes come, so that a token of any length
    // costs no memory, and the check and the send read the same time.
    std::size_t length = 0;
    bool number = true; // so far an optional sign, then digits
    bool negative = false;
    std::uint32_t value = 0;
    // Where the token begins, or, when none can be read, where reading stood.
    tokenLine = line;
    const auto whole = [&] {
        read.plain = number && read.digits;
        read.time = negative ? 0 : value;
        return true;
    };
    // The stream keeps no error code: errno tells the reason of a failed read.
    errno = 0;
    for (;;) {
        const int c = stream.get();
        if (c == std::char_traits<char>::eof())
            break;
        ++offset;
        if (isBlank(c)) {
            if (c == '\n')
                ++line;
            if (length != 0)
                return whole();
            tokenLine = line;
            continue;
        }
        const bool digit = c >= '0' && c <= '9';
        read.digits = read.digits || digit;
        if (number && length == 0 && (c == '+' || c == '-')) {
            negative = c == '-';
        } else if (number && digit) {
            const std::uint32_t d = std::uint32_t(c - '0');
            value = value > (std::uint32_t(INT32_MAX) - d) / 10 ? std::uint32_t(INT32_MAX)
                                                                : value * 10 + d;
        } else {
            number = false;
        }
        if (length < keep)
            read.text += char(c);
        ++length;
    }
    if (stream.bad()) {
        reason = errno != 0 ? std::strerror(errno) : "the read failed";
        ending = Outcome::FileUnreadable;
        return false;
    }
    // A file made shorter while it is sent ends early, and may end in the
    // middle of an entry, which would then go out with other times.
    if (offset < expected) {
        reason = "the file was cut short while it was being sent";
        ending = Outcome::FileUnreadable;
        return false;
    }
    return length != 0 && whole();
}

std::string WordList::failure() const
{
    return "entry " + std::to_string(entries + 1) + " (line " + std::to_string(entryLine) +
           "): " + reason;
}

bool WordList::next(std::uint32_t& hold, std::uint32_t& interval, std::vector<std::uint16_t>& codes)
{
    try {
        Token word, duration, gap;
        const bool begun = token(word, std::string::npos);
        entryLine = tokenLine;
        if (!begun)
            return false;
        // A missing number at the end of the body counts as 0; a failed read
        // may have cut the entry short: better not send it, and tell the file
        // was not sent in full.
        if (token(duration, 0))
            token(gap, 0);
        if (ending != Outcome::Completed)
            return false;
        std::string bytes;
        const bool unicode = utf8ToCp437(word.text, bytes);
        if (!unicode)
            bytes = word.text;
        codes.clear();
        codes.reserve(bytes.size());
        bool missing = false;
        for (const char c : bytes) {
            const auto code = static_cast<unsigned char>(c);
            if (isValidCode(code))
                codes.push_back(code);
            else if (!unicode)
                dropped.addCode(code);
            else
                missing = true;
        }
        // Looked at character by character only when something is missing.
        if (unicode && (missing || codePoints(word.text) != bytes.size()))
            dropped.addText(QString::fromUtf8(word.text.data(), qsizetype(word.text.size())));
        hold = duration.time;
        interval = gap.time;
        ++entries;
        return true;
    } catch (const std::bad_alloc&) {
        ending = Outcome::OutOfMemory;
        return false;
    }
}

WordList::Check WordList::check(std::size_t listed)
{
    Check found;
    const auto problem = [&](std::uint64_t at, const std::string& text) {
        if (found.listed.size() < listed)
            found.listed.push_back("line " + std::to_string(at) + ": " + text);
        ++found.problems;
    };
    static const char* const names[] = {"word", "duration", "interval"};
    Token read[3];
    int n = 0;
    for (; token(read[n], QUOTED_BYTES + 1); n = (n + 1) % 3) {
        if (n == 0) {
            entryLine = tokenLine;
        } else if (!read[n].plain) {
            // Without a digit it is most likely the next entry's word, moved
            // into the place of a number that is missing.
            problem(tokenLine,
                    std::string("the ") + names[n] + " " + quoted(read[n].text) + " is read as " +
                        std::to_string(read[n].time) +
                        (read[n].digits ? "" : ", and every entry after it shifts by one token"));
        }
        if (n == 2)
            ++entries;
    }
    if (n == 0) // the entry whose word could not be read
        entryLine = tokenLine;
    if (ending != Outcome::Completed) {
        found.readable = false;
        return found;
    }
    if (n == 1)
        problem(entryLine, "the last entry " + quoted(read[0].text) +
                               " has no duration and no interval; both are read as 0");
    else if (n == 2)
        problem(entryLine,
                "the last entry " + quoted(read[0].text) + " has no interval; it is read as 0");
    found.bytes = offset;
    return found;
}

bool WordList::supply(EntryQueue& queue, Interrupt& wake)
{
    if (queue.closed())
        return false;
    std::uint32_t hold = 0, interval = 0;
    std::vector<std::uint16_t> codes;
    while (!queue.full()) {
        if (!next(hold, interval, codes)) {
            queue.close(ending, wake);
            return false;
        }
        queue.push(hold, interval, std::move(codes), wake);
    }
    return true;
}
