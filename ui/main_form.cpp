#include "main_form.h"

#include "about_form.h"
#include "configuration_file.h"
#include "nubtactile.h"
#include "pport.h"
#include "synchronisation_dialog.h"
#include "synchronisation_file.h"
#include "time_audit.h"
#include "trainer_form.h"

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QIcon>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QStatusBar>
#include <QStringList>
#include <QStyle>

#include <algorithm>
#include <cstdio>
#include <ext/stdio_filebuf.h>
#include <iterator>
#include <limits>
#include <new>
#include <string>
#include <utility>

#include "xpm/image0.xpm"
#include "xpm/image1.xpm"
#include "xpm/image2.xpm"
#include "xpm/image3.xpm"

namespace
{

// Relative on purpose: the port choice belongs to the directory the program
// is started from.
const char* const PORT_FILE = "NUBTactile_pport.cfg";

const char FORMAT_PROBLEM[] = "The file doesn't seem to be in a correct format";
const char SAVE_PROBLEM[] = "There was a problem while trying to save the file";

// Menu-bar item identifiers; languageChange finds each item by its identifier.
constexpr int FILE_MENU_ID = 2;
constexpr int PARALLEL_PORT_MENU_ID = 3;
constexpr int HELP_MENU_ID = 4;
constexpr int SYNCHRONISATION_MENU_ID = 5;

template <typename Widget>
Widget* place(QWidget* parent, const char* name, int x, int y, int width, int height)
{
    auto* widget = new Widget(parent);
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(x, y, width, height);
    return widget;
}

QAction* makeAction(QObject* parent, const char* name)
{
    auto* action = new QAction(parent);
    action->setObjectName(QLatin1String(name));
    return action;
}

// Menu entries of which exactly one is checked.
QActionGroup* makeChoices(QObject* parent, const char* name)
{
    auto* group = new QActionGroup(parent);
    group->setObjectName(QLatin1String(name));
    group->setExclusive(true);
    return group;
}

QAction* makeChoice(QActionGroup* group, const char* name)
{
    QAction* action = makeAction(group, name);
    action->setCheckable(true);
    return action;
}

// Only the exact line "LPT2" selects LPT2; a file written elsewhere with
// "LPT2\r\n", a second line, or anything unreadable means LPT1. `problem`
// says why a file that is there could not be read.
bool portFileSelectsLpt2(std::string& problem)
{
    // Five bytes decide it, however long the file is; fewer mean its end.
    std::string head;
    return OwnFile::readHead(PORT_FILE, 5, head, problem) && (head == "LPT2\n" || head == "LPT2");
}

// A question with Yes and No that Return answers with `byDefault` and Escape
// with No; true for Yes. Plain text: a file name is shown as it is, never
// read as markup.
bool ask(QWidget* parent, const QString& caption, const QString& text,
         QMessageBox::StandardButton byDefault)
{
    QMessageBox question(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No,
                         parent);
    question.setTextFormat(Qt::PlainText);
    question.setDefaultButton(byDefault);
    question.setEscapeButton(QMessageBox::No);
    return question.exec() == QMessageBox::Yes;
}

// Menu actions show text() with its mnemonic ("&New"); iconText() keeps the
// plain name ("New") for anything that shows the action without a menu.
void setActionTexts(QAction* action, const QString& text, const QString& menuText)
{
    action->setIconText(text);
    action->setText(menuText);
}

} // namespace

main_form::main_form(QWidget* parent, const char* name, Qt::WindowFlags fl)
    : QMainWindow(parent, fl)
{
    image0 = QPixmap(image0_data);
    image1 = QPixmap(image1_data);
    image2 = QPixmap(image2_data);
    image3 = QPixmap(image3_data);

    // The window has a fixed size, so a resize grip would only mislead.
    statusBar()->setSizeGripEnabled(false);
    buildTimingSummary();
    setObjectName(name && *name ? QString::fromUtf8(name) : QStringLiteral("main_form"));

    QSizePolicy policy(QSizePolicy::Minimum, QSizePolicy::Minimum);
    policy.setHorizontalStretch(0);
    policy.setVerticalStretch(0);
    policy.setHeightForWidth(sizePolicy().hasHeightForWidth());
    setSizePolicy(policy);
    setWindowIcon(QIcon(image0));

    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("qt_central_widget"));
    setCentralWidget(central);

    patient_box = place<QGroupBox>(central, "patient_box", 20, 10, 181, 110);
    patient_name_text = place<QLineEdit>(patient_box, "patient_name_text", 90, 20, 70, 21);
    patient_name_text->setFrame(true);
    patient_last_name_text =
        place<QLineEdit>(patient_box, "patient_last_name_text", 90, 50, 70, 21);
    patient_last_name_label = place<QLabel>(patient_box, "patient_last_name_label", 10, 50, 80, 20);
    patient_name_label = place<QLabel>(patient_box, "patient_name_label", 10, 20, 70, 20);
    log_check = place<QCheckBox>(patient_box, "log_check", 10, 80, 160, 21);
    log_check->setChecked(true);

    pin_group = place<QGroupBox>(central, "pin_group", 20, 130, 181, 220);
    // In the strip under the groups, where the operator looks before Send;
    // the status bar is the last send's.
    sync_label = place<QLabel>(central, "sync_label", 20, 351, 371, 18);
    sync_label->hide();
    textLabel2 = place<QLabel>(pin_group, "textLabel2", 10, 140, 60, 21);
    pins_duration_text = place<QLineEdit>(pin_group, "pins_duration_text", 80, 140, 80, 21);
    pin_6_check = place<QCheckBox>(pin_group, "pin_6_check", 10, 110, 80, 21);
    pin_4_check = place<QCheckBox>(pin_group, "pin_4_check", 10, 80, 80, 21);
    pin_2_check = place<QCheckBox>(pin_group, "pin_2_check", 10, 50, 80, 21);
    pin_0_check = place<QCheckBox>(pin_group, "pin_0_check", 10, 20, 80, 21);
    pin_1_check = place<QCheckBox>(pin_group, "pin_1_check", 100, 20, 70, 21);
    pin_3_check = place<QCheckBox>(pin_group, "pin_3_check", 100, 50, 70, 21);
    pin_5_check = place<QCheckBox>(pin_group, "pin_5_check", 100, 80, 70, 21);
    pin_7_check = place<QCheckBox>(pin_group, "pin_7_check", 100, 110, 70, 21);
    pins_button = place<QPushButton>(pin_group, "pins_button", 40, 180, 100, 30);
    pins_button->setCheckable(false);
    pins_button->setAutoDefault(false);
    pins_button->setDefault(false);

    time_group_box = place<QGroupBox>(central, "time_group_box", 210, 10, 181, 340);
    time_group_box->setFlat(false);
    trigger_time_text = place<QLineEdit>(time_group_box, "trigger_time_text", 100, 20, 60, 20);
    after_trigger_time_text =
        place<QLineEdit>(time_group_box, "after_trigger_time_text", 100, 50, 60, 20);
    char_time_text = place<QLineEdit>(time_group_box, "char_time_text", 100, 80, 60, 20);
    after_char_time_text =
        place<QLineEdit>(time_group_box, "after_char_time_text", 100, 110, 60, 20);
    textLabel1 = place<QLabel>(time_group_box, "textLabel1", 10, 20, 80, 21);
    textLabel1_3 = place<QLabel>(time_group_box, "textLabel1_3", 10, 80, 90, 21);
    loop_count_label = place<QLabel>(time_group_box, "loop_count_label", 10, 140, 90, 21);
    textLabel1_4 = place<QLabel>(time_group_box, "textLabel1_4", 10, 110, 90, 21);
    textLabel1_2 = place<QLabel>(time_group_box, "textLabel1_2", 10, 50, 81, 21);
    send_button = place<QPushButton>(time_group_box, "send_button", 40, 300, 100, 30);
    send_button->setCheckable(false);
    send_button->setAutoDefault(false);
    send_button->setDefault(false);
    loop_count_text = place<QLineEdit>(time_group_box, "loop_count_text", 100, 140, 60, 20);

    sequence_box = place<QGroupBox>(time_group_box, "sequence_box", 10, 170, 160, 120);
    length_label = place<QLabel>(sequence_box, "length_label", 10, 90, 70, 21);
    length_label->setEnabled(false);
    word_text = place<QLineEdit>(sequence_box, "word_text", 50, 60, 100, 21);
    word_text->setEnabled(false);
    word_label = place<QLabel>(sequence_box, "word_label", 10, 60, 40, 21);
    word_label->setEnabled(false);
    mode_combo = place<QComboBox>(sequence_box, "mode_combo", 10, 30, 140, 21);
    mode_combo->setEditable(false);
    sequence_length_text = place<QLineEdit>(sequence_box, "sequence_length_text", 90, 90, 60, 20);
    sequence_length_text->setEnabled(false);

    fileNewMenu = makeAction(this, "fileNewMenu");
    fileNewMenu->setIcon(QIcon(image1));
    fileExitMenu = makeAction(this, "fileExitMenu");
    helpAboutMenu = makeAction(this, "helpAboutMenu");
    fileOpenMenu = makeAction(this, "fileOpenMenu");
    fileOpenMenu->setIcon(QIcon(image2));
    fileSaveMenu = makeAction(this, "fileSaveMenu");
    fileSaveMenu->setIcon(QIcon(image3));
    fileTrainingAction = makeAction(this, "fileTrainingAction");
    parallel_portAction = makeChoices(this, "parallel_portAction");
    LPT1Action = makeChoice(parallel_portAction, "LPT1Action");
    LPT2Action = makeChoice(parallel_portAction, "LPT2Action");
    synchronisationAction = makeChoices(this, "synchronisationAction");
    syncOffAction = makeChoice(synchronisationAction, "syncOffAction");
    syncPulseAction = makeChoice(synchronisationAction, "syncPulseAction");
    syncSettingsAction = makeAction(this, "syncSettingsAction");

    MenuBar = place<QMenuBar>(this, "MenuBar", 0, 0, 411, 28);
    setMenuBar(MenuBar);

    fileMenu = new QMenu(this);
    fileMenu->addAction(fileNewMenu);
    fileMenu->addAction(fileOpenMenu);
    fileMenu->addAction(fileSaveMenu);
    fileMenu->addSeparator();
    fileMenu->addAction(fileTrainingAction);
    fileMenu->addSeparator();
    fileMenu->addAction(fileExitMenu);
    MenuBar->addMenu(fileMenu)->setData(FILE_MENU_ID);

    parallelPortMenu = new QMenu(this);
    parallelPortMenu->addAction(LPT1Action);
    parallelPortMenu->addAction(LPT2Action);
    MenuBar->addMenu(parallelPortMenu)->setData(PARALLEL_PORT_MENU_ID);

    synchronisationMenu = new QMenu(this);
    synchronisationMenu->addAction(syncOffAction);
    synchronisationMenu->addAction(syncPulseAction);
    synchronisationMenu->addSeparator();
    synchronisationMenu->addAction(syncSettingsAction);
    MenuBar->addMenu(synchronisationMenu)->setData(SYNCHRONISATION_MENU_ID);

    helpMenu = new QMenu(this);
    helpMenu->addAction(helpAboutMenu);
    MenuBar->addMenu(helpMenu)->setData(HELP_MENU_ID);

    languageChange();
    resize(QSize(411, 413).expandedTo(minimumSizeHint()));

    connect(fileNewMenu, &QAction::triggered, this, &main_form::fileNew);
    connect(fileExitMenu, &QAction::triggered, this, &QWidget::close);
    connect(helpAboutMenu, &QAction::triggered, this, &main_form::helpAbout);
    connect(fileSaveMenu, &QAction::triggered, this, &main_form::fileSave);
    connect(fileOpenMenu, &QAction::triggered, this, &main_form::fileOpen);
    connect(send_button, &QPushButton::clicked, this, &main_form::setTimes);
    connect(pins_button, &QPushButton::clicked, this, &main_form::setPins);
    connect(log_check, &QCheckBox::clicked, this, &main_form::logShow);
    connect(mode_combo, &QComboBox::activated, this, &main_form::randomShow);
    connect(fileTrainingAction, &QAction::triggered, this, &main_form::trainingSession);
    connect(LPT1Action, &QAction::triggered, this, &main_form::initPPort);
    connect(LPT2Action, &QAction::triggered, this, &main_form::initPPort);
    connect(syncOffAction, &QAction::triggered, this, &main_form::synchronisationChosen);
    connect(syncPulseAction, &QAction::triggered, this, &main_form::synchronisationChosen);
    connect(syncSettingsAction, &QAction::triggered, this, &main_form::synchronisationSettings);

    QWidget* const chain[] = {
        patient_name_text,
        patient_last_name_text,
        log_check,
        pin_0_check,
        pin_1_check,
        pin_2_check,
        pin_3_check,
        pin_4_check,
        pin_5_check,
        pin_6_check,
        pin_7_check,
        pins_duration_text,
        pins_button,
        trigger_time_text,
        after_trigger_time_text,
        char_time_text,
        after_char_time_text,
        loop_count_text,
        mode_combo,
        word_text,
        sequence_length_text,
        send_button,
    };
    for (std::size_t i = 1; i < std::size(chain); ++i)
        setTabOrder(chain[i - 1], chain[i]);

    init();
}

main_form::~main_form() = default;

void main_form::initPPort()
{
    const std::optional<PortRefusal> refusal = claimChosenPort();
    if (!refusal)
        return;
    tellPortRefusal(*refusal);
    // Not through closeEvent, which would save the choice that was refused.
    deleteLater();
    QCoreApplication::exit(1);
}

std::optional<PortRefusal> main_form::claimChosenPort()
{
    port = LPT1Action->isChecked() ? LPT1_BASE : LPT2_BASE;
    std::optional<PortRefusal> refusal = initializeParallelPort(port);
    // A refused port ends the program; the label would name the one before.
    if (!refusal)
        port_label->setText(QString::fromStdString(drivenPort()));
    return refusal;
}

const PortRefusal* main_form::portRefusedAtStart() const
{
    return refusedAtStart ? &*refusedAtStart : nullptr;
}

void main_form::tellPortRefusal(const PortRefusal& refusal)
{
    std::string text;
    for (const std::string& line : refusal.lines) {
        std::fprintf(stderr, "%s\n", line.c_str());
        text += (text.empty() ? "" : "\n") + line;
    }
    // Started from a desktop menu, the program has no terminal: without the
    // box it would vanish without a word.
    if (hasDisplay())
        error(text.c_str());
}

bool main_form::hasDisplay() const
{
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

void main_form::error(const char* msg)
{
    // Plain text: a message may carry a file or patient name, which must be
    // shown as typed, never interpreted as markup.
    QMessageBox box(QMessageBox::Critical, QStringLiteral("NUBTactile"), QString::fromUtf8(msg),
                    QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void main_form::languageChange()
{
    setWindowTitle(tr("main_form"));
    patient_box->setTitle(tr("Patients information"));
    patient_name_text->setToolTip(tr("Your name"));
    patient_last_name_text->setToolTip(tr("Your last name"));
    patient_last_name_label->setText(tr("Last name"));
    patient_name_label->setText(tr("Name"));
    log_check->setText(tr("Log this session"));
    log_check->setToolTip(tr("Set this mark on for saving your actions in a log file"));
    pin_group->setTitle(tr("Pins"));
    textLabel2->setText(tr("Duration"));
    pins_duration_text->setToolTip(tr("The duration of the signal (in miliseconds)"));
    pin_6_check->setText(tr("Pin 6"));
    pin_6_check->setToolTip(
        tr("If this mark is checked, pin 6 will be activated on the braille display"));
    pin_4_check->setText(tr("Pin 4"));
    pin_4_check->setToolTip(
        tr("If this mark is checked, pin 4 will be activated on the braille displaysplay"));
    pin_2_check->setText(tr("Pin 2"));
    pin_2_check->setToolTip(
        tr("If this mark is checked, pin 2 will be activated on the braille display"));
    pin_0_check->setText(tr("Pin 0"));
    pin_0_check->setToolTip(
        tr("If this mark is checked, pin 0 will be activated on the braille display"));
    pin_1_check->setText(tr("Pin 1"));
    pin_1_check->setToolTip(
        tr("If this mark is checked, pin 1 will be activated on the braille display"));
    pin_3_check->setText(tr("Pin 3"));
    pin_3_check->setToolTip(
        tr("If this mark is checked, pin 3 will be activated on the braille display"));
    pin_5_check->setText(tr("Pin 5"));
    pin_5_check->setToolTip(
        tr("If this mark is checked, pin 5 will be activated on the braille display"));
    pin_7_check->setText(tr("Pin 7"));
    pin_7_check->setToolTip(
        tr("If this mark is checked, pin 7 will be activated on the braille display"));
    pins_button->setText(tr("Single shot"));
    pins_button->setToolTip(tr("Send the singal acording to the information above"));
    time_group_box->setTitle(tr("Times"));
    trigger_time_text->setText(QString());
    trigger_time_text->setToolTip(
        tr("Trigger time. Sets the duration of the trigger signal (in miliseconds)"));
    after_trigger_time_text->setText(QString());
    after_trigger_time_text->setToolTip(
        tr("Sets the duration of the period between the end of the trigger signal and the start "
           "of the first character signal (in miliseconds)"));
    char_time_text->setText(QString());
    char_time_text->setToolTip(tr("Duration of each char of the word (in miliseconds)"));
    after_char_time_text->setText(QString());
    after_char_time_text->setToolTip(
        tr("Interval period between the end of the signal of one character and the start of the "
           "next one (in miliseconds)"));
    textLabel1->setText(tr("Trigger"));
    textLabel1_3->setText(tr("Char duration"));
    loop_count_label->setText(tr("Loop"));
    textLabel1_4->setText(tr("Interval"));
    textLabel1_2->setText(tr("After trigger"));
    send_button->setText(tr("Send"));
    send_button->setToolTip(tr("Send the signals acording to the information given above"));
    loop_count_text->setText(QString());
    loop_count_text->setToolTip(tr("Number of repetitions of the word"));
    sequence_box->setTitle(tr("Sequence"));
    length_label->setText(tr("Length"));
    word_text->setText(QString());
    word_text->setToolTip(tr("Word to codify into braille"));
    word_label->setText(tr("Text"));
    mode_combo->clear();
    mode_combo->addItem(tr("Select a mode"));
    mode_combo->addItem(tr("Text"));
    mode_combo->addItem(tr("Random valid"));
    mode_combo->addItem(tr("Random non-valid"));
    mode_combo->addItem(tr("Random mixed"));
    mode_combo->setToolTip(tr("Data mode to be sent to the braille cell"));
    sequence_length_text->setToolTip(tr("Number of random braille characters to send"));

    setActionTexts(fileNewMenu, tr("New"), tr("&New"));
    fileNewMenu->setShortcut(QKeySequence(tr("Ctrl+N")));
    setActionTexts(fileExitMenu, tr("Exit"), tr("E&xit"));
    fileExitMenu->setShortcut(QKeySequence(tr("Ctrl+Q")));
    setActionTexts(helpAboutMenu, tr("About"), tr("&About"));
    helpAboutMenu->setToolTip(tr("About"));
    helpAboutMenu->setShortcut(QKeySequence(tr("F9")));
    setActionTexts(fileOpenMenu, tr("Open"), tr("&Open"));
    fileOpenMenu->setToolTip(tr("Open"));
    fileOpenMenu->setShortcut(QKeySequence(tr("Ctrl+O")));
    setActionTexts(fileSaveMenu, tr("Save"), tr("&Save"));
    fileSaveMenu->setToolTip(tr("Save"));
    fileSaveMenu->setShortcut(QKeySequence(tr("Ctrl+S")));
    setActionTexts(fileTrainingAction, tr("Training session"), tr("Training session"));
    fileTrainingAction->setToolTip(tr("Training session"));
    fileTrainingAction->setShortcut(QKeySequence(tr("Ctrl+T")));
    setActionTexts(LPT1Action, tr("LPT1"), tr("LPT1"));
    LPT1Action->setToolTip(tr("LPT1"));
    LPT1Action->setShortcut(QKeySequence(tr("F1")));
    setActionTexts(LPT2Action, tr("LPT2"), tr("LPT2"));
    LPT2Action->setToolTip(tr("LPT2"));
    LPT2Action->setShortcut(QKeySequence(tr("F2")));
    sync_label->setToolTip(tr("What each send waits for and records (Synchronisation menu)"));
    setActionTexts(syncOffAction, tr("Start on click"), tr("Start on &click"));
    setActionTexts(syncPulseAction, tr("Start on scanner pulse"), tr("Start on scanner &pulse"));
    setActionTexts(syncSettingsAction, tr("Settings"), tr("&Settings..."));

    const std::pair<int, QString> items[] = {
        {FILE_MENU_ID, tr("&File")},
        {PARALLEL_PORT_MENU_ID, tr("&Parallel Port")},
        {SYNCHRONISATION_MENU_ID, tr("&Synchronisation")},
        {HELP_MENU_ID, tr("&Help")},
    };
    const QList<QAction*> entries = MenuBar->actions();
    for (const auto& [id, text] : items) {
        for (QAction* entry : entries) {
            if (entry->data() == QVariant(id))
                entry->setText(text);
        }
    }
}

void main_form::init()
{
    setWindowTitle(QStringLiteral("NUBTactile"));
    designHeight = height();
    std::string problem;
    (portFileSelectsLpt2(problem) ? LPT2Action : LPT1Action)->setChecked(true);
    // Silently meaning LPT1 could drive the wrong socket all session long.
    QStringList unread;
    if (!problem.empty())
        unread << QStringLiteral("The port file %1 could not be read (%2), so LPT1 is "
                                 "used.")
                      .arg(QString::fromLatin1(PORT_FILE), QString::fromStdString(problem));
    // A send that would silently start on click, where the protocol says on
    // a pulse, is as wrong as the wrong socket.
    applySynchronisation(SynchronisationFile::load(SynchronisationFile::NAME, problem), false);
    if (!problem.empty())
        unread << QString::fromStdString(problem);
    port_file_label->setText(unread.join(u'\n'));
    port_file_label->setVisible(!unread.isEmpty());
    // Nobody can be told from inside the constructor, nor the event loop
    // ended before it runs: main() reports a refusal once the window exists.
    refusedAtStart = claimChosenPort();
}

void main_form::synchronisationChosen()
{
    Synchronisation settings = sender.synchronisation();
    settings.waitForPulse = syncPulseAction->isChecked();
    applySynchronisation(settings, true);
}

void main_form::synchronisationSettings()
{
    SynchronisationDialog dialog(sender.synchronisation(), this);
    if (dialog.exec() == QDialog::Accepted)
        applySynchronisation(dialog.settings(), true);
}

void main_form::applySynchronisation(const Synchronisation& settings, bool save)
{
    sender.setSynchronisation(settings);
    (settings.waitForPulse ? syncPulseAction : syncOffAction)->setChecked(true);
    QStringList parts;
    if (settings.waitForPulse)
        parts << tr("Pulse %1 on pin %2").arg(settings.pulseNumber).arg(settings.pulsePin);
    if (settings.watchesAnswers()) {
        QStringList pins;
        for (const int pin : settings.answerPins)
            pins << QString::number(pin);
        parts << (parts.isEmpty() ? tr("Answers on %1") : tr("answers on %1"))
                     .arg(pins.join(QStringLiteral(", ")));
    }
    sync_label->setText(parts.join(QStringLiteral(" \u00b7 ")));
    sync_label->setVisible(!parts.isEmpty());
    std::string problem;
    if (save && !SynchronisationFile::save(SynchronisationFile::NAME, settings, problem))
        error(("The synchronisation settings could not be saved to " +
               std::string(SynchronisationFile::NAME) + " (" + problem +
               "); they hold until the program ends.")
                  .c_str());
}

bool main_form::close(bool)
{
    return QWidget::close();
}

void main_form::closeEvent(QCloseEvent* event)
{
    // The send ends first, as an Abort, with its files completed; the slot
    // that ran it closes the window then.
    if (SendProgress::running()) {
        closeAfterSend = true;
        SendProgress::abortRunning();
        event->ignore();
        return;
    }
    event->accept();
    // The window system, the Exit action and the application's quit can each
    // ask again while the first request is still being handled.
    if (closing)
        return;
    closing = true;

    // Not saved when it cannot be: the program is ending, and there is no
    // one left to tell.
    std::string problem;
    OwnFile::replace(PORT_FILE, LPT1Action->isChecked() ? "LPT1\n" : "LPT2\n", problem);
    resetParallelPort();

    deleteLater();
    QCoreApplication::exit(0);
}

void main_form::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::LanguageChange)
        return;
    // Setting the texts anew also clears the time fields, refills the mode list
    // and puts back the start-up caption; a translator installed while the
    // operator works must not cost what was typed or chosen.
    const QList<QLineEdit*> fields = findChildren<QLineEdit*>();
    QStringList typed;
    for (const QLineEdit* field : fields)
        typed << field->text();
    const int mode = mode_combo->currentIndex();
    const QString caption = windowTitle();

    languageChange();

    for (int i = 0; i < fields.size(); ++i)
        fields[i]->setText(typed[i]);
    mode_combo->setCurrentIndex(mode);
    setWindowTitle(caption);
}

void main_form::buildTimingSummary()
{
    timing_warning_label = new QLabel(statusBar());
    timing_warning_label->setObjectName(QStringLiteral("timing_warning_label"));
    const int side = style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, this);
    timing_warning_label->setPixmap(
        style()->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, this).pixmap(side, side));
    timing_warning_label->hide();
    timing_summary_label = new QLabel(statusBar());
    timing_summary_label->setObjectName(QStringLiteral("timing_summary_label"));
    // The line with its warning is wider than the fixed window: it wraps
    // rather than hide how many cells were off.
    timing_summary_label->setWordWrap(true);
    statusBar()->addWidget(timing_warning_label);
    statusBar()->addWidget(timing_summary_label, 1);
    port_file_label = new QLabel(statusBar());
    port_file_label->setObjectName(QStringLiteral("port_file_label"));
    port_file_label->setWordWrap(true);
    port_file_label->hide();
    statusBar()->addWidget(port_file_label, 1);
    port_label = new QLabel(statusBar());
    port_label->setObjectName(QStringLiteral("port_label"));
    // Kept off the window's edge, where the last letter would touch the frame.
    port_label->setContentsMargins(0, 0, style()->pixelMetric(QStyle::PM_LayoutRightMargin), 0);
    statusBar()->addPermanentWidget(port_label);
}

void main_form::showTimingSummary(const TimingSummary& summary)
{
    const std::string line = summary.text();
    timing_summary_label->setText(QString::fromStdString(line));
    timing_warning_label->setVisible(summary.warning());
    fitStatusBar();
    if (timingSummaryListener)
        timingSummaryListener(line);
}

void main_form::showLeftOut(const QString& note)
{
    // Under the summary, which the next send replaces with its own.
    if (!note.isEmpty())
        timing_summary_label->setText(timing_summary_label->text() + u'\n' + note);
    fitStatusBar();
}

void main_form::fitStatusBar()
{
    // The form keeps its fixed rectangles: a summary of several lines makes
    // the window taller rather than cover the form's lower edge, buttons
    // included.
    const int lines = timing_summary_label->heightForWidth(timing_summary_label->width());
    const int extra = std::max(0, lines - timing_summary_label->fontMetrics().height());
    setFixedHeight(designHeight + extra);
}

SendForm main_form::sendForm() const
{
    SendForm form;
    form.log = log_check->isChecked();
    form.name = patient_name_text->text();
    form.lastName = patient_last_name_text->text();
    form.trigger = trigger_time_text->text();
    form.afterTrigger = after_trigger_time_text->text();
    form.charDuration = char_time_text->text();
    form.interval = after_char_time_text->text();
    form.mode = mode_combo->currentIndex();
    form.loops = loop_count_text->text();
    form.word = word_text->text();
    form.length = sequence_length_text->text();
    form.pinsDuration = pins_duration_text->text();
    const QCheckBox* const pinChecks[8] = {pin_0_check, pin_1_check, pin_2_check, pin_3_check,
                                           pin_4_check, pin_5_check, pin_6_check, pin_7_check};
    for (int i = 0; i < 8; ++i)
        form.pins[i] = pinChecks[i]->isChecked();
    return form;
}

bool main_form::checkValues()
{
    return sender.check(sendForm());
}

void main_form::setTimes()
{
    sender.sendSequence();
}

void main_form::setPins()
{
    sender.sendPins();
}

void main_form::send()
{
    sender.send();
}

void main_form::startLog()
{
    sender.startLog();
}

void main_form::closeLog()
{
    sender.closeLog();
}

void main_form::sendEnded()
{
    if (closeAfterSend)
        close();
}

void main_form::randomShow()
{
    const int mode = mode_combo->currentIndex();
    const bool text = mode == MODE_TEXT;
    const bool random = mode >= MODE_RANDOM_VALID;
    loop_count_label->setEnabled(text);
    loop_count_text->setEnabled(text);
    word_label->setEnabled(text);
    word_text->setEnabled(text);
    length_label->setEnabled(random);
    sequence_length_text->setEnabled(random);
}

void main_form::logShow()
{
    const bool on = log_check->isChecked();
    patient_name_label->setEnabled(on);
    patient_name_text->setEnabled(on);
    patient_last_name_label->setEnabled(on);
    patient_last_name_text->setEnabled(on);
}

// Each request opens a new window that nothing refers to afterwards, so it
// frees itself when closed.

void main_form::trainingSession()
{
    auto* trainer = new trainer_form(nullptr, nullptr, false);
    trainer->setAttribute(Qt::WA_DeleteOnClose);
    trainer->show();
}

void main_form::helpAbout()
{
    auto* about = new about_form(nullptr, nullptr, false);
    about->setAttribute(Qt::WA_DeleteOnClose);
    about->show();
}

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
    return ask(this, tr("Overwrite file?"),
               tr("A file called %1 already exists. Do you want to overwrite it?").arg(fileName),
               QMessageBox::Yes);
}

bool main_form::confirmTextFile(const QString& problems)
{
    // Sending what the operator did not mean cannot be taken back.
    return ask(this, tr("Send this text file?"), problems, QMessageBox::No);
}

bool main_form::confirmSendUnlogged(const QString& fileName)
{
    // Nothing goes out unless the operator says so: Return and Escape alike
    // keep the stimulus back.
    return ask(this, QStringLiteral("NUBTactile"),
               tr("Another program is writing %1 for this patient now.\n"
                  "Send without logging this session?")
                   .arg(fileName),
               QMessageBox::No);
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
        sender.sendTextFile(in);
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
