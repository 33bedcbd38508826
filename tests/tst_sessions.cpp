// The main window at work: its sends, the session log and time audit they
// leave, and the configuration and text files it saves and opens.
#include "main_form_probe.h"
#include "named.h"

#include "cp437.h"
#include "failing_allocation.h"
#include "nubtactile.h"
#include "output_capture.h"
#include "send_progress.h"
#include "termination.h"
#include "time_audit.h"
#include "trainer_form.h"

#include <QtWidgets>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

const QByteArray MAGIC = "#!NUBTactile_CONFIGURATION_FILE!#\n";
const QString NO_MEM = "Not enough memory. Please stop some programs you are using and try again";
// A send held 300 ms after a trigger of 100 ms and a pause of 500 ms, 200 ms
// between cells, logged for Alpha Gamma: setFields() with loop and sequence.
const QString ALPHA = "Alpha|Gamma||100|500|300|200|%1|%2|%2";

// One log entry of ALPHA around `body`, its date-times as "@".
static QString entry(const QString& body)
{
    const QString stars(48, '*');
    return stars + "\nSession started on: @\n\nTrigger: 100\nAfter trigger: 500\nChar duration: " +
           "300\nInterval: 200\n" + body + "\nSession closed on: @\n" + stars + "\n";
}

// The edges of a send of ALPHA with cells of `bytes`.
static QString sendEdges(const QList<int>& bytes)
{
    QString out = "0:63 100:0";
    for (int i = 0, at = 600; i < bytes.size(); ++i, at += 500)
        if (bytes[i] != 0)
            out += QStringLiteral(" %1:%2 %3:0").arg(at).arg(bytes[i]).arg(at + 300);
    return out;
}

// Files written from now on end at `bytes`, where a write fails instead of
// ending the process; RLIM_INFINITY lifts the limit.
static void limitFiles(rlim_t bytes)
{
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit;
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &limit), 0);
    limit.rlim_cur = bytes == RLIM_INFINITY ? limit.rlim_max : bytes;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
}

class TestSessions : public QObject
{
    Q_OBJECT

    std::unique_ptr<ProbeForm> form;
    QDateTime started;

    // A log or time audit with its date-times as "@" where they read in
    // English (or ISO 8601 with milliseconds) and lie within the test.
    QString fileText(const QString& file = "Alpha_Gamma.log")
    {
        QFile in(file);
        QString text = in.open(QIODevice::ReadOnly) ? QString::fromUtf8(in.readAll()) : "<missing>";
        for (QDateTime t = started; t <= QDateTime::currentDateTime(); t = t.addSecs(1))
            text.replace(QLocale::c().toString(t, "ddd MMM d hh:mm:ss yyyy"), "@")
                .replace(QRegularExpression(t.toString(Qt::ISODate) + "\\.\\d{3},"), "@,");
        return text;
    }

    // What the status bar tells was left out of the last send, after a blank.
    QString leftOut() const
    {
        const QString note =
            form->findChild<QLabel*>("timing_summary_label")->text().section('\n', 1);
        return note.isEmpty() ? note : ' ' + note;
    }

    // Something in every field that a reset clears.
    void dirty()
    {
        form->setFields(2, "Alpha|Gamma|junk|100|500|300|200|junk|junk|junk");
        named<QCheckBox>(*form, "pin_3_check")->setChecked(true);
        named<QLineEdit>(*form, "word_text")->setEnabled(true);
        named<QLineEdit>(*form, "loop_count_text")->setEnabled(false);
    }
    // "duration|trigger|pause|hold|interval|loop|word|length|mode", a disabled
    // field's text ended by "-", a label greyed otherwise than its field by a
    // "~" before the mode, a checked pin 3 by "+"; then the messages, the
    // format's as "!", and the edges sent, if any.
    QString formState() const
    {
        QString state;
        for (const QLineEdit* field : form->findChildren<QLineEdit*>().mid(2))
            state += field->text() + (field->isEnabled() ? "|" : "-|");
        for (auto [label, field] :
             {std::pair{"word_label", "word_text"}, {"length_label", "sequence_length_text"}})
            state += named<QLabel>(*form, label)->isEnabled() ==
                             named<QLineEdit>(*form, field)->isEnabled()
                         ? ""
                         : "~";
        state += QString::number(form->modeCombo()->currentIndex()) +
                 (named<QCheckBox>(*form, "pin_3_check")->isChecked() ? "+" : "") +
                 form->errors.join(',') + ' ' + form->edges() + leftOut();
        return state.replace("The file doesn't seem to be in a correct format", "!").trimmed();
    }

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::German)); } // not for the log
    void init()
    {
        // The log keeps whole seconds.
        started = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch());
        form = std::make_unique<ProbeForm>();
    }
    // No send may be left running nor its busy cursor shown, and closing the
    // window must leave no top-level window behind.
    void cleanup()
    {
        failingFromSize = hookedAllocationSize = 0;
        QVERIFY(!form->holdsSendRecord() && !QApplication::overrideCursor());
        form.reset();
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    // A form as "log|mode|name|last name|duration|trigger|pause|hold|interval|
    // loop|word|length", sent with memory short for blocks of 16 KiB while the
    // send is prepared (the long random line must reach the log in pieces;
    // unlogged, of 4 KiB: such a send needs no memory for a log):
    // the message of the first rule that fails, or the edges and, after a line
    // feed, the log entry. Logging off writes no file. A mode "p" followed by
    // pins is a single shot, which checks only its duration: it goes out with
    // logging on and no names, and is neither logged nor audited.
    void send_data()
    {
        QTest::addColumn<QString>("fields");
        QTest::addColumn<QString>("outcome");
        // clang-format off
        const QString times = "Some of the times have a wrong format. Please check them and try again";
        const auto wrong = [](const char* what) { return QStringLiteral("The %1 has a wrong format. Please check it and try again").arg(what); };
        QTest::newRow("last name") << "1|1|A|||1|0|1|0|1||" << "You must insert the patients last name";
        QTest::newRow("names first") << "1|0||B||x|0|1|0|1||" << "You must insert the patients name";
        QTest::newRow("no log, no name") << "0|1||B||1|0|1|0|1||" << "0:63 1:0";
        QTest::newRow("no log") << "0|1|A|B||1|0|1|0|1||" << "0:63 1:0";
        // Blanks and invisible characters name nobody: "_____.log" for all.
        QTest::newRow("blank name") << "1|1| \u200b\u202e|B||1|0|1|0|1||" << "You must insert the patients name";
        QTest::newRow("blank last name") << "1|1|A|\t\u00a0\ufeff||1|0|1|0|1||" << "You must insert the patients last name";
        QTest::newRow("empty trigger") << "1|1|A|B|||0|1|0|1||" << times;
        QTest::newRow("signed pause") << "1|1|A|B||1|-1|1|0|1||" << times;
        QTest::newRow("fullwidth hold") << "1|1|A|B||1|0|１|0|1||" << times;
        QTest::newRow("NUL in interval") << "1|1|A|B||1|0|1|1" + QString(QChar(0)) + "x|1||" << times;
        QTest::newRow("times before mode") << "1|0|A|B||1|0|1| 0|1||" << times;
        QTest::newRow("no mode") << "1|0|A|B||1|0|1|0|1||1" << "You must select a mode before sending";
        QTest::newRow("bad loop") << "1|1|A|B||1|0|1|0|+3||1" << wrong("loop number");
        QTest::newRow("bad length") << "1|2|A|B||1|0|1|0|1||1.5" << wrong("random sequence length");
        QTest::newRow("random ignores loop") << "1|4|A|B||1|0|1|0|x||0" << "0:63 1:0";
        QTest::newRow("codes beyond memory") << "1|4|A|B||1|0|1|0|1||99999999999" << NO_MEM;
        QTest::newRow("word beyond memory") << "1|1|A|B||1|0|1|0|1|" + QString(20000, 'a') << NO_MEM;
        // Base 10; beyond a signed 32-bit value (also by 2^32 + 7, or beyond
        // 64 bits) a number is 2147483647.
        QTest::newRow("text ignores length") << "1|1|A|B||010|0|19|0|1|a|x" << "0:63 10:0 10:1 29:0";
        QTest::newRow("saturated") << "1|1|A|B||2147483648|4294967303|99999999999999999999999|0|1|a|"
                                   << "0:63 2147483647:0 4294967294:1 6442450941:0";
        QTest::newRow("pins 0 2 7") << "1|p027|||500" << "0:131 500:0";
        QTest::newRow("zero hold") << "1|p1|||0" << "0:8 0:0";
        QTest::newRow("empty duration") << "1|p0|||" << wrong("duration time");
        QTest::newRow("signed duration") << "1|p0|||+5" << wrong("duration time");
        // The word goes out in code page 437 once per loop and is logged in
        // UTF-8 without what has no cell; a random sequence goes out once
        // whatever the loop, logged as characters where the mode has cells for
        // them and as numbers otherwise.
        QTest::newRow("blank kept") << "1|1|" + ALPHA.arg(2).arg("a b") << sendEdges({1, 0, 3, 1, 0, 3}) + "\nLoop: 2\nText: a b\n";
        // Of the characters left out, the first 20 are named.
        const QString more = "ĀāĂăĄąĆćĈĉĊċČčĎďĐ";
        QTest::newRow("non-437, astral, NUL, no cell") << "1|1|" + ALPHA.arg(2).arg("ñ€\U0001F600" + QString(QChar(0)) + "#b" + more)
                                                       << sendEdges({59, 3, 59, 3}) + " Left out, having no cell: €, \U0001F600, U+0000, #, " + more.chopped(1).split("").join(", ").mid(2) + "…\nLoop: 2\nText: ñb\n";
        QTest::newRow("random, none") << "1|2|" + ALPHA.arg(2).arg(0) << sendEdges({}) + "\nLength: 0\nRandom sequence: ";
        // clang-format on
        for (auto [mode, length] : {std::pair{3, 25}, {4, 40}, {2, 6000}}) {
            Braille_Data drawn; // what the send draws from the same seed
            drawn.mode = mode;
            std::srand(5);
            generateRandomSequence(drawn, length);
            QList<int> bytes;
            QStringList codes;
            for (int i = 0; i < length; ++i) {
                const auto code = static_cast<unsigned char>(drawn.word[i]);
                bytes << code;
                const bool shown = mode == 2 || (mode == 4 && isValidCode(code));
                codes << (shown ? QString::fromStdString(cp437ToUtf8(code))
                                : QString::number(code));
            }
            QTest::addRow("random %d, %d codes", mode, length)
                << QStringLiteral("1|%1|").arg(mode) + ALPHA.arg(2).arg(length)
                << sendEdges(bytes) + "\nLength: " + QString::number(length) +
                       "\nRandom sequence: " + codes.join(", ") + "\n";
        }
    }
    void send()
    {
        QFETCH(QString, fields);
        QFETCH(QString, outcome);
        const QString mode = fields.section('|', 1, 1);
        const bool shot = mode.startsWith('p');
        form->logCheck()->setChecked(fields.startsWith('1'));
        form->setFields(mode.toInt(), fields.section('|', 2));
        for (QChar pin : mode.mid(1))
            form->findChild<QCheckBox*>(QStringLiteral("pin_%1_check").arg(pin))->setChecked(true);
        std::srand(5);
        failingFromSize = fields[0] == '0' ? 4096 : 16 * 1024;
        form->vc.at(form->vc.now(), [] { failingFromSize = 0; }); // the send is ready
        (shot ? form->pinsButton() : form->sendButton())->click();
        QCOMPARE(form->errors.join('\n') + form->edges() + leftOut(), outcome.section('\n', 0, 0));
        QCOMPARE(workFiles().size(), outcome.startsWith("0:") && fields[0] == '1' && !shot ? 2 : 0);
        if (outcome.contains('\n'))
            QCOMPARE(fileText(), entry(outcome.section('\n', 1)));
    }

    // Cancel while the codes are drawn: nothing goes out, and the patient's
    // files are let go as they were found. Memory running out in the middle
    // of the next send (in the interval after the first cell): the lines are
    // lowered and the log entry ends as aborted; before a single shot: it is
    // told.
    void cutShort()
    {
        form->logCheck()->setChecked(true);
        form->setFields(2, ALPHA.arg(1).arg(70000));
        onAllocation = [] { return SendProgress::abortRunning(), false; };
        hookedAllocationSize = 70000 * sizeof(std::uint16_t); // the codes
        form->sendButton()->click();
        QCOMPARE(form->errors.join('\n') + form->edges() + workFiles().join(' '), "");
        form->setFields(1, ALPHA.arg(1).arg("ab"));
        form->vc.at(form->vc.now() + 1000 * NS_PER_MS, [] { throw std::bad_alloc(); });
        // Standard input closed: the new log is descriptor 0, and no other
        // program's, whatever errno an earlier call left.
        form->answer(Qt::Key_Escape);
        QVERIFY(withoutStandardInput([&] {
            errno = EWOULDBLOCK;
            form->sendButton()->click();
        }));
        QCOMPARE(form->errors.join('\n') + ' ' + form->edges() + form->questions.join(' '),
                 NO_MEM + " 0:63 100:0 600:1 900:0 1000:0");
        QCOMPARE(fileText(), entry("Loop: 1\nText: ab\nAborted!\n"));
        // A single shot that finds no memory once its record is made holds
        // none after.
        named<QLineEdit>(*form, "pins_duration_text")->setText("5");
        onAllocation = [] { return failingFromSize = 4096, false; };
        hookedAllocationSize = sizeof(Braille_Data);
        form->pinsButton()->click();
        QCOMPARE(form->errors, QStringList(2, NO_MEM));
    }

    // Choosing a mode or logging enables the fields that go with it: names,
    // loop, length and word, with their labels.
    void enabledFields()
    {
        QString seen;
        for (Qt::Key k : {Qt::Key_Down, Qt::Key_Down, Qt::Key_Up, Qt::Key_Up, Qt::Key_Space}) {
            k == Qt::Key_Space ? form->logCheck()->click() : QTest::keyClick(form->modeCombo(), k);
            for (QWidget* w : form->findChildren<QWidget*>(QRegularExpression(
                     "^(patient_(last_)?name|loop_count|length|word|sequence_length)_")))
                seen += w->isEnabled() ? '1' : '0';
            seen += ' ';
        }
        QCOMPARE(seen, "1111110110 1111001001 1111110110 1111000000 0000000000 ");
    }

    // Whatever the names hold, the log and its time audit land in the working
    // directory, named in UTF-8 and cut at a character to fit in 255 bytes.
    void fileName()
    {
        const QString a = "a", n = "ñ", face = QString::fromUcs4(U"\U0001F600");
        // Invisible format characters are left out: names that look alike
        // share a file, and none can show as another name.
        for (const QString& names :
             {QString("../Jo sé|Nú\tñez\x7f"), a.repeated(300) + "|B", n.repeated(200) + "|B",
              a.repeated(249) + face + "|B", QString("Ab\u200b|G\u202ecsv.exe"),
              QString("A\u00adb|\u2066G\U000e0041csv.exe")}) {
            form->setFields(1, names + "||1|0|1|0|1|a");
            form->sendButton()->click();
        }
        QCOMPARE(workFiles().join(' '),
                 ".._Jo_sé_Nú_ñez_.log .._Jo_sé_Nú_ñez_.timing.csv " + a.repeated(244) +
                     ".timing.csv " + a.repeated(249) + ".log " + a.repeated(251) +
                     ".log Ab_Gcsv.exe.log Ab_Gcsv.exe.timing.csv " + n.repeated(122) +
                     ".timing.csv " + n.repeated(125) + ".log");
    }

    // A log or time audit that is no regular file (a folder, a FIFO, a link,
    // which is never followed, its target left as it was) is reported once,
    // with its name and why; the stimulus goes out all the same.
    void fileProblem_data()
    {
        QTest::addColumn<QString>("log");
        QTest::addColumn<QString>("timing");
        QTest::addColumn<QString>("told");
        const QString link = "it is a symbolic link, which the program never follows";
        // clang-format off
        QTest::newRow("folder, link") << "folder" << "link" << "it is a folder|" + link;
        QTest::newRow("link, FIFO") << "link" << "fifo" << link + "|it is not a regular file";
        // Another program's columns, and no name left to set the file aside.
        QTest::newRow("no log, crowded") << "none" << "crowded" << "|File exists";
        // clang-format on
    }

    void fileProblem()
    {
        QFETCH(QString, log);
        QFETCH(QString, timing);
        const auto make = [](const QString& kind, const QString& name) {
            for (int n = 1; kind == "crowded" && n <= 1000; ++n)
                std::ofstream(QString("A_B.timing.%1.csv").arg(n).toStdString());
            if (kind == "crowded")
                std::ofstream(name.toStdString()) << "when,what\n";
            QVERIFY(kind == "folder" ? QDir().mkdir(name)
                    : kind == "fifo"
                        ? mkfifo(qPrintable(name), 0666) == 0
                        : kind == "none" || kind == "crowded" || QFile::link("target", name));
        };
        make(log, "A_B.log");
        make(timing, "A_B.timing.csv");
        std::ofstream("target") << "root:x:0:0\n";
        form->setFields(1, "A|B|1|1|0|1|0|1|a€");
        form->sendButton()->click();
        // A single shot, never logged, meets the timing file alone, and
        // leaves nothing out.
        form->pinsButton()->click();
        QFETCH(QString, told);
        const QString problem =
            "There was a problem while trying to save the %1 information\nA_B.%2: ";
        QStringList expected{problem.arg("timing", "timing.csv") + told.section('|', 1)};
        if (log != "none")
            expected.prepend(problem.arg("log", "log") + told.section('|', 0, 0));
        QCOMPARE(form->errors, expected << expected.last());
        QCOMPARE(form->edges() + leftOut(), "0:63 1:0 1:1 2:0");
        QCOMPARE(fileText("target"), "root:x:0:0\n");
        QVERIFY(timing != "crowded" || fileText("A_B.timing.csv") == "when,what\n");
    }

    // While a send writes a patient's files they are locked: a program that
    // finds them held by another asks whether to send unlogged (Return and
    // Escape: no, nothing is sent; Y: the stimulus alone). Held by none, the
    // send holds both until its log entry is closed.
    void lockedFiles_data()
    {
        QTest::addColumn<QString>("held");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("outcome"); // the edges, then the files and their sizes
        // clang-format off
        QTest::newRow("log, Return") << "log" << int(Qt::Key_Return) << " Alpha_Gamma.log:0";
        QTest::newRow("timing file, Escape") << "timing.csv" << int(Qt::Key_Escape) << " Alpha_Gamma.timing.csv:0";
        QTest::newRow("log, Yes") << "log" << int(Qt::Key_Y) << "0:63 100:0 600:1 900:0 Alpha_Gamma.log:0";
        QTest::newRow("none") << "" << 0 << "0:63 100:0 600:1 900:0 Alpha_Gamma.log:268 Alpha_Gamma.timing.csv:365";
        // clang-format on
    }
    void lockedFiles()
    {
        QFETCH(QString, held);
        QFETCH(int, key);
        QProcess other;
        if (!held.isEmpty()) {
            other.start("flock", {"Alpha_Gamma." + held, "sh", "-c", "echo held; exec cat"});
            QVERIFY(other.waitForReadyRead(10000));
            form->answer(Qt::Key(key));
        }
        // In the middle of the send, another program can have neither file.
        QStringList free;
        if (held.isEmpty())
            form->vc.at(form->vc.now() + 700 * NS_PER_MS, [&] {
                for (const char* file : {"Alpha_Gamma.log", "Alpha_Gamma.timing.csv"})
                    free << QString::number(QProcess::execute("flock", {"-n", file, "true"}));
            });
        form->setFields(1, ALPHA.arg(1).arg("a"));
        form->sendButton()->click();
        other.closeWriteChannel();
        QVERIFY(held.isEmpty() || other.waitForFinished(10000));
        QCOMPARE(free.join(' '), held.isEmpty() ? "1 1" : "");
        QCOMPARE(form->questions.join('|'),
                 held.isEmpty() ? ""
                                : "NUBTactile Another program is writing Alpha_Gamma." + held +
                                      " for this patient now.\nSend without logging this session?");
        QString outcome = form->edges();
        for (const QFileInfo& file : QDir().entryInfoList(QDir::Files))
            outcome += ' ' + file.fileName() + ':' + QString::number(file.size());
        QTEST(form->errors.join('\n') + outcome, "outcome");
    }

    // Abort ends the whole send, and the log entry says so; buttons pressed
    // meanwhile do nothing. The next send appends to the log and to the time
    // audit, whose header comes once. The status bar sums the timing of each
    // send up, flagging a cell off by more than 1 ms.
    void abortThenAppend()
    {
        // An earlier version's file is set aside whole, not appended to,
        // under the first name that is free.
        std::ofstream("Alpha_Gamma.timing.1.csv") << "kept";
        const QByteArray earlier = "session_start,send_mode\n2026-01-01T10:00:00,text\n";
        std::ofstream("Alpha_Gamma.timing.csv") << earlier.toStdString();
        form->setFields(1, ALPHA.arg(3).arg("ab"));
        form->vc.at(form->vc.now() + 950 * NS_PER_MS, [&] {
            ProbeForm::onWindowThread([&] {
                QApplication::activeModalWidget()->findChild<QPushButton*>()->click();
                form->sendButton()->click();
                form->pinsButton()->click();
            });
        });
        form->vc.at(form->vc.now() + 900 * NS_PER_MS, // the cell is lowered 1.5 ms late
                    [&] { form->vc.waitUntil(form->vc.now() + 1500 * 1000); });
        const auto* summary = form->findChild<QLabel*>("timing_summary_label");
        const auto* warning = form->findChild<QLabel*>("timing_warning_label");
        // The summary spans the status bar; one of several lines makes the
        // window taller, never the form shorter; a shorter one gives the
        // window back its height.
        form->show();
        const QList<int> heights{form->height(), form->centralWidget()->height()};
        const auto grown = [&] {
            QCoreApplication::sendPostedEvents();
            return QList<int>{form->height() - heights[0],
                              form->centralWidget()->height() - heights[1]};
        };
        form->sendButton()->click();
        QCOMPARE(form->edges(), "0:63 100:0 600:1 901:0");
        const QString cells = "2 cells · worst onset delay 0 µs · worst hold error ";
        QCOMPARE(summary->text() + (warning->isHidden() || warning->pixmap().isNull() ? "" : " !"),
                 "Aborted after " + cells + "1.5 ms · 1 cell off by more than 1 ms !");
        const QList<int> taller = grown();
        QVERIFY(taller[0] > 0 && taller[1] >= 0 && summary->width() > form->width() / 2);
        form->setFields(1, ALPHA.arg(1).arg("b"));
        form->sendButton()->click();
        QCOMPARE(summary->text() + (warning->isHidden() ? "" : " !"), cells + "0 µs");
        QVERIFY(grown()[0] < taller[0]);
        QCOMPARE(form->errors, QStringList("The timing file had the columns of an earlier "
                                           "version; it was renamed to Alpha_Gamma.timing.2.csv "
                                           "and a new one begins."));
        QCOMPARE(fileText("Alpha_Gamma.timing.2.csv"), QString(earlier));
        // Set aside, and let go: no descriptor of it stays open and locked.
        const int aside = ::open("Alpha_Gamma.timing.2.csv", O_RDONLY | O_CLOEXEC);
        QVERIFY(aside >= 0 && flock(aside, LOCK_EX | LOCK_NB) == 0);
        ::close(aside);
        QCOMPARE(fileText(), entry("Loop: 3\nText: ab\nAborted!\n") + entry("Loop: 1\nText: b\n"));
        const QString trigger =
            "@,text,0,0,,63,0.000,0.000,0.000,100.000,100.000,0.000,0.000,LPT1: simulated port\n";
        QCOMPARE(fileText("Alpha_Gamma.timing.csv"),
                 TimeAudit::HEADER + trigger +
                     "@,text,1,1,97,1,600.000,600.000,0.000,300.000,301.500,1.500,0.000,LPT1: "
                     "simulated port\n" +
                     trigger +
                     "@,text,1,1,98,3,600.000,600.000,0.000,300.000,300.000,0.000,0.000,LPT1: "
                     "simulated port\n");
    }

    // The timing file grows by whole rows only: a last line without its end
    // (a crash, another program) is ended before the next row, and a write
    // that the file size limit (`limit` bytes past what the file holds) cuts
    // short is taken back whole and reported once.
    void timingFile_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QString>("added"); // to the file, then the messages
        const QByteArray old = TimeAudit::HEADER + QByteArray(600, 'x');
        const QString problem = "There was a problem while trying to save the timing "
                                "information\nAlpha_Gamma.timing.csv: File too large";
        QTest::newRow("no final line end")
            << old << -1
            << "\n@,text,0,0,,63,0.000,0.000,0.000,100.000,100.000,0.000,0.000,LPT1: simulated "
               "port\n@,text,1,1,97,1,600.000,600.000,0.000,300.000,300.000,0.000,0.000,LPT1: "
               "simulated port\n";
        QTest::newRow("cut within a row") << old + '\n' << 10 << problem;
        QTest::newRow("cut after the missing line end") << old << 1 << problem;
        // Nothing fits, the log's entry neither: each told once, nothing retried.
        QTest::newRow("no room at all")
            << QByteArray() << 10
            << problem + "\nThere was a problem while trying to save the log information\n"
                         "Alpha_Gamma.log: File too large";
    }
    void timingFile()
    {
        QFETCH(QByteArray, before);
        QFETCH(int, limit);
        QFETCH(QString, added);
        std::ofstream("Alpha_Gamma.timing.csv") << before.toStdString();
        form->setFields(1, ALPHA.arg(1).arg("a"));
        limitFiles(limit < 0 ? RLIM_INFINITY : rlim_t(before.size() + limit));
        form->sendButton()->click();
        limitFiles(RLIM_INFINITY);
        QCOMPARE(fileText("Alpha_Gamma.timing.csv") + form->errors.join('\n'),
                 QString::fromUtf8(before) + added);
    }

    // What is chosen to open (a file's content; none for no file, "<folder>"
    // for a folder, "<fifo>" for a named pipe, "<mem>" for a file whose read
    // fails) and the form afterwards (RESET:
    // as a reset leaves it; DIRTY: as dirty() left it) with the messages shown
    // and the questions asked; the row "no memory" opens with memory short
    // for blocks of 64 KiB. A text file is played at once after the form is
    // reset; one whose times are not as written only when the operator agrees
    // (rows "agreed"); the row "cut short" loses its end at 5 ms, in a word far
    // beyond what the window reads ahead (64 entries and a buffer).
    void open_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("state");
        const QByteArray five = MAGIC + "1\n2\n3\n4\n5\n";
        // clang-format off
        const QString S = "|1|2|3|4|5|", RESET = "||||||-|-|0", DIRTY = "junk|100|500|300|200|junk-|junk|junk-|~2+";
        QTest::newRow("carriage returns") << QByteArray(five).replace('\n', "\r\n") + "1\r\nx\r\n"
                                          << "|1\r|2\r|3\r|4\r|5\r|-|-|0!";
        QTest::newRow("ten lines") << five + "1\nhola\nmundo\nadios\n" << S + "hola  mundo  adios|-|1";
        QTest::newRow("random non-valid") << five + "3\n12\n" << S + "-|12|3";
        QTest::newRow("extra empty line") << five + "4\n12\n\n" << S + "-|12  |4";
        QTest::newRow("no final line feed") << MAGIC + "\n2\n3\n4\n5\n1\nhola" << "||2|3|4|5|hola|-|1";
        QTest::newRow("wrong magic") << QByteArray(five).replace("NUB", "nub") + "1\nhola\n" << RESET + "!";
        QTest::newRow("bad mode") << five + "01\nhola\n" << S + "-|-|0!";
        QTest::newRow("six values") << five + "0\n" << RESET + "!";
        QTest::newRow("Latin-1") << five + "1\nca\xf1" + "a\n" << S + "caña|-|1";
        // Past the first 64 KiB, which are read and decoded before the rest.
        QTest::newRow("Latin-1 far down") << MAGIC + "ca\xc3\xb1" + "a\n2\n3\n4\n5\n0\n" + QByteArray(70000, '\n') + "\xf1"
                                          << "|caÃ±a|2|3|4|5|-|-|0";
        QTest::newRow("UTF-8 cut at the end") << five + "1\nca\xc3" << S + "caÃ|-|1";
        // Longer than a line edit takes by default; the word starts at an odd
        // offset, so that a letter lies across every 64 KiB boundary.
        const QString ns(40000, u'ñ'), sevens(40000, '7');
        QTest::newRow("long values") << MAGIC + sevens.toUtf8() + "\n2\n3\n4\n5\n1\n" + ns.toUtf8()
                                     << "|" + sevens + "|2|3|4|5|" + ns + "|-|1";
        QTest::newRow("no memory") << five + "1\nhola\n" << RESET + NO_MEM;
        QTest::newRow("no file") << QByteArray() << DIRTY;
        QTest::newRow("folder") << QByteArray("<folder>") << DIRTY + "Could not open settings: it is a directory, not a regular file";
        QTest::newRow("unreadable") << QByteArray("<mem>") << DIRTY + "Could not open /proc/self/mem";
        QTest::newRow("named pipe") << QByteArray("<fifo>") << DIRTY + "Could not open settings: it is a named pipe (FIFO), not a regular file";
        const QByteArray TEXT = "#!NUBTactile_TEXT_FILE!#\n";
        const QString ASKED = "This text file will not be sent as it is written (%1):\n\n%2\n\nSend it all the same, read this way?";
        QTest::newRow("text file, agreed") << TEXT + "hola 500 1000\nZürich 0 0 si 20"
                                           << RESET + " 0:19 500:0 1500:21 2000:0 3000:7 3500:0 4500:1 5000:0 6000:14 6020:0 6020:10 6040:0 Left out, having no cell: ü"
                                              + ASKED.arg("1 problem", "line 3: the last entry 'si' has no interval; it is read as 0");
        QTest::newRow("interval missing") << TEXT + "ab 100\ncd 100 50\ne\x01" "f 100 50\n" << RESET + ASKED.arg("3 problems",
            "line 3: the interval 'cd' is read as 0, and every entry after it shifts by one token\n"
            "line 4: the interval 'e\ufffdf' is read as 0, and every entry after it shifts by one token\n"
            "line 4: the last entry '100' has no interval; it is read as 0");
        QTest::newRow("times not plain, agreed") << TEXT + "a " + QByteArray(5000, '0') + "1e3 12.5\nb 0x10 2s\nc 5ms 1,5\nd 2 +3\n"
            << RESET + " 0:1 1:0 15:9 20:0 21:25 23:0" + ASKED.arg("6 problems; the first 5 are listed",
            "line 2: the duration '" + QString(24, '0') + "…' is read as 1\nline 2: the interval '12.5' is read as 12\n"
            "line 3: the duration '0x10' is read as 0\nline 3: the interval '2s' is read as 2\n"
            "line 4: the duration '5ms' is read as 5");
        QTest::newRow("cut short") << TEXT + "a 10 0\n" + QByteArray(99, '~').replace("~", "b 0 0\n") + QByteArray(100000, 'c') + " 0 0\nd 10 0\n"
                                   << RESET + "The text file could not be read past entry 101 (line 102): the file was cut short while it was being sent. The entries before it were sent. 0:1 10:0";
        // clang-format on
    }
    void open()
    {
        QFETCH(QByteArray, content);
        const QByteArray tag = QTest::currentDataTag();
        if (content == "<folder>")
            QDir().mkdir("settings");
        else if (content == "<fifo>")
            QCOMPARE(mkfifo("settings", 0600), 0);
        else if (!content.isNull())
            std::ofstream("settings", std::ios::binary) << content.toStdString();
        dirty();
        form->openName = content == "<mem>" ? "/proc/self/mem" : "settings";
        failingFromSize = tag == "no memory" ? 64 * 1024 : 0;
        form->sendAsRead = tag.endsWith("agreed");
        if (tag == "cut short")
            form->vc.at(form->vc.now() + 5 * NS_PER_MS,
                        [] { QCOMPARE(truncate("settings", 70626), 0); });
        // Standard input closed: the file comes as descriptor 0.
        QVERIFY(withoutStandardInput([&] { form->fileOpen(); }));
        QTEST(formState() + form->questions.join(' '), "state");
    }

    // A save writes the word or the length as the mode wants and opens again
    // whole. Saving over a file asks first, with the name shown as it is:
    // Return takes Yes, Escape No. A cancelled file dialog saves nothing; a
    // save that fails (into no folder, onto a folder, past the file size
    // limit, as the synchronisation settings' own file) says so and leaves
    // what was there.
    void save()
    {
        form->saveName = form->openName = "<i>big";
        QVERIFY(QDir().mkdir("folder"));
        for (int mode : {1, 2, 0}) { // made, replaced with Return, kept with Escape
            form->setFields(mode, "A|B||10||30|x y|2|ñandú|15");
            if (mode != 1)
                form->answer(mode ? Qt::Key_Return : Qt::Key_Escape);
            form->fileSave();
            QCOMPARE(fileText("<i>big"), QString(MAGIC + "10\n\n30\nx y\n2\n" +
                                                 (mode == 1 ? "1\nñandú\n" : "2\n15\n")));
            dirty();
            form->fileOpen();
            QCOMPARE(formState(), "|10||30|x y|2|" + QString(mode == 1 ? "ñandú|-|1" : "-|15|2"));
        }
        QCOMPARE(form->questions, QStringList(2, "Overwrite file? A file called <i>big already "
                                                 "exists. Do you want to overwrite it?"));
        limitFiles(10);
        named<QAction>(*form, "syncPulseAction")->trigger(); // its settings file too
        for (const char* failing : {"", "missing/settings", "folder", "<i>big"}) {
            form->saveName = failing; // "" for a cancelled file dialog
            form->answer(Qt::Key_Return);
            form->fileSave();
        }
        limitFiles(RLIM_INFINITY);
        QCOMPARE(form->errors,
                 QStringList("The synchronisation settings could not be saved to "
                             "NUBTactile_sync.cfg (File too large); they hold until "
                             "the program ends.")
                     << QStringList(3, "There was a problem while trying to save the file"));
        QCOMPARE(form->questions.size(), 4);
        QVERIFY(fileText("<i>big").endsWith("\n2\n15\n"));
        QCOMPARE(workFiles(), (QStringList{"<i>big", "folder"}));
    }

    // Sends that start on a scanner's pulse and record answers, on virtual
    // time with scripted input changes ("ms pin level" from the press of
    // Send): the cells begin where the pulse awaited was seen, the pulses
    // and answer edges are rows of the events file (the window's times
    // relative to that origin, or to where the wait ended), and the summary
    // counts the presses. A time limit that passes, and Abort while waiting,
    // send nothing and end the log entry as aborted.
    void synchronised_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QString>("events");
        const QString port = ",LPT1: simulated port\n";
        const QString pulses = "100 10 1,110 10 0,300 10 1,310 10 0,500 10 1,510 10 0,";
        QTest::newRow("pulse 2, answers")
            << QByteArray("wait_for_pulse=yes\npulse_number=2\nanswer_pins=11\n")
            << pulses + "1000 11 0,1050 11 1,1800 11 0,1850 11 1,2500 look Recording,3800 11 0"
            << "Recording answers... 0:63 100:0 600:1 900:0 1100:3 1400:0 3 cells · worst onset "
               "delay 0 µs · "
               "worst hold error 0 µs · 2 answers"
            << "@,text,pulse,10,rising,1,-200.000,0.100,,,," + port +
                   "@,text,pulse,10,rising,2,0.000,0.100,,,," + port +
                   "@,text,pulse,10,rising,3,200.000,0.100,200.000,0,0," + port +
                   "@,text,answer,11,falling,1,700.000,0.100,100.000,1,1,97" + port +
                   "@,text,answer,11,rising,2,750.000,0.100,150.000,1,1,97" + port +
                   "@,text,answer,11,falling,3,1500.000,0.100,400.000,1,2,98" + port +
                   "@,text,answer,11,rising,4,1550.000,0.100,450.000,1,2,98" + port;
        QTest::newRow("time limit")
            << QByteArray("wait_for_pulse=yes\npulse_number=3\ntime_limit_ms=400\n")
            << pulses + "50 look Waiting"
            << "Waiting for pulse 1 of 3 on pin 10... The events file had other columns; it was "
               "renamed to Alpha_Gamma.events.1.csv and a new one begins. Nothing was sent: pulse "
               "3 did not come on pin 10 within 400 ms (2 pulses came). "
               "Aborted after 0 cells · worst onset delay 0 µs · worst hold error 0 µs"
            << "@,text,pulse,10,rising,1,-300.000,0.100,,,," + port +
                   "@,text,pulse,10,rising,2,-100.000,0.100,,,," + port;
        QTest::newRow("Abort while waiting")
            << QByteArray("wait_for_pulse=yes\npulse_number=2\nanswer_pins=11,12\n")
            << pulses + "50 look Waiting Abort"
            << "Waiting for pulse 1 of 2 on pin 10... Aborted after 0 cells · worst onset delay "
               "0 µs · worst hold error 0 µs · 0 answers"
            << QString();
    }
    void synchronised()
    {
        QFETCH(QByteArray, settings);
        QFETCH(QString, script);
        form.reset(); // its clock goes with it
        form = std::make_unique<ProbeForm>(settings);
        QStringList said;
        const std::int64_t base = form->vc.now();
        portsim::setInput(10, false); // a scanner's output, resting low
        portsim::setInput(11, true);  // buttons, pulled up
        for (const QString& change : script.split(',')) {
            const QStringList step = change.split(' ');
            form->vc.at(base + step[0].toInt() * NS_PER_MS, [step, &said] {
                if (step[1] != "look")
                    return portsim::setInput(step[1].toInt(), step[2] == "1");
                // What the dialog says once the window's side has seen the
                // transmission there (it stays up through the response
                // window), and its Abort pressed when asked.
                ProbeForm::onWindowThread([&said, step] {
                    auto* dialog =
                        qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
                    QDeadlineTimer patience(5000);
                    while (!dialog->labelText().startsWith(step[2]) && !patience.hasExpired())
                        QCoreApplication::processEvents();
                    said << dialog->labelText() + (dialog->isVisible() ? "" : " (hidden)");
                    for (QPushButton* button : dialog->findChildren<QPushButton*>())
                        if (step.value(3) == button->text())
                            button->click();
                });
            });
        }
        // Another program's events file is set aside, and told of once: not
        // again by a send that watches no input.
        const bool foreign = settings.contains("time_limit");
        if (foreign)
            std::ofstream("Alpha_Gamma.events.csv") << "other\n";
        form->setFields(1, ALPHA.arg(1).arg("ab"));
        form->sendButton()->click();
        said << form->errors << form->edges()
             << form->findChild<QLabel*>("timing_summary_label")->text();
        said.removeAll(QString());
        QFETCH(QString, outcome);
        QFETCH(QString, events);
        QCOMPARE(said.join(' '), outcome);
        // A send without an edge leaves no events file behind.
        QCOMPARE(fileText("Alpha_Gamma.events.csv"),
                 events.isNull() ? "<missing>" : EventAudit::HEADER + events);
        const bool played = !outcome.contains("Aborted after");
        QCOMPARE(fileText(), entry(QString("Loop: 1\nText: ab\n") + (played ? "" : "Aborted!\n")));
        if (foreign) {
            named<QAction>(*form, "syncOffAction")->trigger();
            form->sendButton()->click();
            QCOMPARE(form->errors.filter("events file").size(), 1);
        }
    }

    // Closing the window while a cell is held: the send ends first, as an
    // Abort with its log entry closed, then the window closes as usual,
    // saving the port choice.
    void closeDuringSend()
    {
        form->closeLog(); // before any send: nothing to close
        form->show();
        form->setFields(1, ALPHA.arg(1).arg("ab"));
        form->vc.at(form->vc.now() + 700 * NS_PER_MS,
                    [&] { ProbeForm::onWindowThread([&] { form->close(); }); });
        form->sendButton()->click();
        QCOMPARE(form->edges(), "0:63 100:0 600:1 700:0 700:0"); // the close lowers once more
        QCOMPARE(fileText(), entry("Loop: 1\nText: ab\nAborted!\n"));
        QVERIFY(!form->isVisible() && QFile::exists("NUBTactile_pport.cfg"));
    }

    // SIGTERM while a cell is held (in a child process, on the simulated
    // port with its trace): the lines are lowered, the send ends as aborted
    // with its log entry closed and a row for every cell it presented, and
    // the program ends with the signal's own status. The same for a
    // character typed in the Trainer, which keeps no files.
    void signalDuringHold_data()
    {
        QTest::addColumn<QString>("sender");
        QTest::newRow("main window") << "main";
        QTest::newRow("Trainer") << "Trainer";
    }
    void signalDuringHold()
    {
        QFETCH(QString, sender);
        QTemporaryDir files;
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(),
                    {"--signalled-child", files.path(), sender});
        QVERIFY(child.waitForFinished(20000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        QCOMPARE(child.exitCode(), SIGTERM);
        QVERIFY(QString::fromUtf8(child.readAllStandardError())
                    .contains(QRegularExpression("0x01\n *-?[\\d.]+  \u2800  0x00\n$")));
        QVERIFY(QDir::setCurrent(files.path()));
        QCOMPARE(workFiles().size(), sender == "Trainer" ? 0 : 2);
        if (sender == "Trainer")
            return;
        QCOMPARE(fileText(), entry("Loop: 1\nText: ab\nAborted!\n"));
        QCOMPARE(fileText("Alpha_Gamma.timing.csv").section('\n', 1),
                 "@,text,0,0,,63,0.000,0.000,0.000,100.000,100.000,0.000,0.000,LPT1: simulated "
                 "port\n@,text,1,1,97,1,600.000,600.000,0.000,300.000,100.000,-200.000,0.000,"
                 "LPT1: simulated port\n");
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    // ALPHA sent with logging, or "a" typed in the Trainer and held for a
    // minute; at 700 ms, in the first cell's hold, the window's thread gets
    // SIGTERM, and the transmission goes on only once the handler is over:
    // waiting for the signal to be pending alone would let the send play on
    // before the handler raised its interrupt.
    if (argc == 4 && qstrcmp(argv[1], "--signalled-child") == 0) {
        ProbeForm form;
        QDir::setCurrent(QString::fromLocal8Bit(argv[2]));
        lowerDataLinesOnTermination();
        portsim::traceDataLines();
        form.vc.at(700 * NS_PER_MS, [window = pthread_self()] {
            pthread_kill(window, SIGTERM);
            ProbeForm::onWindowThread([] {});
        });
        if (qstrcmp(argv[3], "Trainer") == 0) {
            trainer_form trainer;
            trainer.char_text->setText("60000");
            trainer.trainer_text->insert("a");
            return 3;
        }
        form.logCheck()->setChecked(true);
        form.setFields(1, ALPHA.arg(1).arg("ab"));
        form.sendButton()->click();
        return 3;
    }
    TestSessions test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_sessions.moc"
