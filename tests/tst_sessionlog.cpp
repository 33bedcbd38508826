#include "main_form_probe.h"

#include "cp437.h"
#include "nubtactile.h"

#include <QCheckBox>
#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>

#include <cstdlib>
#include <unistd.h>

namespace
{

const QString LOG_MSG =
    QStringLiteral("There was a problem while trying to save the log information");
const QString DATE_FORMAT = QStringLiteral("ddd MMM d hh:mm:ss yyyy");
const QString STARS(48, QLatin1Char('*'));

// One entry around `body` (the lines from "Trigger: " on, exactly as written),
// with its two date-times left open.
QString entry(const QString& body)
{
    return STARS + "\nSession started on: @\n\n" + body + "\nSession closed on: @\n" + STARS + "\n";
}

// Matches `log` against `entries` joined, byte for byte apart from the
// date-times, which must read in English and lie within [from, to].
void compareLog(const QByteArray& log, const QString& entries, const QDateTime& from,
                const QDateTime& to)
{
    QString pattern = QRegularExpression::escape(entries);
    pattern.replace(QLatin1String("\\@"), QLatin1String("([A-Z][a-z]{2} [A-Z][a-z]{2} "
                                                        "[1-9][0-9]? [0-9]{2}:[0-9]{2}:[0-9]{2} "
                                                        "[0-9]{4})"));
    const QRegularExpression re(QRegularExpression::anchoredPattern(pattern));
    const QRegularExpressionMatch match = re.match(QString::fromUtf8(log));
    QVERIFY2(match.hasMatch(), log.constData());
    for (int i = 1; i <= match.lastCapturedIndex(); ++i) {
        const QDateTime moment = QLocale::c().toDateTime(match.captured(i), DATE_FORMAT);
        QVERIFY2(moment.isValid(), qPrintable(match.captured(i)));
        QVERIFY(moment >= from.addMSecs(-from.time().msec()) && moment <= to);
    }
}

} // namespace

class TestSessionLog : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<FormSession> s;
    ProbeForm* form = nullptr;

    // Sends and checks the one log file against `entries`.
    void sendAndCompare(const QString& file, const QString& entries, int sends = 1)
    {
        const QDateTime from = QDateTime::currentDateTime();
        for (int i = 0; i < sends; ++i)
            form->setTimes();
        const QDateTime to = QDateTime::currentDateTime();
        QCOMPARE(form->errors, QStringList());
        QCOMPARE(s->files(), QStringList{file});
        compareLog(s->read(file), entries, from, to);
    }

private slots:
    void init()
    {
        s = std::make_unique<FormSession>();
        form = s->probeForm;
        // The dates must not follow the operator's language.
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    }

    void cleanup()
    {
        QLocale::setDefault(QLocale::c());
        QVERIFY(!form->data);
        s.reset();
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    void textEntry_data()
    {
        QTest::addColumn<QString>("word");
        QTest::addColumn<QString>("logged");
        QTest::newRow("hola") << "hola"
                              << "hola";
        QTest::newRow("blank kept") << "a b"
                                    << "a b";
        QTest::newRow("unmapped left out") << QString::fromUtf8("a#b€~") << "ab";
        QTest::newRow("Spanish letters in UTF-8")
            << QString::fromUtf8("ñandú É¿¡") << QString::fromUtf8("ñandú É¿¡");
        QTest::newRow("empty") << "" << QString();
    }
    void textEntry()
    {
        QFETCH(QString, word);
        QFETCH(QString, logged);
        s->fill(1, word);
        form->loop_count_text->setText(QStringLiteral("3"));
        sendAndCompare(QStringLiteral("Alpha_Gamma.log"),
                       entry("Trigger: 100\nAfter trigger: 500\nChar duration: 300\nInterval: "
                             "200\nLoop: 3\nText: " +
                             logged + "\n"));
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
        QString list = codes.join(QStringLiteral(", "));
        if (mode == 4)
            QVERIFY(list.contains(QRegularExpression("\\d\\d")) &&
                    list.contains(QRegularExpression("[a-z]")));
        if (length > 0)
            list += "\n";

        s->fill(mode, QString(), QString::number(length));
        std::srand(5);
        sendAndCompare(QStringLiteral("Alpha_Gamma.log"),
                       entry("Trigger: 100\nAfter trigger: 500\nChar duration: 300\nInterval: "
                             "200\nLength: " +
                             QString::number(length) + "\nRandom sequence: " + list));
    }

    void abortedEntry()
    {
        s->fill(1, QStringLiteral("hola"));
        form->loop_count_text->setText(QStringLiteral("3"));
        bool clicked = false;
        s->vc.at(s->vc.now() + 1000 * NS_PER_MS, [&] { queueAbortClick(&clicked); });
        sendAndCompare(QStringLiteral("Alpha_Gamma.log"),
                       entry("Trigger: 100\nAfter trigger: 500\nChar duration: 300\nInterval: "
                             "200\nLoop: 3\nText: hola\nAborted!\n"));
        QVERIFY(clicked);
    }

    void twoSendsAppend()
    {
        s->fill(1, QStringLiteral("ab"));
        const QString one = entry("Trigger: 100\nAfter trigger: 500\nChar duration: 300\n"
                                  "Interval: 200\nLoop: 1\nText: ab\n");
        sendAndCompare(QStringLiteral("Alpha_Gamma.log"), one + one, 2);
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
        QTest::newRow("blank names") << " "
                                     << " "
                                     << "___.log";
        QTest::newRow("slashes") << "../up"
                                 << "a/b"
                                 << ".._up_a_b.log";
        QTest::newRow("dots") << "."
                              << "."
                              << "._..log";
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
        s->fill(1, QStringLiteral("a"));
        form->patient_name_text->setText(name);
        form->patient_last_name_text->setText(lastName);
        sendAndCompare(file, entry("Trigger: 100\nAfter trigger: 500\nChar duration: 300\n"
                                   "Interval: 200\nLoop: 1\nText: a\n"));
        QVERIFY(QFile::exists(s->dir.path() + "/" + file)); // named in UTF-8 on disk
    }

    void loggingOff()
    {
        s->fill(1, QStringLiteral("a"));
        form->log_check->setChecked(false);
        s->mark();
        form->setTimes();
        QCOMPARE(form->errors, QStringList());
        QVERIFY(!s->edges().isEmpty());
        QCOMPARE(s->files(), QStringList());
    }

    // A log that cannot be opened or written is reported once; the stimulus
    // is sent all the same.
    void logProblem_data()
    {
        QTest::addColumn<bool>("full");
        QTest::newRow("cannot open") << false;
        QTest::newRow("disk full") << true;
    }
    void logProblem()
    {
        QFETCH(bool, full);
        if (full)
            QVERIFY(QFile::link(QStringLiteral("/dev/full"), QStringLiteral("Alpha_Gamma.log")));
        else
            QVERIFY(QDir::current().mkdir(QStringLiteral("Alpha_Gamma.log")));
        s->fill(1, QStringLiteral("ab"));
        bool clicked = false;
        s->vc.at(s->vc.now() + 700 * NS_PER_MS, [&] { queueAbortClick(&clicked); });
        s->mark();
        form->setTimes();
        QVERIFY(clicked);
        QCOMPARE(form->errors, QStringList{LOG_MSG});
        QCOMPARE(s->edges(), QStringLiteral("0:63 100:0 600:1 900:0"));
    }
};

QTEST_MAIN(TestSessionLog)
#include "tst_sessionlog.moc"
