#include "cp437.h"

#include <QSet>
#include <QtTest>

#include <iconv.h>
#include <string>

class TestCp437 : public QObject
{
    Q_OBJECT

private slots:
    // Every byte of the code page, against the C library's table.
    void agreesWithSystemConverter()
    {
        iconv_t cd = iconv_open("UTF-32LE", "IBM437");
        if (cd == iconv_t(-1))
            QSKIP("the C library has no IBM437 converter");
        for (int b = 0; b < 256; ++b) {
            char in = char(b), *inp = &in;
            char32_t out = 0;
            char* outp = reinterpret_cast<char*>(&out);
            size_t inLeft = 1, outLeft = 4;
            iconv(cd, &inp, &inLeft, &outp, &outLeft);
            QVERIFY2(cp437ToUnicode(static_cast<unsigned char>(b)) == out,
                     qPrintable(QString::number(b, 16)));
        }
        iconv_close(cd);
    }

    // Characters the code page lacks are left out, never sent as '?'. The
    // same text as UTF-8 gives the same bytes.
    void textConversion_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("plain ASCII")
            << QString("Hola, mundo!\n#~") << QByteArray("Hola, mundo!\n#~");
        QTest::newRow("Spanish") << QString("¿Año? ¡Ñú! Éíóáé")
                                 << QByteArray("\xA8\x41\xA4o? \xAD\xA5\xA3! \x90\xA1\xA2\xA0\x82");
        QTest::newRow("euro missing") << QString("a€b") << QByteArray("ab");
        QTest::newRow("beyond 16 bits, low bits are é")
            << QString::fromUcs4(U"a\U000100E9b") << QByteArray("ab");
        QTest::newRow("combining accent composed") << QString::fromUtf8("e\xCC\x81") // e + U+0301
                                                   << QByteArray("\x82");
        QTest::newRow("NUL inside") << QString::fromUtf8("a\0b", 3) << QByteArray("a\0b", 3);
    }

    void textConversion()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QCOMPARE(QByteArray::fromStdString(textToCp437(text)), bytes);
        std::string out = "previous";
        QVERIFY(utf8ToCp437(text.toStdString(), out));
        QCOMPARE(QByteArray::fromStdString(out), bytes);
    }

    void invalidUtf8_data()
    {
        QTest::addColumn<QByteArray>("utf8");
        QTest::addColumn<bool>("valid");
        QTest::newRow("highest code point") << QByteArray("\xF4\x8F\xBF\xBF") << true;
        QTest::newRow("above U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << false;
        QTest::newRow("last before surrogates") << QByteArray("\xED\x9F\xBF") << true;
        QTest::newRow("surrogate") << QByteArray("\xED\xA0\x80") << false;
        QTest::newRow("Latin-1 byte") << QByteArray("t\xE9") << false;
        QTest::newRow("stray continuation") << QByteArray("\x80") << false;
        QTest::newRow("overlong two-byte") << QByteArray("\xC1\xBF") << false;
        QTest::newRow("overlong three-byte") << QByteArray("\xE0\x9F\xBF") << false;
        QTest::newRow("overlong four-byte") << QByteArray("\xF0\x8F\xBF\xBF") << false;
        QTest::newRow("truncated at end") << QByteArray("ab\xE2\x82") << false;
        QTest::newRow("third byte not continuation") << QByteArray("\xE2\x82\x41") << false;
    }

    // Invalid input leaves the output alone, so that the caller can take the
    // bytes as code page 437 instead.
    void invalidUtf8()
    {
        QFETCH(QByteArray, utf8);
        QFETCH(bool, valid);
        std::string out = "untouched";
        QCOMPARE(utf8ToCp437(utf8.toStdString(), out), valid);
        QCOMPARE(out, std::string(valid ? "" : "untouched"));
    }

    // The inverse: every byte as UTF-8, a distinct character, and back.
    void everyByteRoundTrips()
    {
        QSet<uint> codePoints;
        for (int b = 0; b < 256; ++b) {
            const std::string utf8 = cp437ToUtf8(static_cast<unsigned char>(b));
            const QList<uint> decoded = QString::fromStdString(utf8).toUcs4();
            QCOMPARE(decoded, QList<uint>{uint(cp437ToUnicode(static_cast<unsigned char>(b)))});
            codePoints.insert(decoded.first());
            std::string back;
            QVERIFY(utf8ToCp437(utf8, back));
            QCOMPARE(back, std::string(1, char(b)));
        }
        QCOMPARE(codePoints.size(), 256);
    }
};

QTEST_GUILESS_MAIN(TestCp437)
#include "tst_cp437.moc"
