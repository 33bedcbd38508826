#include "cp437.h"

#include <QSet>
#include <QtTest>

#include <iconv.h>
#include <string>

class TestCp437 : public QObject
{
    Q_OBJECT

private slots:
    void knownCharacters_data();
    void knownCharacters();
    void missingCharacters_data();
    void missingCharacters();
    void agreesWithSystemConverter();
    void textConversion_data();
    void textConversion();
    void utf8Conversion_data();
    void utf8Conversion();
    void everyByteRoundTrips();
};

void TestCp437::knownCharacters_data()
{
    QTest::addColumn<uint>("codePoint");
    QTest::addColumn<int>("byte");
    const struct {
        const char* name;
        char32_t codePoint;
        int byte;
    } rows[] = {
        {"a acute", U'á', 0xA0},
        {"e acute", U'é', 0x82},
        {"n tilde", U'ñ', 0xA4},
        {"N tilde", U'Ñ', 0xA5},
        {"inverted ?", U'¿', 0xA8},
        {"inverted !", U'¡', 0xAD},
        {"E acute", U'É', 0x90},
        {"i acute", U'í', 0xA1},
        {"o acute", U'ó', 0xA2},
        {"u acute", U'ú', 0xA3},
        {"sharp s", U'ß', 0xE1},
        {"micro", U'µ', 0xE6},
        {"peseta", U'\u20A7', 0x9E},
        {"light shade", U'░', 0xB0},
        {"no-break space", U'\u00A0', 0xFF},
        {"line feed", U'\n', 0x0A},
        {"A", U'A', 0x41},
        {"tilde", U'~', 0x7E},
        {"NUL", U'\0', 0x00},
        {"DEL", U'\x7F', 0x7F},
    };
    for (const auto& r : rows)
        QTest::newRow(r.name) << uint(r.codePoint) << r.byte;
}

void TestCp437::knownCharacters()
{
    QFETCH(uint, codePoint);
    QFETCH(int, byte);
    QCOMPARE(unicodeToCp437(codePoint), byte);
    QCOMPARE(uint(cp437ToUnicode(static_cast<unsigned char>(byte))), codePoint);
}

void TestCp437::missingCharacters_data()
{
    QTest::addColumn<uint>("codePoint");
    QTest::newRow("euro") << uint(U'€');
    QTest::newRow("A tilde") << uint(U'Ã');
    QTest::newRow("combining acute") << 0x0301u;
    QTest::newRow("replacement character") << 0xFFFDu;
    QTest::newRow("surrogate") << 0xD800u;
    QTest::newRow("emoji") << 0x1F600u;
    QTest::newRow("beyond Unicode") << 0x110000u;
    QTest::newRow("low byte of a wide value") << 0x100E9u;
}

void TestCp437::missingCharacters()
{
    QFETCH(uint, codePoint);
    QCOMPARE(unicodeToCp437(codePoint), -1);
}

void TestCp437::agreesWithSystemConverter()
{
    iconv_t cd = iconv_open("UTF-32LE", "IBM437");
    if (cd == iconv_t(-1))
        QSKIP("the C library has no IBM437 converter");
    for (int b = 0; b < 256; ++b) {
        char in = char(b);
        unsigned char out[4] = {};
        char* inp = &in;
        char* outp = reinterpret_cast<char*>(out);
        size_t inLeft = 1, outLeft = 4;
        QVERIFY(iconv(cd, &inp, &inLeft, &outp, &outLeft) != size_t(-1));
        const uint expected = out[0] | out[1] << 8 | out[2] << 16 | uint(out[3]) << 24;
        QVERIFY2(uint(cp437ToUnicode(static_cast<unsigned char>(b))) == expected,
                 qPrintable(QString::number(b, 16)));
    }
    iconv_close(cd);
}

void TestCp437::textConversion_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("plain ASCII") << QString("Hola, mundo!\n#~") << QByteArray("Hola, mundo!\n#~");
    QTest::newRow("Spanish") << QString("¿Año? ¡Ñú! Éí")
                             << QByteArray("\xA8\x41\xA4o? \xAD\xA5\xA3! \x90\xA1");
    QTest::newRow("missing left out, no ?") << QString("a€b") << QByteArray("ab");
    QTest::newRow("surrogate pair left out")
        << QString::fromUcs4(U"a\U0001F600b") << QByteArray("ab");
    QTest::newRow("lone surrogate left out")
        << (QString("a") + QChar(0xDC00) + QString("b")) << QByteArray("ab");
    QTest::newRow("combining accent composed") << QString::fromUtf8("e\xCC\x81") // e + U+0301
                                               << QByteArray("\x82");
    QTest::newRow("empty") << QString() << QByteArray();
}

void TestCp437::textConversion()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(QByteArray::fromStdString(textToCp437(text)), bytes);

    // A lone surrogate has no UTF-8 form.
    if (text.isValidUtf16()) {
        std::string out = "previous";
        QVERIFY(utf8ToCp437(text.toStdString(), out));
        QCOMPARE(QByteArray::fromStdString(out), bytes);
    }
}

void TestCp437::utf8Conversion_data()
{
    QTest::addColumn<QByteArray>("utf8");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("two-byte") << QByteArray("\xC3\xB1") << true << QByteArray("\xA4");
    QTest::newRow("three-byte") << QByteArray("\xE2\x96\x91") << true << QByteArray("\xB0");
    QTest::newRow("four-byte, missing")
        << QByteArray("x\xF0\x9F\x98\x80") << true << QByteArray("x");
    QTest::newRow("highest code point") << QByteArray("\xF4\x8F\xBF\xBF") << true << QByteArray();
    QTest::newRow("last before surrogates") << QByteArray("\xED\x9F\xBF") << true << QByteArray();
    QTest::newRow("NUL inside") << QByteArray("a\0b", 3) << true << QByteArray("a\0b", 3);
    QTest::newRow("Latin-1 byte") << QByteArray("t\xE9") << false << QByteArray();
    QTest::newRow("stray continuation") << QByteArray("\x80") << false << QByteArray();
    QTest::newRow("overlong two-byte") << QByteArray("\xC1\xBF") << false << QByteArray();
    QTest::newRow("overlong NUL") << QByteArray("\xC0\x80") << false << QByteArray();
    QTest::newRow("overlong three-byte") << QByteArray("\xE0\x9F\xBF") << false << QByteArray();
    QTest::newRow("overlong four-byte") << QByteArray("\xF0\x8F\xBF\xBF") << false << QByteArray();
    QTest::newRow("surrogate") << QByteArray("\xED\xA0\x80") << false << QByteArray();
    QTest::newRow("above U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << false << QByteArray();
    QTest::newRow("F5 lead") << QByteArray("\xF5\x80\x80\x80") << false << QByteArray();
    QTest::newRow("FF") << QByteArray("\xFF") << false << QByteArray();
    QTest::newRow("truncated at end") << QByteArray("ab\xE2\x82") << false << QByteArray();
    QTest::newRow("truncated before ASCII") << QByteArray("\xC3 a") << false << QByteArray();
    QTest::newRow("third byte not continuation")
        << QByteArray("\xE2\x82\x41") << false << QByteArray();
}

void TestCp437::utf8Conversion()
{
    QFETCH(QByteArray, utf8);
    QFETCH(bool, valid);
    QFETCH(QByteArray, bytes);

    std::string out = "untouched";
    QCOMPARE(utf8ToCp437(std::string_view(utf8.constData(), size_t(utf8.size())), out), valid);
    QCOMPARE(QByteArray::fromStdString(out), valid ? bytes : QByteArray("untouched"));
}

void TestCp437::everyByteRoundTrips()
{
    QSet<uint> codePoints;
    for (int b = 0; b < 256; ++b) {
        const auto byte = static_cast<unsigned char>(b);
        const std::string utf8 = cp437ToUtf8(byte);
        const QList<uint> decoded = QString::fromStdString(utf8).toUcs4();
        QCOMPARE(decoded, QList<uint>{uint(cp437ToUnicode(byte))});
        codePoints.insert(decoded.first());

        std::string back;
        QVERIFY(utf8ToCp437(utf8, back));
        QCOMPARE(back, std::string(1, char(byte)));
    }
    QCOMPARE(codePoints.size(), 256);
}

QTEST_GUILESS_MAIN(TestCp437)
#include "tst_cp437.moc"
