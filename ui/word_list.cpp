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

// A number token longer than this is judged by its start: memory stays
// bounded whatever a line holds.
constexpr std::size_t CHECKED_BYTES = 4096;
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

std::uint32_t WordList::readTime(const std::string& token)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < token.size() && (token[i] == '+' || token[i] == '-')) {
        negative = token[i] == '-';
        ++i;
    }
    std::uint32_t value = 0;
    for (; i < token.size() && token[i] >= '0' && token[i] <= '9'; ++i) {
        const std::uint32_t digit = std::uint32_t(token[i] - '0');
        value = value > (std::uint32_t(INT32_MAX) - digit) / 10 ? std::uint32_t(INT32_MAX)
                                                                : value * 10 + digit;
    }
    return negative ? 0 : value;
}

bool WordList::token(std::string& text, std::size_t keep, bool& plain)
{
    text.clear();
    std::size_t length = 0;
    bool digits = false;
    plain = true;
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
                return true;
            continue;
        }
        if (length == 0)
            tokenLine = line;
        const bool digit = c >= '0' && c <= '9';
        digits = digits || digit;
        plain = plain && (digit || (length == 0 && (c == '+' || c == '-')));
        if (length < keep)
            text += char(c);
        ++length;
    }
    plain = plain && digits;
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
    return length != 0;
}

std::string WordList::failure() const
{
    return "entry " + std::to_string(entries + 1) + " (line " + std::to_string(entryLine) +
           "): " + reason;
}

bool WordList::next(std::uint32_t& hold, std::uint32_t& interval, std::vector<std::uint16_t>& codes)
{
    try {
        std::string word, duration, gap;
        bool plain = false;
        entryLine = line;
        if (!token(word, std::string::npos, plain))
            return false;
        entryLine = tokenLine;
        // A missing number at the end of the body counts as 0; a failed read
        // may have cut the entry short: better not send it, and tell the file
        // was not sent in full.
        if (token(duration, std::string::npos, plain))
            token(gap, std::string::npos, plain);
        if (ending != Outcome::Completed)
            return false;
        std::string bytes;
        const bool unicode = utf8ToCp437(word, bytes);
        if (!unicode)
            bytes = word;
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
        if (unicode && (missing || codePoints(word) != bytes.size()))
            dropped.addText(QString::fromUtf8(word.data(), qsizetype(word.size())));
        hold = readTime(duration);
        interval = readTime(gap);
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
    std::string text[3];
    int n = 0;
    for (bool plain = false; token(text[n], n == 0 ? QUOTED_BYTES + 1 : CHECKED_BYTES, plain);
         n = (n + 1) % 3) {
        if (n == 0) {
            entryLine = tokenLine;
        } else if (!plain) {
            bool digits = false;
            for (const char c : text[n])
                digits = digits || (c >= '0' && c <= '9');
            // Without a digit it is most likely the next entry's word, moved
            // into the place of a number that is missing.
            problem(tokenLine,
                    std::string("the ") + names[n] + " " + quoted(text[n]) + " is read as " +
                        std::to_string(readTime(text[n])) +
                        (digits ? "" : ", and every entry after it shifts by one token"));
        }
        if (n == 2)
            ++entries;
    }
    if (ending != Outcome::Completed) {
        found.readable = false;
        return found;
    }
    if (n == 1)
        problem(entryLine, "the last entry " + quoted(text[0]) +
                               " has no duration and no interval; both are read as 0");
    else if (n == 2)
        problem(entryLine,
                "the last entry " + quoted(text[0]) + " has no interval; it is read as 0");
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
