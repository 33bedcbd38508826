#include "main_form.h"
#include "nubtactile.h"
#include "pins.h"
#include "portio_sim.h"
#include "pport.h"
#include "trainer_form.h"
#include "virtual_clock.h"

#include <QApplication>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMetaMethod>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <new>
#include <utility>

namespace
{

// Armed by a test: the next nothrow allocation of exactly this size fails.
std::size_t failScalarOfSize = 0;
std::size_t failArrayOfSize = 0;

} // namespace

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    if (size == std::exchange(failScalarOfSize, 0))
        return nullptr;
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    if (size == std::exchange(failArrayOfSize, 0))
        return nullptr;
    try {
        return ::operator new[](size);
    } catch (...) {
        return nullptr;
    }
}

namespace
{

constexpr std::int64_t MS = NS_PER_MS;
const QString DURATION_MESSAGE = QStringLiteral(
    "Braille|The char duration text has a wrong format. Please check it and try again");
const QString MEMORY_MESSAGE = QStringLiteral(
    "NUBTactile|Not enough memory. Please stop the programs you are using and try again");

QApplication* application()
{
    return static_cast<QApplication*>(QCoreApplication::instance());
}

// The Trainer with its message boxes recorded instead of shown.
class ProbeTrainer : public trainer_form
{
public:
    QStringList messages; // "caption|text"

    ProbeTrainer()
    {
        app = application();
        port = LPT1_BASE;
    }

protected:
    void critical(const QString& caption, const QString& text) override
    {
        messages << caption + QLatin1Char('|') + text;
    }
};

QProgressDialog* progressDialog()
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* dialog = qobject_cast<QProgressDialog*>(w))
            return dialog;
    }
    return nullptr;
}

// Runs one step of a typing script on the text field:
// "type TEXT" one key click per character, "insert TEXT" one change (a paste),
// "move N" cursor position, "select FROM LENGTH", "back" one backspace.
void act(QLineEdit* field, const QString& step)
{
    const QString verb = step.section(QLatin1Char(' '), 0, 0);
    const QString arg = step.section(QLatin1Char(' '), 1);
    if (verb == QLatin1String("type")) {
        for (const QChar c : arg) {
            if (c.unicode() < 0x80)
                QTest::keyClick(field, char(c.unicode()));
            else
                QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown, QString(c),
                                    Qt::NoModifier);
        }
    } else if (verb == QLatin1String("insert")) {
        field->insert(arg);
    } else if (verb == QLatin1String("move")) {
        field->setCursorPosition(arg.toInt());
    } else if (verb == QLatin1String("select")) {
        field->setSelection(arg.section(QLatin1Char(' '), 0, 0).toInt(),
                            arg.section(QLatin1Char(' '), 1, 1).toInt());
    } else if (verb == QLatin1String("back")) {
        QTest::keyClick(field, Qt::Key_Backspace);
    } else {
        QFAIL(qPrintable(QStringLiteral("unknown step ") + step));
    }
}

} // namespace

class tst_trainer : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<VirtualClock> vc;
    std::size_t firstWrite = 0;

    // Every data-register write since init() as "ms:byte", space separated.
    QString edges() const
    {
        QStringList out;
        const auto& w = portsim::writes();
        for (std::size_t i = firstWrite; i < w.size(); ++i) {
            if (w[i].address == LPT1_BASE)
                out << QStringLiteral("%1:%2").arg(w[i].time / MS).arg(w[i].value);
        }
        return out.join(QLatin1Char(' '));
    }

private slots:
    void init();
    void cleanup();

    void widgetTree_data();
    void widgetTree();
    void window();
    void slotTable();
    void typing_data();
    void typing();
    void durationEditsSendNothing();
    void badDuration_data();
    void badDuration();
    void emptiedWhileDurationWrong();
    void noMemory_data();
    void noMemory();
    void keystrokeDuringSend();
    void abortDuringSend();
    void messageBoxShown();
    void trainingSession();
};

void tst_trainer::init()
{
    pin_layer_reset();
    portsim::reset();
    vc = std::make_unique<VirtualClock>();
    initializeParallelPort(LPT1_BASE);
    firstWrite = portsim::writes().size();
}

void tst_trainer::cleanup()
{
    vc.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(QApplication::topLevelWidgets().isEmpty());
}

void tst_trainer::widgetTree_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("parentName");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("toolTip");

    // clang-format off
    QTest::newRow("groupBox5") << "groupBox5" << "QGroupBox" << "trainer_form"
        << QRect(20, 10, 200, 110) << "Type your text here" << "";
    QTest::newRow("char_duration_label") << "char_duration_label" << "QLabel" << "groupBox5"
        << QRect(20, 70, 90, 21) << "Char duration" << "";
    QTest::newRow("trainer_text") << "trainer_text" << "QLineEdit" << "groupBox5"
        << QRect(20, 30, 160, 26) << "" << "Text to be sent to the braille cell";
    QTest::newRow("char_text") << "char_text" << "QLineEdit" << "groupBox5"
        << QRect(120, 70, 60, 20) << "" << "Duration of each char of the word (in miliseconds)";
    QTest::newRow("cancel_button") << "cancel_button" << "QPushButton" << "trainer_form"
        << QRect(80, 130, 81, 31) << "Close" << "Close this window";
    // clang-format on
}

void tst_trainer::widgetTree()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QString, parentName);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    QFETCH(QString, toolTip);

    trainer_form form;
    auto* widget = form.findChild<QWidget*>(name);
    QVERIFY(widget);
    QCOMPARE(widget->metaObject()->className(), className);
    QCOMPARE(widget->parentWidget()->objectName(), parentName);
    QCOMPARE(widget->geometry(), geometry);
    QCOMPARE(widget->toolTip(), toolTip);
    QString shown;
    if (auto* box = qobject_cast<QGroupBox*>(widget))
        shown = box->title();
    else if (auto* label = qobject_cast<QLabel*>(widget))
        shown = label->text();
    else if (auto* edit = qobject_cast<QLineEdit*>(widget))
        shown = edit->text();
    else if (auto* button = qobject_cast<QPushButton*>(widget))
        shown = button->text();
    QCOMPARE(shown, text);
}

void tst_trainer::window()
{
    {
        trainer_form named(nullptr, "drill", false);
        QCOMPARE(named.objectName(), QStringLiteral("drill"));
    }
    trainer_form form;
    QCOMPARE(form.objectName(), QStringLiteral("trainer_form"));
    QVERIFY(form.isModal());
    QVERIFY(!form.windowIcon().isNull());
    QVERIFY(form.width() >= 241 && form.height() >= 180);
    QVERIFY(form.lastText.isEmpty());

    // Members in the order the children were made.
    const QList<QWidget*> order = {form.groupBox5, form.char_duration_label, form.trainer_text,
                                   form.char_text, form.cancel_button};
    QCOMPARE(form.findChildren<QWidget*>(), order);
    QCOMPARE(form.trainer_text->nextInFocusChain(), form.char_text);
    QCOMPARE(form.char_text->nextInFocusChain(), form.cancel_button);

    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.windowTitle(), QStringLiteral("NUBTactile Trainer"));
    QCOMPARE(QApplication::activeModalWidget(), &form);
    // Return in the text field must not close the window.
    QTest::keyClick(form.trainer_text, Qt::Key_Return);
    QVERIFY(form.isVisible());
    form.cancel_button->click();
    QVERIFY(!form.isVisible());
}

void tst_trainer::slotTable()
{
    const QMetaObject* meta = &trainer_form::staticMetaObject;
    QCOMPARE(meta->className(), "trainer_form");
    QStringList table;
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        const QMetaMethod m = meta->method(i);
        QCOMPARE(m.methodType(), QMetaMethod::Slot);
        table << QString::fromLatin1(m.methodSignature()) +
                     (m.access() == QMetaMethod::Public ? " public" : " protected");
    }
    QCOMPARE(table, (QStringList{"init() public", "sendChar(QString) public",
                                 "languageChange() protected"}));
}

void tst_trainer::typing_data()
{
    QTest::addColumn<QString>("duration");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("expected"); // data-line edges, "ms:byte"
    QTest::addColumn<int>("endMs");        // virtual time when done

    QTest::newRow("two letters") << "200" << QStringList{"type ab"} << "0:1 200:0 200:3 400:0"
                                 << 400;
    QTest::newRow("typed between two") << "100" << QStringList{"type ab", "move 1", "type x"}
                                       << "0:1 100:0 100:3 200:0 200:45 300:0" << 300;
    QTest::newRow("typed before an equal one")
        << "100" << QStringList{"type ab", "move 0", "type a"}
        << "0:1 100:0 100:3 200:0 200:1 300:0" << 300;
    QTest::newRow("deleting sends nothing")
        << "100" << QStringList{"type ab", "back"} << "0:1 100:0 100:3 200:0" << 200;
    QTest::newRow("typing after a deletion") << "100" << QStringList{"type ab", "back", "type c"}
                                             << "0:1 100:0 100:3 200:0 200:9 300:0" << 300;
    QTest::newRow("same-length replacement")
        << "100" << QStringList{"type ab", "select 0 1", "type z"} << "0:1 100:0 100:3 200:0"
        << 200;
    QTest::newRow("paste into the empty field")
        << "100" << QStringList{"insert abc"} << "0:1 100:0" << 100;
    QTest::newRow("paste after text")
        << "100" << QStringList{"type a", "insert xyz"} << "0:1 100:0 100:45 200:0" << 200;
    QTest::newRow("upper and lower case")
        << "50" << QStringList{"type Aa"} << "0:1 50:0 50:1 100:0" << 100;
    QTest::newRow("accented letters by code page 437")
        << "10" << QStringList{QString::fromUtf8("type \xC3\xA9\xC3\xB1\xC3\x91")}
        << "0:46 10:0 10:59 20:0 20:59 30:0" << 30;
    QTest::newRow("no cell: held without a dot") << "70" << QStringList{"type #"} << "" << 70;
    QTest::newRow("not in code page 437")
        << "70" << QStringList{QString::fromUtf8("insert \xE2\x82\xAC")} << "" << 70;
    QTest::newRow("duration 0") << "0" << QStringList{"type ab"} << "" << 0;
    QTest::newRow("leading zeros") << "007" << QStringList{"type e"} << "0:17 7:0" << 7;
    QTest::newRow("duration beyond 32 bits saturates")
        << "99999999999" << QStringList{"type a"} << "0:1 2147483647:0" << 2147483647;
}

void tst_trainer::typing()
{
    QFETCH(QString, duration);
    QFETCH(QStringList, steps);
    QFETCH(QString, expected);
    QFETCH(int, endMs);

    ProbeTrainer form;
    form.char_text->setText(duration);
    for (const QString& step : steps)
        act(form.trainer_text, step);
    QCOMPARE(edges(), expected);
    QCOMPARE(vc->now(), std::int64_t(endMs) * MS);
    QCOMPARE(form.lastText, form.trainer_text->text());
    QVERIFY(form.messages.isEmpty());
    // Every transmission has closed its progress dialog.
    QCOMPARE(QApplication::topLevelWidgets(), QList<QWidget*>{&form});
}

void tst_trainer::durationEditsSendNothing()
{
    ProbeTrainer form;
    QTest::keyClicks(form.char_text, "50");
    QTest::keyClicks(form.trainer_text, "a");
    QTest::keyClicks(form.char_text, "0");
    QCOMPARE(edges(), QStringLiteral("0:1 50:0"));
    QVERIFY(form.messages.isEmpty());
}

void tst_trainer::badDuration_data()
{
    QTest::addColumn<QString>("duration");
    QTest::newRow("empty") << "";
    QTest::newRow("negative") << "-5";
    QTest::newRow("plus sign") << "+5";
    QTest::newRow("leading blank") << " 5";
    QTest::newRow("trailing blank") << "5 ";
    QTest::newRow("decimal point") << "5.0";
    QTest::newRow("letters") << "5ms";
    QTest::newRow("fullwidth digit") << QString::fromUtf8("\xEF\xBC\x95");
    QTest::newRow("arabic-indic digit") << QString::fromUtf8("\xD9\xA5");
    QTest::newRow("embedded NUL") << QStringLiteral("5") + QChar(0) + QStringLiteral("x");
}

void tst_trainer::badDuration()
{
    QFETCH(QString, duration);
    ProbeTrainer form;
    form.char_text->setText(duration);
    QTest::keyClicks(form.trainer_text, "a");
    QCOMPARE(form.messages, QStringList{DURATION_MESSAGE});
    QVERIFY(form.trainer_text->text().isEmpty());
    QVERIFY(form.lastText.isEmpty());
    QCOMPARE(edges(), QString());
    QCOMPARE(vc->now(), std::int64_t(0));
}

void tst_trainer::emptiedWhileDurationWrong()
{
    ProbeTrainer form;
    form.char_text->setText(QStringLiteral("10"));
    QTest::keyClicks(form.trainer_text, "abc");
    firstWrite = portsim::writes().size();

    form.char_text->setText(QStringLiteral("x"));
    form.trainer_text->clear();
    QVERIFY(form.messages.isEmpty());
    QCOMPARE(form.lastText, QStringLiteral("abc"));

    // The old text still counts: 'd' is not longer than it, 'e' is.
    form.char_text->setText(QStringLiteral("10"));
    QTest::keyClicks(form.trainer_text, "de");
    QCOMPARE(edges(), QStringLiteral("30:17 40:0"));
    QCOMPARE(form.lastText, QStringLiteral("de"));
}

void tst_trainer::noMemory_data()
{
    QTest::addColumn<bool>("record");
    QTest::newRow("record") << true;
    QTest::newRow("code array") << false;
}

void tst_trainer::noMemory()
{
    QFETCH(bool, record);
    ProbeTrainer form;
    form.char_text->setText(QStringLiteral("10"));
    if (record)
        failScalarOfSize = sizeof(Braille_Data);
    else
        failArrayOfSize = sizeof(std::uint16_t);
    QTest::keyClicks(form.trainer_text, "a");
    QCOMPARE(failScalarOfSize + failArrayOfSize, std::size_t(0));
    QCOMPARE(form.messages, QStringList{MEMORY_MESSAGE});
    QCOMPARE(edges(), QString());
    QCOMPARE(form.lastText, QStringLiteral("a"));

    // The lost character is not sent later; the next one is.
    QTest::keyClicks(form.trainer_text, "b");
    QCOMPARE(edges(), QStringLiteral("0:3 10:0"));
}

void tst_trainer::keystrokeDuringSend()
{
    ProbeTrainer form;
    form.char_text->setText(QStringLiteral("100"));
    // A key pressed while 'a' is being sent reaches the field when the
    // transmission lets events run.
    QMetaObject::invokeMethod(
        form.trainer_text, [&form] { QTest::keyClicks(form.trainer_text, "b"); },
        Qt::QueuedConnection);
    QTest::keyClicks(form.trainer_text, "a");
    QCOMPARE(edges(), QStringLiteral("0:1 100:0 100:3 200:0"));
    QCOMPARE(form.lastText, QStringLiteral("ab"));

    QTest::keyClicks(form.trainer_text, "c");
    QCOMPARE(edges(), QStringLiteral("0:1 100:0 100:3 200:0 200:9 300:0"));
}

void tst_trainer::abortDuringSend()
{
    ProbeTrainer form;
    form.char_text->setText(QStringLiteral("100"));
    vc->at(50 * MS, [] {
        QProgressDialog* dialog = progressDialog();
        QVERIFY(dialog);
        auto* button = dialog->findChild<QPushButton*>();
        QVERIFY(button);
        QMetaObject::invokeMethod(button, &QPushButton::click, Qt::QueuedConnection);
    });
    QTest::keyClicks(form.trainer_text, "a");
    QTest::keyClicks(form.trainer_text, "b");
    QCOMPARE(edges(), QStringLiteral("0:1 100:0 100:3 200:0"));
    QCOMPARE(form.lastText, QStringLiteral("ab"));
}

void tst_trainer::messageBoxShown()
{
    trainer_form form;
    form.app = application();
    form.port = LPT1_BASE;
    QString seen;
    QTimer::singleShot(0, [&seen] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        seen = box->windowTitle() + QLatin1Char('|') + box->text();
        if (box->icon() != QMessageBox::Critical)
            seen += QStringLiteral(" (not critical)");
        box->accept();
    });
    QTest::keyClicks(form.trainer_text, "a");
    QCOMPARE(seen, DURATION_MESSAGE);
    QVERIFY(form.trainer_text->text().isEmpty());
    QCOMPARE(edges(), QString());
}

void tst_trainer::trainingSession()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    {
        main_form window;
        window.app = application();
        window.port = LPT2_BASE;
        window.trainingSession();
        window.trainingSession();

        QList<QPointer<trainer_form>> trainers;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* t = qobject_cast<trainer_form*>(w))
                trainers << t;
        }
        QCOMPARE(trainers.size(), 2);
        for (const QPointer<trainer_form>& t : trainers) {
            QVERIFY(t->isVisible());
            QVERIFY(t->isModal());
            QVERIFY(t->parentWidget() == nullptr);
            QCOMPARE(t->port, LPT2_BASE);
            QCOMPARE(t->app, application());
            QVERIFY(t->lastText.isEmpty());
            t->close();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        for (const QPointer<trainer_form>& t : trainers)
            QVERIFY(t.isNull());
    }
    QVERIFY(QDir::setCurrent(previous));
}

QTEST_MAIN(tst_trainer)
#include "tst_trainer.moc"
