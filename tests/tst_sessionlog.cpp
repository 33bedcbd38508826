#include "main_form_probe.h"

#include "cp437.h"
#include "nubtactile.h"

#include <QCheckBox>
#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>

#include <cstdlib>

namespace
{

const QString TIMES = "Trigger: 100\nAfter trigger: 500\nChar duration: 300\nInterval: 200\n";

// One entry around `body`, with its two date-times left open as "@".
QString entry(const QString& body)
{
    const QString stars(48, '*');
    return stars + "\nSession started on: @\n\n" + TIMES + body + "\nSession closed on: @\n" +
           stars + "\n";
}

} // namespace

class TestSessionLog : public QObject
{
    Q_OBJECT

    std::unique_ptr<ProbeForm> form;

    // Sends `sends` times and matches the only file, `file`, against
    // `entries` byte for byte, apart from the date-times, which must read in
    // English and lie within the sends.
    void sendAndCompare(const QString& file, const QString& entries, int sends = 1)
    {
        const QDateTime from = QDateTime::currentDateTime().addMSecs(-999);
        for (int i = 0; i < sends; ++i)
            form->setTimes();
        const QDateTime to = QDateTime::currentDateTime();
        QCOMPARE(form->errors, QStringList());
        QCOMPARE(workFiles(), QStringList{file});

        QString pattern = QRegularExpression::escape(entries);
        pattern.replace("\\@", "([A-Z][a-z]{2} [A-Z][a-z]{2} [1-9][0-9]? "
                               "[0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4})");
        const QByteArray log = readFile(file);
        const QRegularExpressionMatch match =
            QRegularExpression(QRegularExpression::anchoredPattern(pattern))
                .match(QString::fromUtf8(log));
        QVERIFY2(match.hasMatch(), log.constData());
        for (int i = 1; i <= match.lastCapturedIndex(); ++i) {
            const QDateTime moment =
                QLocale::c().toDateTime(match.captured(i), "ddd MMM d hh:mm:ss yyyy");
            QVERIFY2(moment >= from && moment <= to, qPrintable(match.captured(i)));
        }
    }

private slots:
    void init()
    {
        form = std::make_unique<ProbeForm>();
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    }
    void cleanup()
    {
        QLocale::setDefault(QLocale::c());
        QVERIFY(!form->data);
        form.reset();
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    void textEntry_data()
    {
        QTest::addColumn<QString>("word");
        QTest::addColumn<QString>("logged");
        QTest::newRow("blank kept") << "a b"
                                    << "a b";
        QTest::newRow("unmapped left out") << QString::fromUtf8("a#b€~") << "ab";
        QTest::newRow("Spanish letters in UTF-8")
            << QString::fromUtf8("ñandú É¿¡") << QString::fromUtf8("ñandú É¿¡");
    }
    void textEntry()
    {
        QFETCH(QString, word);
        QFETCH(QString, logged);
        form->fill(1, word);
        form->loop_count_text->setText("3");
        sendAndCompare("Alpha_Gamma.log", entry("Loop: 3\nText: " + logged + "\n"));
    }

    // Valid codes as characters, non-valid ones as numbers, mixed by the code.
    void randomEntry_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("length");
        QTest::newRow("valid") << 2 << 25;
        QTest::newRow("non-valid") << 3 << 25;
        QTest::newRow("mixed") << 4 << 40;
        QTest::newRow("length 0") << 2 << 0;
    }
    void randomEntry()
    {
        QFETCH(int, mode);
        QFETCH(int, length);
        Braille_Data drawn;
        drawn.mode = mode;
        std::srand(5);
        QCOMPARE(generateRandomSequence(drawn, quint32(length)), 1);
        QStringList codes;
        for (int i = 0; i < length; ++i) {
            const auto code = static_cast<unsigned char>(drawn.word[i]);
            const bool asCharacter = mode == 2 || (mode == 4 && isValidCode(code));
            codes << (asCharacter ? QString::fromStdString(cp437ToUtf8(code))
                                  : QString::number(code));
        }
        const QString list = codes.join(", ");
        if (mode == 4) // both kinds drawn
            QVERIFY(list.contains(QRegularExpression("\\d\\d")) &&
                    list.contains(QRegularExpression("[a-z]")));

        form->fill(mode, QString(), QString::number(length));
        std::srand(5);
        sendAndCompare("Alpha_Gamma.log", entry(QStringLiteral("Length: %1\nRandom sequence: %2")
                                                    .arg(length)
                                                    .arg(length ? list + "\n" : QString())));
    }

    void abortedEntry()
    {
        form->fill(1, "ab");
        form->loop_count_text->setText("3");
        form->mark();
        bool clicked = false;
        form->vc.at(form->start + 700 * NS_PER_MS, [&] { clicked = queueAbortClick(); });
        sendAndCompare("Alpha_Gamma.log", entry("Loop: 3\nText: ab\nAborted!\n"));
        QVERIFY(clicked);
        QCOMPARE(form->edges(), "0:63 100:0 600:1 900:0");
    }

    void twoSendsAppend()
    {
        form->fill(1, "ab");
        const QString one = entry("Loop: 1\nText: ab\n");
        sendAndCompare("Alpha_Gamma.log", one + one, 2);
    }

    // Whatever the names hold, the log is one file in the working directory.
    void fileName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("lastName");
        QTest::addColumn<QString>("file");
        QTest::newRow("blanks") << "Alpha Beta"
                                << "de la Gamma"
                                << "Alpha_Beta_de_la_Gamma.log";
        QTest::newRow("slashes") << "../up"
                                 << "a/b"
                                 << ".._up_a_b.log";
        QTest::newRow("control characters") << "a\tb"
                                            << "c\nd\x7f"
                                            << "a_b_c_d_.log";
        QTest::newRow("unicode") << QString::fromUtf8("José") << QString::fromUtf8("Núñez")
                                 << QString::fromUtf8("José_Núñez.log");
    }
    void fileName()
    {
        QFETCH(QString, name);
        QFETCH(QString, lastName);
        QFETCH(QString, file);
        form->fill(1);
        form->patient_name_text->setText(name);
        form->patient_last_name_text->setText(lastName);
        sendAndCompare(file, entry("Loop: 1\nText: a\n"));
        QVERIFY(QFile::exists(form->dir.path() + "/" + file)); // named in UTF-8 on disk
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
        QCOMPARE(form->edges(), "0:63 100:0 600:1 900:0 1100:3 1400:0");
    }
};

QTEST_MAIN(TestSessionLog)
#include "tst_sessionlog.moc"
