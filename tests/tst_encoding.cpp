#include "cp437.h"
#include "failing_allocation.h"
#include "nubtactile.h"
#include "output_capture.h"

#include <QtTest>

class TestEncoding : public QObject
{
    Q_OBJECT

private slots:
    // The whole map, as every byte value given to setWord keeps it: each
    // character that has a cell (by its code page 437 byte, unsigned) followed
    // by its cell as a Unicode Braille pattern, where dot n is bit n-1 as on
    // data line D(n-1). Without a text, or without the memory for its codes,
    // the record is left empty.
    void characterMap()
    {
        QByteArray everyByte;
        for (int b = 1; b < 256; ++b)
            everyByte += char(b);
        Braille_Data record;
        QCOMPARE(setWord(record, everyByte.constData()), 1);
        QString map;
        for (std::uint32_t i = 0; i < record.length; ++i)
            map.append(QChar(char16_t(cp437ToUnicode(record.word[i]))))
                .append(QChar(0x2800 + braille2int(ASCII[record.word[i]])));
        // clang-format off
        QCOMPARE(map, QString("\n⠿ ⠀!⠖\"⠦'⠦(⠣)⠜*⠡+⠬,⠂-⠤.⠄/⠌0⠴1⠂2⠆3⠒4⠲5⠢6⠖7⠶8⠦9⠔:⠒;⠆=⠿?⠢"
                              "A⠁B⠃C⠉D⠙E⠑F⠋G⠛H⠓I⠊J⠚K⠅L⠇M⠍N⠝O⠕P⠏Q⠟R⠗S⠎T⠞U⠥V⠧W⠺X⠭Y⠽Z⠵[⠪]⠻"
                              "a⠁b⠃c⠉d⠙e⠑f⠋g⠛h⠓i⠊j⠚k⠅l⠇m⠍n⠝o⠕p⠏q⠟r⠗s⠎t⠞u⠥v⠧w⠺x⠭y⠽z⠵{⠪}⠻é⠮É⠮á⠷í⠌ó⠬ú⠾ñ⠻Ñ⠻¿⠢¡⠖"));
        // clang-format on
        failingAllocationSize = 2 * sizeof(std::uint16_t);
        QCOMPARE(setWord(record, "ab"), ENCODE_NO_MEMORY);
        QVERIFY(record.length == 0 && !record.word);
        QCOMPARE(setWord(record, nullptr), 0);
    }

    void randomSequence_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("storable");
        QTest::newRow("mixed") << int(MODE_RANDOM_MIXED) << true;
        QTest::newRow("valid") << int(MODE_RANDOM_VALID) << true;
        QTest::newRow("non-valid") << int(MODE_RANDOM_NON_VALID) << true;
        QTest::newRow("mixed, no memory for the codes") << int(MODE_RANDOM_MIXED) << false;
    }

    // Replays the generator from the same seed: rand() % 256, drawn again for
    // the same position while the mode refuses the code. Equal sequences,
    // equal printed lines and an equal number of draws. A sequence that
    // cannot be stored is refused, and the record left empty, before anything
    // is drawn or printed.
    void randomSequence()
    {
        QFETCH(int, mode);
        QFETCH(bool, storable);
        Braille_Data record;
        setWord(record, "a");
        record.mode = mode;
        failingAllocationSize = storable ? 0 : 3000 * sizeof(std::uint16_t);
        std::srand(unsigned(mode));
        const QByteArray printed = capturedOutput(stdout, [&] {
            QCOMPARE(generateRandomSequence(record, 3000), storable ? 1 : ENCODE_NO_MEMORY);
        });
        const int nextAfterProduct = std::rand();

        std::srand(unsigned(mode));
        QList<quint16> codes;
        QByteArray lines;
        while (storable && codes.size() < 3000) {
            const int code = std::rand() % 256;
            if (mode == (ASCII[code] ? MODE_RANDOM_NON_VALID : MODE_RANDOM_VALID))
                continue;
            codes << code;
            lines += QByteArray::number(code) + '\n';
        }
        QCOMPARE(QList<quint16>(record.word.get(), record.word.get() + record.length), codes);
        QCOMPARE(bool(record.word), storable);
        QCOMPARE(printed, mode == MODE_RANDOM_MIXED ? lines : QByteArray());
        QCOMPARE(nextAfterProduct, std::rand());
    }

    // A long drawing asks after every 65536 codes whether to go on, with the
    // count drawn; told to stop, it leaves the record empty.
    void randomSequenceAsksToGoOn()
    {
        Braille_Data record;
        record.mode = MODE_RANDOM_VALID;
        QList<quint32> asked;
        const auto going = [&](std::uint32_t drawn) {
            asked << drawn;
            return drawn < 131072;
        };
        QCOMPARE(generateRandomSequence(record, 200000, going), ENCODE_CANCELLED);
        QCOMPARE(asked, QList<quint32>({65536, 131072}));
        QVERIFY(record.length == 0 && !record.word);
    }

    // Text to code page 437 bytes, given as UTF-8. Characters the code page
    // lacks are left out, never sent as '?'. Input that is not UTF-8 is
    // refused and leaves the output alone, so that the caller can take the
    // bytes as code page 437 instead.
    void conversion_data()
    {
        QTest::addColumn<QByteArray>("utf8");
        QTest::addColumn<QByteArray>("bytes"); // null: refused
        // Each byte's character, and the byte itself once converted.
        QByteArray everyByte, everyCharacter;
        for (int b = 0; b < 256; everyByte += char(b++))
            everyCharacter += QByteArray::fromStdString(cp437ToUtf8(static_cast<unsigned char>(b)));
        QTest::newRow("every byte as its character") << everyCharacter << everyByte;
        // Euro; the first and last characters of two and three bytes, and the
        // last of all; one beyond 16 bits whose low bits are é.
        QTest::newRow("no byte") << QByteArray("a€\u0080\u07FF\u0800\uFFFD\U000100E9\U0010FFFFb")
                                 << QByteArray("ab");
        QTest::newRow("combining accent composed") << QByteArray("e\u0301") << QByteArray("\x82");
        QTest::newRow("above U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << QByteArray();
        QTest::newRow("surrogate") << QByteArray("\xED\xA0\x80") << QByteArray();
        QTest::newRow("overlong") << QByteArray("\xC1\xBF") << QByteArray();
        QTest::newRow("stray continuation") << QByteArray("\x80") << QByteArray();
        QTest::newRow("third byte not continuation") << QByteArray("\xE2\x82\x41") << QByteArray();
        QTest::newRow("Latin-1 letter at the end") << QByteArray("t\xE9") << QByteArray();
        QTest::newRow("Latin-1 letter inside") << QByteArray("ni\xF1o bonito") << QByteArray();
    }

    void conversion()
    {
        QFETCH(QByteArray, utf8);
        QFETCH(QByteArray, bytes);
        std::string out = "untouched";
        QCOMPARE(utf8ToCp437(utf8.toStdString(), out), !bytes.isNull());
        QCOMPARE(QByteArray::fromStdString(out), bytes.isNull() ? "untouched" : bytes);
        // A lone surrogate is no character (it has no UTF-8 form to give above).
        if (!bytes.isNull())
            QCOMPARE(textToCp437(QString::fromUtf8(utf8) + QChar(0xD800)), out);
    }
};

QTEST_GUILESS_MAIN(TestEncoding)
#include "tst_encoding.moc"
