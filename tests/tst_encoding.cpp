#include "nubtactile.h"
#include "output_capture.h"

#include <QtTest>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace
{

// The cell table as a Braille reader gives it: standard dots, and the code
// page 437 bytes that send the cell.
struct NamedCell {
    const char* name;
    const bool* cell;
    const char* dots;
    QByteArray bytes;
};

// clang-format off
#define CELL(name, dots, bytes) {#name, name, dots, bytes}
const NamedCell namedCells[] = {
    CELL(TRIGGER, "123456", "\n"), CELL(ZERO, "356", "0"), CELL(ONE, "2", "1"),
    CELL(TWO, "23", "2"), CELL(THREE, "25", "3"), CELL(FOUR, "256", "4"), CELL(FIVE, "26", "5"),
    CELL(SIX, "235", "6"), CELL(SEVEN, "2356", "7"), CELL(EIGHT, "236", "8"), CELL(NINE, "35", "9"),
    CELL(A, "1", "Aa"), CELL(B, "12", "Bb"), CELL(C, "14", "Cc"), CELL(D, "145", "Dd"),
    CELL(E, "15", "Ee"), CELL(F, "124", "Ff"), CELL(G, "1245", "Gg"), CELL(H, "125", "Hh"),
    CELL(I, "24", "Ii"), CELL(J, "245", "Jj"), CELL(K, "13", "Kk"), CELL(L, "123", "Ll"),
    CELL(M, "134", "Mm"), CELL(N, "1345", "Nn"), CELL(NY, "12456", "\xA4\xA5"), CELL(O, "135", "Oo"),
    CELL(P, "1234", "Pp"), CELL(Q, "12345", "Qq"), CELL(R, "1235", "Rr"), CELL(S, "234", "Ss"),
    CELL(T, "2345", "Tt"), CELL(U, "136", "Uu"), CELL(V, "1236", "Vv"), CELL(W, "2456", "Ww"),
    CELL(X, "1346", "Xx"), CELL(Y, "13456", "Yy"), CELL(Z, "1356", "Zz"),
    CELL(ACCENT_A, "12356", "\xA0"), CELL(ACCENT_E, "2346", "\x82\x90"), CELL(ACCENT_I, "34", "\xA1"),
    CELL(ACCENT_O, "346", "\xA2"), CELL(ACCENT_U, "23456", "\xA3"), CELL(COMMA, "2", ","),
    CELL(DOT, "3", "."), CELL(SEMICOLON, "23", ";"), CELL(COLON, "25", ":"),
    CELL(QUESTION, "26", "?\xA8"), CELL(SLASH, "34", "/"), CELL(QUOTES, "236", "\"'"),
    CELL(EXCLAMATION, "235", "!\xAD"), CELL(L_BRACKET, "246", "["), CELL(R_BRACKET, "12456", "]"),
    CELL(L_KEY, "246", "{"), CELL(R_KEY, "12456", "}"), CELL(L_PARENTHESIS, "126", "("),
    CELL(R_PARENTHESIS, "345", ")"), CELL(ASTERISK, "16", "*"), CELL(PLUS, "346", "+"),
    CELL(MINUS, "36", "-"), CELL(EQUAL, "123456", "="), CELL(SPACE, "", " "),
};
// clang-format on
#undef CELL

// The named cell a byte value should send, or nullptr.
const NamedCell* expectedFor(int byte)
{
    for (const NamedCell& n : namedCells)
        if (n.bytes.contains(char(byte)))
            return &n;
    return nullptr;
}

QByteArray codesOf(const Braille_Data& record)
{
    QByteArray codes;
    for (std::uint32_t i = 0; i < record.length; ++i)
        codes +=
            record.word[i] > 255 ? QByteArray("<above 255>") : QByteArray(1, char(record.word[i]));
    return codes;
}

} // namespace

class TestEncoding : public QObject
{
    Q_OBJECT

private slots:
    void characterMap_data()
    {
        QTest::addColumn<int>("byte");
        for (int b = 0; b < 256; ++b)
            QTest::addRow("0x%02X", b) << b;
    }

    // Every byte value reaches its own named cell (twins that share a pattern
    // stay distinct constants), whose data byte has dot n on D(n-1).
    void characterMap()
    {
        QFETCH(int, byte);
        const NamedCell* expected = expectedFor(byte);
        QVERIFY2(ASCII[byte] == (expected ? expected->cell : nullptr),
                 expected ? expected->name : "a cell where none is expected");
        QCOMPARE(isValidCode(unsigned(byte)), expected != nullptr);
        QVERIFY(!isValidCode(unsigned(byte) + 256));
        int dataByte = 0;
        for (const char* dot = expected ? expected->dots : ""; *dot; ++dot)
            dataByte |= 1 << (*dot - '1');
        QCOMPARE(braille2int(ASCII[byte]), dataByte);
    }

    void setWordCodes_data()
    {
        QTest::addColumn<QByteArray>("text"); // null: no text at all
        QTest::addColumn<int>("result");
        QTest::addColumn<QByteArray>("codes");
        QTest::newRow("Hola") << QByteArray("Hola") << 1 << QByteArray("Hola");
        QTest::newRow("unmapped in the middle") << QByteArray("a#b") << 1 << QByteArray("ab");
        QTest::newRow("empty") << QByteArray("") << 1 << QByteArray();
        QTest::newRow("absent") << QByteArray() << 0 << QByteArray();
        QTest::newRow("0xA4 not sign-extended")
            << QByteArray("\xA4\xA8") << 1 << QByteArray("\xA4\xA8");
        QTest::newRow("line feed kept, tab and return dropped")
            << QByteArray("a\t\r\n=") << 1 << QByteArray("a\n=");
        QTest::newRow("nothing mapped, Latin-1 0xE9 included")
            << QByteArray("#$%&<>@\\^_`|~\x7F\xE9\xFF") << 1 << QByteArray();
    }

    void setWordCodes()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, result);
        QFETCH(QByteArray, codes);
        Braille_Data record;
        record.length = 3;
        record.word.reset(new std::uint16_t[3]{1, 2, 3});
        const std::uint16_t* before = record.word.get();
        QCOMPARE(setWord(record, text.isNull() ? nullptr : text.constData()), result);
        QCOMPARE(codesOf(record), codes);
        // Without a text the sequence is left as it was.
        QCOMPARE(record.word.get() == before, result == 0);
    }

    void randomSequence_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<unsigned>("length");
        QTest::newRow("valid") << int(MODE_RANDOM_VALID) << 3000u;
        QTest::newRow("non-valid") << int(MODE_RANDOM_NON_VALID) << 3000u;
        QTest::newRow("mixed") << int(MODE_RANDOM_MIXED) << 3000u;
        QTest::newRow("other modes accept any code") << 99 << 300u;
        QTest::newRow("valid, length 0") << int(MODE_RANDOM_VALID) << 0u;
        QTest::newRow("mixed, length 0") << int(MODE_RANDOM_MIXED) << 0u;
    }

    // Replays the generator from the same seed: rand() % 256, drawn again for
    // the same position while the mode refuses the code. Equal sequences,
    // equal printed lines and an equal number of draws.
    void randomSequence()
    {
        QFETCH(int, mode);
        QFETCH(unsigned, length);
        Braille_Data record;
        record.mode = mode;
        std::srand(length + unsigned(mode));
        int result = 0;
        const QByteArray printed =
            capturedOutput(stdout, [&] { result = generateRandomSequence(record, length); });
        const int nextAfterProduct = std::rand();

        std::srand(length + unsigned(mode));
        QByteArray codes, lines;
        while (codes.size() < qsizetype(length)) {
            const int code = std::rand() % 256;
            const bool valid = expectedFor(code) != nullptr;
            if ((mode == MODE_RANDOM_VALID && !valid) || (mode == MODE_RANDOM_NON_VALID && valid))
                continue;
            codes.append(char(code));
            lines += QByteArray::number(code) + '\n';
        }
        QCOMPARE(result, 1);
        QCOMPARE(record.length, length);
        QCOMPARE(codesOf(record), codes);
        QCOMPARE(printed, mode == MODE_RANDOM_MIXED ? lines : QByteArray());
        QCOMPARE(nextAfterProduct, std::rand());
    }

    // A length the machine cannot hold is refused before anything is drawn
    // or printed. The address space is capped a little above what the
    // process uses: 64 MiB of letters would need 128 MiB of codes.
    void allocationFailure()
    {
        const std::string letters(64u << 20, 'a');
        long pages = 0;
        FILE* statm = std::fopen("/proc/self/statm", "r");
        QVERIFY(statm && std::fscanf(statm, "%ld", &pages) == 1);
        std::fclose(statm);
        rlimit saved{};
        getrlimit(RLIMIT_AS, &saved);
        rlimit cap = saved;
        cap.rlim_cur = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + (32u << 20);

        Braille_Data text, random;
        random.mode = MODE_RANDOM_MIXED;
        text.word.reset(new std::uint16_t[3]{});
        random.word.reset(new std::uint16_t[3]{});
        text.length = random.length = 3;
        std::srand(7);
        const int next = std::rand();
        std::srand(7);
        int results[2] = {};
        const QByteArray printed = capturedOutput(stdout, [&] {
            if (setrlimit(RLIMIT_AS, &cap) != 0)
                return;
            results[0] = setWord(text, letters.c_str());
            results[1] = generateRandomSequence(random, 2147483647u);
            setrlimit(RLIMIT_AS, &saved);
        });
        for (const Braille_Data* record : {&text, &random}) {
            QCOMPARE(record->length, 0u);
            QVERIFY(record->word == nullptr);
        }
        QCOMPARE(results[0], ENCODE_NO_MEMORY);
        QCOMPARE(results[1], ENCODE_NO_MEMORY);
        QCOMPARE(printed, QByteArray());
        QCOMPARE(std::rand(), next);
    }
};

QTEST_GUILESS_MAIN(TestEncoding)
#include "tst_encoding.moc"
