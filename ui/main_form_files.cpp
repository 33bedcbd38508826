#include "main_form.h"

#include "entry_queue.h"
#include "termination.h"
#include "word_list.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringList>

#include <ext/stdio_filebuf.h>
#include <fcntl.h>
#include <limits>
#include <new>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace
{

const char CONFIGURATION_MAGIC[] = "#!NUBTactile_CONFIGURATION_FILE!#";
const char TEXT_MAGIC[] = "#!NUBTactile_TEXT_FILE!#";
const char FORMAT_PROBLEM[] = "The file doesn't seem to be in a correct format";
const char SAVE_PROBLEM[] = "There was a problem while trying to save the file";

// Values 1 to 7 of a configuration: trigger, after trigger, char duration,
// interval, loop, mode, word or length.
constexpr int CONFIGURATION_VALUES = 7;

// How many of a text file's problems the question lists.
constexpr std::size_t LISTED_PROBLEMS = 5;

// The magic line is line 1 of a file; its body begins on line 2.
constexpr std::uint64_t BODY_LINE = 2;

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

// A descriptor of `path` for reading, only when it is a regular file: the
// open of a FIFO waits for a writer, and that of a device may do anything.
// -1 otherwise, with `kind` set when it is something else than a regular
// file, left empty when the system refused.
int openRegularFile(const QByteArray& path, std::string& kind)
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

// The question asked before a text file whose times are not all plain
// numbers is sent.
QString problemsQuestion(const WordList::Check& check)
{
    const QString count = QString::number(check.problems);
    QString text = QStringLiteral("This text file will not be sent as it is written (") +
                   (check.problems == 1 ? QStringLiteral("1 problem") : count + " problems") +
                   (check.problems > check.listed.size()
                        ? QStringLiteral("; the first %1 are listed").arg(check.listed.size())
                        : QString()) +
                   "):\n";
    for (const std::string& problem : check.listed)
        text += '\n' + QString::fromStdString(problem);
    return text + "\n\nSend it all the same, read this way?";
}

// The longest line that can be a magic line: the configuration's characters
// and the carriage return of a file written on Windows.
constexpr std::size_t LONGEST_MAGIC_LINE = (sizeof CONFIGURATION_MAGIC - 1) + 1;

// How much of a configuration body is read and decoded at a time.
constexpr std::size_t CHUNK_BYTES = 64 * 1024;

// The first line of `in` when it is short enough to be a magic line; a longer
// one comes back cut to one character more than the longest magic line, so
// that a huge file without line feeds is refused after a few bytes.
std::string readMagicLine(std::istream& in)
{
    std::string line;
    for (int c = 0; line.size() <= LONGEST_MAGIC_LINE && (c = in.get()) != EOF && c != '\n';)
        line += char(c);
    return line;
}

// A file written on Windows ends its lines with a carriage return.
bool isMagicLine(const std::string& line, const char* magic)
{
    return line == magic || line == std::string(magic) + '\r';
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
        if (values.size() < CONFIGURATION_VALUES) {
            values.append(QString());
            target = &values.last();
            if (values.size() == CONFIGURATION_VALUES && !showsSequence(values.at(5)))
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

// Files are written in UTF-8; one made by hand in a Latin-1 editor is not
// valid UTF-8 and is read again as Latin-1. False on a read error.
bool readConfiguration(std::istream& in, QStringList& values)
{
    const std::istream::pos_type body = in.tellg();
    if (readValues(in, QStringDecoder::Utf8, values))
        return true;
    if (in.bad())
        return false;
    in.clear();
    return bool(in.seekg(body)) && readValues(in, QStringDecoder::Latin1, values);
}

} // namespace

void main_form::fileNew()
{
    for (QCheckBox* pin : {pin_0_check, pin_1_check, pin_2_check, pin_3_check, pin_4_check,
                           pin_5_check, pin_6_check, pin_7_check})
        pin->setChecked(false);
    for (QLineEdit* field : {pins_duration_text, trigger_time_text, after_trigger_time_text,
                             char_time_text, after_char_time_text})
        field->clear();
    loop_count_label->setEnabled(true);
    loop_count_text->clear();
    loop_count_text->setEnabled(true);
    word_label->setEnabled(false);
    word_text->clear();
    word_text->setEnabled(false);
    mode_combo->setCurrentIndex(0);
    length_label->setEnabled(false);
    sequence_length_text->clear();
    sequence_length_text->setEnabled(false);
}

QString main_form::openFileName()
{
    QFileDialog dialog(this, tr("Choose a file to open"), QStringLiteral("."), QString());
    dialog.setObjectName(QStringLiteral("open file dialog"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    return dialog.selectedFiles().value(0);
}

QString main_form::saveFileName()
{
    QFileDialog dialog(this, tr("Choose the file to save"), QStringLiteral("."), QString());
    dialog.setObjectName(QStringLiteral("save file dialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // The program asks its own question, with its own texts.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    return dialog.selectedFiles().value(0);
}

bool main_form::confirmOverwrite(const QString& fileName)
{
    QMessageBox question(
        QMessageBox::Question, tr("Overwrite file?"),
        tr("A file called %1 already exists. Do you want to overwrite it?").arg(fileName),
        QMessageBox::Yes | QMessageBox::No, this);
    // Plain text: a file name is shown as it is, never read as markup.
    question.setTextFormat(Qt::PlainText);
    question.setDefaultButton(QMessageBox::Yes);
    question.setEscapeButton(QMessageBox::No);
    return question.exec() == QMessageBox::Yes;
}

bool main_form::confirmTextFile(const QString& problems)
{
    QMessageBox question(QMessageBox::Question, tr("Send this text file?"), problems,
                         QMessageBox::Yes | QMessageBox::No, this);
    question.setTextFormat(Qt::PlainText);
    // Sending what the operator did not mean cannot be taken back.
    question.setDefaultButton(QMessageBox::No);
    question.setEscapeButton(QMessageBox::No);
    return question.exec() == QMessageBox::Yes;
}

void main_form::playTextFile(std::istream& in)
{
    const std::istream::pos_type body = in.tellg();
    const std::string unreadable = "The text file could not be read past ";
    WordList whole(in, BODY_LINE);
    const WordList::Check check = whole.check(LISTED_PROBLEMS);
    if (!check.readable) {
        error((unreadable + whole.failure() + ". Nothing was sent.").c_str());
        return;
    }
    if (check.problems != 0 && !confirmTextFile(problemsQuestion(check)))
        return;
    in.clear();
    if (!in.seekg(body)) {
        error("The text file could not be read again. Nothing was sent.");
        return;
    }
    sendStarted = QDateTime::currentDateTime();
    WordList list(in, BODY_LINE);
    list.expectBytes(check.bytes);
    EntryQueue queue;
    Outcome outcome = Outcome::Completed;
    try {
        outcome = transmit("text_file", [&list, &queue](TransmissionObserver* audit) {
            return SendProgress::run(
                [&queue](TransmissionObserver& observer, const Interrupt& interrupt) {
                    return sendToParallelPort(queue, observer, interrupt);
                },
                audit, [&](Interrupt& wake) { return list.supply(queue, wake); });
        });
    } catch (const std::system_error& failure) {
        error((std::string(NO_THREAD) + failure.what()).c_str());
        return;
    }
    showLeftOut(list.leftOut().note());
    if (outcome == Outcome::FileUnreadable && !pendingSignal())
        error((unreadable + list.failure() + ". The entries before it were sent.").c_str());
}

void main_form::fileOpen()
{
    const QString name = openFileName();
    if (name.isEmpty() || !QFileInfo::exists(name))
        return;

    std::string kind;
    const int fd = openRegularFile(QFile::encodeName(name), kind);
    if (fd < 0) {
        error((QStringLiteral("Could not open ") + name +
               (kind.empty() ? QString()
                             : QStringLiteral(": it is %1, not a regular file")
                                   .arg(QString::fromLatin1(kind.c_str()))))
                  .toUtf8()
                  .constData());
        return;
    }
    // Owns the descriptor from here on.
    __gnu_cxx::stdio_filebuf<char> file(fd, std::ios::in | std::ios::binary);
    std::istream in(&file);
    in.peek();
    if (in.bad()) {
        error((QStringLiteral("Could not open ") + name).toUtf8().constData());
        return;
    }
    in.clear();

    fileNew();

    const std::string magic = readMagicLine(in);
    if (isMagicLine(magic, TEXT_MAGIC)) {
        playTextFile(in);
        afterSend();
        return;
    }
    // A configuration written with carriage returns keeps them in its values,
    // so the mode does not match and the operator is told.
    if (!isMagicLine(magic, CONFIGURATION_MAGIC)) {
        error(FORMAT_PROBLEM);
        return;
    }

    QStringList values;
    try {
        if (!readConfiguration(in, values)) {
            error((QStringLiteral("Could not open ") + name).toUtf8().constData());
            return;
        }
    } catch (const std::bad_alloc&) {
        // A word as big as the memory left: the form stays reset.
        error(NO_MEMORY);
        return;
    }
    if (values.size() < CONFIGURATION_VALUES) {
        error(FORMAT_PROBLEM);
        return;
    }

    // A line edit cuts what it is given at its maximum length, 32767 by
    // default: the fields take what the file holds instead.
    const auto load = [](QLineEdit* field, const QString& value) {
        field->setMaxLength(std::numeric_limits<int>::max());
        field->setText(value);
    };
    const QString& mode = values.at(5);
    const QString& sequence = values.at(6);
    if (mode == QLatin1String("0")) {
        mode_combo->setCurrentIndex(0);
    } else if (mode == QLatin1String("1")) {
        word_label->setEnabled(true);
        word_text->setEnabled(true);
        load(word_text, sequence);
        mode_combo->setCurrentIndex(1);
    } else if (mode == QLatin1String("2") || mode == QLatin1String("3") ||
               mode == QLatin1String("4")) {
        length_label->setEnabled(true);
        sequence_length_text->setEnabled(true);
        load(sequence_length_text, sequence);
        mode_combo->setCurrentIndex(mode.toInt());
    } else {
        error(FORMAT_PROBLEM);
    }
    load(trigger_time_text, values.at(0));
    load(after_trigger_time_text, values.at(1));
    load(char_time_text, values.at(2));
    load(after_char_time_text, values.at(3));
    load(loop_count_text, values.at(4));
}

void main_form::fileSave()
{
    const QString name = saveFileName();
    if (QFileInfo::exists(name) && !confirmOverwrite(name))
        return;
    if (name.isEmpty())
        return;

    const int mode = mode_combo->currentIndex();
    QString sequence;
    if (mode == 1)
        sequence = word_text->text();
    else if (mode >= 2)
        sequence = sequence_length_text->text();
    const QStringList lines = {QLatin1String(CONFIGURATION_MAGIC),
                               trigger_time_text->text(),
                               after_trigger_time_text->text(),
                               char_time_text->text(),
                               after_char_time_text->text(),
                               loop_count_text->text(),
                               QString::number(mode),
                               sequence};
    const QByteArray content = (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();

    // Written beside the old file and renamed over it only when complete, so
    // a failure never leaves half a configuration behind. Unbuffered, because
    // a buffered short write (file size limit, full disk) is lost on the way
    // to commit(), which then reports success for a truncated file.
    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) ||
        file.write(content) != content.size() || !file.commit())
        error(SAVE_PROBLEM);
}
