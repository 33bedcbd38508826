#include "main_form_probe.h"

#include "cp437.h"
#include "nubtactile.h"

#include <QDateTime>
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

    // Sends once and matches the only file, `file`, against `entries` byte
    // for byte, apart from the date-times, which must read in English and lie
    // within the test.
    void sendAndCompare(const QString& file, const QString& entries)
    {
        form->setTimes();
        QCOMPARE(form->errors, QStringList());
        QCOMPARE(workFiles(), QStringList{file});
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
    // working directory. Rows are "name|last name|file".
    void fileName_data()
    {
        QTest::addColumn<QString>("row");
        QTest::newRow("blanks") << "Alpha Beta|de la Gamma|Alpha_Beta_de_la_Gamma.log";
        QTest::newRow("slashes") << "../up|a/b|.._up_a_b.log";
        QTest::newRow("control characters") << "a\tb|c\nd\x7f|a_b_c_d_.log";
        QTest::newRow("unicode") << "José|Núñez|José_Núñez.log";
        // The name is cut at a character so that it fits in 255 bytes of UTF-8.
        QTest::newRow("300 ASCII") << QString(300, 'a') + "|B|" + QString(251, 'a') + ".log";
        QTest::newRow("200 two-byte") << QString(200, u'ñ') + "|B|" + QString(125, u'ñ') + ".log";
        const QString face = QString::fromUcs4(U"\U0001F600");
        QTest::newRow("four bytes across the limit")
            << QString(249, 'a') + face + "|B|" + QString(249, 'a') + ".log";
    }
    void fileName()
    {
        QFETCH(QString, row);
        const QStringList r = row.split('|');
        form->setFields(1, {r[0], r[1], "100", "500", "300", "200", "1", "a"});
        sendAndCompare(r[2], entry("Loop: 1\nText: a\n"));
        QVERIFY(QFile::exists(form->dir.path() + "/" + r[2]));
    }

    // A log that cannot be opened or written is reported once; the stimulus
    // goes out all the same.
    void logProblem_data()
    {
        QTest::addColumn<bool>("full");
        QTest::newRow("cannot open") << false;
        QTest::newRow("disk full") << true;
    }
    void logProblem()
    {
        QFETCH(bool, full);
        QVERIFY(full ? QFile::link("/dev/full", "Alpha_Gamma.log")
                     : QDir::current().mkdir("Alpha_Gamma.log"));
        form->fill(1, "ab");
        form->mark();
        form->setTimes();
        QCOMPARE(form->errors,
                 QStringList{"There was a problem while trying to save the log information"});
        QCOMPARE(form->edges(), sendEdges({1, 3}));
    }
};

QTEST_MAIN(TestSessionLog)
#include "tst_sessionlog.moc"
