#ifndef CP437_H
#define CP437_H

#include <functional>
#include <string>
#include <string_view>

class QString;

// Operators type Unicode while the character map works on code page 437 bytes.
// These are the only places where one becomes the other.

// The code page 437 byte of a Unicode code point, or -1 when the code page has
// none. U+0000 to U+007F map to themselves (line feed stays 0x0A).
int unicodeToCp437(char32_t codePoint);

// The Unicode code point of a code page 437 byte (0x00 to 0x7F unchanged).
char32_t cp437ToUnicode(unsigned char code);

// Calls `visit` with each character of `text`, composed first (Unicode NFC),
// as a code point with its code page 437 byte, or -1 when the code page has
// none (a lone surrogate included).
void forEachCharacter(const QString& text,
                      const std::function<void(char32_t codePoint, int code)>& visit);

// Code page 437 bytes of `text`; characters the code page lacks are left out,
// never replaced by '?'. The text is composed first (Unicode NFC), so a letter
// written with a separate combining accent gives the accented letter's byte.
std::string textToCp437(const QString& text);

// Same for UTF-8 input: on success `out` is replaced by the bytes and the
// result is true. Returns false, leaving `out` untouched, when `utf8` is not
// valid UTF-8 (overlong forms, surrogates, values above U+10FFFF and truncated
// sequences included), so that the caller can take the bytes as code page 437
// instead.
bool utf8ToCp437(std::string_view utf8, std::string& out);

// A code page 437 byte as its character in UTF-8 (one to three bytes).
std::string cp437ToUtf8(unsigned char code);

#endif
