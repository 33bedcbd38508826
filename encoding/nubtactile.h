#ifndef NUBTACTILE_H
#define NUBTACTILE_H

#include <cstdint>
#include <functional>
#include <memory>

// The six-dot cell as the program drives it. A cell is six booleans in the row
// order of the physical cell: element 0 top left, 1 top right, 2 middle left,
// 3 middle right, 4 bottom left, 5 bottom right (dots 1, 4, 2, 5, 3, 6).
using Cell = bool[6];

// Weight of element k in the data-line byte: dot n drives data line D(n-1).
// Entries 6 and 7 (D6, D7) are reached only by the eight-element single-shot pattern.
extern const int PIN[8];

// The 62 named cells.
extern const Cell TRIGGER, ZERO, ONE, TWO, THREE, FOUR, FIVE, SIX, SEVEN, EIGHT, NINE;
extern const Cell A, B, C, D, E, F, G, H, I, J, K, L, M, N, NY, O, P, Q, R, S, T, U, V, W, X, Y, Z;
extern const Cell ACCENT_A, ACCENT_E, ACCENT_I, ACCENT_O, ACCENT_U;
extern const Cell COMMA, DOT, SEMICOLON, COLON, QUESTION, SLASH, QUOTES, EXCLAMATION;
extern const Cell L_BRACKET, R_BRACKET, L_KEY, R_KEY, L_PARENTHESIS, R_PARENTHESIS;
extern const Cell ASTERISK, PLUS, MINUS, EQUAL, SPACE;

// Character map: indexed by a code page 437 byte value (0 to 255), the cell that
// byte sends, or nullptr when it has none. 93 entries are set.
extern const bool* const ASCII[256];

// True when the byte value has a cell.
bool isValidCode(unsigned code);

// The data-line byte of a cell (0 to 63); 0 for nullptr.
int braille2int(const bool* cell);

// Transmission modes; equal to the item indices of the main window's mode selector.
enum Mode : std::int32_t {
    MODE_SINGLE_SHOT = 0,
    MODE_TEXT = 1,
    MODE_RANDOM_VALID = 2,
    MODE_RANDOM_NON_VALID = 3,
    MODE_RANDOM_MIXED = 4,
};

// One transmission: what to send, with which times (milliseconds), and its log.
// A record is made for exactly one transmission and discarded after it; it owns
// its code sequence; whether it is logged is all it knows of the log.
struct Braille_Data {
    bool log = false;
    bool pins[8] = {};
    std::uint32_t triggerTime = 0;
    std::uint32_t afterTriggerTime = 0;
    std::uint32_t charTime = 0;
    std::uint32_t intervalTime = 0;
    std::uint32_t loops = 0;
    std::uint32_t length = 0;
    // `length` codes, each 0 to 255: code page 437 bytes in text mode, data
    // bytes in the random modes. Empty (null) until an encoder fills it.
    std::unique_ptr<std::uint16_t[]> word;
    std::int32_t mode = MODE_SINGLE_SHOT;
};

// Result of setWord and generateRandomSequence when the code array cannot be
// allocated: the record is left with length 0 and no sequence.
constexpr int ENCODE_NO_MEMORY = -1;

// Fills `length` and `word` with the codes of the bytes of `text` that have a
// cell, in order; the others are dropped. Returns 1, or 0 when `text` is null
// (length 0, word untouched), or ENCODE_NO_MEMORY.
int setWord(Braille_Data& record, const char* text);

// Result of generateRandomSequence when `going` said stop: the record is left
// with length 0 and no sequence.
constexpr int ENCODE_CANCELLED = -2;

// Fills `length` and `word` with `length` random codes drawn with rand() % 256,
// accepted by record.mode: 2 only valid codes, 3 only codes without a cell,
// 4 any code (each accepted code also printed on standard output, one decimal
// per line). Any other mode accepts any code silently. Returns 1, or
// ENCODE_NO_MEMORY (nothing drawn, nothing printed). `going`, when given, is
// asked after every 65536 codes with the count drawn so far; when it returns
// false the drawing stops with ENCODE_CANCELLED.
int generateRandomSequence(Braille_Data& record, std::uint32_t length,
                           const std::function<bool(std::uint32_t drawn)>& going = {});

#endif
