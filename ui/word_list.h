#ifndef WORD_LIST_H
#define WORD_LIST_H

#include "pport.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

class EntryQueue;
class Interrupt;

// The characters a send leaves out for want of a cell, each once, in the
// order first met; at most a screenful of them is kept.
class LeftOut
{
public:
    // Every character of `text`, composed as a send composes it.
    void addText(const QString& text);
    // A code page 437 byte of a word taken as bytes.
    void addCode(unsigned char code);
    // "Left out, having no cell: ü, €", or empty when nothing was left out.
    QString note() const;
    void clear() { shown.clear(), more = false; }

private:
    void add(char32_t c);
    QStringList shown;
    bool more = false; // and others beyond those shown
};

// The body of a text file, read entry by entry as it is played: entries of
// three whitespace-separated tokens (word, hold ms, interval ms). A word that
// is valid UTF-8 is converted to code page 437; any other word is taken as
// code page 437 bytes; its bytes without a cell are left out. Numbers read
// like strtol in base 10 (no digits: 0; negative: 0; at most 2147483647).
class WordList
{
public:
    // `firstLine`: the line of the file the stream is at, for messages.
    explicit WordList(std::istream& stream, std::uint64_t firstLine = 1);

    // Reads the next entry into the arguments. False at the end of the
    // stream, or when the entry could not be read whole (a read error, or the
    // stream ending before the length set by expectBytes: FileUnreadable) or
    // stored (OutOfMemory); end() tells which.
    bool next(std::uint32_t& hold, std::uint32_t& interval, std::vector<std::uint16_t>& codes);
    Outcome end() const { return ending; }

    // The body is this long: ending sooner means the file was cut short.
    void expectBytes(std::uint64_t bytes) { expected = bytes; }

    // After FileUnreadable: "entry 12 (line 14): <reason>", the entry that
    // could not be read and the line it begins on.
    std::string failure() const;

    // The characters the entries read so far left out.
    const LeftOut& leftOut() const { return dropped; }

    // Fills `queue` while it has room, and closes it at the list's end,
    // notifying `wake`. False once closed.
    bool supply(EntryQueue& queue, Interrupt& wake);

    // What reading the rest of the stream through found, without keeping
    // its entries: where its times would not be read as written.
    struct Check {
        std::uint64_t problems = 0;
        std::vector<std::string> listed; // the first few, as "line 3: ..."
        std::uint64_t bytes = 0;         // the body's length
        bool readable = true;            // false: failure() of the list says where
    };
    Check check(std::size_t listed = 5);

private:
    // A token as read, whatever its length.
    struct Token {
        std::string text;       // its first bytes, as many as asked for
        bool plain = false;     // an optionally signed run of digits
        bool digits = false;    // a digit somewhere in it
        std::uint32_t time = 0; // read as a number, as the class comment says
    };
    // The next token into `read`, keeping at most `keep` bytes of its text.
    // False at the end of the body or when the stream failed (`ending` is
    // then FileUnreadable).
    bool token(Token& read, std::size_t keep);

    std::istream& stream;
    Outcome ending = Outcome::Completed;
    std::uint64_t line;
    std::uint64_t entries = 0;   // entries read whole
    std::uint64_t entryLine = 0; // where the entry being read begins
    std::uint64_t tokenLine = 0; // where the token read last begins
    std::uint64_t offset = 0;    // bytes of the body read
    std::uint64_t expected = 0;
    std::string reason;
    LeftOut dropped;
};

#endif
