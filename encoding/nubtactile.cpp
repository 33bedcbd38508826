#include "nubtactile.h"

#include <cstdio>
#include <cstdlib>
#include <new>

const int PIN[8] = {1, 8, 2, 16, 4, 32, 64, 128};

// clang-format off
// Elements in row order: top left, top right, middle left, middle right, bottom left, bottom right.
const Cell TRIGGER       = {1, 1, 1, 1, 1, 1};
const Cell ZERO          = {0, 0, 0, 1, 1, 1};
const Cell ONE           = {0, 0, 1, 0, 0, 0};
const Cell TWO           = {0, 0, 1, 0, 1, 0};
const Cell THREE         = {0, 0, 1, 1, 0, 0};
const Cell FOUR          = {0, 0, 1, 1, 0, 1};
const Cell FIVE          = {0, 0, 1, 0, 0, 1};
const Cell SIX           = {0, 0, 1, 1, 1, 0};
const Cell SEVEN         = {0, 0, 1, 1, 1, 1};
const Cell EIGHT         = {0, 0, 1, 0, 1, 1};
const Cell NINE          = {0, 0, 0, 1, 1, 0};
const Cell A             = {1, 0, 0, 0, 0, 0};
const Cell B             = {1, 0, 1, 0, 0, 0};
const Cell C             = {1, 1, 0, 0, 0, 0};
const Cell D             = {1, 1, 0, 1, 0, 0};
const Cell E             = {1, 0, 0, 1, 0, 0};
const Cell F             = {1, 1, 1, 0, 0, 0};
const Cell G             = {1, 1, 1, 1, 0, 0};
const Cell H             = {1, 0, 1, 1, 0, 0};
const Cell I             = {0, 1, 1, 0, 0, 0};
const Cell J             = {0, 1, 1, 1, 0, 0};
const Cell K             = {1, 0, 0, 0, 1, 0};
const Cell L             = {1, 0, 1, 0, 1, 0};
const Cell M             = {1, 1, 0, 0, 1, 0};
const Cell N             = {1, 1, 0, 1, 1, 0};
const Cell NY            = {1, 1, 1, 1, 0, 1};
const Cell O             = {1, 0, 0, 1, 1, 0};
const Cell P             = {1, 1, 1, 0, 1, 0};
const Cell Q             = {1, 1, 1, 1, 1, 0};
const Cell R             = {1, 0, 1, 1, 1, 0};
const Cell S             = {0, 1, 1, 0, 1, 0};
const Cell T             = {0, 1, 1, 1, 1, 0};
const Cell U             = {1, 0, 0, 0, 1, 1};
const Cell V             = {1, 0, 1, 0, 1, 1};
const Cell W             = {0, 1, 1, 1, 0, 1};
const Cell X             = {1, 1, 0, 0, 1, 1};
const Cell Y             = {1, 1, 0, 1, 1, 1};
const Cell Z             = {1, 0, 0, 1, 1, 1};
const Cell ACCENT_A      = {1, 0, 1, 1, 1, 1};
const Cell ACCENT_E      = {0, 1, 1, 0, 1, 1};
const Cell ACCENT_I      = {0, 1, 0, 0, 1, 0};
const Cell ACCENT_O      = {0, 1, 0, 0, 1, 1};
const Cell ACCENT_U      = {0, 1, 1, 1, 1, 1};
const Cell COMMA         = {0, 0, 1, 0, 0, 0};
const Cell DOT           = {0, 0, 0, 0, 1, 0};
const Cell SEMICOLON     = {0, 0, 1, 0, 1, 0};
const Cell COLON         = {0, 0, 1, 1, 0, 0};
const Cell QUESTION      = {0, 0, 1, 0, 0, 1};
const Cell SLASH         = {0, 1, 0, 0, 1, 0};
const Cell QUOTES        = {0, 0, 1, 0, 1, 1};
const Cell EXCLAMATION   = {0, 0, 1, 1, 1, 0};
const Cell L_BRACKET     = {0, 1, 1, 0, 0, 1};
const Cell R_BRACKET     = {1, 1, 1, 1, 0, 1};
const Cell L_KEY         = {0, 1, 1, 0, 0, 1};
const Cell R_KEY         = {1, 1, 1, 1, 0, 1};
const Cell L_PARENTHESIS = {1, 0, 1, 0, 0, 1};
const Cell R_PARENTHESIS = {0, 1, 0, 1, 1, 0};
const Cell ASTERISK      = {1, 0, 0, 0, 0, 1};
const Cell PLUS          = {0, 1, 0, 0, 1, 1};
const Cell MINUS         = {0, 0, 0, 0, 1, 1};
const Cell EQUAL         = {1, 1, 1, 1, 1, 1};
const Cell SPACE         = {0, 0, 0, 0, 0, 0};

// Indexed by code page 437 byte value. Cells that share a pattern stay distinct
// entries so that a character's cell can be changed without touching its twin.
const bool* const ASCII[256] = {
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, // 0x00
    nullptr, nullptr, TRIGGER, nullptr, nullptr, nullptr, nullptr, nullptr, // 0x08
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, // 0x10
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, // 0x18
    SPACE, EXCLAMATION, QUOTES, nullptr, nullptr, nullptr, nullptr, QUOTES, // 0x20
    L_PARENTHESIS, R_PARENTHESIS, ASTERISK, PLUS, COMMA, MINUS, DOT, SLASH, // 0x28
    ZERO, ONE, TWO, THREE, FOUR, FIVE, SIX, SEVEN, // 0x30
    EIGHT, NINE, COLON, SEMICOLON, nullptr, EQUAL, nullptr, QUESTION, // 0x38
    nullptr, A, B, C, D, E, F, G, // 0x40
    H, I, J, K, L, M, N, O, // 0x48
    P, Q, R, S, T, U, V, W, // 0x50
    X, Y, Z, L_BRACKET, nullptr, R_BRACKET, nullptr, nullptr, // 0x58
    nullptr, A, B, C, D, E, F, G, // 0x60
    H, I, J, K, L, M, N, O, // 0x68
    P, Q, R, S, T, U, V, W, // 0x70
    X, Y, Z, L_KEY, nullptr, R_KEY, nullptr, nullptr, // 0x78
    nullptr, nullptr, ACCENT_E, nullptr, nullptr, nullptr, nullptr, nullptr, // 0x80
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, // 0x88
    ACCENT_E, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, // 0x90
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, // 0x98
    ACCENT_A, ACCENT_I, ACCENT_O, ACCENT_U, NY, NY, nullptr, nullptr, // 0xA0
    QUESTION, nullptr, nullptr, nullptr, nullptr, EXCLAMATION, nullptr, nullptr, // 0xA8
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, // 0xB0
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, // 0xB8
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, // 0xC0
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, // 0xC8
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, // 0xD0
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, // 0xD8
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, // 0xE0
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, // 0xE8
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, // 0xF0
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, // 0xF8
};
// clang-format on

bool isValidCode(unsigned code)
{
    return code < 256 && ASCII[code] != nullptr;
}

int braille2int(const bool* cell)
{
    if (cell == nullptr)
        return 0;
    int byte = 0;
    for (int k = 0; k < 6; ++k)
        if (cell[k])
            byte += PIN[k];
    return byte;
}

int setWord(Braille_Data& record, const char* text)
{
    record.length = 0;
    if (text == nullptr)
        return 0;

    // Bytes are taken as unsigned: code page 437 letters such as 0xA4 must not
    // turn into negative indices or sign-extended codes.
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    std::uint32_t count = 0;
    for (const unsigned char* p = bytes; *p != 0; ++p)
        if (ASCII[*p] != nullptr)
            ++count;

    std::uint16_t* codes = new (std::nothrow) std::uint16_t[count];
    if (codes == nullptr) {
        record.word.reset();
        return ENCODE_NO_MEMORY;
    }
    std::uint32_t stored = 0;
    for (const unsigned char* p = bytes; stored < count; ++p)
        if (ASCII[*p] != nullptr)
            codes[stored++] = *p;

    record.word.reset(codes);
    record.length = count;
    return 1;
}

int generateRandomSequence(Braille_Data& record, std::uint32_t length,
                           const std::function<bool(std::uint32_t drawn)>& going)
{
    record.length = 0;
    // The operator may ask for any length; a length the machine cannot hold
    // must be refused before anything is drawn or printed.
    std::uint16_t* codes = new (std::nothrow) std::uint16_t[length];
    if (codes == nullptr) {
        record.word.reset();
        return ENCODE_NO_MEMORY;
    }
    record.word.reset(codes);
    record.length = length;

    const std::int32_t mode = record.mode;
    for (std::uint32_t i = 0; i < length; ++i) {
        if (going && i % 65536 == 0 && i != 0 && !going(i)) {
            record.word.reset();
            record.length = 0;
            return ENCODE_CANCELLED;
        }
        for (;;) {
            const auto code = static_cast<std::uint16_t>(std::rand() % 256);
            codes[i] = code;
            if (mode == MODE_RANDOM_VALID && !isValidCode(code))
                continue;
            if (mode == MODE_RANDOM_NON_VALID && isValidCode(code))
                continue;
            if (mode == MODE_RANDOM_MIXED) {
                // These lines are the experiment's record of what was drawn;
                // flushed so that none is lost in a buffer if the program ends
                // before the transmission does.
                std::printf("%u\n", static_cast<unsigned>(code));
                std::fflush(stdout);
            }
            break;
        }
    }
    return 1;
}
