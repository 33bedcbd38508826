#include "main_form.h"

#include "progress_observer.h"

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

#include <fstream>
#include <iterator>
#include <string>

namespace
{

const char CONFIGURATION_MAGIC[] = "#!NUBTactile_CONFIGURATION_FILE!#";
const char TEXT_MAGIC[] = "#!NUBTactile_TEXT_FILE!#";
const char FORMAT_PROBLEM[] = "The file doesn't seem to be in a correct format";
const char SAVE_PROBLEM[] = "There was a problem while trying to save the file";

// Values 1 to 7 of a configuration: trigger, after trigger, char duration,
// interval, loop, mode, word or length.
constexpr int CONFIGURATION_VALUES = 7;

// Files are written in UTF-8; one made by hand in a Latin-1 editor is not
// valid UTF-8 and is read as Latin-1 instead.
QString decodeConfiguration(const std::string& bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
    if (utf8.hasError())
        return QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
    return text;
}

// The values after the magic line: one per line, an empty line an empty
// value, a last line without line feed still a value, an empty end none;
// lines after the seventh value go onto the seventh after two blanks.
QStringList configurationValues(const QString& body)
{
    QStringList lines = body.split(QLatin1Char('\n'));
    // After a final line feed, or in an empty body, split() leaves an empty
    // piece that is not a line.
    if (body.isEmpty() || body.endsWith(QLatin1Char('\n')))
        lines.removeLast();
    while (lines.size() > CONFIGURATION_VALUES) {
        lines[CONFIGURATION_VALUES - 1] += QStringLiteral("  ") + lines.at(CONFIGURATION_VALUES);
        lines.removeAt(CONFIGURATION_VALUES);
    }
    return lines;
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
    const QMessageBox::StandardButton answer = QMessageBox::question(
        this, tr("Overwrite file?"),
        tr("A file called %1 already exists. Do you want to overwrite it?").arg(fileName),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    return answer == QMessageBox::Yes;
}

void main_form::fileOpen()
{
    const QString name = openFileName();
    if (name.isEmpty() || !QFileInfo::exists(name))
        return;

    std::ifstream in(QFile::encodeName(name).constData(), std::ios::in | std::ios::binary);
    // A directory opens like a file and fails only at the first read.
    in.peek();
    if (!in.is_open() || in.bad()) {
        error((QStringLiteral("Could not open ") + name).toUtf8().constData());
        return;
    }
    in.clear();

    fileNew();

    std::string magic;
    std::getline(in, magic);

    if (magic == TEXT_MAGIC) {
        sendToParallelPort(in, app, LPT1Action->isChecked() ? LPT1_BASE : LPT2_BASE);
        return;
    }
    // A configuration written with carriage returns is still recognised; its
    // values keep them, so the mode does not match and the operator is told.
    if (magic != CONFIGURATION_MAGIC && magic != std::string(CONFIGURATION_MAGIC) + '\r') {
        error(FORMAT_PROBLEM);
        return;
    }

    const std::string body{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) {
        error((QStringLiteral("Could not open ") + name).toUtf8().constData());
        return;
    }
    const QStringList values = configurationValues(decodeConfiguration(body));
    if (values.size() < CONFIGURATION_VALUES) {
        error(FORMAT_PROBLEM);
        return;
    }

    const QString& mode = values.at(5);
    const QString& sequence = values.at(6);
    if (mode == QLatin1String("0")) {
        mode_combo->setCurrentIndex(0);
    } else if (mode == QLatin1String("1")) {
        word_label->setEnabled(true);
        word_text->setEnabled(true);
        word_text->setText(sequence);
        mode_combo->setCurrentIndex(1);
    } else if (mode == QLatin1String("2") || mode == QLatin1String("3") ||
               mode == QLatin1String("4")) {
        length_label->setEnabled(true);
        sequence_length_text->setEnabled(true);
        sequence_length_text->setText(sequence);
        mode_combo->setCurrentIndex(mode.toInt());
    } else {
        error(FORMAT_PROBLEM);
    }
    trigger_time_text->setText(values.at(0));
    after_trigger_time_text->setText(values.at(1));
    char_time_text->setText(values.at(2));
    after_char_time_text->setText(values.at(3));
    loop_count_text->setText(values.at(4));
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
