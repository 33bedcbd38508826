#include "main_form_probe.h"

#include "nubtactile.h"

#include <QCheckBox>
#include <QLabel>

#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

namespace
{

const QString NAME_MSG = QStringLiteral("You must insert the patients name");
const QString LAST_MSG = QStringLiteral("You must insert the patients last name");
const QString TIMES_MSG =
    QStringLiteral("Some of the times have a wrong format. Please check them and try again");
const QString MODE_MSG = QStringLiteral("You must select a mode before sending");
const QString LOOP_MSG =
    QStringLiteral("The loop number has a wrong format. Please check it and try again");
const QString LENGTH_MSG =
    QStringLiteral("The random sequence length has a wrong format. Please check it and try again");
const QString MEMORY_MSG =
    QStringLiteral("Not enough memory. Please stop some programs you are using and try again");

// "ms:byte" edges of cells held `hold` ms with `gap` ms between them, from `at`.
QString cellEdges(const QList<int>& bytes, int at, int hold, int gap)
{
    QStringList out;
    for (int byte : bytes) {
        if (byte != 0)
            out << QStringLiteral("%1:%2 %3:0").arg(at).arg(byte).arg(at + hold);
        at += hold + gap;
    }
    return out.join(QLatin1Char(' '));
}

// Address space in use now, from /proc (kB).
rlim_t addressSpaceInUse()
{
    FILE* status = std::fopen("/proc/self/status", "r");
    char line[256];
    rlim_t kb = 0;
    while (status && std::fgets(line, sizeof line, status)) {
        if (std::sscanf(line, "VmSize: %lu kB", &kb) == 1)
            break;
    }
    if (status)
        std::fclose(status);
    return kb * 1024;
}

} // namespace

class TestSending : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<FormSession> s;
    ProbeForm* form = nullptr;

private slots:
    void init()
    {
        s = std::make_unique<FormSession>();
        form = s->probeForm;
    }

    void cleanup()
    {
        QVERIFY(!form->data);
        s.reset();
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    void isNumber_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("number");
        QTest::newRow("zero") << QByteArray("0") << true;
        QTest::newRow("leading zeros") << QByteArray("007") << true;
        QTest::newRow("empty") << QByteArray("") << false;
        QTest::newRow("plus") << QByteArray("+1") << false;
        QTest::newRow("minus") << QByteArray("-1") << false;
        QTest::newRow("leading blank") << QByteArray(" 1") << false;
        QTest::newRow("trailing blank") << QByteArray("1 ") << false;
        QTest::newRow("decimal point") << QByteArray("1.5") << false;
        QTest::newRow("letter") << QByteArray("12a") << false;
    }
    void isNumber()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, number);
        QCOMPARE(main_form::isNumber(text.constData()), number);
        QVERIFY(!main_form::isNumber(nullptr));
    }

    // Each row changes one thing in a form that would pass (text mode, logging
    // on with names) and expects the message of the first failing rule, with
    // nothing allocated, sent or logged; rows without a message send.
    void checkValues_data()
    {
        QTest::addColumn<bool>("log");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("times");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("loop");
        QTest::addColumn<QString>("length");
        QTest::addColumn<QString>("message");
        const QStringList names{"A", "B"};
        const QStringList times{"1", "0", "1", "0"};
        QTest::newRow("valid text") << true << names << times << 1 << "2"
                                    << ""
                                    << "";
        QTest::newRow("both names empty") << true << QStringList{"", ""} << times << 1 << "1"
                                          << "" << NAME_MSG;
        QTest::newRow("last name empty") << true << QStringList{"A", ""} << times << 1 << "1"
                                         << "" << LAST_MSG;
        QTest::newRow("names before times")
            << true << QStringList{"", "B"} << QStringList{"x", "0", "1", "0"} << 0 << "1"
            << "" << NAME_MSG;
        QTest::newRow("no log, no names") << false << QStringList{"", ""} << times << 1 << "1"
                                          << ""
                                          << "";
        QTest::newRow("blank names") << true << QStringList{" ", " "} << times << 1 << "1"
                                     << ""
                                     << "";
        QTest::newRow("bad trigger") << true << names << QStringList{"x", "0", "1", "0"} << 1 << "1"
                                     << "" << TIMES_MSG;
        QTest::newRow("bad pause") << true << names << QStringList{"1", "-1", "1", "0"} << 1 << "1"
                                   << "" << TIMES_MSG;
        QTest::newRow("bad hold") << true << names << QStringList{"1", "0", "1.5", "0"} << 1 << "1"
                                  << "" << TIMES_MSG;
        QTest::newRow("empty interval")
            << true << names << QStringList{"1", "0", "1", ""} << 1 << "1"
            << "" << TIMES_MSG;
        QTest::newRow("fullwidth digit")
            << true << names << QStringList{QString::fromUtf8("１"), "0", "1", "0"} << 1 << "1"
            << "" << TIMES_MSG;
        QTest::newRow("NUL inside a number")
            << true << names << QStringList{QStringLiteral("1") + QChar(0) + "x", "0", "1", "0"}
            << 1 << "1"
            << "" << TIMES_MSG;
        QTest::newRow("bad time and no mode")
            << true << names << QStringList{"1", "0", "1", " 0"} << 0 << "1"
            << "" << TIMES_MSG;
        QTest::newRow("no mode") << true << names << times << 0 << "1"
                                 << "1" << MODE_MSG;
        QTest::newRow("bad loop") << true << names << times << 1 << "+3"
                                  << "1" << LOOP_MSG;
        QTest::newRow("text ignores length") << true << names << times << 1 << "1"
                                             << "x"
                                             << "";
        QTest::newRow("bad length") << true << names << times << 2 << "1"
                                    << " 5" << LENGTH_MSG;
        QTest::newRow("empty length") << true << names << times << 3 << "1"
                                      << "" << LENGTH_MSG;
        QTest::newRow("random ignores loop") << true << names << times << 4 << "x"
                                             << "2"
                                             << "";
        QTest::newRow("random length 0") << true << names << times << 2 << ""
                                         << "0"
                                         << "";
    }
    void checkValues()
    {
        QFETCH(bool, log);
        QFETCH(QStringList, names);
        QFETCH(QStringList, times);
        QFETCH(int, mode);
        QFETCH(QString, loop);
        QFETCH(QString, length);
        QFETCH(QString, message);
        form->log_check->setChecked(log);
        form->patient_name_text->setText(names[0]);
        form->patient_last_name_text->setText(names[1]);
        form->trigger_time_text->setText(times[0]);
        form->after_trigger_time_text->setText(times[1]);
        form->char_time_text->setText(times[2]);
        form->after_char_time_text->setText(times[3]);
        form->mode_combo->setCurrentIndex(mode);
        form->loop_count_text->setText(loop);
        form->word_text->setText(QStringLiteral("a"));
        form->sequence_length_text->setText(length);

        QCOMPARE(form->checkValues(), message.isEmpty());
        const QStringList expected = message.isEmpty() ? QStringList() : QStringList{message};
        QCOMPARE(form->errors, expected);

        form->errors.clear();
        s->mark();
        form->setTimes();
        QCOMPARE(form->errors, expected);
        if (message.isEmpty()) {
            QVERIFY(!s->edges().isEmpty()); // the trigger at least
        } else {
            QCOMPARE(s->edges(), QString());
            QCOMPARE(s->files(), QStringList());
        }
    }

    // Every number reaches the record as strtol gives it, saturated at the
    // largest signed 32-bit value; the log and the trigger's hold show it.
    void numbers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("value");
        QTest::newRow("zero") << "0" << qint64(0);
        QTest::newRow("leading zeros") << "007" << qint64(7);
        QTest::newRow("largest") << "2147483647" << qint64(2147483647);
        QTest::newRow("one more") << "2147483648" << qint64(2147483647);
        QTest::newRow("beyond 32 bits") << "4294967303" << qint64(2147483647);
        QTest::newRow("beyond 64 bits") << "99999999999999999999999" << qint64(2147483647);
    }
    void numbers()
    {
        QFETCH(QString, text);
        QFETCH(qint64, value);
        s->fill(1, QString());
        for (QLineEdit* field : {form->trigger_time_text, form->after_trigger_time_text,
                                 form->char_time_text, form->after_char_time_text})
            field->setText(text);
        s->mark();
        form->setTimes();
        QCOMPARE(form->errors, QStringList());
        const QString v = QString::number(value);
        QCOMPARE(s->edges(), value ? QStringLiteral("0:63 %1:0").arg(value) : QString());
        QVERIFY(s->read(QStringLiteral("Alpha_Gamma.log"))
                    .contains(QStringLiteral("\n\nTrigger: %1\nAfter trigger: %1\nChar duration: "
                                             "%1\nInterval: %1\nLoop: 1\nText: \n")
                                  .arg(v)
                                  .toUtf8()));
    }

    void textSend_data()
    {
        QTest::addColumn<QString>("word");
        QTest::addColumn<QList<int>>("bytes");
        QTest::newRow("Hola") << "Hola" << QList<int>{19, 21, 7, 1};
        QTest::newRow("unmapped dropped") << "a#b" << QList<int>{1, 3};
        QTest::newRow("empty") << "" << QList<int>{};
        QTest::newRow("Spanish letters") << QString::fromUtf8("ñÑéÉáíóú¿¡")
                                         << QList<int>{59, 59, 46, 46, 55, 12, 44, 62, 34, 22};
        QTest::newRow("no code page 437 byte, no question mark")
            << QString::fromUtf8("a€b") << QList<int>{1, 3};
        QTest::newRow("NUL keeps the rest")
            << QStringLiteral("a") + QChar(0) + "b" << QList<int>{1, 3};
    }
    void textSend()
    {
        QFETCH(QString, word);
        QFETCH(QList<int>, bytes);
        s->fill(1, word);
        form->loop_count_text->setText(QStringLiteral("2"));
        s->mark();
        form->setTimes();
        QCOMPARE(form->errors, QStringList());
        const QList<int> twice = bytes + bytes;
        QCOMPARE(s->edges(),
                 QStringLiteral("0:63 100:0 %1").arg(cellEdges(twice, 600, 300, 200)).trimmed());
    }

    // The random codes reach the lines as data bytes, in the order drawn.
    void randomSend_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("valid") << 2;
        QTest::newRow("non-valid") << 3;
        QTest::newRow("mixed") << 4;
    }
    void randomSend()
    {
        QFETCH(int, mode);
        Braille_Data expected;
        expected.mode = mode;
        std::srand(11);
        QCOMPARE(generateRandomSequence(expected, 30), 1);
        QList<int> bytes;
        for (int i = 0; i < 30; ++i) {
            bytes << expected.word[i];
            if (mode != 4)
                QCOMPARE(isValidCode(expected.word[i]), mode == 2);
        }

        s->fill(mode, QString(), QStringLiteral("30"));
        form->loop_count_text->setText(QStringLiteral("5")); // random modes play once
        std::srand(11);
        s->mark();
        form->setTimes();
        QCOMPARE(form->errors, QStringList());
        QCOMPARE(s->edges(), QStringLiteral("0:63 100:0 %1").arg(cellEdges(bytes, 600, 300, 200)));
    }

    // A single shot checks only its duration: no mode, names or times needed.
    void singleShot_data()
    {
        QTest::addColumn<QList<int>>("pins");
        QTest::addColumn<QString>("duration");
        QTest::addColumn<QString>("edges");
        QTest::addColumn<QString>("message");
        const QString bad =
            QStringLiteral("The duration time has a wrong format. Please check it and try again");
        QTest::newRow("pins 0 2 7") << QList<int>{0, 2, 7} << "500"
                                    << "0:131 500:0"
                                    << "";
        QTest::newRow("all pins") << QList<int>{0, 1, 2, 3, 4, 5, 6, 7} << "20"
                                  << "0:255 20:0"
                                  << "";
        QTest::newRow("zero hold") << QList<int>{1} << "0"
                                   << "0:8 0:0"
                                   << "";
        QTest::newRow("no pin") << QList<int>{} << "500"
                                << ""
                                << "";
        QTest::newRow("empty duration") << QList<int>{0} << ""
                                        << "" << bad;
        QTest::newRow("signed duration") << QList<int>{0} << "+5"
                                         << "" << bad;
    }
    void singleShot()
    {
        QFETCH(QList<int>, pins);
        QFETCH(QString, duration);
        QFETCH(QString, edges);
        QFETCH(QString, message);
        QCheckBox* checks[8] = {form->pin_0_check, form->pin_1_check, form->pin_2_check,
                                form->pin_3_check, form->pin_4_check, form->pin_5_check,
                                form->pin_6_check, form->pin_7_check};
        for (int pin : pins)
            checks[pin]->setChecked(true);
        form->pins_duration_text->setText(duration);
        s->mark();
        form->pins_button->click();
        QCOMPARE(form->errors, message.isEmpty() ? QStringList() : QStringList{message});
        QCOMPARE(s->edges(), edges);
        QCOMPARE(s->files(), QStringList()); // never logged
    }

    // Abort during the second of five cells: it completes, nothing follows.
    void abort()
    {
        s->fill(1, QStringLiteral("abcde"));
        form->trigger_time_text->setText(QStringLiteral("0"));
        form->after_trigger_time_text->setText(QStringLiteral("0"));
        form->char_time_text->setText(QStringLiteral("100"));
        form->after_char_time_text->setText(QStringLiteral("100"));
        s->mark();
        bool clicked = false;
        s->vc.at(s->start + 250 * NS_PER_MS, [&] { queueAbortClick(&clicked); });
        form->send_button->click();
        QVERIFY(clicked);
        QCOMPARE(s->edges(), QStringLiteral("0:1 100:0 200:3 300:0"));
        QVERIFY(s->read(QStringLiteral("Alpha_Gamma.log")).contains("Text: abcde\nAborted!\n\n"));
    }

    // The buttons do nothing while a send of theirs is still running.
    void noNestedSend()
    {
        s->fill(1, QStringLiteral("ab"));
        form->pins_duration_text->setText(QStringLiteral("50"));
        form->pin_0_check->setChecked(true);
        s->mark();
        s->vc.at(s->start + 700 * NS_PER_MS, [&] {
            form->setTimes();
            form->setPins();
        });
        form->setTimes();
        QCOMPARE(s->edges(), QStringLiteral("0:63 100:0 600:1 900:0 1100:3 1400:0"));
    }

    // A length whose codes do not fit in memory is refused before anything
    // is drawn, sent or logged.
    void outOfMemory_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("length");
        QTest::newRow("valid") << 2 << "2147483647";
        QTest::newRow("non-valid") << 3 << "2147483647";
        QTest::newRow("mixed, saturated") << 4 << "99999999999";
    }
    void outOfMemory()
    {
        QFETCH(int, mode);
        QFETCH(QString, length);
        s->fill(mode, QString(), length);
        rlimit saved;
        QCOMPARE(getrlimit(RLIMIT_AS, &saved), 0);
        rlimit lowered = saved;
        lowered.rlim_cur = addressSpaceInUse() + (rlim_t(1) << 30);
        QCOMPARE(setrlimit(RLIMIT_AS, &lowered), 0);
        s->mark();
        form->setTimes();
        setrlimit(RLIMIT_AS, &saved);
        QCOMPARE(form->errors, QStringList{MEMORY_MSG});
        QCOMPARE(s->edges(), QString());
        QCOMPARE(s->files(), QStringList());
    }

    void randomShow_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("text");
        QTest::addColumn<bool>("random");
        QTest::newRow("select a mode") << 0 << false << false;
        QTest::newRow("text") << 1 << true << false;
        QTest::newRow("random valid") << 2 << false << true;
        QTest::newRow("random mixed") << 4 << false << true;
    }
    void randomShow()
    {
        QFETCH(int, mode);
        QFETCH(bool, text);
        QFETCH(bool, random);
        s->fill(1, QStringLiteral("hola"), QStringLiteral("7"));
        emit form->mode_combo->activated(1);
        form->mode_combo->setCurrentIndex(mode);
        emit form->mode_combo->activated(mode);
        const QList<QWidget*> textFields{form->loop_count_label, form->loop_count_text,
                                         form->word_label, form->word_text};
        for (QWidget* w : textFields)
            QCOMPARE(w->isEnabled(), text);
        QCOMPARE(form->length_label->isEnabled(), random);
        QCOMPARE(form->sequence_length_text->isEnabled(), random);
        QCOMPARE(form->word_text->text(), QStringLiteral("hola"));
        QCOMPARE(form->sequence_length_text->text(), QStringLiteral("7"));
    }

    void logShow()
    {
        s->fill(1);
        const QList<QWidget*> patient{form->patient_name_label, form->patient_name_text,
                                      form->patient_last_name_label, form->patient_last_name_text};
        for (bool on : {false, true}) {
            form->log_check->click();
            QCOMPARE(form->log_check->isChecked(), on);
            for (QWidget* w : patient)
                QCOMPARE(w->isEnabled(), on);
        }
        QCOMPARE(form->patient_name_text->text(), QStringLiteral("Alpha"));
    }
};

QTEST_MAIN(TestSending)
#include "tst_sending.moc"
