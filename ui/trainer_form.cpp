#include "trainer_form.h"

#include "cp437.h"
#include "image_collection.h"
#include "main_form.h"
#include "nubtactile.h"
#include "pins.h"
#include "send_progress.h"
#include "termination.h"

#include <QEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <string>

namespace
{

// The code of one composed character, by the main window's conversion. That
// leaves out a character code page 437 lacks; here it becomes code 0, which
// has no cell, so it is still held for its duration, without a dot.
std::uint16_t codeOf(QChar c)
{
    const std::string code = textToCp437(QString(c));
    return code.empty() ? 0 : static_cast<unsigned char>(code.front());
}

QString noMemoryMessage()
{
    return QStringLiteral(
        "Not enough memory. Please stop the programs you are using and try again");
}

} // namespace

trainer_form::trainer_form(QWidget* parent, const char* name, bool modal, Qt::WindowFlags fl)
    : QDialog(parent, fl)
{
    setObjectName(name != nullptr ? QString::fromUtf8(name) : QStringLiteral("trainer_form"));
    setWindowIcon(pixmapFromMimeSource(QStringLiteral("braille.png")));
    // Training always holds the main window back, whatever the caller asked.
    Q_UNUSED(modal);
    setModal(true);

    groupBox5 = new QGroupBox(this);
    groupBox5->setObjectName(QStringLiteral("groupBox5"));
    groupBox5->setGeometry(20, 10, 200, 110);

    char_duration_label = new QLabel(groupBox5);
    char_duration_label->setObjectName(QStringLiteral("char_duration_label"));
    char_duration_label->setGeometry(20, 70, 90, 21);

    trainer_text = new QLineEdit(groupBox5);
    trainer_text->setObjectName(QStringLiteral("trainer_text"));
    trainer_text->setGeometry(20, 30, 160, 26);

    char_text = new QLineEdit(groupBox5);
    char_text->setObjectName(QStringLiteral("char_text"));
    char_text->setGeometry(120, 70, 60, 20);

    cancel_button = new QPushButton(this);
    cancel_button->setObjectName(QStringLiteral("cancel_button"));
    cancel_button->setGeometry(80, 130, 81, 31);
    // Return typed into the training field must not close the window, as it
    // would if the only button were the dialog's default; eventFilter gives
    // Return to the button itself when it has the focus.
    cancel_button->setAutoDefault(false);
    cancel_button->installEventFilter(this);

    // Where the operator looks while typing: the main window's status bar
    // lies under this modal window. Shown only when something was left out.
    left_out_label = new QLabel(this);
    left_out_label->setObjectName(QStringLiteral("left_out_label"));
    left_out_label->setGeometry(10, 162, 221, 18);
    left_out_label->hide();

    languageChange();
    resize(QSize(241, 180).expandedTo(minimumSizeHint()));

    connect(cancel_button, &QPushButton::clicked, this, &QWidget::close);
    connect(trainer_text, &QLineEdit::textChanged, this, &trainer_form::sendChar);

    setTabOrder(trainer_text, char_text);
    setTabOrder(char_text, cancel_button);

    init();
}

trainer_form::~trainer_form() = default;

void trainer_form::init()
{
    setWindowTitle(QStringLiteral("NUBTactile Trainer"));
}

void trainer_form::sendChar(const QString& string)
{
    const qsizetype n = string.length();
    if (string.isEmpty()) {
        leftOut.clear();
        showLeftOut();
    }

    const QByteArray duration = char_text->text().toUtf8();
    // An embedded NUL would end the C string early and let "5<NUL>x" pass.
    if (duration.contains('\0') || !main_form::isNumber(duration.constData())) {
        // Emptied while refused: the next text is compared with nothing, or
        // its first characters would be taken as already presented.
        if (trainer_text->text().isEmpty()) {
            lastText = string;
            return;
        }
        critical(QStringLiteral("Braille"),
                 QStringLiteral("The char duration text has a wrong format. Please check it and "
                                "try again"));
        trainer_text->clear();
        lastText = QStringLiteral("");
        return;
    }

    if (n <= lastText.length()) {
        lastText = string;
        return;
    }

    std::unique_ptr<Braille_Data> record(new (std::nothrow) Braille_Data);
    if (!record) {
        critical(QStringLiteral("NUBTactile"), noMemoryMessage());
        lastText = string;
        return;
    }
    record->triggerTime = 0;
    record->afterTriggerTime = 0;
    record->charTime = main_form::numberOf(duration.constData());
    record->intervalTime = 0;
    record->loops = 1;
    record->length = 1;
    record->mode = MODE_TEXT;

    // Composed, a letter followed by a combining accent is the accented
    // letter, as in the main window, rather than the bare letter and a mark
    // without a cell.
    const QString now = string.normalized(QString::NormalizationForm_C);
    const QString before = lastText.normalized(QString::NormalizationForm_C);
    const auto first =
        std::mismatch(now.cbegin(), now.cend(), before.cbegin(), before.cend()).first;
    if (first != now.cend()) {
        record->word.reset(new (std::nothrow) std::uint16_t[1]);
        if (record->word) {
            record->word[0] = codeOf(*first);
            // The transmission runs events. Its modal progress dialog keeps
            // keystrokes away from the field, but an event may still close and
            // delete this window: nothing of the window is touched once it is
            // gone. It drives the port the main window claimed last.
            const QPointer<trainer_form> alive(this);
            const Braille_Data& cell = *record;
            Outcome outcome = Outcome::Completed;
            QString failure;
            try {
                outcome = SendProgress::run([&cell](TransmissionObserver& observer,
                                                    const Interrupt& interrupt) {
                              return sendToParallelPort(cell, observer, interrupt);
                          }).outcome;
            } catch (const std::system_error& refused) {
                failure = QString::fromLatin1(main_form::NO_THREAD) +
                          QString::fromLocal8Bit(refused.what());
            }
            endIfSignalled();
            if (!alive)
                return;
            if (failure.isEmpty()) {
                leftOut.addText(QString(*first));
                showLeftOut();
            }
            if (outcome == Outcome::PortFailed)
                failure = QString::fromStdString(main_form::PORT_FAILED + portio_failure());
            if (!failure.isEmpty())
                critical(QStringLiteral("NUBTactile"), failure);
        } else {
            critical(QStringLiteral("NUBTactile"), noMemoryMessage());
        }
    }
    lastText = string;
}

void trainer_form::showLeftOut()
{
    left_out_label->setText(leftOut.note());
    left_out_label->setVisible(!left_out_label->text().isEmpty());
}

void trainer_form::languageChange()
{
    groupBox5->setTitle(tr("Type your text here"));
    char_duration_label->setText(tr("Char duration"));
    trainer_text->setToolTip(tr("Text to be sent to the braille cell"));
    char_text->setToolTip(tr("Duration of each char of the word (in miliseconds)"));
    cancel_button->setText(tr("Close"));
    cancel_button->setToolTip(tr("Close this window"));
}

void trainer_form::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        languageChange();
    QDialog::changeEvent(event);
}

bool trainer_form::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == cancel_button && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            cancel_button->click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void trainer_form::critical(const QString& caption, const QString& text)
{
    QMessageBox::critical(this, caption, text);
}
