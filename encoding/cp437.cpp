#include "cp437.h"

#include <QString>

namespace
{

// Unicode code points of the bytes 0x80 to 0xFF, eight to a row.
constexpr char16_t upperHalf[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, // 0x80
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5, // 0x88
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, // 0x90
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, // 0x98
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA, // 0xA0
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, // 0xA8
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, // 0xB0
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, // 0xB8
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, // 0xC0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, // 0xC8
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, // 0xD0
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580, // 0xD8
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, // 0xE0
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, // 0xE8
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248, // 0xF0
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0, // 0xF8
};

} // namespace

int unicodeToCp437(char32_t codePoint)
{
    if (codePoint < 0x80)
        return static_cast<int>(codePoint);
    for (int i = 0; i < 128; ++i)
        if (upperHalf[i] == codePoint)
            return 0x80 + i;
    return -1;
}

char32_t cp437ToUnicode(unsigned char code)
{
    return code < 0x80 ? char32_t(code) : char32_t(upperHalf[code - 0x80]);
}

void forEachCharacter(const QString& text,
                      const std::function<void(char32_t codePoint, int code)>& visit)
{
    // Text pasted from some systems carries accents as separate combining
    // marks (e + U+0301); composed first, it gives the accented letter's cell
    // instead of a bare e with the accent silently lost.
    const QString composed = text.normalized(QString::NormalizationForm_C);
    for (qsizetype i = 0; i < composed.size(); ++i) {
        char32_t codePoint = composed.at(i).unicode();
        if (QChar::isHighSurrogate(codePoint) && i + 1 < composed.size() &&
            composed.at(i + 1).isLowSurrogate()) {
            codePoint = QChar::surrogateToUcs4(composed.at(i), composed.at(i + 1));
            ++i;
        }
        // A lone surrogate is no character; the lookup finds nothing for it.
        visit(codePoint, unicodeToCp437(codePoint));
    }
}

std::string textToCp437(const QString& text)
{
    std::string out;
    out.reserve(static_cast<std::size_t>(text.size()));
    forEachCharacter(text, [&out](char32_t, int code) {
        if (code >= 0)
            out.push_back(static_cast<char>(code));
    });
    return out;
}

namespace
{

// Length of the well-formed UTF-8 sequence at `at`, or 0 when it is malformed:
// stray continuation bytes, overlong forms, UTF-16 surrogates, values above
// U+10FFFF and sequences cut short all count as malformed.
std::size_t sequenceLength(std::string_view s, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80)
        return 1;
    std::size_t n;
    unsigned char low = 0x80; // allowed range of the second byte
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        n = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        n = 3;
        if (lead == 0xE0)
            low = 0xA0; // below: overlong
        else if (lead == 0xED)
            high = 0x9F; // above: surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        n = 4;
        if (lead == 0xF0)
            low = 0x90; // below: overlong
        else if (lead == 0xF4)
            high = 0x8F; // above: beyond U+10FFFF
    } else {
        return 0;
    }
    if (s.size() - at < n)
        return 0;
    if (byte(at + 1) < low || byte(at + 1) > high)
        return 0;
    for (std::size_t i = 2; i < n; ++i)
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF)
            return 0;
    return n;
}

} // namespace

bool utf8ToCp437(std::string_view utf8, std::string& out)
{
    for (std::size_t at = 0; at < utf8.size();) {
        const std::size_t n = sequenceLength(utf8, at);
        if (n == 0)
            return false;
        at += n;
    }
    out = textToCp437(QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())));
    return true;
}

std::string cp437ToUtf8(unsigned char code)
{
    const char32_t c = cp437ToUnicode(code);
    std::string out;
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
    return out;
}
