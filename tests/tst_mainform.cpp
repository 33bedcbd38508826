// The main window as built and as it starts and ends: widgets, menus,
// shortcuts, slot table, tab order, the port file, the one shutdown path and
// the end for a refused port.

#include "main_form.h"
#include "output_capture.h"
#include "pins.h"
#include "placement.h"
#include "portio_sim.h"
#include "pport.h"

#include <QtTest>
#include <QtWidgets>

#include <functional>
#include <memory>
#include <optional>

namespace
{

// Records messages and counts the slots an operator reaches; the file, window
// and sending slots only count, so nothing modal opens.
class CountingForm : public main_form
{
public:
    using main_form::main_form;

    QStringList errors;
    QMap<QString, int> calls;
    std::optional<bool> display; // unset: the platform's answer

    void error(const char* msg) override { errors << QString::fromUtf8(msg); }
    bool hasDisplay() const override { return display.value_or(main_form::hasDisplay()); }
    void initPPort() override
    {
        ++calls["initPPort"];
        main_form::initPPort();
    }
    void fileNew() override { ++calls["fileNew"]; }
    void fileOpen() override { ++calls["fileOpen"]; }
    void fileSave() override { ++calls["fileSave"]; }
    void trainingSession() override { ++calls["trainingSession"]; }
    void helpAbout() override { ++calls["helpAbout"]; }
    void setTimes() override { ++calls["setTimes"]; }
    void setPins() override { ++calls["setPins"]; }
    void randomShow() override { ++calls["randomShow"]; }
    void logShow() override { ++calls["logShow"]; }

protected:
    void closeEvent(QCloseEvent* event) override
    {
        ++calls["close"];
        main_form::closeEvent(event);
    }
};

const QString PORT_FILE = "NUBTactile_pport.cfg";

QByteArray fileContents(const QString& name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// Data-register values written at `address` since write number `from`.
QList<int> dataWrites(unsigned address, std::size_t from = 0)
{
    QList<int> values;
    const auto& all = portsim::writes();
    for (std::size_t i = from; i < all.size(); ++i) {
        if (all[i].address == address)
            values << all[i].value;
    }
    return values;
}

} // namespace

class TestMainForm : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    QString previousDir;
    QPointer<CountingForm> form;

    void makeForm()
    {
        form = new CountingForm(nullptr, nullptr, Qt::Window);
        form->app = qApp;
    }

    void showActive()
    {
        form->show();
        QApplication::setActiveWindow(form);
        QVERIFY(QTest::qWaitForWindowActive(form));
    }

    // Runs `request` inside the event loop, as the program does, and returns
    // the loop's exit code: 0 when the window ended it, -1 when nothing did.
    int runUntilExit(const std::function<void()>& request)
    {
        QTimer::singleShot(0, qApp, request);
        QTimer watchdog;
        watchdog.callOnTimeout([] { QCoreApplication::exit(-1); });
        watchdog.start(5000);
        return QCoreApplication::exec();
    }

private slots:
    void init()
    {
        // Only the window's own shutdown path may end the event loop here.
        QApplication::setQuitOnLastWindowClosed(false);
        previousDir = QDir::currentPath();
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
        QVERIFY(QDir::setCurrent(dir->path()));
        portsim::reset();
        pin_layer_reset();
    }

    void cleanup()
    {
        delete form;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
        QDir::setCurrent(previousDir);
        dir.reset();
    }

    void widgetTree_data()
    {
        QTest::addColumn<QString>("className");
        QTest::addColumn<QString>("parent");
        QTest::addColumn<QRect>("rect");
        QTest::addColumn<QString>("state"); // "checked", "unchecked", "disabled" or ""
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("toolTip");
        QString parent;
        const auto row = [&](const char* name, const char* cls, QRect rect, const char* state,
                             const QString& text, const QString& tip = {}) {
            QTest::newRow(name) << QString(cls) << parent << rect << QString(state) << text << tip;
        };
        const QString ms = " (in miliseconds)";
        parent = "qt_central_widget";
        row("patient_box", "QGroupBox", {20, 10, 181, 110}, "", "Patients information");
        row("pin_group", "QGroupBox", {20, 130, 181, 220}, "", "Pins");
        row("time_group_box", "QGroupBox", {210, 10, 181, 340}, "", "Times");
        parent = "patient_box";
        row("patient_name_text", "QLineEdit", {90, 20, 70, 21}, "", "", "Your name");
        row("patient_last_name_text", "QLineEdit", {90, 50, 70, 21}, "", "", "Your last name");
        row("patient_last_name_label", "QLabel", {10, 50, 80, 20}, "", "Last name");
        row("patient_name_label", "QLabel", {10, 20, 70, 20}, "", "Name");
        row("log_check", "QCheckBox", {10, 80, 160, 21}, "checked", "Log this session",
            "Set this mark on for saving your actions in a log file");
        parent = "pin_group";
        row("textLabel2", "QLabel", {10, 140, 60, 21}, "", "Duration");
        row("pins_duration_text", "QLineEdit", {80, 140, 80, 21}, "", "",
            "The duration of the signal" + ms);
        // Two columns, pins 0, 2, 4, 6 on the left, 1, 3, 5, 7 on the right.
        for (int n = 0; n < 8; ++n) {
            const QString tip =
                "If this mark is checked, pin %1 will be activated on the braille %2";
            row(qPrintable(QString("pin_%1_check").arg(n)), "QCheckBox",
                {n % 2 ? 100 : 10, 20 + 30 * (n / 2), n % 2 ? 70 : 80, 21}, "unchecked",
                QString("Pin %1").arg(n), tip.arg(n).arg(n == 4 ? "displaysplay" : "display"));
        }
        row("pins_button", "QPushButton", {40, 180, 100, 30}, "", "Single shot",
            "Send the singal acording to the information above");
        parent = "time_group_box";
        row("trigger_time_text", "QLineEdit", {100, 20, 60, 20}, "", "",
            "Trigger time. Sets the duration of the trigger signal" + ms);
        row("after_trigger_time_text", "QLineEdit", {100, 50, 60, 20}, "", "",
            "Sets the duration of the period between the end of the trigger signal and the "
            "start of the first character signal" +
                ms);
        row("char_time_text", "QLineEdit", {100, 80, 60, 20}, "", "",
            "Duration of each char of the word" + ms);
        row("after_char_time_text", "QLineEdit", {100, 110, 60, 20}, "", "",
            "Interval period between the end of the signal of one character and the start of "
            "the next one" +
                ms);
        row("textLabel1", "QLabel", {10, 20, 80, 21}, "", "Trigger");
        row("textLabel1_3", "QLabel", {10, 80, 90, 21}, "", "Char duration");
        row("loop_count_label", "QLabel", {10, 140, 90, 21}, "", "Loop");
        row("textLabel1_4", "QLabel", {10, 110, 90, 21}, "", "Interval");
        row("textLabel1_2", "QLabel", {10, 50, 81, 21}, "", "After trigger");
        row("send_button", "QPushButton", {40, 300, 100, 30}, "", "Send",
            "Send the signals acording to the information given above");
        row("loop_count_text", "QLineEdit", {100, 140, 60, 20}, "", "",
            "Number of repetitions of the word");
        row("sequence_box", "QGroupBox", {10, 170, 160, 120}, "", "Sequence");
        parent = "sequence_box";
        row("length_label", "QLabel", {10, 90, 70, 21}, "disabled", "Length");
        row("word_text", "QLineEdit", {50, 60, 100, 21}, "disabled", "",
            "Word to codify into braille");
        row("word_label", "QLabel", {10, 60, 40, 21}, "disabled", "Text");
        row("mode_combo", "QComboBox", {10, 30, 140, 21}, "", "",
            "Data mode to be sent to the braille cell");
        row("sequence_length_text", "QLineEdit", {90, 90, 60, 20}, "disabled", "",
            "Number of random braille characters to send");
    }

    void widgetTree()
    {
        QFETCH(QString, className);
        QFETCH(QString, parent);
        QFETCH(QRect, rect);
        QFETCH(QString, state);
        QFETCH(QString, text);
        QFETCH(QString, toolTip);

        makeForm();
        const QList<QWidget*> found = form->findChildren<QWidget*>(QTest::currentDataTag());
        QCOMPARE(found.size(), 1);
        QWidget* w = found.first();
        QCOMPARE(QString(w->metaObject()->className()), className);
        QCOMPARE(w->parentWidget()->objectName(), parent);
        QCOMPARE(w->geometry(), rect);
        QString actual = w->isEnabled() ? "" : "disabled";
        if (auto* check = qobject_cast<QCheckBox*>(w))
            actual = check->isChecked() ? "checked" : "unchecked";
        QCOMPARE(actual, state);
        QCOMPARE(w->property(qobject_cast<QGroupBox*>(w) ? "title" : "text").toString(), text);
        QCOMPARE(w->toolTip(), toolTip);
    }

    void window()
    {
        {
            CountingForm named(nullptr, "console");
            QCOMPARE(named.objectName(), QString("console"));
        }
        makeForm();
        QCOMPARE(form->objectName(), QString("main_form"));
        QCOMPARE(form->windowTitle(), QString("NUBTactile"));
        QCOMPARE(form->size(), QSize(411, 413).expandedTo(form->minimumSizeHint()));
        QCOMPARE(form->sizePolicy(), QSizePolicy(QSizePolicy::Minimum, QSizePolicy::Minimum));
        QVERIFY(!form->windowIcon().isNull());
        QCOMPARE(form->centralWidget()->objectName(), QString("qt_central_widget"));
        QVERIFY(form->findChild<QStatusBar*>() && !form->findChild<QToolBar*>());

        QStringList items;
        for (int i = 0; i < form->mode_combo->count(); ++i)
            items << form->mode_combo->itemText(i);
        QCOMPARE(items, QStringList({"Select a mode", "Text", "Random valid", "Random non-valid",
                                     "Random mixed"}));
        QCOMPARE(form->mode_combo->currentIndex(), 0);
        QVERIFY(!form->mode_combo->isEditable());
    }

    // The menu bar, each menu's entries in order, and each action's text,
    // menu text, tool tip, accelerator, icon and toggle state.
    void menus()
    {
        makeForm();
        QStringList bar;
        QList<QMenu*> popups;
        for (QAction* item : form->MenuBar->actions()) {
            bar << QString("%1 %2").arg(item->data().toInt()).arg(item->text());
            popups << item->menu();
            QCOMPARE(item->menu()->parent(), form.data());
            for (QAction* a : item->menu()->actions()) {
                QStringList entry{a->objectName(), a->iconText(), a->text(), a->toolTip(),
                                  a->shortcut().toString()};
                if (!a->icon().isNull())
                    entry << "icon";
                if (a->isCheckable())
                    entry << (a->actionGroup() == form->parallel_portAction ? "group" : "toggle");
                bar << (a->isSeparator() ? "-" : entry.join(" | "));
            }
        }
        QCOMPARE(bar, QStringList({
                          "2 &File",
                          "fileNewMenu | New | &New | New | Ctrl+N | icon",
                          "fileOpenMenu | Open | &Open | Open | Ctrl+O | icon",
                          "fileSaveMenu | Save | &Save | Save | Ctrl+S | icon",
                          "-",
                          "fileTrainingAction | Training session | Training session | "
                          "Training session | Ctrl+T",
                          "-",
                          "fileExitMenu | Exit | E&xit | Exit | Ctrl+Q",
                          "3 &Parallel Port",
                          "LPT1Action | LPT1 | LPT1 | LPT1 | F1 | group",
                          "LPT2Action | LPT2 | LPT2 | LPT2 | F2 | group",
                          "4 &Help",
                          "helpAboutMenu | About | &About | About | F9",
                      }));
        QCOMPARE(popups, QList<QMenu*>({form->fileMenu, form->parallelPortMenu, form->helpMenu}));
        QCOMPARE(form->menuBar(), form->MenuBar);
    }

    // Each key an operator presses, on the window or on a focused widget,
    // and the one slot it must reach once.
    void activations_data()
    {
        QTest::addColumn<QString>("widget"); // empty: the window
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("slot");
        // "[widget] key slot": without a widget the key goes to the window.
        for (const QString row :
             {"Ctrl+N fileNew", "Ctrl+O fileOpen", "Ctrl+S fileSave", "Ctrl+T trainingSession",
              "Ctrl+Q close", "F1 initPPort", "F2 initPPort", "F9 helpAbout",
              "send_button Space setTimes", "pins_button Space setPins", "log_check Space logShow",
              "mode_combo Down randomShow"}) {
            QStringList parts = row.split(' ');
            if (parts.size() == 2)
                parts.prepend(QString());
            QTest::newRow(qPrintable(row)) << parts[0] << parts[1] << parts[2];
        }
    }

    void activations()
    {
        QFETCH(QString, widget);
        QFETCH(QString, key);
        QFETCH(QString, slot);

        makeForm();
        showActive();
        QWidget* target = widget.isEmpty() ? form.data() : form->findChild<QWidget*>(widget);
        target->setFocus();
        QMap<QString, int> calls;
        const auto press = [&] {
            const QKeyCombination combination = QKeySequence(key)[0];
            QTest::keyClick(target, combination.key(), combination.keyboardModifiers());
            calls = form->calls;
        };
        if (slot == "close") {
            // Exit ends the event loop itself, with status 0.
            QCOMPARE(runUntilExit(press), 0);
            QVERIFY(!form);
        } else {
            press();
            QVERIFY(form->errors.isEmpty());
        }
        QCOMPARE(calls, (QMap<QString, int>{{slot, 1}}));
    }

    // Changes the program makes itself are not the operator's choices.
    void programChangesRunNoSlot()
    {
        makeForm();
        form->log_check->setChecked(false);
        form->mode_combo->setCurrentIndex(3);
        QVERIFY(form->calls.isEmpty());
    }

    void portActionsAreExclusiveAndReinitialise()
    {
        makeForm();
        QVERIFY(form->LPT1Action->isChecked() && !form->LPT2Action->isChecked());
        // Switching over, picking the port in use again, switching back: each
        // claims the chosen port once and lowers its raised lines.
        const QList<QAction*> steps = {form->LPT2Action, form->LPT2Action, form->LPT1Action};
        for (int i = 0; i < steps.size(); ++i) {
            set_pin(0x2D);
            const std::size_t mark = portsim::writes().size();
            steps[i]->trigger();
            const bool lpt1 = steps[i] == form->LPT1Action;
            const unsigned base = lpt1 ? 0x378 : 0x278;
            QCOMPARE(form->LPT1Action->isChecked(), lpt1);
            QCOMPARE(form->LPT2Action->isChecked(), !lpt1);
            QCOMPARE(form->calls["initPPort"], i + 1);
            QCOMPARE(form->port, int(base));
            QCOMPARE(dataWrites(base, mark), QList<int>({0}));
            QVERIFY(dataWrites(lpt1 ? 0x278 : 0x378, mark).isEmpty());
        }
    }

    void tabOrder()
    {
        makeForm();
        showActive();
        // Tab passes disabled fields by.
        form->word_text->setEnabled(true);
        form->sequence_length_text->setEnabled(true);
        form->patient_name_text->setFocus();
        QStringList visited{QApplication::focusWidget()->objectName()};
        for (int i = 0; i < 21; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(visited.join(' '),
                 QString("patient_name_text patient_last_name_text log_check pin_0_check "
                         "pin_1_check pin_2_check pin_3_check pin_4_check pin_5_check pin_6_check "
                         "pin_7_check pins_duration_text pins_button trigger_time_text "
                         "after_trigger_time_text char_time_text after_char_time_text "
                         "loop_count_text mode_combo word_text sequence_length_text send_button"));
    }

    void slotTable()
    {
        const QMetaObject& meta = main_form::staticMetaObject;
        QCOMPARE(meta.superClass(), &QMainWindow::staticMetaObject);
        const char* const access[] = {"private", "protected", "public"};
        QStringList table;
        for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
            const QMetaMethod m = meta.method(i);
            QCOMPARE(m.methodType(), QMetaMethod::Slot);
            table << QString("%1 %2").arg(access[m.access()], m.methodSignature());
        }
        QCOMPARE(table, QStringList({"public initPPort()", "public fileNew()", "public fileOpen()",
                                     "public fileSave()", "public trainingSession()",
                                     "public helpAbout()", "public setTimes()", "public setPins()",
                                     "public send()", "public randomShow()", "public logShow()",
                                     "public error(const char*)", "public startLog()",
                                     "public closeLog()", "protected languageChange()",
                                     "private init()", "private close(bool)"}));
    }

    // What the port file at start selects, and what closing writes back.
    void portFile_data()
    {
        QTest::addColumn<QByteArray>("contents"); // null: no file
        QTest::addColumn<bool>("lpt2");
        QTest::newRow("missing") << QByteArray() << false;
        QTest::newRow("empty") << QByteArray("") << false;
        QTest::newRow("LPT1") << QByteArray("LPT1\n") << false;
        QTest::newRow("LPT2") << QByteArray("LPT2\n") << true;
        QTest::newRow("LPT2 without line feed") << QByteArray("LPT2") << true;
        QTest::newRow("LPT2 then more lines") << QByteArray("LPT2\nLPT1\n") << true;
        QTest::newRow("LPT2 with carriage return") << QByteArray("LPT2\r\n") << false;
        QTest::newRow("LPT2 on the second line") << QByteArray("LPT1\nLPT2\n") << false;
        QTest::newRow("lower case") << QByteArray("lpt2\n") << false;
        QTest::newRow("longer word") << QByteArray("LPT22\n") << false;
        QTest::newRow("NUL after LPT2") << QByteArray("LPT2\0\n", 6) << false;
    }

    void portFile()
    {
        QFETCH(QByteArray, contents);
        QFETCH(bool, lpt2);
        if (!contents.isNull()) {
            QFile file(PORT_FILE);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(contents);
        }
        const unsigned base = lpt2 ? 0x278 : 0x378;

        makeForm();
        QCOMPARE(form->LPT2Action->isChecked(), lpt2);
        QCOMPARE(form->LPT1Action->isChecked(), !lpt2);
        QCOMPARE(form->port, int(base));
        // Only the chosen port is touched, and its data lines start low.
        for (const portsim::Write& w : portsim::writes())
            QVERIFY2(w.address - base <= 2, qPrintable(QString::number(w.address, 16)));
        QCOMPARE(dataWrites(base), QList<int>({0}));

        set_pin(0x3F);
        const std::size_t mark = portsim::writes().size();
        QCOMPARE(runUntilExit([this] { form->fileExitMenu->trigger(); }), 0);
        QVERIFY(!form);
        QCOMPARE(fileContents(PORT_FILE), QByteArray(lpt2 ? "LPT2\n" : "LPT1\n"));
        QCOMPARE(dataWrites(base, mark), QList<int>({0}));
    }

    void menuChoiceIsSavedForTheNextStart()
    {
        makeForm();
        form->LPT2Action->trigger();
        QCOMPARE(runUntilExit([this] { form->close(); }), 0);
        QCOMPARE(fileContents(PORT_FILE), QByteArray("LPT2\n"));

        portsim::reset();
        pin_layer_reset();
        makeForm();
        QVERIFY(form->LPT2Action->isChecked());
        QCOMPARE(dataWrites(0x278), QList<int>({0}));
    }

    void unwritablePortFileStillCloses()
    {
        QVERIFY(QDir().mkdir(PORT_FILE));
        makeForm();
        set_pin(0x21);
        QCOMPARE(runUntilExit([this] { form->close(); }), 0);
        QVERIFY(!form);
        QVERIFY(QFileInfo(PORT_FILE).isDir());
        QCOMPARE(portsim::hardware(0x378), 0);
    }

    void shutdownRunsOnce()
    {
        makeForm();
        showActive();
        const std::size_t mark = portsim::writes().size();
        QMap<QString, int> calls;
        // The private close slot, a late close request from the window system
        // and the application's quit, all before the event loop comes round.
        QCOMPARE(runUntilExit([&] {
                     QVERIFY(QMetaObject::invokeMethod(form.data(), "close", Q_ARG(bool, false)));
                     QCloseEvent late;
                     QCoreApplication::sendEvent(form.data(), &late);
                     QVERIFY(late.isAccepted());
                     QCoreApplication::quit();
                     calls = form->calls;
                 }),
                 0);
        QVERIFY(!form);
        QCOMPARE(calls["close"], 2);
        QCOMPARE(dataWrites(0x378, mark), QList<int>({0}));
        QCOMPARE(fileContents(PORT_FILE), QByteArray("LPT1\n"));
    }

    // A refused port, at start (main() then tells the operator) or on a change
    // of port: the reasons on standard error, in the box only where there is
    // a display, status 1, and the choice saved before kept.
    void portRefusal_data()
    {
        QTest::addColumn<bool>("atStart");
        QTest::addColumn<std::optional<bool>>("display");
        QTest::newRow("at start, offscreen") << true << std::optional<bool>();
        QTest::newRow("at start, on a display") << true << std::optional<bool>(true);
        QTest::newRow("change of port, offscreen") << false << std::optional<bool>();
        QTest::newRow("change of port, on a display") << false << std::optional<bool>(true);
    }

    void portRefusal()
    {
        QFETCH(bool, atStart);
        QFETCH(std::optional<bool>, display);
        {
            QFile file(PORT_FILE);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("LPT1\n") == 5);
        }
        if (atStart)
            portsim::refuseClaims();
        makeForm();
        form->display = display;
        QCOMPARE(form->portRefusedAtStart() != nullptr, atStart);
        QStringList shown;
        int status = 1; // at start main() returns it, as the programs' test sees
        const QByteArray said = capturedOutput(stderr, [&] {
            if (atStart) {
                form->tellPortRefusal(*form->portRefusedAtStart());
                shown = form->errors;
                return;
            }
            portsim::refuseClaims();
            status = runUntilExit([&] {
                form->LPT2Action->trigger();
                shown = form->errors;
            });
        });
        QCOMPARE(status, 1);
        QCOMPARE(!form, !atStart);
        const QString lines =
            "can't get IO permissions!: Operation not permitted\nPARALLEL PORT NOT FOUND";
        QCOMPARE(QString::fromUtf8(said), lines + '\n');
        QCOMPARE(shown, display ? QStringList{lines} : QStringList());
        QCOMPARE(fileContents(PORT_FILE), QByteArray("LPT1\n"));
    }

    void languageChangeKeepsWhatTheOperatorEntered()
    {
        makeForm();
        const QList<QLineEdit*> fields = form->findChildren<QLineEdit*>();
        for (QLineEdit* field : fields)
            field->setText(field->objectName());
        form->mode_combo->setCurrentIndex(3);
        form->LPT1Action->setText("stale");

        QEvent change(QEvent::LanguageChange);
        QCoreApplication::sendEvent(form.data(), &change);

        QCOMPARE(form->LPT1Action->text(), QString("LPT1"));
        for (QLineEdit* field : fields)
            QCOMPARE(field->text(), field->objectName());
        QCOMPARE(form->mode_combo->currentIndex(), 3);
        QCOMPARE(form->mode_combo->count(), 5);
        QCOMPARE(form->windowTitle(), QString("NUBTactile"));
    }

    void errorShowsPlainCriticalBox()
    {
        const auto plain = std::make_unique<main_form>();
        QStringList seen;
        QTimer::singleShot(0, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                seen << box->windowTitle() << box->text() << box->parentWidget()->objectName()
                     << (box->textFormat() == Qt::PlainText ? "plain" : "markup")
                     << (box->icon() == QMessageBox::Critical ? "critical" : "other icon")
                     << (box->standardButtons() == QMessageBox::Ok ? "OK" : "other buttons");
                box->accept();
            }
        });
        // A file or patient name must be shown as typed, never as markup.
        plain->error("Could not open <b>caf\xc3\xa9</b>.cfg");
        QCOMPARE(seen, QStringList({"NUBTactile", "Could not open <b>café</b>.cfg", "main_form",
                                    "plain", "critical", "OK"}));
    }

    void isNumber()
    {
        const char* const texts[] = {nullptr, "", "007", "99999999999999999999", "5 ", "\xd9\xa3"};
        QList<bool> numbers;
        for (const char* text : texts)
            numbers << main_form::isNumber(text);
        QCOMPARE(numbers, QList<bool>({false, false, true, true, false, false}));
    }

    void centring()
    {
        const QSize screen(1024, 768);
        QCOMPARE(centredPosition(screen, {600, 500}), QPoint(212, 134));
        QCOMPARE(centredPosition(screen, {1100, 500}), QPoint(-38, 134));
        // Truncated toward zero, not rounded down.
        QCOMPARE(centredPosition(screen, {1027, 771}), QPoint(-1, -1));
    }
};

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"
