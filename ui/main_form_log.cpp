#include "main_form.h"

#include "cp437.h"
#include "nubtactile.h"

#include <QCheckBox>
#include <QDateTime>
#include <QLineEdit>
#include <QLocale>

#include <string>

namespace
{

const char LOG_PROBLEM[] = "There was a problem while trying to save the log information";
const std::string ASTERISKS(48, '*');

// Always English names, whatever the operator's locale, so that every log
// reads the same and a script can parse it.
std::string dateText(const QDateTime& moment)
{
    return QLocale::c().toString(moment, QStringLiteral("ddd MMM d hh:mm:ss yyyy")).toStdString();
}

std::string codeAsCharacter(std::uint16_t code)
{
    return cp437ToUtf8(static_cast<unsigned char>(code & 0xFF));
}

std::string codeAsNumber(std::uint16_t code)
{
    return std::to_string(code);
}

// The line that says what was presented; a random list of length 0 has no
// line end of its own (the tail's first line end closes it).
std::string presentedLine(const Braille_Data& record)
{
    std::string line;
    if (record.mode == MODE_TEXT) {
        line = "Text: ";
        for (std::uint32_t i = 0; i < record.length; ++i)
            line += codeAsCharacter(record.word[i]);
        return line + "\n";
    }
    line = "Random sequence: ";
    for (std::uint32_t i = 0; i < record.length; ++i) {
        const std::uint16_t code = record.word[i];
        if (i > 0)
            line += ", ";
        const bool asCharacter = record.mode == MODE_RANDOM_VALID ||
                                 (record.mode == MODE_RANDOM_MIXED && isValidCode(code));
        line += asCharacter ? codeAsCharacter(code) : codeAsNumber(code);
    }
    if (record.length > 0)
        line += "\n";
    return line;
}

} // namespace

QString main_form::logFileName() const
{
    // The result always holds "_" and ends in ".log", so once no "/" is left
    // it is one plain name in the working directory (never "." or "..").
    QString name =
        patient_name_text->text() + QLatin1Char('_') + patient_last_name_text->text() + ".log";
    for (int i = 0; i < name.size(); ++i) {
        const QChar c = name.at(i);
        if (c.isHighSurrogate() && i + 1 < name.size() && name.at(i + 1).isLowSurrogate()) {
            ++i;
            continue;
        }
        if (c == QLatin1Char(' ') || c == QLatin1Char('/') ||
            c.category() == QChar::Other_Control || c.isSurrogate())
            name[i] = QLatin1Char('_');
    }
    return name;
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
    error(LOG_PROBLEM);
    return false;
}

void main_form::startLog()
{
    const QDateTime started = QDateTime::currentDateTime();
    if (!data)
        return;
    data->log = log_check->isChecked();
    if (!data->log)
        return;

    data->logFile.open(logFileName().toUtf8().constData(),
                       std::ios::out | std::ios::app | std::ios::binary);
    if (!data->logFile.is_open()) {
        error(LOG_PROBLEM);
        return;
    }

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
    head += presentedLine(record);
    writeLog(head);
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
