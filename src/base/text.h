// Text helpers shared by every subsystem. Texts are single-byte strings (ANSI,
// code page 1252); positions count from 1 and every range is clamped, never raising,
// so position arithmetic ported from 1-based code keeps its meaning.
#pragma once

#include <cstdint>
#include <string>

#include "base/exception.h"

// A text that does not read as a number.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

namespace text {

// Up to count bytes starting at 1-based index. index < 1 counts as 1, an index
// past the end gives "", a negative count gives "", the range is cut at the end.
std::string Copy(const std::string& s, int64_t index, int64_t count);
// Everything from 1-based index to the end (same clamping as Copy).
std::string CopyFrom(const std::string& s, int64_t index);
// 1-based position of the first sub in s; 0 when absent or sub is empty.
int64_t Pos(const std::string& sub, const std::string& s);
// As Pos, searching from 1-based position from (from < 1 counts as 1).
int64_t PosEx(const std::string& sub, const std::string& s, int64_t from);
// 1-based position of the last byte of s that is one of delimiters; 0 when none.
int64_t LastDelimiter(const std::string& delimiters, const std::string& s);

// Letters a-z / A-Z only.
std::string UpperCase(const std::string& s);
std::string LowerCase(const std::string& s);
bool SameText(const std::string& a, const std::string& b);    // ASCII letters only
int CompareText(const std::string& a, const std::string& b);  // ASCII letters only, <0, 0, >0

// The letters of code page 1252 too: 0xE0-0xFE <-> 0xC0-0xDE except 0xF7 / 0xD7,
// and the pairs s-caron, oe, z-caron and y-diaeresis; 0xDF and 0xB5 have no
// single-byte counterpart and stay.
char AnsiUpper(char c);
char AnsiLower(char c);
std::string AnsiUpperCase(const std::string& s);
std::string AnsiLowerCase(const std::string& s);
bool AnsiSameText(const std::string& a, const std::string& b);
int AnsiCompareText(const std::string& a, const std::string& b);
// Both sides upper-cased, as the file system and the registry order names.
int AnsiCompareUpper(const std::string& a, const std::string& b);

// Removes bytes <= ' ' (blanks and control characters) from both ends / one end.
std::string Trim(const std::string& s);
std::string TrimLeft(const std::string& s);
std::string TrimRight(const std::string& s);

std::string IntToStr(int64_t value);
// Decimal with an optional sign; leading blanks are allowed, nothing may follow
// the digits. Raises EConvertError "'abc' is not a valid integer value" otherwise
// or when the value is out of range.
int32_t StrToInt(const std::string& s);
int64_t StrToInt64(const std::string& s);
int32_t StrToIntDef(const std::string& s, int32_t fallback);
// false instead of raising.
bool TryStrToInt(const std::string& s, int32_t& value);
bool TryStrToInt64(const std::string& s, int64_t& value);
// Whether s is one or more decimal digits and nothing else: no sign, no blank,
// which TryStrToInt64 alone lets through. A count or a size read from a file or
// a server is taken only so.
bool AllDigits(const std::string& s);
// s as a count: AllDigits and within int64_t; false otherwise.
bool TryDigitsToInt64(const std::string& s, int64_t& value);
// The value of a hexadecimal digit of either case; -1 for any other byte.
int HexDigitValue(char c);

// Windows path rules: the name is what follows the last "\" or ":".
std::string ExtractFileName(const std::string& path);
// Up to and including the last "\" or ":".
std::string ExtractFilePath(const std::string& path);
// As ExtractFilePath without its trailing "\" unless that is the root ("C:\").
std::string ExtractFileDir(const std::string& path);
// The extension with its dot (".zip"), "" when the name has none.
std::string ExtractFileExt(const std::string& path);
std::string IncludeTrailingBackslash(const std::string& s);
std::string ExcludeTrailingBackslash(const std::string& s);
// Without any of the separators ("\" or "/") it ends in, as a folder is held.
std::string WithoutTrailingSeparators(std::string path);

// Every occurrence of from, left to right, non-overlapping; ignoreCase compares
// ASCII letters without regard to case. An empty from changes nothing.
std::string StringReplace(const std::string& s, const std::string& from, const std::string& to,
                          bool ignoreCase = false);

// Whether s begins / ends with prefix, ASCII letters compared without regard to case.
bool StartsText(const std::string& prefix, const std::string& s);
bool EndsText(const std::string& suffix, const std::string& s);

}  // namespace text
