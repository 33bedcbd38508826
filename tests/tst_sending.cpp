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

    // Each row is a form, "log|name|last name|trigger|pause|hold|interval|mode|
    // loop|length" (word "a"), and the message of the first failing rule, or
    // none when the form sends. A refused form allocates, sends and logs nothing.
    void checkValues_data()
    {
        QTest::addColumn<QString>("fields");
        QTest::addColumn<QString>("message");
        QTest::newRow("valid text") << "1|A|B|007|0|1|0|1|2|" << QString();
        QTest::newRow("both names empty") << "1|||1|0|1|0|1|1|" << NAME_MSG;
        QTest::newRow("last name empty") << "1|A||1|0|1|0|1|1|" << LAST_MSG;
        QTest::newRow("names before times") << "1||B|x|0|1|0|0|1|" << NAME_MSG;
        QTest::newRow("no log, no names") << "0|||1|0|1|0|1|1|" << QString();
        QTest::newRow("blank names") << "1| | |1|0|1|0|1|1|" << QString();
        QTest::newRow("bad trigger") << "1|A|B|x|0|1|0|1|1|" << TIMES_MSG;
        QTest::newRow("bad pause") << "1|A|B|1|-1|1|0|1|1|" << TIMES_MSG;
        QTest::newRow("bad hold") << "1|A|B|1|0|1.5|0|1|1|" << TIMES_MSG;
        QTest::newRow("empty interval") << "1|A|B|1|0|1||1|1|" << TIMES_MSG;
        QTest::newRow("fullwidth digit") << QString::fromUtf8("1|A|B|１|0|1|0|1|1|") << TIMES_MSG;
        QTest::newRow("NUL in a number")
            << QStringLiteral("1|A|B|1%1x|0|1|0|1|1|").arg(QChar(0)) << TIMES_MSG;
        QTest::newRow("bad time and no mode") << "1|A|B|1|0|1| 0|0|1|" << TIMES_MSG;
        QTest::newRow("no mode") << "1|A|B|1|0|1|0|0|1|1" << MODE_MSG;
        QTest::newRow("bad loop") << "1|A|B|1|0|1|0|1|+3|1" << LOOP_MSG;
        QTest::newRow("text ignores length") << "1|A|B|1|0|1|0|1|1|x" << QString();
        QTest::newRow("bad length") << "1|A|B|1|0|1|0|2|1| 5" << LENGTH_MSG;
        QTest::newRow("empty length") << "1|A|B|1|0|1|0|3|1|" << LENGTH_MSG;
        QTest::newRow("random ignores loop") << "1|A|B|1|0|1|0|4|x|2" << QString();
        QTest::newRow("random length 0") << "1|A|B|1|0|1|0|2||0" << QString();
    }
    void checkValues()
    {
        QFETCH(QString, fields);
        QFETCH(QString, message);
        const QStringList f = fields.split(QLatin1Char('|'));
        form->log_check->setChecked(f[0] == QLatin1String("1"));
        QLineEdit* const texts[] = {form->patient_name_text, form->patient_last_name_text,
                                    form->trigger_time_text, form->after_trigger_time_text,
                                    form->char_time_text,    form->after_char_time_text};
        for (int i = 0; i < 6; ++i)
            texts[i]->setText(f[i + 1]);
        form->mode_combo->setCurrentIndex(f[7].toInt());
        form->loop_count_text->setText(f[8]);
        form->sequence_length_text->setText(f[9]);
        form->word_text->setText(QStringLiteral("a"));

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
                                    << "0:131 500:0" << QString();
        QTest::newRow("all pins") << QList<int>{0, 1, 2, 3, 4, 5, 6, 7} << "20"
                                  << "0:255 20:0" << QString();
        QTest::newRow("zero hold") << QList<int>{1} << "0"
                                   << "0:8 0:0" << QString();
        QTest::newRow("no pin") << QList<int>{} << "500"
                                << "" << QString();
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
