#include "main_form_probe.h"

#include "cp437.h"
#include "nubtactile.h"

#include <QCheckBox>
#include <QPushButton>
#include <QRegularExpression>

#include <cstdlib>
#include <new>

namespace
{
// Armed by a test: every allocation of at least this many bytes fails, as
// when memory runs out; 0 lets all through.
std::size_t failFromSize = 0;

void* allocate(std::size_t size) noexcept
{
    if (failFromSize != 0 && size >= failFromSize)
        return nullptr;
    return std::malloc(size != 0 ? size : 1);
}

void* allocateOrThrow(std::size_t size)
{
    if (void* block = allocate(size))
        return block;
    throw std::bad_alloc();
}
} // namespace

// Every form takes from malloc and gives back to free, so that each delete
// matches whichever new made the block.
void* operator new(std::size_t size)
{
    return allocateOrThrow(size);
}
void* operator new[](std::size_t size)
{
    return allocateOrThrow(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    return allocate(size);
}
void operator delete(void* block) noexcept
{
    std::free(block);
}
void operator delete[](void* block) noexcept
{
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept
{
    std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept
{
    std::free(block);
}

namespace
{

// The message for a field that is not a number.
QString wrong(const char* what)
{
    return QStringLiteral("The %1 has a wrong format. Please check it and try again").arg(what);
}

} // namespace

class TestSending : public QObject
{
    Q_OBJECT

    std::unique_ptr<ProbeForm> form;

private slots:
    void init() { form = std::make_unique<ProbeForm>(); }
    void cleanup() { releaseForm(form); }

    // A form as "log|mode|name|last name|trigger|pause|hold|interval|loop|word|
    // length" and the message of the first failing rule, none when it sends.
    void checkValues_data()
    {
        QTest::addColumn<QString>("fields");
        QTest::addColumn<QString>("message");
        const QString name = "You must insert the patients name";
        const QString last = "You must insert the patients last name";
        const QString times = "Some of the times have a wrong format. Please check them and try "
                              "again";
        const QString mode = "You must select a mode before sending";
        QTest::newRow("last name empty") << "1|1|A||1|0|1|0|1||" << last;
        QTest::newRow("names before times") << "1|0||B|x|0|1|0|1||" << name;
        QTest::newRow("no log, no names") << "0|1|||1|0|1|0|1||" << QString();
        QTest::newRow("blank names") << "1|1| | |1|0|1|0|1||" << QString();
        QTest::newRow("empty trigger") << "1|1|A|B||0|1|0|1||" << times;
        QTest::newRow("signed pause") << "1|1|A|B|1|-1|1|0|1||" << times;
        QTest::newRow("fullwidth hold") << "1|1|A|B|1|0|１|0|1||" << times;
        QTest::newRow("NUL in interval")
            << "1|1|A|B|1|0|1|1" + QString(QChar(0)) + "x|1||" << times;
        QTest::newRow("times before mode") << "1|0|A|B|1|0|1| 0|1||" << times;
        QTest::newRow("no mode") << "1|0|A|B|1|0|1|0|1||1" << mode;
        QTest::newRow("bad loop") << "1|1|A|B|1|0|1|0|+3||1" << wrong("loop number");
        QTest::newRow("text ignores length") << "1|1|A|B|007|0|1|0|1|a|x" << QString();
        QTest::newRow("bad length") << "1|3|A|B|1|0|1|0|1||1.5" << wrong("random sequence length");
        QTest::newRow("random ignores loop") << "1|4|A|B|1|0|1|0|x||0" << QString();
    }
    void checkValues()
    {
        QFETCH(QString, fields);
        QFETCH(QString, message);
        const QStringList f = fields.split('|');
        form->log_check->setChecked(f[0] == "1");
        form->setFields(f[1].toInt(), f.mid(2));
        const QStringList expected = message.isEmpty() ? QStringList() : QStringList{message};
        QCOMPARE(form->checkValues(), message.isEmpty());
        form->mark();
        form->setTimes(); // checks the same way, then sends or not
        QCOMPARE(form->errors, expected + expected);
        QCOMPARE(form->edges().isEmpty(), !message.isEmpty()); // the trigger at least
        QCOMPARE(workFiles().isEmpty(), !message.isEmpty() || f[0] == "0");
    }

    // Numbers are read in base 10 and saturate at the largest signed 32-bit
    // value; the trigger's hold and the log show what the record got.
    void numbers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("value");
        QTest::newRow("leading zero") << "010" << qint64(10);
        QTest::newRow("just beyond") << "2147483648" << qint64(2147483647);
        QTest::newRow("wraps to 7 in 32 bits") << "4294967303" << qint64(2147483647);
        QTest::newRow("beyond 64 bits") << "99999999999999999999999" << qint64(2147483647);
    }
    void numbers()
    {
        QFETCH(QString, text);
        QFETCH(qint64, value);
        form->setFields(1, {"Alpha", "Gamma", text, text, text, text, "1"});
        form->mark();
        form->setTimes();
        QCOMPARE(form->edges(), QStringLiteral("0:63 %1:0").arg(value));
        const QString times = "\nTrigger: %1\nAfter trigger: %1\nChar duration: %1\nInterval: %1\n";
        QVERIFY(readFile("Alpha_Gamma.log").contains(times.arg(value).toUtf8()));
    }

    // A single shot checks only its duration, so it goes out with no mode and
    // logging on with empty names, and is never logged. Rows are "pins|
    // duration|edges", "refused" for the duration's message.
    void singleShot_data()
    {
        QTest::addColumn<QString>("row");
        QTest::newRow("pins 0 2 7") << "027|500|0:131 500:0";
        QTest::newRow("zero hold") << "1|0|0:8 0:0";
        QTest::newRow("no pin") << "|500|";
        QTest::newRow("empty duration") << "0||refused";
        QTest::newRow("signed duration") << "0|+5|refused";
    }
    void singleShot()
    {
        QFETCH(QString, row);
        const QStringList r = row.split('|');
        QVERIFY(form->log_check->isChecked() && form->mode_combo->currentIndex() == 0);
        for (QChar pin : r[0])
            form->findChild<QCheckBox*>(QStringLiteral("pin_%1_check").arg(pin))->setChecked(true);
        form->pins_duration_text->setText(r[1]);
        form->mark();
        form->pins_button->click();
        const bool refused = r[2] == "refused";
        QCOMPARE(form->errors, refused ? QStringList{wrong("duration time")} : QStringList());
        QCOMPARE(form->edges(), refused ? QString() : r[2]);
        QCOMPARE(workFiles(), QStringList());
    }

    // A button pressed while a send runs does nothing: the running send keeps
    // its record.
    void noNestedSend()
    {
        form->fill(1, "ab");
        form->pins_duration_text->setText("50");
        form->pin_0_check->setChecked(true);
        form->mark();
        form->vc.at(form->start + 700 * NS_PER_MS, [&] {
            form->setTimes();
            form->setPins();
        });
        form->setTimes();
        QCOMPARE(form->edges(), "0:63 100:0 600:1 900:0 1100:3 1400:0");
    }

    // An allocation that fails while a send is prepared ends in the memory
    // message with nothing sent or logged; the log line of codes that fit goes
    // out in pieces, so it needs no block as large as itself.
    void outOfMemory_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("word");
        QTest::addColumn<QString>("length");
        QTest::addColumn<bool>("sent");
        // The length saturates at 2147483647 codes.
        QTest::newRow("codes") << 4 << QString() << "99999999999" << false;
        QTest::newRow("converted word") << 1 << QString(20000, 'a') << "1" << false;
        QTest::newRow("log line") << 2 << QString() << "6000" << true;
    }
    void outOfMemory()
    {
        QFETCH(int, mode);
        QFETCH(QString, word);
        QFETCH(QString, length);
        QFETCH(bool, sent);
        form->fill(mode, word, length);
        form->mark();
        // One cell will do.
        form->vc.at(form->start, [] {
            QMetaObject::invokeMethod(QApplication::activeModalWidget()->findChild<QPushButton*>(),
                                      &QPushButton::click, Qt::QueuedConnection);
        });
        std::srand(5);
        failFromSize = 16 * 1024;
        form->setTimes();
        failFromSize = 0;
        QCOMPARE(form->errors, sent ? QStringList()
                                    : QStringList{"Not enough memory. Please stop some programs "
                                                  "you are using and try again"});
        QCOMPARE(form->edges().isEmpty(), !sent);
        const QStringList files{"Alpha_Gamma.log", "Alpha_Gamma.timing.csv"};
        QCOMPARE(workFiles(), sent ? files : QStringList());
        if (!sent)
            return;
        Braille_Data drawn; // the codes of the send, from the same seed
        drawn.mode = mode;
        std::srand(5);
        QCOMPARE(generateRandomSequence(drawn, length.toUInt()), 1);
        std::string line = "Random sequence: ";
        for (quint32 i = 0; i < drawn.length; ++i)
            line += (i ? ", " : "") + cp437ToUtf8(static_cast<unsigned char>(drawn.word[i]));
        QVERIFY(
            readFile("Alpha_Gamma.log").contains(QByteArray::fromStdString(line + "\nAborted!\n")));
    }

    // Choosing a mode or logging enables the fields that go with it.
    void enabledFields()
    {
        form->fill(1, "hola", "7");
        auto enabled = [&] {
            QString bits;
            for (const char* name :
                 {"loop_count_label", "loop_count_text", "word_label", "word_text", "length_label",
                  "sequence_length_text", "patient_name_label", "patient_name_text",
                  "patient_last_name_label", "patient_last_name_text"})
                bits += form->findChild<QWidget*>(name)->isEnabled() ? '1' : '0';
            return bits;
        };
        const QString byMode[] = {"000000", "111100", "000011", "000011", "000011"};
        for (int mode : {0, 1, 2, 1, 3, 4}) {
            form->mode_combo->setCurrentIndex(mode);
            emit form->mode_combo->activated(mode);
            QCOMPARE(enabled(), byMode[mode] + "1111");
        }
        for (const char* bits : {"0000", "1111"}) {
            form->log_check->click();
            QCOMPARE(enabled(), byMode[4] + bits);
        }
    }
};

QTEST_MAIN(TestSending)
#include "tst_sending.moc"
