#include "word_list.h"

#include "cp437.h"
#include "entry_queue.h"
#include "nubtactile.h"

#include <cstdint>
#include <new>
#include <string>

WordList::WordList(std::istream& stream) : stream(stream) {}

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

bool WordList::next(std::uint32_t& hold, std::uint32_t& interval, std::vector<std::uint16_t>& codes)
{
    try {
        std::string word, duration, gap;
        stream >> word >> duration >> gap;
        // A read that fails before the end of the stream may have cut the
        // entry short: better not send it, and tell the file was not sent in
        // full.
        if (stream.bad() || (stream.fail() && !stream.eof())) {
            ending = Outcome::FileUnreadable;
            return false;
        }
        if (word.empty())
            return false;
        std::string bytes;
        if (!utf8ToCp437(word, bytes))
            bytes = word;
        codes.clear();
        codes.reserve(bytes.size());
        for (const char c : bytes) {
            if (isValidCode(static_cast<unsigned char>(c)))
                codes.push_back(static_cast<unsigned char>(c));
        }
        hold = readTime(duration);
        interval = readTime(gap);
        return true;
    } catch (const std::bad_alloc&) {
        ending = Outcome::OutOfMemory;
        return false;
    }
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
