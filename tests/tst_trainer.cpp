#include "main_form.h"
#include "nubtactile.h"
#include "pins.h"
#include "port_session.h"
#include "portio_sim.h"
#include "pport.h"
#include "trainer_form.h"
#include "virtual_clock.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

namespace
{
// Armed by a test: the next nothrow allocation of exactly this size fails.
std::size_t failAllocationOfSize = 0;

bool failNow(std::size_t size)
{
    if (size != failAllocationOfSize)
        return false;
    failAllocationOfSize = 0;
    return true;
}
} // namespace

// Each form forwards to its own throwing counterpart, so that what it returns
// is released by the matching delete.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    if (failNow(size))
        return nullptr;
    try {
        return ::operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    if (failNow(size))
        return nullptr;
    try {
        return ::operator new[](size);
    } catch (const std::bad_alloc&) {
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

// The Trainer with its message boxes recorded instead of shown: "<duration>"
// and "<memory>" for its two messages, "caption|text" for anything else, and
// "<closed>" when it is closed.
class ProbeTrainer : public trainer_form
{
public:
    QStringList messages;
    ProbeTrainer()
    {
        app = qApp;
        port = LPT1_BASE;
    }

protected:
    void critical(const QString& caption, const QString& text) override
    {
        const QString m = caption + QLatin1Char('|') + text;
        messages << (m == DURATION_MESSAGE ? "<duration>" : m == MEMORY_MESSAGE ? "<memory>" : m);
    }
    void closeEvent(QCloseEvent* event) override
    {
        messages << "<closed>";
        trainer_form::closeEvent(event);
    }
};

void type(QLineEdit* field, const QString& text)
{
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

} // namespace

class tst_trainer : public QObject
{
    Q_OBJECT

    std::unique_ptr<PortSession> sim;
    // The window a script drives. When the script deletes it, its memory is
    // cleared and stays at `deleted`, so that a later write to it shows.
    std::optional<ProbeTrainer> form;
    void* deleted = nullptr;

    // What the cell and the operator saw: every data-register write since
    // init() as "ms:byte", "@ms" when done, the field's text in brackets and
    // the messages shown, or whether the window was left alone once deleted.
    QString transcript() const
    {
        QStringList out;
        const auto& w = portsim::writes();
        for (std::size_t i = sim->firstWrite; i < w.size(); ++i)
            if (w[i].address == LPT1_BASE)
                out << QStringLiteral("%1:%2").arg(w[i].time / MS).arg(w[i].value);
        out << QStringLiteral("@%1").arg(sim->clock.now() / MS);
        if (form) {
            out << QLatin1Char('[') + form->trainer_text->text() + QLatin1Char(']')
                << form->messages;
        } else {
            const auto* bytes = static_cast<const unsigned char*>(deleted);
            const bool cleared = std::all_of(bytes, bytes + sizeof(ProbeTrainer),
                                             [](unsigned char b) { return b == 0; });
            out << (cleared ? "<deleted>" : "<written after deletion>");
        }
        return out.join(QLatin1Char(' '));
    }

    // One step of a script: "duration TEXT" sets the duration field, "type
    // TEXT" one key per character, "paste TEXT" one change, "move N" the
    // cursor, "select FROM LENGTH", "back" a backspace, "key KEY text|close"
    // a key on the focused field or Close button of the shown window, "send
    // TEXT" a change handed to the slot itself; "abort" presses Abort during
    // the next send, "delete" deletes the window during the next send, "fail
    // BYTES" makes the next allocation of that size fail.
    void act(const QString& step)
    {
        QLineEdit* field = form->trainer_text;
        const QString verb = step.section(QLatin1Char(' '), 0, 0);
        const QString arg = step.section(QLatin1Char(' '), 1);
        if (verb == "duration")
            form->char_text->setText(arg);
        else if (verb == "type")
            type(field, arg);
        else if (verb == "paste")
            field->insert(arg);
        else if (verb == "move")
            field->setCursorPosition(arg.toInt());
        else if (verb == "select")
            field->setSelection(arg.section(' ', 0, 0).toInt(), arg.section(' ', 1).toInt());
        else if (verb == "back")
            QTest::keyClick(field, Qt::Key_Backspace);
        else if (verb == "fail")
            failAllocationOfSize = arg.toULong();
        else if (verb == "send")
            form->sendChar(arg);
        else if (verb == "key") {
            QWidget* target = field;
            if (arg.section(' ', 1) == "close")
                target = form->cancel_button;
            form->show();
            target->setFocus();
            QTest::keyClick(target, Qt::Key(QKeySequence(arg.section(' ', 0, 0))[0].key()));
        } else if (verb == "delete")
            QMetaObject::invokeMethod(
                qApp,
                [this] {
                    deleted = &*form;
                    form.reset();
                    std::memset(deleted, 0, sizeof(ProbeTrainer));
                },
                Qt::QueuedConnection);
        else if (verb == "abort")
            sim->clock.at(sim->clock.now() + 50 * MS, [] {
                for (QWidget* w : QApplication::topLevelWidgets())
                    if (auto* dialog = qobject_cast<QProgressDialog*>(w))
                        QMetaObject::invokeMethod(dialog->findChild<QPushButton*>(),
                                                  &QPushButton::click, Qt::QueuedConnection);
            });
        else
            QFAIL(qPrintable("unknown step " + step));
    }

private slots:
    void init() { sim = std::make_unique<PortSession>(); }

    void cleanup()
    {
        form.reset();
        sim.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    // Each change that lengthens the text presents one character, the first
    // that differs from the text handled before: raised at once, lowered
    // after the duration, with no trigger, pause or interval.
    void typing_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, QStringList steps, const char* expected) {
            QTest::newRow(name) << steps << QString(expected);
        };
        row("two letters", {"duration 200", "type ab"}, "0:1 200:0 200:3 400:0 @400 [ab]");
        row("typed between two", {"duration 100", "type ab", "move 1", "type x"},
            "0:1 100:0 100:3 200:0 200:45 300:0 @300 [axb]");
        row("deleting sends nothing", {"duration 100", "type ab", "back", "type c"},
            "0:1 100:0 100:3 200:0 200:9 300:0 @300 [ac]");
        row("same-length replacement", {"duration 100", "type ab", "select 0 1", "type z"},
            "0:1 100:0 100:3 200:0 @200 [zb]");
        row("paste into the empty field", {"duration 100", "paste abc"}, "0:1 100:0 @100 [abc]");
        row("upper and lower case", {"duration 50", "type Aa"}, "0:1 50:0 50:1 100:0 @100 [Aa]");
        row("accented letters by code page 437", {"duration 10", "type éñÑ"},
            "0:46 10:0 10:59 20:0 20:59 30:0 @30 [éñÑ]");
        row("no cell: held without a dot", {"duration 70", "type #"}, "@70 [#]");
        row("not in code page 437", {"duration 70", "paste €"}, "@70 [€]");
        // The text is composed as in the main window: e and a combining acute is é.
        row("combining accent pasted", {"duration 10", "paste e\u0301"}, "0:46 10:0 @10 [e\u0301]");
        row("combining accent typed", {"duration 10", "type e\u0301"},
            "0:17 10:0 10:46 20:0 @20 [e\u0301]");
        row("duration 0", {"duration 0", "type ab"}, "@0 [ab]");
        // Return in the field must not close the window; on the Close button it must.
        row("Return in the field", {"duration 10", "type a", "key Return text"},
            "0:1 10:0 @10 [a]");
        row("Return on Close", {"key Return close"}, "@0 [] <closed>");
        row("Space on Close", {"key Space close"}, "@0 [] <closed>");
        row("duration beyond 32 bits saturates", {"duration 99999999999", "type a"},
            "0:1 2147483647:0 @2147483647 [a]");
        // The message is shown once although emptying the field changes it again.
        row("empty duration", {"type a"}, "@0 [] <duration>");
        row("negative duration", {"duration -5", "type a"}, "@0 [] <duration>");
        row("duration with a NUL", {QStringLiteral("duration 5") + QChar(0), "type a"},
            "@0 [] <duration>");
        // The old text still counts after the field was emptied while the
        // duration was wrong: 'd' is not longer than it, 'e' is.
        row("emptied while the duration is wrong",
            {"duration 10", "type abc", "duration x", "select 0 3", "back", "duration 10",
             "type de"},
            "0:1 10:0 10:3 20:0 20:9 30:0 30:17 40:0 @40 [de]");
        // Nothing touches the window once an event of the send has deleted it.
        row("deleted during a send", {"duration 100", "delete", "send a"},
            "0:1 100:0 @100 <deleted>");
        row("abort during a send", {"duration 100", "abort", "type a", "type b"},
            "0:1 100:0 100:3 200:0 @200 [ab]");
        // A character whose record or code cannot be stored is lost; the next one is sent.
        const QString record = "fail " + QString::number(sizeof(Braille_Data));
        row("no memory for the record", {"duration 10", record, "type a", "type b"},
            "0:3 10:0 @10 [ab] <memory>");
        row("no memory for the code", {"duration 10", "fail 2", "type a", "type b"},
            "0:3 10:0 @10 [ab] <memory>");
    }

    void typing()
    {
        QFETCH(QStringList, steps);
        QFETCH(QString, expected);
        form.emplace();
        for (const QString& step : steps)
            act(step);
        QCOMPARE(transcript(), expected);
        QCOMPARE(failAllocationOfSize, std::size_t(0));
        if (!form)
            return;
        QCOMPARE(form->lastText, form->trainer_text->text());
        // Every transmission has closed its progress dialog.
        QCOMPARE(QApplication::topLevelWidgets(), QList<QWidget*>{&*form});
    }

    void messageBoxShown()
    {
        trainer_form form;
        form.app = qApp;
        QString seen;
        QTimer::singleShot(0, [&seen] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                seen = box->windowTitle() + QLatin1Char('|') + box->text();
                seen += box->icon() == QMessageBox::Critical ? "" : " (not critical)";
                box->accept();
            }
        });
        type(form.trainer_text, "a");
        QCOMPARE(seen, DURATION_MESSAGE);
    }

    void trainingSession()
    {
        QTemporaryDir dir;
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        {
            main_form window;
            window.app = qApp;
            window.port = LPT2_BASE;
            window.trainingSession();
            QPointer<trainer_form> trainer =
                qobject_cast<trainer_form*>(QApplication::activeModalWidget());
            QVERIFY(trainer && trainer->isVisible() && !trainer->parentWidget());
            QCOMPARE(trainer->port, LPT2_BASE);
            QCOMPARE(trainer->app, qApp);
            trainer->cancel_button->click();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QVERIFY(trainer.isNull());
        }
        QVERIFY(QDir::setCurrent(previous));
    }
};

QTEST_MAIN(tst_trainer)
#include "tst_trainer.moc"
