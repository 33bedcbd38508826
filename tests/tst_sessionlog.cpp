#include "main_form_probe.h"

#include "cp437.h"
#include "nubtactile.h"

#include "time_audit.h"

#include <QCheckBox>
#include <QDateTime>
#include <QLabel>
#include <QLocale>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>

#include <cstdlib>

namespace
{

// One entry around `body`, with its two date-times left open as "@".
QString entry(const QString& body)
{
    const QString stars(48, '*');
    return stars + "\nSession started on: @\n\nTrigger: 100\nAfter trigger: 500\nChar duration: " +
           "300\nInterval: 200\n" + body + "\nSession closed on: @\n" + stars + "\n";
}

// "ms:byte" edges of a trigger and of cells held 300 ms with 200 ms between them.
QString sendEdges(const QList<int>& bytes)
{
    QString out = "0:63 100:0";
    for (int i = 0, at = 600; i < bytes.size(); ++i, at += 500)
        if (bytes[i] != 0)
            out += QStringLiteral(" %1:%2 %3:0").arg(at).arg(bytes[i]).arg(at + 300);
    return out;
}

} // namespace

class TestSessionLog : public QObject
{
    Q_OBJECT

    std::unique_ptr<ProbeForm> form;

    // Sends once and matches the log `file` against `entries` byte for byte,
    // apart from the date-times, which must read in English and lie within the
    // test. The time audit beside it is the only other file.
    void sendAndCompare(const QString& file, const QString& entries, QString audit = QString())
    {
        if (audit.isEmpty())
            audit = QString(file).replace(".log", ".timing.csv");
        form->setTimes();
        QCOMPARE(form->errors, QStringList());
        QStringList files = workFiles(), expected{file, audit};
        files.sort();
        expected.sort();
        QCOMPARE(files, expected);
        QString pattern = QRegularExpression::escape(entries);
        pattern.replace("\\@", "([^\n]*)");
        const QByteArray log = readFile(file);
        const QRegularExpressionMatch match =
            QRegularExpression(QRegularExpression::anchoredPattern(pattern))
                .match(QString::fromUtf8(log));
        QVERIFY2(match.hasMatch(), log.constData());
        for (int i = 1; i <= match.lastCapturedIndex(); ++i) {
            const QDateTime moment =
                QLocale::c().toDateTime(match.captured(i), "ddd MMM d hh:mm:ss yyyy");
            QVERIFY2(moment >= started && moment <= QDateTime::currentDateTime(),
                     qPrintable(match.captured(i)));
        }
    }
    QDateTime started;

private slots:
    void init()
    {
        started = QDateTime::currentDateTime().addSecs(-1); // the log keeps whole seconds
        form = std::make_unique<ProbeForm>();
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); // not for the log
    }
    void cleanup()
    {
        QLocale::setDefault(QLocale::c());
        releaseForm(form);
    }

    // The word goes out in code page 437 once per loop and is logged in UTF-8.
    void textSend_data()
    {
        QTest::addColumn<QString>("word");
        QTest::addColumn<QList<int>>("bytes");
        QTest::addColumn<QString>("logged");
        QTest::newRow("blank kept") << "a b" << QList<int>{1, 0, 3} << "a b";
        QTest::newRow("Spanish letters")
            << "ñÑéÉáíóú¿¡" << QList<int>{59, 59, 46, 46, 55, 12, 44, 62, 34, 22} << "ñÑéÉáíóú¿¡";
        QTest::newRow("unmapped and non-437 left out") << "a#€b~" << QList<int>{1, 3} << "ab";
        QTest::newRow("NUL keeps the rest")
            << "a" + QString(QChar(0)) + "b" << QList<int>{1, 3} << "ab";
    }
    void textSend()
    {
        QFETCH(QString, word);
        QFETCH(QList<int>, bytes);
        QFETCH(QString, logged);
        form->fill(1, word);
        form->loop_count_text->setText("2");
        form->mark();
        sendAndCompare("Alpha_Gamma.log", entry("Loop: 2\nText: " + logged + "\n"));
        QCOMPARE(form->edges(), sendEdges(bytes + bytes));
    }

    // A random sequence goes out once, whatever the loop, in the order drawn;
    // the log shows valid codes as characters, non-valid ones as numbers.
    void randomSend_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("length");
        QTest::newRow("valid") << 2 << 25;
        QTest::newRow("non-valid") << 3 << 25;
        QTest::newRow("mixed") << 4 << 40;
        QTest::newRow("length 0") << 2 << 0;
    }
    void randomSend()
    {
        QFETCH(int, mode);
        QFETCH(int, length);
        Braille_Data drawn;
        drawn.mode = mode;
        std::srand(5);
        QCOMPARE(generateRandomSequence(drawn, quint32(length)), 1);
        QList<int> bytes;
        QStringList codes;
        for (int i = 0; i < length; ++i) {
            const auto code = static_cast<unsigned char>(drawn.word[i]);
            bytes << code;
            QVERIFY(mode == 4 || isValidCode(code) == (mode == 2));
            codes << (mode == 2 || (mode == 4 && isValidCode(code))
                          ? QString::fromStdString(cp437ToUtf8(code))
                          : QString::number(code));
        }
        form->fill(mode, QString(), QString::number(length));
        form->loop_count_text->setText("3");
        std::srand(5);
        form->mark();
        sendAndCompare("Alpha_Gamma.log",
                       entry(QStringLiteral("Length: %1\nRandom sequence: %2")
                                 .arg(length)
                                 .arg(length ? codes.join(", ") + "\n" : QString())));
        QCOMPARE(form->edges(), sendEdges(bytes));
    }

    // Abort ends the whole send and the entry says so; the next send appends.
    void abortThenAppend()
    {
        form->fill(1, "ab");
        form->loop_count_text->setText("3");
        form->mark();
        bool clicked = false;
        // Clicked as an operator would: the click waits in the event queue until
        // the transmission lets events run.
        form->vc.at(form->start + 700 * NS_PER_MS, [&] {
            auto* progress = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
            clicked =
                progress && QMetaObject::invokeMethod(progress->findChild<QPushButton*>(),
                                                      &QPushButton::click, Qt::QueuedConnection);
        });
        form->setTimes();
        QVERIFY(clicked);
        QCOMPARE(form->edges(), "0:63 100:0 600:1 900:0");
        sendAndCompare("Alpha_Gamma.log",
                       entry("Loop: 3\nText: ab\nAborted!\n") + entry("Loop: 3\nText: ab\n"));
    }

    // Whatever the names hold, the log is one file, named in UTF-8, in the
    // working directory, and so is its time audit. Rows are "name|last
    // name|log|time audit" (the audit's name as the log's when left out).
    void fileName_data()
    {
        QTest::addColumn<QString>("row");
        QTest::newRow("blanks") << "Alpha Beta|de la Gamma|Alpha_Beta_de_la_Gamma.log";
        QTest::newRow("slashes") << "../up|a/b|.._up_a_b.log";
        QTest::newRow("control characters") << "a\tb|c\nd\x7f|a_b_c_d_.log";
        QTest::newRow("unicode") << "José|Núñez|José_Núñez.log";
        // The name is cut at a character so that it fits in 255 bytes of UTF-8.
        QTest::newRow("300 ASCII") << QString(300, 'a') + "|B|" + QString(251, 'a') + ".log|" +
                                          QString(244, 'a') + ".timing.csv";
        QTest::newRow("200 two-byte") << QString(200, u'ñ') + "|B|" + QString(125, u'ñ') + ".log|" +
                                             QString(122, u'ñ') + ".timing.csv";
        const QString face = QString::fromUcs4(U"\U0001F600");
        QTest::newRow("four bytes across the limit") << QString(249, 'a') + face + "|B|" +
                                                            QString(249, 'a') + ".log|" +
                                                            QString(244, 'a') + ".timing.csv";
    }
    void fileName()
    {
        QFETCH(QString, row);
        const QStringList r = row.split('|');
        form->setFields(1, {r[0], r[1], "100", "500", "300", "200", "1", "a"});
        sendAndCompare(r[2], entry("Loop: 1\nText: a\n"), r.value(3));
    }

    // A log or time audit that cannot be opened or written is reported once;
    // the stimulus goes out all the same.
    void fileProblem_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("full");
        QTest::addColumn<QString>("message");
        const QString log = "There was a problem while trying to save the log information";
        const QString audit = "There was a problem while trying to save the timing information";
        QTest::newRow("log cannot open") << "Alpha_Gamma.log" << false << log;
        QTest::newRow("log disk full") << "Alpha_Gamma.log" << true << log;
        QTest::newRow("audit cannot open") << "Alpha_Gamma.timing.csv" << false << audit;
        QTest::newRow("audit disk full") << "Alpha_Gamma.timing.csv" << true << audit;
    }
    void fileProblem()
    {
        QFETCH(QString, file);
        QFETCH(bool, full);
        QVERIFY(full ? QFile::link("/dev/full", file) : QDir::current().mkdir(file));
        form->fill(1, "ab");
        form->mark();
        form->setTimes();
        QFETCH(QString, message);
        QCOMPARE(form->errors, QStringList{message});
        QCOMPARE(form->edges(), sendEdges({1, 3}));
    }

    // The time audit: created with its header, then one row a raised cell per
    // send, each beginning with the moment the log's entry names.
    void timeAuditFile()
    {
        form->fill(1, "a#");
        form->setTimes();
        form->setTimes();
        QCOMPARE(form->errors, QStringList());
        QString rows = QString::fromUtf8(readFile("Alpha_Gamma.timing.csv"));
        const QRegularExpression iso("^(\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d),",
                                     QRegularExpression::MultilineOption);
        const QRegularExpression logged("Session started on: ([^\n]*)");
        auto logMoments = logged.globalMatch(QString::fromUtf8(readFile("Alpha_Gamma.log")));
        QStringList starts;
        for (auto it = iso.globalMatch(rows); it.hasNext();)
            starts << it.next().captured(1);
        QCOMPARE(starts.size(), 4);
        for (int send = 0; send < 2; ++send) {
            const QDateTime moment =
                QLocale::c().toDateTime(logMoments.next().captured(1), "ddd MMM d hh:mm:ss yyyy");
            QCOMPARE(starts[2 * send], moment.toString(Qt::ISODate));
            QCOMPARE(starts[2 * send + 1], starts[2 * send]);
        }
        rows.replace(iso, "S,");
        const QString send = "S,text,0,0,,63,0.000,0.000,0.000,100.000,100.000,0.000\n"
                             "S,text,1,1,97,1,600.000,600.000,0.000,300.000,300.000,0.000\n";
        QCOMPARE(rows, QString(TimeAudit::HEADER) + send + send);
    }

    // After every send the status bar sums its timing up; a cell off by more
    // than 1 ms is counted and flagged. Logging off writes no file.
    void timingSummary_data()
    {
        QTest::addColumn<bool>("log");
        QTest::addColumn<int>("lateUs");
        QTest::addColumn<QString>("summary");
        QTest::newRow("on time") << true << 0
                                 << "2 cells · worst onset delay 0 µs · worst hold error 0 µs";
        QTest::newRow("a hold 1.5 ms long, not logged")
            << false << 1500
            << "2 cells · worst onset delay 0 µs · worst hold error 1.5 ms · 1 cell off by more "
               "than 1 ms";
    }
    void timingSummary()
    {
        QFETCH(bool, log);
        QFETCH(int, lateUs);
        form->fill(1, "a");
        form->log_check->setChecked(log);
        form->mark();
        if (lateUs)
            form->vc.at(form->start + 900 * NS_PER_MS,
                        [&] { form->vc.waitUntil(form->vc.now() + lateUs * 1000); });
        form->setTimes();
        const auto* label = form->findChild<QLabel*>("timing_summary_label");
        QTEST(label->text(), "summary");
        QCOMPARE(form->findChild<QLabel*>("timing_warning_label")->isVisibleTo(form.get()),
                 lateUs > 1000);
        QCOMPARE(workFiles().size(), log ? 2 : 0);
    }
};

QTEST_MAIN(TestSessionLog)
#include "tst_sessionlog.moc"
