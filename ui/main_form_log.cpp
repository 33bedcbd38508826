#include "main_form.h"

#include "cp437.h"
#include "interrupt.h"
#include "nubtactile.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QThread>

#include <array>
#include <string>

namespace
{

const std::string ASTERISKS(48, '*');
// The presented line goes to the file in pieces of about this many bytes.
constexpr std::size_t LOG_PIECE_BYTES = 4096;
// The longest text of one code and its separator: three digits and ", ".
constexpr std::size_t LONGEST_CODE_BYTES = 5;

// Always English names, whatever the operator's locale, so that every log
// reads the same and a script can parse it.
std::string dateText(const QDateTime& moment)
{
    return QLocale::c().toString(moment, QStringLiteral("ddd MMM d hh:mm:ss yyyy")).toStdString();
}

// How each code reads on the presented line of `mode`: as its character in
// text mode, random valid and, for the codes that have a cell, random mixed;
// as a decimal number otherwise. Codes are bytes, so 256 texts cover them.
std::array<std::string, 256> codeTexts(std::int32_t mode)
{
    std::array<std::string, 256> texts;
    for (unsigned code = 0; code < texts.size(); ++code) {
        const bool asCharacter = mode == MODE_TEXT || mode == MODE_RANDOM_VALID ||
                                 (mode == MODE_RANDOM_MIXED && isValidCode(code));
        texts[code] =
            asCharacter ? cp437ToUtf8(static_cast<unsigned char>(code)) : std::to_string(code);
    }
    return texts;
}

// The normal cursor while the operator reads a box, even while a send is
// being prepared under the busy one.
class NormalCursor
{
public:
    NormalCursor() : busy(QApplication::overrideCursor() != nullptr)
    {
        if (busy)
            QApplication::restoreOverrideCursor();
    }
    ~NormalCursor()
    {
        if (busy)
            QApplication::setOverrideCursor(Qt::WaitCursor);
    }
    NormalCursor(const NormalCursor&) = delete;
    NormalCursor& operator=(const NormalCursor&) = delete;

private:
    const bool busy;
};

} // namespace

void main_form::tellProblem(const std::string& message)
{
    const NormalCursor normal;
    error(message.c_str());
}

void main_form::reportLogProblem()
{
    tellProblem(files.logProblem());
}

bool main_form::confirmSendUnlogged(const QString& fileName)
{
    QMessageBox question(QMessageBox::Question, QStringLiteral("NUBTactile"),
                         tr("Another program is writing %1 for this patient now.\n"
                            "Send without logging this session?")
                             .arg(fileName),
                         QMessageBox::Yes | QMessageBox::No, this);
    // Plain text: a file name is shown as it is, never read as markup.
    question.setTextFormat(Qt::PlainText);
    // Nothing goes out unless the operator says so: Return and Escape alike
    // keep the stimulus back.
    question.setDefaultButton(QMessageBox::No);
    question.setEscapeButton(QMessageBox::No);
    return question.exec() == QMessageBox::Yes;
}

bool main_form::takePatientFiles(bool withLog)
{
    if (files.isSettled())
        return true;
    const QString name = patient_name_text->text();
    const QString lastName = patient_last_name_text->text();
    // A single shot or a text file sent without names is summarised only.
    if (!log_check->isChecked() || PatientFiles::isBlank(name) || PatientFiles::isBlank(lastName)) {
        files.forgo();
        return true;
    }
    if (files.take(name, lastName, withLog) == PatientFiles::Taken::Busy) {
        bool unlogged = false;
        {
            const NormalCursor normal;
            unlogged = confirmSendUnlogged(files.busyName());
        }
        if (!unlogged)
            return false;
        files.forgo();
        if (data)
            data->log = false;
        return true;
    }
    // Told before the stimulus; the send goes out all the same.
    if (!files.logProblem().empty())
        reportLogProblem();
    if (!files.timingProblem().empty())
        tellProblem(files.timingProblem());
    if (!files.setAside().empty())
        tellProblem("The timing file had the columns of an earlier version; it was renamed to " +
                    files.setAside() + " and a new one begins.");
    return true;
}

void main_form::logProblem()
{
    if (QThread::currentThread() == thread())
        reportLogProblem();
    else
        logProblemPending = true;
}

void main_form::reportLateLogProblem()
{
    if (logProblemPending.exchange(false))
        reportLogProblem();
}

bool main_form::writeLog(const std::string& text)
{
    // Written at once, unbuffered, so that a full disk shows now.
    if (!files.logOpen())
        return false;
    if (files.appendLog(text))
        return true;
    logProblem();
    return false;
}

void main_form::startLog()
{
    beginLog();
    const Interrupt never;
    std::atomic<int> permille{0};
    writeLogHead(never, permille);
}

void main_form::beginLog()
{
    sendStarted = QDateTime::currentDateTime();
    if (!data)
        return;
    data->log = log_check->isChecked();
}

void main_form::writeLogHead(const Interrupt& cancel, std::atomic<int>& permille)
{
    const QDateTime started = sendStarted;
    if (!data || !data->log)
        return;

    // Everything that needs memory is made before the file is written, so
    // that a failed allocation leaves no part of an entry behind.
    const Braille_Data& record = *data;
    std::string head = ASTERISKS + "\n";
    head += "Session started on: " + dateText(started) + "\n";
    head += "\n";
    head += "Trigger: " + std::to_string(record.triggerTime) + "\n";
    head += "After trigger: " + std::to_string(record.afterTriggerTime) + "\n";
    head += "Char duration: " + std::to_string(record.charTime) + "\n";
    head += "Interval: " + std::to_string(record.intervalTime) + "\n";
    if (record.mode == MODE_TEXT)
        head += "Loop: " + std::to_string(record.loops) + "\n";
    else
        head += "Length: " + std::to_string(record.length) + "\n";
    const bool text = record.mode == MODE_TEXT;
    head += text ? "Text: " : "Random sequence: ";
    const std::array<std::string, 256> texts = codeTexts(record.mode);
    std::string piece;
    piece.reserve(LOG_PIECE_BYTES + LONGEST_CODE_BYTES);

    // A log that could not be opened was told when it was taken.
    if (!writeLog(head))
        return;

    // A random line of two billion codes takes gigabytes: it goes out piece
    // by piece, so the log of any send needs no more memory than one piece.
    for (std::uint32_t i = 0; i < record.length; ++i) {
        if (i > 0 && !text)
            piece += ", ";
        piece += texts[record.word[i] & 0xFF];
        if (piece.size() >= LOG_PIECE_BYTES) {
            if (cancel.raised() || !writeLog(piece))
                return;
            piece.clear();
            permille = 500 + int(500 * std::uint64_t(i) / record.length);
        }
    }
    // An empty random list has no line end of its own: the tail's first one
    // ends it.
    if (text || record.length > 0)
        piece += '\n';
    writeLog(piece);
}

void main_form::closeLog()
{
    const QDateTime closed = QDateTime::currentDateTime();
    if (data && data->log)
        writeLog("\nSession closed on: " + dateText(closed) + "\n" + ASTERISKS + "\n");
    // Only now may another program write for this patient.
    files.release();
}
