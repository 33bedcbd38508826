#include "configuration_file.h"

#include <QStringDecoder>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace ConfigurationFile;

const char ConfigurationFile::MAGIC[] = "#!NUBTactile_CONFIGURATION_FILE!#";
const char ConfigurationFile::TEXT_MAGIC[] = "#!NUBTactile_TEXT_FILE!#";

namespace
{

// The longest line that can be a magic line: the configuration's characters
// and the carriage return of a file written on Windows.
constexpr std::size_t LONGEST_MAGIC_LINE = (sizeof MAGIC - 1) + 1;

// How much of a configuration body is read and decoded at a time.
constexpr std::size_t CHUNK_BYTES = 64 * 1024;

// What a file that is not a regular one is, for the operator.
const char* kindOf(mode_t mode)
{
    if (S_ISFIFO(mode))
        return "a named pipe (FIFO)";
    if (S_ISSOCK(mode))
        return "a socket";
    if (S_ISCHR(mode))
        return "a character device";
    if (S_ISBLK(mode))
        return "a block device";
    if (S_ISDIR(mode))
        return "a directory";
    return "a special file";
}

// The modes whose word or length is put into a field.
bool showsSequence(const QString& mode)
{
    return mode.size() == 1 && mode.at(0) >= u'1' && mode.at(0) <= u'4';
}

// Splits a configuration body into its values as it is decoded, piece by
// piece: one value per line, an empty line an empty value, a last line
// without line feed still a value, an empty end none; lines after the seventh
// value go onto the seventh after two blanks. The seventh is kept only for
// the modes that show it, so that millions of lines for another mode cost no
// memory.
class ConfigurationValues
{
public:
    void add(QStringView text)
    {
        for (;;) {
            const qsizetype end = text.indexOf(u'\n');
            const QStringView piece = end < 0 ? text : text.first(end);
            if (!inLine && (end >= 0 || !piece.isEmpty()))
                startLine();
            if (target)
                target->append(piece);
            if (end < 0)
                return;
            inLine = false;
            text = text.sliced(end + 1);
        }
    }

    // At most seven; to be taken once the whole body was added.
    QStringList take() { return std::move(values); }

private:
    void startLine()
    {
        inLine = true;
        if (values.size() < VALUES) {
            values.append(QString());
            target = &values.last();
            if (values.size() == VALUES && !showsSequence(values.at(5)))
                target = nullptr;
        } else if (target) {
            target->append(QLatin1String("  "));
        }
    }

    QStringList values;
    // Where the line being read goes, or null when it is not kept.
    QString* target = nullptr;
    bool inLine = false;
};

// The values of the body from the position of `in` to its end, decoded as
// `encoding`. False on a read error or on bytes not valid in that encoding.
bool readValues(std::istream& in, QStringDecoder::Encoding encoding, QStringList& values)
{
    QStringDecoder decoder(encoding);
    ConfigurationValues reader;
    std::string chunk(CHUNK_BYTES, '\0');
    // One buffer for every chunk: a fresh one each time costs page faults.
    QString text(decoder.requiredSpace(CHUNK_BYTES), Qt::Uninitialized);
    while (in && !decoder.hasError()) {
        in.read(chunk.data(), std::streamsize(chunk.size()));
        const QChar* end =
            decoder.appendToBuffer(text.data(), QByteArrayView(chunk.data(), in.gcount()));
        reader.add(QStringView(text.constData(), end - text.constData()));
    }
    // A sequence cut off by the end of the body is held back as incomplete;
    // what follows it shows whether it is an error.
    decoder.appendToBuffer(text.data(), QByteArrayView("\n", 1));
    if (in.bad() || decoder.hasError())
        return false;
    values = reader.take();
    return true;
}

} // namespace

int ConfigurationFile::openRegular(const QByteArray& path, std::string& kind)
{
    struct stat seen;
    if (::stat(path.constData(), &seen) != 0)
        return -1;
    if (!S_ISREG(seen.st_mode)) {
        kind = kindOf(seen.st_mode);
        return -1;
    }
    // Replaced by a FIFO after the look above, it still cannot block this
    // open; the descriptor must then be what was looked at.
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return -1;
    struct stat opened;
    const bool looked = ::fstat(fd, &opened) == 0;
    if (looked && S_ISREG(opened.st_mode) && opened.st_dev == seen.st_dev &&
        opened.st_ino == seen.st_ino)
        return fd;
    if (looked && !S_ISREG(opened.st_mode))
        kind = kindOf(opened.st_mode);
    ::close(fd);
    return -1;
}

std::string ConfigurationFile::readMagicLine(std::istream& in)
{
    std::string line;
    for (int c = 0; line.size() <= LONGEST_MAGIC_LINE && (c = in.get()) != EOF && c != '\n';)
        line += char(c);
    return line;
}

bool ConfigurationFile::isMagicLine(const std::string& line, const char* magic)
{
    return line == magic || line == std::string(magic) + '\r';
}

bool ConfigurationFile::read(std::istream& in, QStringList& values)
{
    const std::istream::pos_type body = in.tellg();
    if (readValues(in, QStringDecoder::Utf8, values))
        return true;
    if (in.bad())
        return false;
    in.clear();
    return bool(in.seekg(body)) && readValues(in, QStringDecoder::Latin1, values);
}
