// The main window as built: widgets, menus, actions, shortcuts, slot table,
// tab order, the port file, the one shutdown path, and the start-up helpers.

#include "main_form.h"
#include "pins.h"
#include "placement.h"
#include "portio_sim.h"
#include "pport.h"

#include "xpm/image0.xpm"
#include "xpm/image1.xpm"
#include "xpm/image2.xpm"
#include "xpm/image3.xpm"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMetaMethod>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>

#include <functional>
#include <memory>

namespace
{

// Records messages instead of showing them, and counts the slots that a menu,
// a shortcut or a widget reaches. The file, window and sending slots are
// replaced by counters so nothing modal opens.
class CountingForm : public main_form
{
public:
    using main_form::main_form;

    QStringList errors;
    QMap<QString, int> calls;

    void error(const char* msg) override { errors << QString::fromUtf8(msg); }
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

const char* const PORT_FILE = "NUBTactile_pport.cfg";

QByteArray fileContents(const QString& name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QString visibleText(QWidget* w)
{
    if (auto* box = qobject_cast<QGroupBox*>(w))
        return box->title();
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        return edit->text();
    if (auto* label = qobject_cast<QLabel*>(w))
        return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(w))
        return button->text();
    return QString();
}

QString pinTip(int pin, const char* display = "display")
{
    return QStringLiteral("If this mark is checked, pin %1 will be activated on the braille %2")
        .arg(pin)
        .arg(QLatin1String(display));
}

// Data-register writes at `address` since write number `from`.
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

    CountingForm* makeForm(const char* name = nullptr)
    {
        form = new CountingForm(nullptr, name, Qt::Window);
        form->app = qApp;
        return form;
    }

    void showActive(QWidget* w)
    {
        w->show();
        QApplication::setActiveWindow(w);
        QVERIFY(QTest::qWaitForWindowActive(w));
    }

    // Runs `request` inside the application's event loop, as in the program,
    // and returns the loop's exit code: 0 when the window ended the program,
    // -1 when nothing ended it within five seconds.
    int runUntilExit(const std::function<void()>& request)
    {
        QTimer::singleShot(0, qApp, request);
        QTimer watchdog;
        watchdog.setSingleShot(true);
        connect(&watchdog, &QTimer::timeout, qApp, [] { QCoreApplication::exit(-1); });
        watchdog.start(5000);
        return QCoreApplication::exec();
    }

private slots:
    void initTestCase()
    {
        // The program quits when its last window closes; here the window's own
        // shutdown path must be what ends the event loop.
        QApplication::setQuitOnLastWindowClosed(false);
        previousDir = QDir::currentPath();
    }

    void init()
    {
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
        QTest::addColumn<QString>("parentName");
        QTest::addColumn<QRect>("rect");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<int>("checked"); // -1: not a check box
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("toolTip");

        const QString central = "qt_central_widget";
        const QString ms = " (in miliseconds)";
        auto row = [](const char* name, const char* cls, const QString& parent, QRect rect,
                      bool enabled, int checked, const QString& text, const QString& tip) {
            QTest::newRow(name) << QString(cls) << parent << rect << enabled << checked << text
                                << tip;
        };
        row("patient_box", "QGroupBox", central, {20, 10, 181, 110}, true, -1,
            "Patients information", "");
        row("patient_name_text", "QLineEdit", "patient_box", {90, 20, 70, 21}, true, -1, "",
            "Your name");
        row("patient_last_name_text", "QLineEdit", "patient_box", {90, 50, 70, 21}, true, -1, "",
            "Your last name");
        row("patient_last_name_label", "QLabel", "patient_box", {10, 50, 80, 20}, true, -1,
            "Last name", "");
        row("patient_name_label", "QLabel", "patient_box", {10, 20, 70, 20}, true, -1, "Name", "");
        row("log_check", "QCheckBox", "patient_box", {10, 80, 160, 21}, true, 1, "Log this session",
            "Set this mark on for saving your actions in a log file");
        row("pin_group", "QGroupBox", central, {20, 130, 181, 220}, true, -1, "Pins", "");
        row("textLabel2", "QLabel", "pin_group", {10, 140, 60, 21}, true, -1, "Duration", "");
        row("pins_duration_text", "QLineEdit", "pin_group", {80, 140, 80, 21}, true, -1, "",
            "The duration of the signal" + ms);
        row("pin_6_check", "QCheckBox", "pin_group", {10, 110, 80, 21}, true, 0, "Pin 6",
            pinTip(6));
        row("pin_4_check", "QCheckBox", "pin_group", {10, 80, 80, 21}, true, 0, "Pin 4",
            pinTip(4, "displaysplay"));
        row("pin_2_check", "QCheckBox", "pin_group", {10, 50, 80, 21}, true, 0, "Pin 2", pinTip(2));
        row("pin_0_check", "QCheckBox", "pin_group", {10, 20, 80, 21}, true, 0, "Pin 0", pinTip(0));
        row("pin_1_check", "QCheckBox", "pin_group", {100, 20, 70, 21}, true, 0, "Pin 1",
            pinTip(1));
        row("pin_3_check", "QCheckBox", "pin_group", {100, 50, 70, 21}, true, 0, "Pin 3",
            pinTip(3));
        row("pin_5_check", "QCheckBox", "pin_group", {100, 80, 70, 21}, true, 0, "Pin 5",
            pinTip(5));
        row("pin_7_check", "QCheckBox", "pin_group", {100, 110, 70, 21}, true, 0, "Pin 7",
            pinTip(7));
        row("pins_button", "QPushButton", "pin_group", {40, 180, 100, 30}, true, -1, "Single shot",
            "Send the singal acording to the information above");
        row("time_group_box", "QGroupBox", central, {210, 10, 181, 340}, true, -1, "Times", "");
        row("trigger_time_text", "QLineEdit", "time_group_box", {100, 20, 60, 20}, true, -1, "",
            "Trigger time. Sets the duration of the trigger signal" + ms);
        row("after_trigger_time_text", "QLineEdit", "time_group_box", {100, 50, 60, 20}, true, -1,
            "",
            "Sets the duration of the period between the end of the trigger signal and the "
            "start of the first character signal" +
                ms);
        row("char_time_text", "QLineEdit", "time_group_box", {100, 80, 60, 20}, true, -1, "",
            "Duration of each char of the word" + ms);
        row("after_char_time_text", "QLineEdit", "time_group_box", {100, 110, 60, 20}, true, -1, "",
            "Interval period between the end of the signal of one character and the start of "
            "the next one" +
                ms);
        row("textLabel1", "QLabel", "time_group_box", {10, 20, 80, 21}, true, -1, "Trigger", "");
        row("textLabel1_3", "QLabel", "time_group_box", {10, 80, 90, 21}, true, -1, "Char duration",
            "");
        row("loop_count_label", "QLabel", "time_group_box", {10, 140, 90, 21}, true, -1, "Loop",
            "");
        row("textLabel1_4", "QLabel", "time_group_box", {10, 110, 90, 21}, true, -1, "Interval",
            "");
        row("textLabel1_2", "QLabel", "time_group_box", {10, 50, 81, 21}, true, -1, "After trigger",
            "");
        row("send_button", "QPushButton", "time_group_box", {40, 300, 100, 30}, true, -1, "Send",
            "Send the signals acording to the information given above");
        row("loop_count_text", "QLineEdit", "time_group_box", {100, 140, 60, 20}, true, -1, "",
            "Number of repetitions of the word");
        row("sequence_box", "QGroupBox", "time_group_box", {10, 170, 160, 120}, true, -1,
            "Sequence", "");
        row("length_label", "QLabel", "sequence_box", {10, 90, 70, 21}, false, -1, "Length", "");
        row("word_text", "QLineEdit", "sequence_box", {50, 60, 100, 21}, false, -1, "",
            "Word to codify into braille");
        row("word_label", "QLabel", "sequence_box", {10, 60, 40, 21}, false, -1, "Text", "");
        row("mode_combo", "QComboBox", "sequence_box", {10, 30, 140, 21}, true, -1, "",
            "Data mode to be sent to the braille cell");
        row("sequence_length_text", "QLineEdit", "sequence_box", {90, 90, 60, 20}, false, -1, "",
            "Number of random braille characters to send");
    }

    void widgetTree()
    {
        QFETCH(QString, className);
        QFETCH(QString, parentName);
        QFETCH(QRect, rect);
        QFETCH(bool, enabled);
        QFETCH(int, checked);
        QFETCH(QString, text);
        QFETCH(QString, toolTip);

        makeForm();
        const QString name = QTest::currentDataTag();
        const QList<QWidget*> found = form->findChildren<QWidget*>(name);
        QCOMPARE(found.size(), 1);
        QWidget* w = found.first();
        QCOMPARE(QString(w->metaObject()->className()), className);
        QVERIFY(w->parentWidget());
        QCOMPARE(w->parentWidget()->objectName(), parentName);
        QCOMPARE(w->geometry(), rect);
        QCOMPARE(w->isEnabled(), enabled);
        if (auto* check = qobject_cast<QCheckBox*>(w))
            QCOMPARE(int(check->isChecked()), checked);
        else
            QCOMPARE(checked, -1);
        QCOMPARE(visibleText(w), text);
        QCOMPARE(w->toolTip(), toolTip);
        QCOMPARE(w->whatsThis(), QString());
    }

    void modeItems()
    {
        makeForm();
        QStringList items;
        for (int i = 0; i < form->mode_combo->count(); ++i)
            items << form->mode_combo->itemText(i);
        QCOMPARE(items, QStringList({"Select a mode", "Text", "Random valid", "Random non-valid",
                                     "Random mixed"}));
        QCOMPARE(form->mode_combo->currentIndex(), 0);
        QVERIFY(!form->mode_combo->isEditable());
    }

    void window_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("objectName");
        QTest::newRow("no name") << QByteArray() << "main_form";
        QTest::newRow("given name") << QByteArray("console") << "console";
    }

    void window()
    {
        QFETCH(QByteArray, name);
        QFETCH(QString, objectName);
        makeForm(name.isNull() ? nullptr : name.constData());
        QCOMPARE(form->objectName(), objectName);
        QCOMPARE(form->windowTitle(), QString("NUBTactile"));
        QCOMPARE(form->windowType(), Qt::Window);

        const QSize size = form->size();
        QVERIFY(size.width() >= 411 && size.height() >= 413);
        QCOMPARE(size, QSize(411, 413).expandedTo(form->minimumSizeHint()));

        const QSizePolicy policy = form->sizePolicy();
        QCOMPARE(policy.horizontalPolicy(), QSizePolicy::Minimum);
        QCOMPARE(policy.verticalPolicy(), QSizePolicy::Minimum);
        QCOMPARE(policy.horizontalStretch(), 0);
        QCOMPARE(policy.verticalStretch(), 0);

        QCOMPARE(form->windowIcon().pixmap(68, 88).toImage().convertToFormat(QImage::Format_ARGB32),
                 QPixmap(image0_data).toImage().convertToFormat(QImage::Format_ARGB32));
        QCOMPARE(form->centralWidget()->objectName(), QString("qt_central_widget"));
        QCOMPARE(form->centralWidget()->metaObject(), &QWidget::staticMetaObject);
        QVERIFY(form->findChild<QStatusBar*>());
        QVERIFY(!form->findChild<QToolBar*>());
        QCOMPARE(form->menuBar(), form->MenuBar);
        QCOMPARE(form->MenuBar->objectName(), QString("MenuBar"));
        QCOMPARE(form->MenuBar->parent(), form.data());
        QVERIFY(form->errors.isEmpty());
    }

    void menus()
    {
        makeForm();
        struct Expected {
            QMenu* menu;
            int id;
            QString text;
            QStringList entries;
        };
        const QList<Expected> expected = {
            {form->fileMenu,
             2,
             "&File",
             {"fileNewMenu", "fileOpenMenu", "fileSaveMenu", "-", "fileTrainingAction", "-",
              "fileExitMenu"}},
            {form->parallelPortMenu, 3, "&Parallel Port", {"LPT1Action", "LPT2Action"}},
            {form->helpMenu, 4, "&Help", {"helpAboutMenu"}},
        };
        const QList<QAction*> items = form->MenuBar->actions();
        QCOMPARE(items.size(), expected.size());
        for (int i = 0; i < items.size(); ++i) {
            const Expected& e = expected[i];
            QCOMPARE(items[i]->menu(), e.menu);
            QCOMPARE(items[i]->data().toInt(), e.id);
            QCOMPARE(items[i]->text(), e.text);
            QCOMPARE(e.menu->title(), e.text);
            QCOMPARE(e.menu->parent(), form.data());
            QCOMPARE(e.menu->objectName(), QString());
            QStringList entries;
            for (QAction* a : e.menu->actions())
                entries << (a->isSeparator() ? QString("-") : a->objectName());
            QCOMPARE(entries, e.entries);
        }
    }

    void actions_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("menuText");
        QTest::addColumn<QString>("toolTip");
        QTest::addColumn<QString>("shortcut");
        QTest::addColumn<int>("icon"); // 0 none, else the picture's number
        QTest::addColumn<bool>("checkable");
        // No tool tip of their own: the toolkit then shows the plain text.
        QTest::newRow("fileNewMenu") << "New"
                                     << "&New"
                                     << "New"
                                     << "Ctrl+N" << 1 << false;
        QTest::newRow("fileExitMenu") << "Exit"
                                      << "E&xit"
                                      << "Exit"
                                      << "Ctrl+Q" << 0 << false;
        QTest::newRow("helpAboutMenu") << "About"
                                       << "&About"
                                       << "About"
                                       << "F9" << 0 << false;
        QTest::newRow("fileOpenMenu") << "Open"
                                      << "&Open"
                                      << "Open"
                                      << "Ctrl+O" << 2 << false;
        QTest::newRow("fileSaveMenu") << "Save"
                                      << "&Save"
                                      << "Save"
                                      << "Ctrl+S" << 3 << false;
        QTest::newRow("fileTrainingAction") << "Training session"
                                            << "Training session"
                                            << "Training session"
                                            << "Ctrl+T" << 0 << false;
        QTest::newRow("LPT1Action") << "LPT1"
                                    << "LPT1"
                                    << "LPT1"
                                    << "F1" << 0 << true;
        QTest::newRow("LPT2Action") << "LPT2"
                                    << "LPT2"
                                    << "LPT2"
                                    << "F2" << 0 << true;
    }

    void actions()
    {
        QFETCH(QString, text);
        QFETCH(QString, menuText);
        QFETCH(QString, toolTip);
        QFETCH(QString, shortcut);
        QFETCH(int, icon);
        QFETCH(bool, checkable);

        makeForm();
        auto* action = form->findChild<QAction*>(QTest::currentDataTag());
        QVERIFY(action);
        QCOMPARE(action->iconText(), text);
        QCOMPARE(action->text(), menuText);
        QCOMPARE(action->toolTip(), toolTip);
        QCOMPARE(action->shortcut(), QKeySequence(shortcut));
        QCOMPARE(action->isCheckable(), checkable);
        if (checkable) {
            QCOMPARE(action->parent(), form->parallel_portAction);
            QCOMPARE(action->actionGroup(), form->parallel_portAction);
        } else {
            QCOMPARE(action->parent(), form.data());
            QVERIFY(!action->actionGroup());
        }
        const char* const* pictures[] = {nullptr, image1_data, image2_data, image3_data};
        QCOMPARE(action->icon().isNull(), icon == 0);
        if (icon) {
            QCOMPARE(action->icon().pixmap(22, 22).toImage().convertToFormat(QImage::Format_ARGB32),
                     QPixmap(pictures[icon]).toImage().convertToFormat(QImage::Format_ARGB32));
        }
        QCOMPARE(form->parallel_portAction->objectName(), QString("parallel_portAction"));
        QVERIFY(form->parallel_portAction->isExclusive());
        QCOMPARE(form->parallel_portAction->parent(), form.data());
    }

    // How an operator reaches each slot, and the one slot it must reach once.
    void activations_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("slot");
        const QList<QPair<QString, QString>> keys = {
            {"Ctrl+N", "fileNew"},         {"Ctrl+O", "fileOpen"}, {"Ctrl+S", "fileSave"},
            {"Ctrl+T", "trainingSession"}, {"Ctrl+Q", "close"},    {"F1", "initPPort"},
            {"F2", "initPPort"},           {"F9", "helpAbout"},
        };
        for (const auto& [key, slot] : keys)
            QTest::newRow(qPrintable("key " + key)) << "key " + key << slot;
        const QList<QPair<QString, QString>> actions = {
            {"fileNewMenu", "fileNew"},   {"fileOpenMenu", "fileOpen"},
            {"fileSaveMenu", "fileSave"}, {"fileTrainingAction", "trainingSession"},
            {"fileExitMenu", "close"},    {"LPT1Action", "initPPort"},
            {"LPT2Action", "initPPort"},  {"helpAboutMenu", "helpAbout"},
        };
        for (const auto& [action, slot] : actions)
            QTest::newRow(qPrintable("menu " + action)) << "menu " + action << slot;
        QTest::newRow("click send_button") << "click send_button"
                                           << "setTimes";
        QTest::newRow("click pins_button") << "click pins_button"
                                           << "setPins";
        QTest::newRow("click log_check") << "click log_check"
                                         << "logShow";
        QTest::newRow("choose mode") << "choose mode_combo"
                                     << "randomShow";
        // Changes made by the program itself are not the operator's choices.
        QTest::newRow("setChecked log_check") << "set log_check"
                                              << "";
        QTest::newRow("setCurrentIndex mode_combo") << "set mode_combo"
                                                    << "";
    }

    void activations()
    {
        QFETCH(QString, how);
        QFETCH(QString, slot);

        makeForm();
        showActive(form);
        const QString target = how.section(' ', 1);
        auto act = [&] {
            if (how.startsWith("key ")) {
                const QKeyCombination key = QKeySequence(target)[0];
                QTest::keyClick(form.data(), key.key(), key.keyboardModifiers());
            } else if (how.startsWith("menu ")) {
                form->findChild<QAction*>(target)->trigger();
            } else if (how.startsWith("click ")) {
                form->findChild<QAbstractButton*>(target)->click();
            } else if (how == "choose mode_combo") {
                form->mode_combo->setFocus();
                QTest::keyClick(form->mode_combo, Qt::Key_Down);
                QCOMPARE(form->mode_combo->currentIndex(), 1);
            } else if (how == "set log_check") {
                form->log_check->setChecked(false);
            } else if (how == "set mode_combo") {
                form->mode_combo->setCurrentIndex(3);
            }
        };
        QMap<QString, int> expected;
        if (!slot.isEmpty())
            expected[slot] = 1;
        if (slot == "close") {
            // The window must end the event loop itself, with status 0.
            QMap<QString, int> calls;
            QCOMPARE(runUntilExit([&] {
                         act();
                         if (form)
                             calls = form->calls;
                     }),
                     0);
            QVERIFY(!form);
            QCOMPARE(calls, expected);
            return;
        }
        act();
        QCOMPARE(form->calls, expected);
        QVERIFY(form->errors.isEmpty());
    }

    void portActionsAreExclusiveAndReinitialise()
    {
        makeForm();
        QVERIFY(form->LPT1Action->isChecked());
        QCOMPARE(form->port, 0x378);

        std::size_t mark = portsim::writes().size();
        form->LPT2Action->trigger();
        QVERIFY(!form->LPT1Action->isChecked());
        QVERIFY(form->LPT2Action->isChecked());
        QCOMPARE(form->calls["initPPort"], 1);
        QCOMPARE(form->port, 0x278);
        QCOMPARE(dataWrites(0x278, mark).value(0, -1), 0);
        QVERIFY(dataWrites(0x378, mark).isEmpty());

        // The port already in use: prepared again, its raised lines lowered.
        set_pin(0x2D);
        QCOMPARE(portsim::hardware(0x278), 0x2D);
        mark = portsim::writes().size();
        form->LPT2Action->trigger();
        QVERIFY(form->LPT2Action->isChecked());
        QVERIFY(!form->LPT1Action->isChecked());
        QCOMPARE(form->calls["initPPort"], 2);
        QCOMPARE(dataWrites(0x278, mark), QList<int>({0}));
        QCOMPARE(portsim::hardware(0x278), 0);

        mark = portsim::writes().size();
        form->LPT1Action->trigger();
        QVERIFY(form->LPT1Action->isChecked());
        QVERIFY(!form->LPT2Action->isChecked());
        QCOMPARE(form->calls["initPPort"], 3);
        QCOMPARE(form->port, 0x378);
        QCOMPARE(dataWrites(0x378, mark), QList<int>({0}));
    }

    void tabOrder()
    {
        makeForm();
        showActive(form);
        // The mode fields start disabled and Tab passes disabled fields by.
        form->word_text->setEnabled(true);
        form->sequence_length_text->setEnabled(true);
        form->patient_name_text->setFocus();
        QStringList visited{QApplication::focusWidget()->objectName()};
        for (int i = 0; i < 21; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(visited, QStringList({"patient_name_text",
                                       "patient_last_name_text",
                                       "log_check",
                                       "pin_0_check",
                                       "pin_1_check",
                                       "pin_2_check",
                                       "pin_3_check",
                                       "pin_4_check",
                                       "pin_5_check",
                                       "pin_6_check",
                                       "pin_7_check",
                                       "pins_duration_text",
                                       "pins_button",
                                       "trigger_time_text",
                                       "after_trigger_time_text",
                                       "char_time_text",
                                       "after_char_time_text",
                                       "loop_count_text",
                                       "mode_combo",
                                       "word_text",
                                       "sequence_length_text",
                                       "send_button"}));
    }

    void slotTable()
    {
        const QMetaObject& meta = main_form::staticMetaObject;
        QCOMPARE(QByteArray(meta.className()), QByteArray("main_form"));
        QCOMPARE(meta.superClass(), &QMainWindow::staticMetaObject);
        const QList<QPair<QByteArray, QMetaMethod::Access>> expected = {
            {"initPPort()", QMetaMethod::Public},
            {"fileNew()", QMetaMethod::Public},
            {"fileOpen()", QMetaMethod::Public},
            {"fileSave()", QMetaMethod::Public},
            {"trainingSession()", QMetaMethod::Public},
            {"helpAbout()", QMetaMethod::Public},
            {"setTimes()", QMetaMethod::Public},
            {"setPins()", QMetaMethod::Public},
            {"send()", QMetaMethod::Public},
            {"randomShow()", QMetaMethod::Public},
            {"logShow()", QMetaMethod::Public},
            {"error(const char*)", QMetaMethod::Public},
            {"startLog()", QMetaMethod::Public},
            {"closeLog()", QMetaMethod::Public},
            {"languageChange()", QMetaMethod::Protected},
            {"init()", QMetaMethod::Private},
            {"close(bool)", QMetaMethod::Private},
        };
        QCOMPARE(meta.methodCount() - meta.methodOffset(), int(expected.size()));
        for (int i = 0; i < expected.size(); ++i) {
            const QMetaMethod m = meta.method(meta.methodOffset() + i);
            QCOMPARE(m.methodSignature(), expected[i].first);
            QCOMPARE(m.access(), expected[i].second);
            QCOMPARE(m.methodType(), QMetaMethod::Slot);
        }
        QCOMPARE(QByteArray(meta.method(meta.indexOfMethod("close(bool)")).typeName()),
                 QByteArray("bool"));
        QCOMPARE(meta.indexOfMethod("checkValues()"), -1);
        QCOMPARE(meta.propertyCount(), meta.propertyOffset());
        QCOMPARE(meta.enumeratorCount(), meta.enumeratorOffset());

        // A slot reached through the meta-object runs the override.
        makeForm();
        QVERIFY(QMetaObject::invokeMethod(form.data(), "fileSave"));
        QCOMPARE(form->calls["fileSave"], 1);
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
        QTest::newRow("LPT2 after an empty line") << QByteArray("\nLPT2\n") << false;
        QTest::newRow("lower case") << QByteArray("lpt2\n") << false;
        QTest::newRow("trailing blank") << QByteArray("LPT2 \n") << false;
        QTest::newRow("longer word") << QByteArray("LPT22\n") << false;
        QTest::newRow("binary") << QByteArray("LPT2\0\n", 6) << false;
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
        QVERIFY(!portsim::writes().empty());
        for (const portsim::Write& w : portsim::writes())
            QVERIFY2(w.address >= base && w.address <= base + 2,
                     qPrintable(QString::number(w.address, 16)));
        QCOMPARE(dataWrites(base), QList<int>({0}));
        // The start reads the file and leaves it as it was.
        if (!contents.isNull())
            QCOMPARE(fileContents(PORT_FILE), contents);

        set_pin(0x3F);
        const std::size_t mark = portsim::writes().size();
        QCOMPARE(runUntilExit([this] { form->fileExitMenu->trigger(); }), 0);
        QVERIFY(!form);
        QCOMPARE(fileContents(PORT_FILE), QByteArray(lpt2 ? "LPT2\n" : "LPT1\n"));
        QCOMPARE(dataWrites(base, mark), QList<int>({0}));
    }

    void choiceMadeInTheMenuIsSaved_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QByteArray>("saved");
        QTest::newRow("LPT2") << "LPT2Action" << QByteArray("LPT2\n");
        QTest::newRow("LPT2 then LPT1") << "LPT2Action LPT1Action" << QByteArray("LPT1\n");
    }

    void choiceMadeInTheMenuIsSaved()
    {
        QFETCH(QString, action);
        QFETCH(QByteArray, saved);
        makeForm();
        for (const QString& name : action.split(' '))
            form->findChild<QAction*>(name)->trigger();
        QCOMPARE(runUntilExit([this] { form->close(); }), 0);
        QCOMPARE(fileContents(PORT_FILE), saved);

        // The next start picks the saved port without any menu action.
        portsim::reset();
        pin_layer_reset();
        makeForm();
        QCOMPARE(form->LPT2Action->isChecked(), saved == "LPT2\n");
        QCOMPARE(form->port, saved == "LPT2\n" ? 0x278 : 0x378);
    }

    void unwritablePortFileStillCloses()
    {
        QVERIFY(QDir().mkdir(PORT_FILE));
        makeForm();
        QVERIFY(form->LPT1Action->isChecked());
        set_pin(0x21);
        QCOMPARE(runUntilExit([this] { form->close(); }), 0);
        QVERIFY(!form);
        QVERIFY(QFileInfo(PORT_FILE).isDir());
        QCOMPARE(portsim::hardware(0x378), 0);
    }

    void shutdownRunsOnce()
    {
        makeForm();
        showActive(form);
        const std::size_t mark = portsim::writes().size();
        QMap<QString, int> calls;
        // The private close slot, then a close request from the window system
        // that arrives late, then the application's quit, all before the event
        // loop comes round again.
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

    void languageChangeKeepsWhatTheOperatorEntered()
    {
        makeForm();
        const QList<QLineEdit*> fields = form->findChildren<QLineEdit*>();
        for (QLineEdit* field : fields)
            field->setText(field->objectName());
        form->mode_combo->setCurrentIndex(3);
        form->patient_name_label->setText("stale");
        form->LPT1Action->setText("stale");

        QEvent change(QEvent::LanguageChange);
        QCoreApplication::sendEvent(form.data(), &change);

        QCOMPARE(form->patient_name_label->text(), QString("Name"));
        QCOMPARE(form->LPT1Action->text(), QString("LPT1"));
        for (QLineEdit* field : fields)
            QCOMPARE(field->text(), field->objectName());
        QCOMPARE(form->mode_combo->currentIndex(), 3);
        QCOMPARE(form->mode_combo->count(), 5);
        QCOMPARE(form->windowTitle(), QString("NUBTactile"));
        QVERIFY(form->calls.isEmpty());
    }

    void errorShowsPlainCriticalBox()
    {
        // The real message routine, not the recording one.
        const auto plain = std::make_unique<main_form>();
        QString title, text, parent;
        int format = -1, icon = -1, buttons = -1;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            title = box->windowTitle();
            text = box->text();
            format = box->textFormat();
            icon = box->icon();
            buttons = box->standardButtons();
            parent = box->parentWidget() ? box->parentWidget()->objectName() : QString();
            box->accept();
        });
        plain->error("Could not open <b>caf\xc3\xa9</b>.cfg");
        QCOMPARE(title, QString("NUBTactile"));
        QCOMPARE(text, QString::fromUtf8("Could not open <b>caf\xc3\xa9</b>.cfg"));
        QCOMPARE(format, int(Qt::PlainText));
        QCOMPARE(icon, int(QMessageBox::Critical));
        QCOMPARE(buttons, int(QMessageBox::Ok));
        QCOMPARE(parent, QString("main_form"));
    }

    void isNumber_data()
    {
        QTest::addColumn<QByteArray>("text"); // null: a null pointer
        QTest::addColumn<bool>("number");
        QTest::newRow("null") << QByteArray() << false;
        QTest::newRow("empty") << QByteArray("") << false;
        QTest::newRow("0") << QByteArray("0") << true;
        QTest::newRow("007") << QByteArray("007") << true;
        QTest::newRow("beyond 32 bits") << QByteArray("99999999999999999999") << true;
        QTest::newRow("plus") << QByteArray("+5") << false;
        QTest::newRow("minus") << QByteArray("-5") << false;
        QTest::newRow("leading blank") << QByteArray(" 5") << false;
        QTest::newRow("trailing blank") << QByteArray("5 ") << false;
        QTest::newRow("decimal point") << QByteArray("5.0") << false;
        QTest::newRow("letter inside") << QByteArray("1a2") << false;
        QTest::newRow("arabic-indic digit") << QByteArray("\xd9\xa3") << false;
    }

    void isNumber()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, number);
        QCOMPARE(main_form::isNumber(text.isNull() ? nullptr : text.constData()), number);
    }

    void centring_data()
    {
        QTest::addColumn<QSize>("screen");
        QTest::addColumn<QSize>("window");
        QTest::addColumn<QPoint>("position");
        QTest::newRow("1024x768") << QSize(1024, 768) << QSize(600, 500) << QPoint(212, 134);
        QTest::newRow("odd difference truncates")
            << QSize(800, 800) << QSize(411, 413) << QPoint(194, 193);
        QTest::newRow("wider than the screen")
            << QSize(1024, 768) << QSize(1100, 500) << QPoint(-38, 134);
        QTest::newRow("one pixel too large")
            << QSize(1024, 768) << QSize(1025, 769) << QPoint(0, 0);
        QTest::newRow("three pixels too large")
            << QSize(1024, 768) << QSize(1027, 771) << QPoint(-1, -1);
    }

    void centring()
    {
        QFETCH(QSize, screen);
        QFETCH(QSize, window);
        QFETCH(QPoint, position);
        QCOMPARE(centredPosition(screen, window), position);
    }

    void pictures_data()
    {
        QTest::addColumn<quintptr>("xpm");
        QTest::addColumn<QByteArray>("header");
        QTest::newRow("image0") << quintptr(image0_data) << QByteArray("68 88 101 2");
        QTest::newRow("image1") << quintptr(image1_data) << QByteArray("22 22 8 1");
        QTest::newRow("image2") << quintptr(image2_data) << QByteArray("22 22 7 1");
        QTest::newRow("image3") << quintptr(image3_data) << QByteArray("22 22 10 1");
    }

    void pictures()
    {
        QFETCH(quintptr, xpm);
        QFETCH(QByteArray, header);
        const auto* const* lines = reinterpret_cast<const char* const*>(xpm);
        QCOMPARE(QByteArray(lines[0]), header);
        const QList<QByteArray> numbers = header.split(' ');
        const int width = numbers[0].toInt(), height = numbers[1].toInt();
        const int colours = numbers[2].toInt(), cpp = numbers[3].toInt();

        QSet<QByteArray> keys;
        int transparent = 0;
        for (int i = 1; i <= colours; ++i) {
            const QByteArray line(lines[i]);
            keys << line.left(cpp);
            if (line.mid(cpp).simplified() == "c None")
                ++transparent;
        }
        QCOMPARE(keys.size(), colours);
        QCOMPARE(transparent, 1);
        const QPixmap pixmap(lines);
        QVERIFY(!pixmap.isNull());
        QCOMPARE(pixmap.size(), QSize(width, height));
        QVERIFY(pixmap.hasAlphaChannel());
    }
};

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"
