// Conversions between the code pages the program meets: UTF-8 (ZIP names flagged so,
// file names on Linux), code page 437 (ZIP names from MS-DOS tools) and Windows-1252,
// the ANSI code page the program speaks where it is sold. Unicode text in between is
// a string of code points.
#pragma once

#include <string>

namespace codepage {

// The code points of UTF-8 text. False, and out untouched, when s is not valid
// UTF-8 (a truncated or overlong sequence, a surrogate, a value past U+10FFFF).
bool Utf8ToUnicode(const std::string& s, std::u32string& out);
std::string UnicodeToUtf8(const std::u32string& s);

// Every byte of code page 437 has a character; ASCII stays itself.
std::u32string Cp437ToUnicode(const std::string& s);

// The five bytes 1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) stand for the
// control characters of the same value, as Windows' own conversion has it.
std::u32string Cp1252ToUnicode(const std::string& s);
// False, and out untouched, when a character has no byte of its own in 1252: never a
// look-alike or a "?" in its place.
bool UnicodeToCp1252(const std::u32string& s, std::string& out);

std::string Cp1252ToUtf8(const std::string& s);
bool Utf8ToCp1252(const std::string& s, std::string& out);

}  // namespace codepage
