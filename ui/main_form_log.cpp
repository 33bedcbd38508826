#include "main_form.h"

#include "cp437.h"
#include "interrupt.h"
#include "nubtactile.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QLineEdit>
#include <QLocale>
#include <QThread>

#include <array>
#include <string>

namespace
{

const char LOG_PROBLEM[] = "There was a problem while trying to save the log information";
const std::string ASTERISKS(48, '*');
// The presented line goes to the file in pieces of about this many bytes.
constexpr std::size_t LOG_PIECE_BYTES = 4096;
// The longest text of one code and its separator: three digits and ", ".
constexpr std::size_t LONGEST_CODE_BYTES = 5;
// The longest file name, in bytes, that Linux file systems accept.
constexpr qsizetype FILE_NAME_MAX_BYTES = 255;

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

} // namespace

QString main_form::patientFileName(const QString& suffix) const
{
    // The base always holds "_" and the name ends in the suffix, so once no
    // "/" is left it is one plain name in the working directory (never "."
    // or "..").
    QString base = patient_name_text->text() + QLatin1Char('_') + patient_last_name_text->text();
    const qsizetype suffixBytes = suffix.toUtf8().size();
    qsizetype bytes = 0;
    qsizetype kept = 0;
    while (kept < base.size()) {
        const QChar c = base.at(kept);
        const bool pair =
            c.isHighSurrogate() && kept + 1 < base.size() && base.at(kept + 1).isLowSurrogate();
        if (!pair && (c == QLatin1Char(' ') || c == QLatin1Char('/') ||
                      c.category() == QChar::Other_Control || c.isSurrogate()))
            base[kept] = QLatin1Char('_');
        // Its size in UTF-8: a longer name would be refused by the file
        // system, and then every send would lose its log. Two names that
        // differ only beyond the limit share a file, which is better than none.
        const ushort unit = base.at(kept).unicode();
        const int characterBytes = pair ? 4 : unit < 0x80 ? 1 : unit < 0x800 ? 2 : 3;
        if (bytes + characterBytes + suffixBytes > FILE_NAME_MAX_BYTES)
            break;
        bytes += characterBytes;
        kept += pair ? 2 : 1;
    }
    base.truncate(kept);
    return base + suffix;
}

void main_form::reportLogProblem()
{
    const bool busy = QApplication::overrideCursor() != nullptr;
    if (busy)
        QApplication::restoreOverrideCursor();
    error(LOG_PROBLEM);
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
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
    std::fstream& log = data->logFile;
    if (!log.is_open() || !log.good())
        return false;
    log.write(text.data(), std::streamsize(text.size()));
    // Flushed at once so that a full disk shows now, not when the file closes.
    log.flush();
    if (log.good())
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
    logFileName = data->log ? patientFileName(QStringLiteral(".log")).toUtf8() : QByteArray();
}

void main_form::writeLogHead(const Interrupt& cancel, std::atomic<int>& permille)
{
    const QDateTime started = sendStarted;
    if (!data || !data->log)
        return;

    // Everything that needs memory is made before the file is opened, so that
    // a failed allocation leaves no part of an entry behind.
    const Braille_Data& record = *data;
    const QByteArray& fileName = logFileName;
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

    data->logFile.open(fileName.constData(), std::ios::out | std::ios::app | std::ios::binary);
    if (!data->logFile.is_open()) {
        logProblem();
        return;
    }
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
    if (!data || !data->log)
        return;
    writeLog("\nSession closed on: " + dateText(closed) + "\n" + ASTERISKS + "\n");
    if (data->logFile.is_open())
        data->logFile.close();
}
