#ifndef CONFIGURATION_FILE_H
#define CONFIGURATION_FILE_H

#include <QByteArray>
#include <QStringList>

#include <istream>
#include <string>

// The files that the operator opens from the main window: a configuration of
// the form (its magic line, then one value a line) or a text file to send (its
// magic line, then the word list). Reading only, without a widget.
namespace ConfigurationFile
{

extern const char MAGIC[];
extern const char TEXT_MAGIC[];

// Values 1 to 7 of a configuration: trigger, after trigger, char duration,
// interval, loop, mode, word or length.
constexpr int VALUES = 7;

// A descriptor of `path` for reading, only when it is a regular file: the
// open of a FIFO waits for a writer, and that of a device may do anything.
// -1 otherwise, with `kind` set when it is something else than a regular
// file ("a directory", "a named pipe (FIFO)", ...), left empty when the
// system refused.
int openRegular(const QByteArray& path, std::string& kind);

// The first line of `in` when it is short enough to be a magic line; a longer
// one comes back cut to one character more than the longest magic line, so
// that a huge file without line feeds is refused after a few bytes.
std::string readMagicLine(std::istream& in);

// True when `line` is `magic`, or `magic` and the carriage return that a file
// written on Windows ends its lines with.
bool isMagicLine(const std::string& line, const char* magic);

// The values of the configuration body from the position of `in` to its end:
// one per line, an empty line an empty value, a last line without line feed
// still a value; lines after the seventh go onto the seventh after two
// blanks, which is kept only for modes 1 to 4. At most seven. Files are
// written in UTF-8; one that is not valid UTF-8 (made by hand in a Latin-1
// editor) is read again as Latin-1. False on a read error; throws
// std::bad_alloc when a value does not fit in memory.
bool read(std::istream& in, QStringList& values);

} // namespace ConfigurationFile

#endif
