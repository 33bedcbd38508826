#include "failing_allocation.h"
#include "main_form.h"
#include "nubtactile.h"
#include "port_session.h"
#include "termination.h"
#include "trainer_form.h"
#include "window_text.h"

#include <QtTest>
#include <QtWidgets>

#include <csignal>
#include <sched.h>
#include <unistd.h>

class tst_trainer : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
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

    // SIGTERM while a typed character is held (in a child process): the send
    // ends at once and the program with the signal's own status.
    void signalDuringHold()
    {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {"--signalled-child"});
        QVERIFY(child.waitForFinished(20000));
        QCOMPARE(QString("%1 %2").arg(child.exitStatus()).arg(child.exitCode()),
                 QString("%1 %2").arg(QProcess::CrashExit).arg(SIGTERM));
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    // "a" held for a minute; 5 ms into it the process gets SIGTERM, and the
    // transmission goes on only once the handler has taken it.
    if (argc == 2 && qstrcmp(argv[1], "--signalled-child") == 0) {
        PortSession sim;
        lowerDataLinesOnTermination();
        trainer_form form;
        form.char_text->setText("60000");
        sim.clock.at(5 * NS_PER_MS, [] {
            kill(getpid(), SIGTERM);
            while (pendingSignal() == 0)
                sched_yield();
        });
        form.trainer_text->insert("a");
        return 3;
    }
    tst_trainer test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_trainer.moc"
