#ifndef WORD_LIST_H
#define WORD_LIST_H

#include "pport.h"

#include <cstdint>
#include <istream>
#include <vector>

class EntryQueue;
class Interrupt;

// The body of a text file, read entry by entry as it is played: entries of
// three whitespace-separated tokens (word, hold ms, interval ms). A word that
// is valid UTF-8 is converted to code page 437; any other word is taken as
// code page 437 bytes; its bytes without a cell are left out. Numbers read
// like strtol in base 10 (no digits: 0; negative: 0; at most 2147483647).
class WordList
{
public:
    explicit WordList(std::istream& stream);

    // Reads the next entry into the arguments. False at the end of the
    // stream, or when the entry could not be read whole (a read error:
    // FileUnreadable) or stored (OutOfMemory); end() tells which.
    bool next(std::uint32_t& hold, std::uint32_t& interval, std::vector<std::uint16_t>& codes);
    Outcome end() const { return ending; }

    // Fills `queue` while it has room, and closes it at the list's end,
    // notifying `wake`. False once closed.
    bool supply(EntryQueue& queue, Interrupt& wake);

    // strtol in base 10 with a 32-bit long, then negatives as 0.
    static std::uint32_t readTime(const std::string& token);

private:
    std::istream& stream;
    Outcome ending = Outcome::Completed;
};

#endif
