#include "nubtactile.h"

#include <QTemporaryFile>
#include <QtTest>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace
{

// The cell table written the way a Braille reader gives it: standard dot
// numbers, and the code page 437 bytes that send the cell.
struct NamedCell {
    const char* name;
    const bool* cell;
    const char* dots;
    QByteArray bytes;
};

const NamedCell namedCells[] = {
    {"TRIGGER", TRIGGER, "123456", "\n"},
    {"ZERO", ZERO, "356", "0"},
    {"ONE", ONE, "2", "1"},
    {"TWO", TWO, "23", "2"},
    {"THREE", THREE, "25", "3"},
    {"FOUR", FOUR, "256", "4"},
    {"FIVE", FIVE, "26", "5"},
    {"SIX", SIX, "235", "6"},
    {"SEVEN", SEVEN, "2356", "7"},
    {"EIGHT", EIGHT, "236", "8"},
    {"NINE", NINE, "35", "9"},
    {"A", A, "1", "Aa"},
    {"B", B, "12", "Bb"},
    {"C", C, "14", "Cc"},
    {"D", D, "145", "Dd"},
    {"E", E, "15", "Ee"},
    {"F", F, "124", "Ff"},
    {"G", G, "1245", "Gg"},
    {"H", H, "125", "Hh"},
    {"I", I, "24", "Ii"},
    {"J", J, "245", "Jj"},
    {"K", K, "13", "Kk"},
    {"L", L, "123", "Ll"},
    {"M", M, "134", "Mm"},
    {"N", N, "1345", "Nn"},
    {"NY", NY, "12456", "\xA4\xA5"},
    {"O", O, "135", "Oo"},
    {"P", P, "1234", "Pp"},
    {"Q", Q, "12345", "Qq"},
    {"R", R, "1235", "Rr"},
    {"S", S, "234", "Ss"},
    {"T", T, "2345", "Tt"},
    {"U", U, "136", "Uu"},
    {"V", V, "1236", "Vv"},
    {"W", W, "2456", "Ww"},
    {"X", X, "1346", "Xx"},
    {"Y", Y, "13456", "Yy"},
    {"Z", Z, "1356", "Zz"},
    {"ACCENT_A", ACCENT_A, "12356", "\xA0"},
    {"ACCENT_E", ACCENT_E, "2346", "\x82\x90"},
    {"ACCENT_I", ACCENT_I, "34", "\xA1"},
    {"ACCENT_O", ACCENT_O, "346", "\xA2"},
    {"ACCENT_U", ACCENT_U, "23456", "\xA3"},
    {"COMMA", COMMA, "2", ","},
    {"DOT", DOT, "3", "."},
    {"SEMICOLON", SEMICOLON, "23", ";"},
    {"COLON", COLON, "25", ":"},
    {"QUESTION", QUESTION, "26", "?\xA8"},
    {"SLASH", SLASH, "34", "/"},
    {"QUOTES", QUOTES, "236", "\"'"},
    {"EXCLAMATION", EXCLAMATION, "235", "!\xAD"},
    {"L_BRACKET", L_BRACKET, "246", "["},
    {"R_BRACKET", R_BRACKET, "12456", "]"},
    {"L_KEY", L_KEY, "246", "{"},
    {"R_KEY", R_KEY, "12456", "}"},
    {"L_PARENTHESIS", L_PARENTHESIS, "126", "("},
    {"R_PARENTHESIS", R_PARENTHESIS, "345", ")"},
    {"ASTERISK", ASTERISK, "16", "*"},
    {"PLUS", PLUS, "346", "+"},
    {"MINUS", MINUS, "36", "-"},
    {"EQUAL", EQUAL, "123456", "="},
    {"SPACE", SPACE, "", " "},
};

// Dot n raises data line D(n-1).
int dataByteOfDots(const char* dots)
{
    int byte = 0;
    for (const char* d = dots; *d != 0; ++d)
        byte |= 1 << (*d - '1');
    return byte;
}

// The cell a byte value should send, or nullptr.
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
    for (std::uint32_t i = 0; i < record.length; ++i) {
        if (record.word[i] > 255)
            return "code above 255";
        codes.append(char(record.word[i]));
    }
    return codes;
}

// Everything the process writes to standard output while it exists.
class StdoutCapture
{
public:
    StdoutCapture()
    {
        QVERIFY(file.open());
        std::fflush(stdout);
        saved = dup(STDOUT_FILENO);
        dup2(file.handle(), STDOUT_FILENO);
    }
    ~StdoutCapture() { restore(); }
    QByteArray text()
    {
        restore();
        file.seek(0);
        return file.readAll();
    }

private:
    void restore()
    {
        if (saved < 0)
            return;
        std::fflush(stdout);
        dup2(saved, STDOUT_FILENO);
        close(saved);
        saved = -1;
    }
    QTemporaryFile file;
    int saved = -1;
};

// Caps the address space a little above what the process uses now, so that
// any large allocation fails; lifted again when it goes out of scope.
class AddressSpaceCap
{
public:
    explicit AddressSpaceCap(rlim_t headroom)
    {
        getrlimit(RLIMIT_AS, &saved);
        long pages = 0;
        if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(statm, "%ld", &pages) != 1)
                pages = 0;
            std::fclose(statm);
        }
        rlimit cap = saved;
        cap.rlim_cur = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + headroom;
        active = pages > 0 && setrlimit(RLIMIT_AS, &cap) == 0;
    }
    ~AddressSpaceCap() { setrlimit(RLIMIT_AS, &saved); }
    bool active = false;

private:
    rlimit saved{};
};

// The next value rand() gives, without disturbing the generator more than
// the one draw the caller accounts for.
int peekRand(unsigned seed)
{
    std::srand(seed);
    return std::rand();
}

} // namespace

class TestEncoding : public QObject
{
    Q_OBJECT

private slots:
    void cellTable_data();
    void cellTable();
    void characterMap_data();
    void characterMap();
    void mapTotals();
    void setWordCodes_data();
    void setWordCodes();
    void setWordWithoutText();
    void randomSequence_data();
    void randomSequence();
    void randomLengthZero_data();
    void randomLengthZero();
    void allocationFailure_data();
    void allocationFailure();
};

void TestEncoding::cellTable_data()
{
    QTest::addColumn<int>("index");
    for (int i = 0; i < int(std::size(namedCells)); ++i)
        QTest::newRow(namedCells[i].name) << i;
}

void TestEncoding::cellTable()
{
    QFETCH(int, index);
    const NamedCell& n = namedCells[index];

    // Elements run across the rows: dots 1 4 / 2 5 / 3 6.
    const char order[6] = {'1', '4', '2', '5', '3', '6'};
    for (int k = 0; k < 6; ++k)
        QCOMPARE(n.cell[k], std::strchr(n.dots, order[k]) != nullptr);
    QCOMPARE(braille2int(n.cell), dataByteOfDots(n.dots));

    // Cells sharing a pattern stay separate constants: each byte reaches its own.
    for (const NamedCell& other : namedCells)
        if (&other != &n)
            QVERIFY2(other.cell != n.cell, other.name);
    for (const char byte : n.bytes)
        QCOMPARE(ASCII[static_cast<unsigned char>(byte)], n.cell);
}

void TestEncoding::characterMap_data()
{
    QTest::addColumn<int>("byte");
    for (int b = 0; b < 256; ++b)
        QTest::addRow("0x%02X", b) << b;
}

void TestEncoding::characterMap()
{
    QFETCH(int, byte);
    const NamedCell* expected = expectedFor(byte);
    QCOMPARE(ASCII[byte], expected ? expected->cell : nullptr);
    QCOMPARE(isValidCode(unsigned(byte)), expected != nullptr);
    QCOMPARE(braille2int(ASCII[byte]), expected ? dataByteOfDots(expected->dots) : 0);
}

void TestEncoding::mapTotals()
{
    int mapped = 0;
    for (int b = 0; b < 256; ++b)
        mapped += ASCII[b] != nullptr;
    QCOMPARE(mapped, 93);
    // Beyond the table, not a wrapped-around index.
    QVERIFY(!isValidCode(256 + 'a'));

    const int weights[8] = {1, 8, 2, 16, 4, 32, 64, 128};
    QVERIFY(std::equal(std::begin(weights), std::end(weights), PIN));
}

void TestEncoding::setWordCodes_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("codes");
    QTest::addColumn<QByteArray>("dataBytes");

    QTest::newRow("Hola") << QByteArray("Hola") << QByteArray("Hola")
                          << QByteArray("\x13\x15\x07\x01");
    QTest::newRow("unmapped in the middle")
        << QByteArray("a#b") << QByteArray("ab") << QByteArray("\x01\x03");
    QTest::newRow("empty") << QByteArray("") << QByteArray() << QByteArray();
    QTest::newRow("0xA4 not sign-extended")
        << QByteArray("\xA4") << QByteArray("\xA4") << QByteArray("\x3B");
    QTest::newRow("Latin-1 0xE9 dropped")
        << QByteArray("t\xE9") << QByteArray("t") << QByteArray("\x1E");
    QTest::newRow("line feed kept, tab and return dropped")
        << QByteArray("a\t\r\n=") << QByteArray("a\n=") << QByteArray("\x01\x3F\x3F");
    QTest::newRow("digit and comma")
        << QByteArray("1,") << QByteArray("1,") << QByteArray("\x02\x02");
    QTest::newRow("nothing mapped")
        << QByteArray("#$%&<>@\\^_`|~\x7F\xFF") << QByteArray() << QByteArray();
    QTest::newRow("upper half") << QByteArray("\xA8\x41\x90\xAD") << QByteArray("\xA8\x41\x90\xAD")
                                << QByteArray("\x22\x01\x2E\x16");
}

void TestEncoding::setWordCodes()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, codes);
    QFETCH(QByteArray, dataBytes);

    Braille_Data record;
    record.length = 77;
    QCOMPARE(setWord(record, text.constData()), 1);
    QVERIFY(record.word != nullptr);
    QCOMPARE(record.length, std::uint32_t(codes.size()));
    QCOMPARE(codesOf(record), codes);

    QByteArray sent;
    for (std::uint32_t i = 0; i < record.length; ++i)
        sent.append(char(braille2int(ASCII[record.word[i]])));
    QCOMPARE(sent, dataBytes);
}

void TestEncoding::setWordWithoutText()
{
    Braille_Data record;
    record.length = 3;
    record.word.reset(new std::uint16_t[3]{1, 2, 3});
    const std::uint16_t* before = record.word.get();

    QCOMPARE(setWord(record, nullptr), 0);
    QCOMPARE(record.length, 0u);
    QCOMPARE(record.word.get(), before);
    QCOMPARE(record.word[2], std::uint16_t(3));
}

void TestEncoding::randomSequence_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<unsigned>("seed");
    QTest::newRow("valid") << int(MODE_RANDOM_VALID) << 11u;
    QTest::newRow("non-valid") << int(MODE_RANDOM_NON_VALID) << 12u;
    QTest::newRow("mixed") << int(MODE_RANDOM_MIXED) << 13u;
    QTest::newRow("single shot mode") << int(MODE_SINGLE_SHOT) << 14u;
    QTest::newRow("text mode") << int(MODE_TEXT) << 15u;
    QTest::newRow("unknown mode") << 99 << 16u;
    QTest::newRow("negative mode") << -1 << 17u;
}

void TestEncoding::randomSequence()
{
    QFETCH(int, mode);
    QFETCH(unsigned, seed);
    const std::uint32_t length = 20000;

    Braille_Data record;
    record.mode = mode;
    std::srand(seed);
    QByteArray printed;
    {
        StdoutCapture capture;
        QCOMPARE(generateRandomSequence(record, length), 1);
        printed = capture.text();
    }
    QCOMPARE(record.length, length);

    // The same seed gives the same sequence: rand() % 256, drawn again for
    // the same position while the mode refuses the code.
    std::srand(seed);
    QSet<int> seen;
    QByteArray expectedLines;
    for (std::uint32_t i = 0; i < length; ++i) {
        int code;
        for (;;) {
            code = std::rand() % 256;
            const bool valid = expectedFor(code) != nullptr;
            if ((mode == MODE_RANDOM_VALID && !valid) || (mode == MODE_RANDOM_NON_VALID && valid))
                continue;
            break;
        }
        QCOMPARE(int(record.word[i]), code);
        seen.insert(code);
        expectedLines += QByteArray::number(code) + '\n';
    }

    // With this many draws every code of the class shows up.
    const int classSize = mode == MODE_RANDOM_VALID       ? 93
                          : mode == MODE_RANDOM_NON_VALID ? 163
                                                          : 256;
    QCOMPARE(seen.size(), classSize);
    QCOMPARE(printed, mode == MODE_RANDOM_MIXED ? expectedLines : QByteArray());
}

void TestEncoding::randomLengthZero_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("valid") << int(MODE_RANDOM_VALID);
    QTest::newRow("non-valid") << int(MODE_RANDOM_NON_VALID);
    QTest::newRow("mixed") << int(MODE_RANDOM_MIXED);
}

void TestEncoding::randomLengthZero()
{
    QFETCH(int, mode);
    const int next = peekRand(5);

    Braille_Data record;
    record.mode = mode;
    record.length = 9;
    std::srand(5);
    StdoutCapture capture;
    QCOMPARE(generateRandomSequence(record, 0), 1);
    QCOMPARE(capture.text(), QByteArray());
    QCOMPARE(std::rand(), next);
    QCOMPARE(record.length, 0u);
    QVERIFY(record.word != nullptr);
}

void TestEncoding::allocationFailure_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("text");
    QTest::newRow("random valid") << int(MODE_RANDOM_VALID) << false;
    QTest::newRow("random non-valid") << int(MODE_RANDOM_NON_VALID) << false;
    QTest::newRow("random mixed") << int(MODE_RANDOM_MIXED) << false;
    QTest::newRow("text") << int(MODE_TEXT) << true;
}

void TestEncoding::allocationFailure()
{
    QFETCH(int, mode);
    QFETCH(bool, text);

    // 64 MiB of letters need 128 MiB of codes, more than the cap leaves.
    const std::string letters = text ? std::string(64u << 20, 'a') : std::string();
    const int next = peekRand(7);
    Braille_Data record;
    record.mode = mode;
    record.length = 3;
    record.word.reset(new std::uint16_t[3]{});
    std::srand(7);
    StdoutCapture capture;

    int result;
    {
        AddressSpaceCap cap(32u << 20);
        QVERIFY(cap.active);
        result =
            text ? setWord(record, letters.c_str()) : generateRandomSequence(record, 2147483647u);
    }
    QCOMPARE(result, ENCODE_NO_MEMORY);
    QCOMPARE(record.length, 0u);
    QVERIFY(record.word == nullptr);
    QCOMPARE(capture.text(), QByteArray());
    QCOMPARE(std::rand(), next);

    // Once memory is there again the same record encodes normally.
    QCOMPARE(setWord(record, "ab"), 1);
    QCOMPARE(codesOf(record), QByteArray("ab"));
}

QTEST_GUILESS_MAIN(TestEncoding)
#include "tst_encoding.moc"
