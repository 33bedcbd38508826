// The main window as it starts and ends: Tab order and starting states, menus
// and what reaches each slot, a language change, the port file and the port
// actions, the one shutdown path, and a refused port with its box; and the
// windows it opens: About, with the pictures built into the program, and the
// Trainer.

#include "about_form.h"
#include "failing_allocation.h"
#include "image_collection.h"
#include "image_embedding.h"
#include "main_form.h"
#include "named.h"
#include "nubtactile.h"
#include "output_capture.h"
#include "port_session.h"
#include "portio_sim.h"
#include "pport.h"
#include "synchronisation_file.h"
#include "trainer_form.h"
#include "window_text.h"

#include <QtTest>
#include <QtWidgets>

#include <sys/stat.h>

namespace
{

// Records the slots an operator reaches; the file, window and sending slots
// only record, so nothing modal opens.
class RecordingForm : public main_form
{
public:
    QStringList calls;
    int display = -1; // 0 or 1 in place of the platform's answer

    bool hasDisplay() const override { return display < 0 ? main_form::hasDisplay() : display; }
    void fileNew() override { calls << "fileNew"; }
    void fileOpen() override { calls << "fileOpen"; }
    void fileSave() override { calls << "fileSave"; }
    void trainingSession() override { calls << "trainingSession"; }
    void helpAbout() override { calls << "helpAbout"; }
    void setTimes() override { calls << "setTimes"; }
    void setPins() override { calls << "setPins"; }
    void randomShow() override { calls << "randomShow"; }
    void logShow() override { calls << "logShow"; }
    void synchronisationChosen() override { calls << "synchronisationChosen"; }
    void synchronisationSettings() override { calls << "synchronisationSettings"; }
};

// The window's own Synchronisation slots, as an operator reaches them.
class SyncForm : public main_form
{
public:
    QStringList errors;
    void error(const char* msg) override { errors << QString::fromUtf8(msg); }
};

const QString PORT_FILE = "NUBTactile_pport.cfg";
const QString SYNC_FILE = "NUBTactile_sync.cfg";

// The data-register writes from number `mark` on, as "address=value ...";
// moves the mark past them.
QString dataWrites(std::size_t& mark)
{
    QStringList out;
    for (const auto& all = portsim::writes(); mark < all.size(); ++mark)
        if (all[mark].address % 0x100 == 0x78)
            out << QString("%1=%2").arg(all[mark].address, 0, 16).arg(all[mark].value);
    return out.join(' ');
}

// Writes `bytes` to a new file `name`.
bool writeFile(const QString& name, const QByteArray& bytes)
{
    QFile file(name);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class TestMainForm : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QPointer<RecordingForm> form;

    // A fresh window in the test's directory, on a fresh simulated port.
    void makeForm(const QByteArray& portFile = {}) // null: no port file
    {
        // Only the window's own shutdown path may end the event loop here.
        QApplication::setQuitOnLastWindowClosed(false);
        QVERIFY(QDir::setCurrent(dir.path()));
        QVERIFY(portFile.isNull() || writeFile(PORT_FILE, portFile));
        portsim::reset();
        form = new RecordingForm;
    }

private slots:
    void cleanup()
    {
        delete form;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
        QCOMPARE(MimeSourceFactory::defaultFactory()->factories().size(), std::size_t(1));
        QVERIFY(!QFile::exists(PORT_FILE) || QFile::remove(PORT_FILE) || QDir().rmdir(PORT_FILE));
    }

    // As built: the Tab order, the window's name and what starts disabled
    // ("-") or checked, default or flat ("+"), every text the operator reads, each menu entry
    // with its icon ("*"), accelerator and the slot it reaches, and the
    // widgets' slots. A language change keeps what the operator entered.
    void startingState()
    {
        makeForm();
        auto* const modes = named<QComboBox>(*form, "mode_combo");
        QStringList chain, states{form->objectName()}, menus;
        for (QWidget* w = named<QLineEdit>(*form, "patient_name_text"); chain.size() < 22;
             w = w->nextInFocusChain())
            if (w->focusPolicy() & Qt::TabFocus)
                chain << w->objectName();
        for (QAction* item : form->menuBar()->actions()) {
            menus << "|";
            for (QAction* a : item->menu()->actions()) {
                form->calls.clear();
                if (a != named<QAction>(*form, "fileExitMenu")) // the port file's test closes
                    a->trigger();
                menus << (a->isSeparator()     ? "-"
                          : a->icon().isNull() ? ""
                                               : "*") +
                             form->calls.join("");
            }
        }
        named<QPushButton>(*form, "send_button")->click();
        named<QPushButton>(*form, "pins_button")->click();
        // Pressed, the buttons are no switches.
        for (QWidget* child : form->centralWidget()->findChildren<QWidget*>())
            if (!child->isEnabled() || child->property("checked").toBool() ||
                child->property("default").toBool() || child->property("flat").toBool())
                states << child->objectName() + (child->isEnabled() ? "+" : "-");
        named<QCheckBox>(*form, "log_check")->click();
        QTest::keyClick(modes, Qt::Key_Down);
        // A language change sets every text anew and keeps what was typed.
        for (QLineEdit* field : form->findChildren<QLineEdit*>())
            field->setText(field->objectName());
        QCOMPARE(
            retranslatedText(*form, "textLabel1"),
            QString(
                "NUBTactile\nport_label: LPT2: simulated port\npatient_box: Patients "
                "information\npatient_name_text: patient_name_text | Your "
                "name\npatient_last_name_text: patient_last_name_text | Your last "
                "name\npatient_last_name_label: Last name\npatient_name_label: Name\nlog_check: "
                "Log this session | Set this mark on for saving your actions in a log "
                "file\npin_group: Pins\ntextLabel2: Duration\npins_duration_text: "
                "pins_duration_text | The duration of the signal (in miliseconds)\npin_6_check: "
                "Pin 6 | If this mark is checked, pin 6 will be activated on the braille "
                "display\npin_4_check: Pin 4 | If this mark is checked, pin 4 will be activated on "
                "the braille displaysplay\npin_2_check: Pin 2 | If this mark is checked, pin 2 "
                "will be activated on the braille display\npin_0_check: Pin 0 | If this mark is "
                "checked, pin 0 will be activated on the braille display\npin_1_check: Pin 1 | If "
                "this mark is checked, pin 1 will be activated on the braille "
                "display\npin_3_check: Pin 3 | If this mark is checked, pin 3 will be activated on "
                "the braille display\npin_5_check: Pin 5 | If this mark is checked, pin 5 will be "
                "activated on the braille display\npin_7_check: Pin 7 | If this mark is checked, "
                "pin 7 will be activated on the braille display\npins_button: Single shot | Send "
                "the singal acording to the information above\nsync_label: What each send waits "
                "for and records (Synchronisation menu)\ntime_group_box: Times\ntrigger_time_text: "
                "trigger_time_text | Trigger time. Sets the duration of the trigger signal (in "
                "miliseconds)\nafter_trigger_time_text: after_trigger_time_text | Sets the "
                "duration of the period between the end of the trigger signal and the start of the "
                "first character signal (in miliseconds)\nchar_time_text: char_time_text | "
                "Duration of each char of the word (in miliseconds)\nafter_char_time_text: "
                "after_char_time_text | Interval period between the end of the signal of one "
                "character and the start of the next one (in miliseconds)\ntextLabel1: "
                "Trigger\ntextLabel1_3: Char duration\nloop_count_label: Loop\ntextLabel1_4: "
                "Interval\ntextLabel1_2: After trigger\nsend_button: Send | Send the signals "
                "acording to the information given above\nloop_count_text: loop_count_text | "
                "Number of repetitions of the word\nsequence_box: Sequence\nlength_label: "
                "Length\nword_text: word_text | Word to codify into braille\nword_label: "
                "Text\nmode_combo: Select a mode | Text | Random valid | Random non-valid | Random "
                "mixed | Data mode to be sent to the braille cell\nsequence_length_text: "
                "sequence_length_text | Number of random braille characters to send\nfileNewMenu: "
                "&New | Ctrl+N\nfileExitMenu: E&xit | Ctrl+Q\nhelpAboutMenu: &About | "
                "F9\nfileOpenMenu: &Open | Ctrl+O\nfileSaveMenu: &Save | "
                "Ctrl+S\nfileTrainingAction: Training session | Ctrl+T\nLPT1Action: LPT1 | "
                "F1\nLPT2Action: LPT2 | F2\nsyncOffAction: Start on &click\nsyncPulseAction: Start "
                "on scanner &pulse\nsyncSettingsAction: &Settings...\n: &File\n: &Parallel Port\n: "
                "&Synchronisation\n: &Help"));
        QVERIFY(!form->windowIcon().isNull() && modes->count() == 5);
        QCOMPARE(modes->currentIndex(), 1);

        QCOMPARE(chain.join(' '),
                 QString("patient_name_text patient_last_name_text log_check pin_0_check "
                         "pin_1_check pin_2_check pin_3_check pin_4_check pin_5_check pin_6_check "
                         "pin_7_check pins_duration_text pins_button trigger_time_text "
                         "after_trigger_time_text char_time_text after_char_time_text "
                         "loop_count_text mode_combo word_text sequence_length_text send_button"));
        QCOMPARE(states.join(' '),
                 QString("main_form log_check+ length_label- word_text- word_label- "
                         "sequence_length_text-"));
        // Each menu after "|": its entries' icons ("*") and the slots they reach.
        QCOMPARE(menus.join(' '),
                 QString("| *fileNew *fileOpen *fileSave - trainingSession -  |   | "
                         "synchronisationChosen synchronisationChosen - synchronisationSettings "
                         "| helpAbout"));
        QCOMPARE(form->calls.join(' '), QString("helpAbout setTimes setPins logShow randomShow"));
    }

    // A session's port. The file at start selects it; the menu switches to
    // the other, and picking that again claims it again; the shutdown, however
    // many ways it is asked for, lowers the lines once and saves the choice,
    // even where the file cannot be written. A port file that is there but
    // cannot be read (a folder, a FIFO, which must not stall the start, a
    // link, which is never followed) means LPT1, and the status bar says why;
    // a link is replaced by the saved file, its target left as it was. A switch the system refuses:
    // the reasons on standard error, in a plain critical box only where there is a display, status
    // 1, and the file left as it was.
    void portChoice_data()
    {
        // Null: none; "<missing>": a directory; "<link>" to a file "LPT2\n".
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<bool>("lpt2");
        QTest::addColumn<int>("refused"); // 0: no; -1: offscreen; 1: on a display
        QTest::addColumn<QString>("why"); // the port file could not be read
        // clang-format off
        QTest::newRow("missing") << QByteArray() << false << 0 << QString();
        QTest::newRow("LPT1") << QByteArray("LPT1\n") << false << 0 << QString();
        QTest::newRow("LPT2") << QByteArray("LPT2\n") << true << 0 << QString();
        QTest::newRow("LPT2 without line feed") << QByteArray("LPT2") << true << 0 << QString();
        QTest::newRow("LPT2 then more lines") << QByteArray("LPT2\nLPT1\n") << true << 0 << QString();
        QTest::newRow("LPT2 with carriage return") << QByteArray("LPT2\r\n") << false << 0 << QString();
        QTest::newRow("a directory") << QByteArray("<missing>") << false << 0 << "it is a folder";
        QTest::newRow("a FIFO") << QByteArray("<fifo>") << false << 0 << "it is not a regular file";
        QTest::newRow("a link") << QByteArray("<link>") << false << 0 << "it is a symbolic link, which the program never follows";
        // clang-format on
        QTest::newRow("refused, offscreen") << QByteArray("LPT1\n") << false << -1 << QString();
        QTest::newRow("refused, on a display") << QByteArray("LPT1\n") << false << 1 << QString();
    }

    void portChoice()
    {
        QFETCH(QByteArray, contents);
        QFETCH(bool, lpt2);
        QFETCH(int, refused);
        QFETCH(QString, why);
        const bool directory = contents == "<missing>";
        QVERIFY(QDir::setCurrent(dir.path()) && (!directory || QDir().mkdir(PORT_FILE)));
        QVERIFY(writeFile("target", "LPT2\n"));
        QVERIFY(contents != "<link>" || QFile::link("target", PORT_FILE));
        QVERIFY(contents != "<fifo>" || mkfifo(qPrintable(PORT_FILE), 0666) == 0);
        makeForm(contents.startsWith('<') ? QByteArray() : contents);
        const auto* note = form->findChild<QLabel*>("port_file_label");
        QCOMPARE(note->isHidden() ? QString() : note->text(),
                 why.isEmpty() ? why
                               : "The port file NUBTactile_pport.cfg could not be read (" + why +
                                     "), so LPT1 is used.");
        form->display = refused;
        form->show();
        std::size_t mark = 0;
        QCOMPARE(dataWrites(mark), lpt2 ? "278=0" : "378=0");
        const auto* driven = form->findChild<QLabel*>("port_label");
        auto* const lpt1Action = named<QAction>(*form, "LPT1Action");
        auto* const lpt2Action = named<QAction>(*form, "LPT2Action");
        QStringList shown{driven->text()};
        const QString other = lpt2 ? "378=0" : "278=0";
        QStringList box;
        int status = -1;
        const QByteArray said = capturedOutput(stderr, [&] {
            portsim::refuseClaims(refused ? EPERM : 0);
            // Inside the event loop, as in the program: its status is 0 or 1
            // when the window ended it, -1 when nothing did.
            QObject scope; // ends the watchdog with the loop
            QTimer::singleShot(5000, &scope, [] { QCoreApplication::exit(-1); });
            QTimer::singleShot(0, &scope, [&] {
                QTimer::singleShot(0, form, [&] {
                    auto* shown = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                    if (!shown)
                        return;
                    box << shown->windowTitle() << QString::number(shown->icon())
                        << QString::number(shown->textFormat()) << shown->text();
                    shown->accept();
                });
                (lpt2 ? lpt1Action : lpt2Action)->trigger();
                shown << driven->text();
                if (refused)
                    return;
                (lpt2 ? lpt1Action : lpt2Action)->trigger();
                // Exclusive: 1 for LPT1 alone, 2 for LPT2 alone.
                QCOMPARE(lpt1Action->isChecked() + 2 * lpt2Action->isChecked(), lpt2 ? 1 : 2);
                QCOMPARE(dataWrites(mark), other + ' ' + other);
                named<QAction>(*form, "fileExitMenu")->trigger();
                QVERIFY(!form->isVisible());
                QCloseEvent late; // from the window system
                QCoreApplication::sendEvent(form.data(), &late);
            });
            status = QCoreApplication::exec();
        });
        const QString lines =
            "can't get IO permissions!: Operation not permitted\nPARALLEL PORT NOT FOUND\n";
        // The status bar names the socket after each claim, never a refused one.
        const QString before = lpt2 ? "LPT2: simulated port" : "LPT1: simulated port";
        const QString after = lpt2 ? "LPT1: simulated port" : "LPT2: simulated port";
        QCOMPARE(shown, (QStringList{before, refused ? before : after}));
        QVERIFY(!form);
        QCOMPARE(QString::number(status) + said, refused ? "1" + lines : "0");
        // A critical icon (3) and plain text (0): a file or patient name in a
        // message is shown as typed.
        QCOMPARE(box, (refused > 0 ? QStringList{"NUBTactile", "3", "0", lines.trimmed()}
                                   : QStringList()));
        QFile saved(PORT_FILE);
        QCOMPARE(saved.open(QIODevice::ReadOnly) ? saved.readAll() : "<missing>",
                 refused || directory ? contents
                 : lpt2               ? "LPT1\n"
                                      : "LPT2\n");
        QCOMPARE(dataWrites(mark), refused ? "" : other);
        QFile target("target");
        QVERIFY(target.open(QIODevice::ReadOnly) && target.readAll() == "LPT2\n");
        QVERIFY(!QFileInfo(PORT_FILE).isSymLink());
    }

    // The Synchronisation menu's settings, kept across runs in a file of
    // their own. A file at start gives the menu's check ("+": start on a
    // pulse) and the status bar's account, and the status bar says what
    // could not be used. Escape and Cancel in the settings dialog change
    // nothing; OK and each menu entry hold at once and are there at the next
    // start, or the operator is told why they could not be saved.
    void synchronisation_data()
    {
        QTest::addColumn<QByteArray>("contents"); // null: none; "<folder>"
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("why");
        const QString unused = "The synchronisation file NUBTactile_sync.cfg has values that "
                               "could not be used, so their defaults hold:\n";
        // clang-format off
        QTest::newRow("none") << QByteArray() << "" << "";
        QTest::newRow("pulse 3, answers") << QByteArray("wait_for_pulse=yes\npulse_number=3\npulse_pin=12\nanswer_pins=11,15") << "+Pulse 3 on pin 12 \u00b7 answers on 11, 15" << "";
        QTest::newRow("answers only, Windows") << QByteArray("wait_for_pulse=no\r\nanswer_pins=13\r\n") << "Answers on 13" << "";
        QTest::newRow("a pin that is no input") << QByteArray("wait_for_pulse=yes\npulse_pin=9\n") << "+Pulse 1 on pin 10" << unused + "pulse_pin: 9 is not an input pin (10, 11, 12, 13 or 15)";
        QTest::newRow("a folder") << QByteArray("<folder>") << "" << "The synchronisation file NUBTactile_sync.cfg could not be read (it is a folder), so every send starts on click.";
        // clang-format on
    }

    void synchronisation()
    {
        QFETCH(QByteArray, contents);
        QFETCH(QString, shown);
        QFETCH(QString, why);
        QVERIFY(QDir::setCurrent(dir.path()));
        const bool folder = contents == "<folder>";
        QVERIFY(folder ? QDir().mkdir(SYNC_FILE)
                       : contents.isNull() || writeFile(SYNC_FILE, contents));
        portsim::reset();
        auto sync = std::make_unique<SyncForm>();
        const auto state = [](const SyncForm& window) {
            const auto* label = window.findChild<QLabel*>("sync_label");
            return (named<QAction>(window, "syncPulseAction")->isChecked() ? "+" : "") +
                   (label->isHidden() ? QString() : label->text());
        };
        const auto* note = sync->findChild<QLabel*>("port_file_label");
        QCOMPARE(state(*sync), shown);
        QCOMPARE(note->isHidden() ? QString() : note->text(), why);
        // An errno left by an earlier interrupted call costs no read.
        std::vector<std::string> unused;
        std::string unread;
        errno = EINTR;
        QCOMPARE(SynchronisationFile::load(SYNC_FILE.toStdString(), unread).toText(),
                 Synchronisation::fromText(folder ? "" : contents.toStdString(), unused).toText());
        QVERIFY(!SynchronisationFile::save("no folder/" + SYNC_FILE.toStdString(), {}, unread) &&
                unread == "No such file or directory");
        SynchronisationFile::load("/proc/self/mem", unread); // a read that fails
        QVERIFY2(unread.find("(Input/output error)") != std::string::npos, unread.c_str());

        // The dialog as the operator meets it: each way out but OK leaves
        // the settings as they were.
        const auto answer = [&](const std::function<void(QDialog*)>& how) {
            QTimer::singleShot(0, sync.get(), [how] {
                auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
                QVERIFY(dialog);
                named<QSpinBox>(*dialog, "pulse_number_spin")->setValue(1000);
                named<QCheckBox>(*dialog, "answer_pin_13_check")->setChecked(true);
                how(dialog);
            });
            sync->synchronisationSettings();
        };
        QString said; // what it says, with the values just typed
        answer([&said](QDialog* dialog) {
            said = windowText(*dialog);
            QTest::keyClick(dialog, Qt::Key_Escape);
        });
        QCOMPARE(
            said,
            QString("Synchronisation\n: Start on a pulse\npulse_number_spin: 1000\n: Start on "
                    "pulse "
                    "&number:\npulse_pin_combo: pin 10 | pin 11 | pin 12 | pin 13 | pin 15\n: On "
                    "input &pin:\npulse_edge_combo: rising (low to high) | falling (high to low)\n"
                    ": Pulse &edge:\ntime_limit_spin: none |  ms | none\n: &Time limit:\n: Record "
                    "answers\nanswer_pin_10_check: 10\nanswer_pin_11_check: 11\n"
                    "answer_pin_12_check: 12\nanswer_pin_13_check: 13\nanswer_pin_15_check: 15\n: "
                    "Input pins:\npress_edge_combo: high (rising edge) | low (falling edge, a "
                    "button to ground)\n: A &press makes the pin:\nresponse_window_spin: 2000 ms | "
                    " ms\n: &Response window after the last cell:\ndead_time_spin: 5 ms |  ms\n: "
                    "&Dead time after an edge (bounces):\n: OK\n: Cancel"));
        answer([](QDialog* dialog) {
            named<QDialogButtonBox>(*dialog, "buttons")->button(QDialogButtonBox::Cancel)->click();
        });
        QCOMPARE(state(*sync), shown);
        QCOMPARE(sync->errors, QStringList());

        answer([](QDialog* dialog) {
            named<QDialogButtonBox>(*dialog, "buttons")->button(QDialogButtonBox::Ok)->click();
        });
        named<QAction>(*sync, "syncPulseAction")->trigger();
        const QString chosen = state(*sync);
        QVERIFY2(chosen.startsWith("+Pulse 1000 on pin ") && chosen.contains("13"),
                 qPrintable(chosen));
        const auto restart = [&sync] { sync.reset(), sync = std::make_unique<SyncForm>(); };
        restart();
        QCOMPARE(state(*sync), folder ? QString() : chosen);
        named<QAction>(*sync, "syncOffAction")->trigger();
        // Once the settings could not be kept, the new start has the defaults.
        const QString off = folder ? QString() : 'A' + chosen.section(" \u00b7 a", 1);
        QCOMPARE(state(*sync), off);
        const QString unsaved = "The synchronisation settings could not be saved to "
                                "NUBTactile_sync.cfg (it is a folder); they hold until the "
                                "program ends.";
        QCOMPARE(sync->errors, folder ? QStringList{unsaved} : QStringList());
        restart();
        QCOMPARE(state(*sync), off);
        sync.reset();
        QVERIFY(QFile::remove(SYNC_FILE) || QDir().rmdir(SYNC_FILE));
    }

    // The window's own file dialogs and questions, as the operator answers
    // them ("," between answers: a key, or a file name typed and accepted).
    // Escape and Cancel do nothing: no file written, none read. A file there
    // already is replaced only on Yes.
    void realDialogs_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("answers");
        QTest::addColumn<QString>("expected"); // a.cfg afterwards, then the trigger field
        const QString saved = "#!NUBTactile_CONFIGURATION_FILE!#\n7\n\n\n\n\n0\n\n";
        const QString old = "#!NUBTactile_CONFIGURATION_FILE!#\n9\n1\n2\n3\n4\n1\nab\n";
        // clang-format off
        QTest::newRow("save, Escape") << "save" << "Escape" << "<missing> 7";
        QTest::newRow("save, Cancel") << "save" << "Cancel" << "<missing> 7";
        QTest::newRow("save as a.cfg") << "save" << "a.cfg" << saved + " 7";
        QTest::newRow("over a file, Escape") << "save old" << "a.cfg,Escape" << old + " 7";
        QTest::newRow("over a file, Yes") << "save old" << "a.cfg,Yes" << saved + " 7";
        QTest::newRow("open, Escape") << "open old" << "Escape" << old + " 7";
        QTest::newRow("open a.cfg") << "open old" << "a.cfg" << old + " 9";
        // clang-format on
    }

    void realDialogs()
    {
        QFETCH(QString, action);
        QFETCH(QString, answers);
        QVERIFY(QDir::setCurrent(dir.path()));
        QFile file("a.cfg");
        QVERIFY(!action.endsWith("old") ||
                writeFile(file.fileName(),
                          "#!NUBTactile_CONFIGURATION_FILE!#\n9\n1\n2\n3\n4\n1\nab\n"));
        portsim::reset();
        SyncForm window;
        named<QLineEdit>(window, "trigger_time_text")->setText("7");
        QStringList steps = answers.split(',');
        QTimer modal;
        connect(&modal, &QTimer::timeout, this, [&] {
            QWidget* shown = QApplication::activeModalWidget();
            if (!shown)
                return;
            // One asked for beyond the answers is told, and let go.
            const QString step =
                steps.isEmpty() ? "Escape " + shown->windowTitle() : steps.takeFirst();
            if (step.startsWith("Escape "))
                steps << step;
            auto* files = qobject_cast<QFileDialog*>(shown);
            if (step.startsWith("Escape"))
                return QTest::keyClick(shown, Qt::Key_Escape);
            if (files && step.endsWith(".cfg"))
                return files->selectFile(step), void(QMetaObject::invokeMethod(files, "accept"));
            for (QAbstractButton* button : shown->findChildren<QAbstractButton*>())
                if (button->text().remove('&') == step)
                    return button->click();
        });
        modal.start(0);
        if (action.startsWith("save"))
            window.fileSave();
        else
            window.fileOpen();
        QVERIFY(file.open(QIODevice::ReadOnly) || !file.exists());
        QTEST(QString(file.isOpen() ? file.readAll() : "<missing>") + ' ' +
                  named<QLineEdit>(window, "trigger_time_text")->text() + window.errors.join(' '),
              "expected");
        QCOMPARE(steps, QStringList());
        file.close();
        QFile::remove("a.cfg");
    }

    // Help opens a modal window without parent that closing destroys. Its
    // icon and logos are whole pictures, the logos stretched over their
    // labels, and every credit is there and shown whole, however wide the font.
    void aboutWindow()
    {
        main_form().helpAbout();
        const QPointer about = qobject_cast<about_form*>(QApplication::activeModalWidget());
        QVERIFY(about && !about->parentWidget());
        QCOMPARE(
            retranslatedText(*about, "lib_label"),
            QString(
                "About NUBTactile\ntextLabel3: Developed by: The NUBTactile developers\n"
                "textLabel3_3: Special thanks to: everyone who tested it in the lab\ntextLabel3_2: "
                "E-mail address: nubtactile@example.org\ntextLabel3_3_2_2_2: "
                "https://kestra.example.org\ntextLabel3_3_2_3: Kestra Institute\n"
                "textLabel3_3_2_3_2: Velmora\ntextLabel3_3_2_3_2_2: https://velmora.example.org\n"
                "licence_label: This program is free software under the GNU General Public "
                "License, version 3 or later\nlicence_file_label: See the file COPYING for the "
                "full licence text\nlib_label: This program uses the Qt and zlib libraries\n"
                "lib_web_label: Qt: https://www.qt.io\nlib_web_label_2: zlib: https://zlib.net\n"
                "close_button: Close | Close this window"));
        QList<QSize> pictures{about->windowIcon().actualSize({999, 999})};
        for (QLabel* label : about->findChildren<QLabel*>()) {
            if (label->hasScaledContents())
                pictures << label->pixmap().size();
            else
                QVERIFY(!label->text().isEmpty() &&
                        label->fontMetrics().horizontalAdvance(label->text()) <=
                            label->contentsRect().width());
        }
        QCOMPARE(pictures, QList<QSize>({{68, 88}, {240, 67}, {250, 73}, {414, 179}}));
        about->close_button->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!about);
    }

    // Added once, before main() runs; out and back in without disturbing
    // other factories; null and the default factory itself are never added.
    void registration()
    {
        MimeSourceFactory* const root = MimeSourceFactory::defaultFactory();
        MimeSourceFactory other;
        for (MimeSourceFactory* factory :
             {root, &other, &other, static_cast<MimeSourceFactory*>(nullptr)})
            root->addFactory(factory);
        const std::size_t added = root->factories().size();
        qCleanupImages_nubtactile();
        const bool gone = root->data("braille.png").isNull();
        root->removeFactory(&other);
        qInitImages_nubtactile();
        QVERIFY(added == 2 && gone);
        // Back in, each picture decoded once and then kept.
        QCOMPARE(root->data("braille.png").size(), QSize(68, 88));
        QCOMPARE(root->data("braille.png").constBits(), root->data("braille.png").constBits());
    }

    // A record decodes to the picture the build tool stored; a damaged one
    // yields no picture instead of reading past its data.
    void records_data()
    {
        QTest::addColumn<QList<int>>("record"); // width and bits per pixel
        QTest::addColumn<bool>("decodes");
        QTest::newRow("as written") << QList<int>{5, 32} << true;
        QTest::newRow("wider than its data") << QList<int>{6, 32} << false;
        QTest::newRow("more data than its size") << QList<int>{4, 32} << false;
        QTest::newRow("24 bits deep") << QList<int>{5, 24} << false;
    }

    void records()
    {
        QFETCH(QList<int>, record);
        QFETCH(bool, decodes);
        QImage picture(5, 2, QImage::Format_RGB32);
        for (int i = 0; i < 10; ++i)
            picture.setPixel(i % 5, i / 5, qRgb(i * 25, 255 - i, 7));
        const QByteArray data = compressedPixels(picture);
        const EmbedImage table[] = {{record[0], 2, record[1],
                                     reinterpret_cast<const uchar*>(data.data()),
                                     std::size_t(data.size()), 0, nullptr, false, "picture"},
                                    {}};
        QCOMPARE(findEmbeddedImage(table, "picture"), decodes ? picture : QImage());
    }

    // Each change that lengthens the text presents one character, the first
    // that differs from the text handled before: raised at once, lowered after
    // the duration, with no trigger, pause or interval. Steps are separated by
    // '|': "duration TEXT", "key KEY" on the widget with the focus (at first
    // the text field), "fail record" or "fail 2" (that allocation fails next:
    // the record of a send, or its code), or else text inserted at the cursor
    // as one change.
    void typing_data()
    {
        QTest::addColumn<QString>("steps");
        // Every data-register write as "ms:byte", the end time, the field's
        // text, the message boxes answered, what the window tells was left out and
        // whether the window was closed.
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, const QString& steps, const char* expected) {
            QTest::newRow(name) << steps << QString(expected);
        };
        // é by its code page 437 byte; # has no cell and € no byte: each is
        // held without a dot. Of a paste only the first character is presented.
        // e and a combining acute are composed to é, as in the main window.
        row("each character at once", "duration 1|a|é|#|€|xyz|e|\u0301|x",
            "0:1 1:0 1:46 2:0 4:45 5:0 5:17 6:0 6:46 7:0 7:45 8:0 @8 [aé#€xyze\u0301x] "
            "Left out, having no cell: #, €");
        // Inserted x between a and b; deleted it and inserted c; replaced a by z.
        row("only the first new character",
            "duration 10|a|b|key Left|x|key Backspace|c|key Home|key Shift+Right|z|key Return",
            "0:1 10:0 10:3 20:0 20:45 30:0 30:9 40:0 @40 [zcb]");
        row("durations saturate", "duration 99999999999|a|duration 2147483646|b",
            "0:1 2147483647:0 2147483647:3 4294967293:0 @4294967293 [ab]");
        row("Return on Close", "key Tab|key Tab|key Return", "@0 [] closed");
        row("Space on Close", "key Tab|key Tab|key Space", "@0 [] closed");
        row("another key on Close", "key Tab|key Tab|key A", "@0 []");
        // Refused at once and the field emptied, which shows nothing more.
        // Once the field is empty, whether emptied by the operator while the
        // duration was wrong or after a refusal, the next character is new.
        row("duration refused",
            QStringLiteral(
                "a|duration 10|a|b|c|duration x|key Ctrl+A|key Backspace|duration 10|d|e|"
                "duration 5\0|f|duration 10|g"),
            "0:1 10:0 10:3 20:0 20:9 30:0 30:25 40:0 40:17 50:0 50:27 60:0 @60 [g] Braille "
            "Braille");
        // A character whose record or code cannot be stored is lost; the next one is sent.
        row("no memory", "duration 10|fail record|a|b|fail 2|c|d",
            "0:3 10:0 10:25 20:0 @20 [abcd] NUBTactile NUBTactile");
    }

    // Through the window the training session opens: shown, modal, without a
    // parent, with its texts, and freed once closed.
    void typing()
    {
        QFETCH(QString, steps);
        QFETCH(QString, expected);
        PortSession sim;
        main_form window;
        const std::size_t claimed = portsim::writes().size();
        window.trainingSession();
        auto* form = qobject_cast<trainer_form*>(QApplication::activeModalWidget());
        QVERIFY(form && form->isVisible() && !form->parentWidget());
        QCOMPARE(
            retranslatedText(*form, "char_duration_label"),
            QString(
                "NUBTactile Trainer\ngroupBox5: Type your text here\nchar_duration_label: Char "
                "duration\ntrainer_text: Text to be sent to the braille cell\nchar_text: Duration "
                "of each char of the word (in miliseconds)\ncancel_button: Close | Close this "
                "window"));
        QLineEdit* field = form->trainer_text;
        field->setFocus();
        QStringList messages;
        QTimer boxes;
        connect(&boxes, &QTimer::timeout, this, [&messages] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                messages << box->windowTitle();
                box->accept();
            }
        });
        boxes.start(0);
        for (const QString& step : steps.split('|')) {
            const QString verb = step.section(' ', 0, 0), arg = step.section(' ', 1);
            if (verb == "duration")
                form->char_text->setText(arg);
            else if (verb == "key")
                QTest::keySequence(form->focusWidget(), QKeySequence(arg));
            else if (verb == "fail")
                failingAllocationSize = arg == "record" ? sizeof(Braille_Data) : arg.toUInt();
            else
                field->insert(step);
        }
        QStringList seen;
        for (std::size_t i = claimed; i < portsim::writes().size(); ++i)
            if (const auto& w = portsim::writes()[i]; w.address == unsigned(window.port))
                seen << QStringLiteral("%1:%2").arg(w.time / NS_PER_MS).arg(w.value);
        seen << QString("@%1 [%2]").arg(sim.clock.now() / NS_PER_MS).arg(field->text()) << messages;
        if (!form->left_out_label->isHidden())
            seen << form->left_out_label->text();
        QCOMPARE((seen << (form->isVisible() ? "" : "closed")).join(' ').trimmed(), expected);
        form->close();
    }
};

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"
