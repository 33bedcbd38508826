#include "main_form.h"

#include "configuration_file.h"
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
#include <QStringList>

#include <ext/stdio_filebuf.h>
#include <limits>
#include <new>
#include <string>
#include <system_error>

namespace
{

const char FORMAT_PROBLEM[] = "The file doesn't seem to be in a correct format";
const char SAVE_PROBLEM[] = "There was a problem while trying to save the file";

// How many of a text file's problems the question lists.
constexpr std::size_t LISTED_PROBLEMS = 5;

// The magic line is line 1 of a text file; its body begins on line 2.
constexpr std::uint64_t BODY_LINE = 2;

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
    const int fd = ConfigurationFile::openRegular(QFile::encodeName(name), kind);
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

    const std::string magic = ConfigurationFile::readMagicLine(in);
    if (ConfigurationFile::isMagicLine(magic, ConfigurationFile::TEXT_MAGIC)) {
        playTextFile(in);
        afterSend();
        return;
    }
    // A configuration written with carriage returns keeps them in its values,
    // so the mode does not match and the operator is told.
    if (!ConfigurationFile::isMagicLine(magic, ConfigurationFile::MAGIC)) {
        error(FORMAT_PROBLEM);
        return;
    }

    QStringList values;
    try {
        if (!ConfigurationFile::read(in, values)) {
            error((QStringLiteral("Could not open ") + name).toUtf8().constData());
            return;
        }
    } catch (const std::bad_alloc&) {
        // A word as big as the memory left: the form stays reset.
        error(NO_MEMORY);
        return;
    }
    if (values.size() < ConfigurationFile::VALUES) {
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
    const QStringList lines = {QLatin1String(ConfigurationFile::MAGIC),
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
