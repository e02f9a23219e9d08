#include "base/text.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace text {

std::string Copy(const std::string& s, int64_t index, int64_t count) {
  if (index < 1) index = 1;
  const int64_t size = static_cast<int64_t>(s.size());
  if (count <= 0 || index > size) return std::string();
  const int64_t available = size - (index - 1);
  if (count > available) count = available;
  return s.substr(static_cast<size_t>(index - 1), static_cast<size_t>(count));
}

std::string CopyFrom(const std::string& s, int64_t index) {
  return Copy(s, index, std::numeric_limits<int64_t>::max());
}

int64_t Pos(const std::string& sub, const std::string& s) { return PosEx(sub, s, 1); }

int64_t PosEx(const std::string& sub, const std::string& s, int64_t from) {
  if (sub.empty()) return 0;
  if (from < 1) from = 1;
  if (from > static_cast<int64_t>(s.size())) return 0;
  const size_t at = s.find(sub, static_cast<size_t>(from - 1));
  return at == std::string::npos ? 0 : static_cast<int64_t>(at) + 1;
}

int64_t LastDelimiter(const std::string& delimiters, const std::string& s) {
  const size_t at = s.find_last_of(delimiters);
  return at == std::string::npos ? 0 : static_cast<int64_t>(at) + 1;
}

namespace {
char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

template <char (*Fold)(char)>
int Compare(const std::string& a, const std::string& b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(Fold(a[i]));
    const auto y = static_cast<unsigned char>(Fold(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}
}  // namespace

std::string UpperCase(const std::string& s) {
  std::string r(s);
  for (char& c : r) c = AsciiUpper(c);
  return r;
}

std::string LowerCase(const std::string& s) {
  std::string r(s);
  for (char& c : r) c = AsciiLower(c);
  return r;
}

bool SameText(const std::string& a, const std::string& b) { return a.size() == b.size() && CompareText(a, b) == 0; }
int CompareText(const std::string& a, const std::string& b) { return Compare<AsciiLower>(a, b); }

char AnsiUpper(char c) {
  const auto u = static_cast<unsigned char>(c);
  if (u >= 'a' && u <= 'z') return static_cast<char>(u - 32);
  // Latin-1 small letters a-grave..thorn, except the division sign.
  if (u >= 0xE0 && u <= 0xFE && u != 0xF7) return static_cast<char>(u - 32);
  switch (u) {
    case 0x9A: return '\x8A';  // s-caron
    case 0x9C: return '\x8C';  // oe
    case 0x9E: return '\x8E';  // z-caron
    case 0xFF: return '\x9F';  // y-diaeresis
    default: return c;
  }
}

char AnsiLower(char c) {
  const auto u = static_cast<unsigned char>(c);
  if (u >= 'A' && u <= 'Z') return static_cast<char>(u + 32);
  // Latin-1 capitals A-grave..THORN, except the multiplication sign.
  if (u >= 0xC0 && u <= 0xDE && u != 0xD7) return static_cast<char>(u + 32);
  switch (u) {
    case 0x8A: return '\x9A';
    case 0x8C: return '\x9C';
    case 0x8E: return '\x9E';
    case 0x9F: return '\xFF';
    default: return c;
  }
}

std::string AnsiUpperCase(const std::string& s) {
  std::string r(s);
  for (char& c : r) c = AnsiUpper(c);
  return r;
}

std::string AnsiLowerCase(const std::string& s) {
  std::string r(s);
  for (char& c : r) c = AnsiLower(c);
  return r;
}

bool AnsiSameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && AnsiCompareText(a, b) == 0;
}
int AnsiCompareText(const std::string& a, const std::string& b) { return Compare<AnsiLower>(a, b); }
int AnsiCompareUpper(const std::string& a, const std::string& b) { return Compare<AnsiUpper>(a, b); }

std::string Trim(const std::string& s) { return TrimRight(TrimLeft(s)); }

std::string TrimLeft(const std::string& s) {
  size_t i = 0;
  while (i < s.size() && static_cast<unsigned char>(s[i]) <= ' ') ++i;
  return s.substr(i);
}

std::string TrimRight(const std::string& s) {
  size_t n = s.size();
  while (n > 0 && static_cast<unsigned char>(s[n - 1]) <= ' ') --n;
  return s.substr(0, n);
}

std::string IntToStr(int64_t value) { return std::to_string(value); }

bool TryStrToInt64(const std::string& s, int64_t& value) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  if (i == s.size()) return false;
  // Accumulate as a negative number so that the smallest value fits.
  int64_t result = 0;
  const int64_t lowest = std::numeric_limits<int64_t>::min();
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    const int digit = s[i] - '0';
    if (result < (lowest + digit) / 10) return false;
    result = result * 10 - digit;
  }
  if (!negative) {
    if (result == lowest) return false;
    result = -result;
  }
  value = result;
  return true;
}

bool AllDigits(const std::string& s) {
  if (s.empty()) return false;
  for (const char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

bool TryDigitsToInt64(const std::string& s, int64_t& value) { return AllDigits(s) && TryStrToInt64(s, value); }

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool TryStrToInt(const std::string& s, int32_t& value) {
  int64_t wide;
  if (!TryStrToInt64(s, wide) || wide < std::numeric_limits<int32_t>::min() ||
      wide > std::numeric_limits<int32_t>::max())
    return false;
  value = static_cast<int32_t>(wide);
  return true;
}

namespace {
[[noreturn]] void NotAnInteger(const std::string& s) {
  throw EConvertError("'" + s + "' is not a valid integer value");
}
}  // namespace

int64_t StrToInt64(const std::string& s) {
  int64_t value;
  if (!TryStrToInt64(s, value)) NotAnInteger(s);
  return value;
}

int32_t StrToInt(const std::string& s) {
  int32_t value;
  if (!TryStrToInt(s, value)) NotAnInteger(s);
  return value;
}

int32_t StrToIntDef(const std::string& s, int32_t fallback) {
  int32_t value;
  return TryStrToInt(s, value) ? value : fallback;
}

std::string ExtractFileName(const std::string& path) { return CopyFrom(path, LastDelimiter("\\:", path) + 1); }

std::string ExtractFilePath(const std::string& path) { return Copy(path, 1, LastDelimiter("\\:", path)); }

std::string ExtractFileDir(const std::string& path) {
  int64_t i = LastDelimiter("\\:", path);
  // Keep the separator of a root ("C:\", "\") and a bare drive ("C:").
  if (i > 1 && path[static_cast<size_t>(i - 1)] == '\\' && path[static_cast<size_t>(i - 2)] != '\\' &&
      path[static_cast<size_t>(i - 2)] != ':')
    --i;
  return Copy(path, 1, i);
}

std::string ExtractFileExt(const std::string& path) {
  const int64_t i = LastDelimiter(".\\:", path);
  if (i > 0 && path[static_cast<size_t>(i - 1)] == '.') return CopyFrom(path, i);
  return std::string();
}

std::string IncludeTrailingBackslash(const std::string& s) {
  if (!s.empty() && s.back() == '\\') return s;
  return s + '\\';
}

std::string ExcludeTrailingBackslash(const std::string& s) {
  if (!s.empty() && s.back() == '\\') return s.substr(0, s.size() - 1);
  return s;
}

std::string WithoutTrailingSeparators(std::string path) {
  while (!path.empty() && (path.back() == '\\' || path.back() == '/')) path.pop_back();
  return path;
}

std::string StringReplace(const std::string& s, const std::string& from, const std::string& to, bool ignoreCase) {
  if (from.empty()) return s;
  const std::string haystack = ignoreCase ? UpperCase(s) : s;
  const std::string needle = ignoreCase ? UpperCase(from) : from;
  std::string result;
  size_t at = 0;
  for (;;) {
    const size_t found = haystack.find(needle, at);
    if (found == std::string::npos) break;
    result.append(s, at, found - at);
    result += to;
    at = found + from.size();
  }
  result.append(s, at, std::string::npos);
  return result;
}

bool StartsText(const std::string& prefix, const std::string& s) {
  return s.size() >= prefix.size() && SameText(s.substr(0, prefix.size()), prefix);
}

bool EndsText(const std::string& suffix, const std::string& s) {
  return s.size() >= suffix.size() && SameText(s.substr(s.size() - suffix.size()), suffix);
}

}  // namespace text
