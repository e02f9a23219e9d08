// REGEDIT4 text to a tree and back. Everything here works on memory only; the
// locked hive files that hold the text are posix/registry.cpp's.
#include "platform/regedit4.h"

#include <algorithm>
#include <cstdio>

#include "base/text.h"

namespace platform::regedit4 {

Key* Key::Find(const std::string& child) const {
  for (const auto& k : subkeys)
    if (text::AnsiCompareUpper(k->name, child) == 0) return k.get();
  return nullptr;
}

Key* Key::Add(const std::string& child) {
  if (Key* k = Find(child)) return k;
  auto pos = std::lower_bound(
      subkeys.begin(), subkeys.end(), child,
      [](const std::unique_ptr<Key>& k, const std::string& n) { return text::AnsiCompareUpper(k->name, n) < 0; });
  auto k = std::make_unique<Key>();
  k->name = child;
  return subkeys.insert(pos, std::move(k))->get();
}

bool Key::Remove(const std::string& child) {
  for (auto it = subkeys.begin(); it != subkeys.end(); ++it)
    if (text::AnsiCompareUpper((*it)->name, child) == 0) {
      subkeys.erase(it);
      return true;
    }
  return false;
}

TRegValue* Key::Value(const std::string& valueName) {
  for (auto& v : values)
    if (text::AnsiCompareUpper(v.first, valueName) == 0) return &v.second;
  return nullptr;
}

bool Key::RemoveValue(const std::string& valueName) {
  for (auto it = values.begin(); it != values.end(); ++it)
    if (text::AnsiCompareUpper(it->first, valueName) == 0) {
      values.erase(it);
      return true;
    }
  return false;
}

std::vector<std::string> SplitKeyPath(const std::string& path) {
  std::vector<std::string> parts;
  size_t i = 0;
  while (i < path.size()) {
    size_t j = path.find('\\', i);
    if (j == std::string::npos) j = path.size();
    if (j > i) parts.push_back(path.substr(i, j - i));
    i = j + 1;
  }
  return parts;
}

Key* Walk(Key* from, const std::vector<std::string>& parts) {
  for (const auto& p : parts) {
    if (!from) return nullptr;
    from = from->Find(p);
  }
  return from;
}

namespace {

std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string HexData(uint32_t type, const std::string& bytes) {
  std::string out = type == REG_BINARY_TYPE ? "hex:" : "hex(" + std::to_string(type) + "):";
  size_t lineLen = out.size();
  char buf[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(buf, sizeof buf, "%02x", static_cast<unsigned char>(bytes[i]));
    out += buf;
    lineLen += 2;
    if (i + 1 < bytes.size()) {
      out += ',';
      ++lineLen;
      if (lineLen > 74) {  // wrapped like regedit's export
        out += "\\\n  ";
        lineLen = 2;
      }
    }
  }
  return out;
}

std::string ValueText(const TRegValue& v) {
  bool plain = v.Data.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
  if (v.Type == REG_SZ_TYPE && plain) return Quote(v.Data);
  if (v.Type == REG_DWORD_TYPE && v.Data.size() == 4) {
    uint32_t d = 0;
    for (int i = 3; i >= 0; --i) d = (d << 8) | static_cast<unsigned char>(v.Data[static_cast<size_t>(i)]);
    char buf[16];
    std::snprintf(buf, sizeof buf, "dword:%08x", d);
    return buf;
  }
  // Strings written as bytes carry their terminating NUL, as regedit writes them.
  if (v.Type == REG_SZ_TYPE || v.Type == REG_EXPAND_SZ_TYPE) return HexData(v.Type, v.Data + std::string(1, '\0'));
  return HexData(v.Type, v.Data);
}

void WriteKey(std::string& out, const std::string& path, const Key& key, bool header) {
  if (header) {
    out += "\n[" + path + "]\n";
    for (const auto& [name, value] : key.values)
      out += (name.empty() ? std::string("@") : Quote(name)) + "=" + ValueText(value) + "\n";
  }
  for (const auto& sub : key.subkeys) WriteKey(out, path + "\\" + sub->name, *sub, true);
}

// Reads a quoted text starting at s[i] == '"'; i ends after the closing quote.
bool ParseQuoted(const std::string& s, size_t& i, std::string& out) {
  if (i >= s.size() || s[i] != '"') return false;
  out.clear();
  for (++i; i < s.size(); ++i) {
    char c = s[i];
    if (c == '\\' && i + 1 < s.size()) {
      out += s[++i];
    } else if (c == '"') {
      ++i;
      return true;
    } else {
      out += c;
    }
  }
  return false;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseData(const std::string& s, TRegValue& v) {
  if (!s.empty() && s[0] == '"') {
    size_t i = 0;
    v.Type = REG_SZ_TYPE;
    return ParseQuoted(s, i, v.Data) && s.find_first_not_of(" \t", i) == std::string::npos;
  }
  if (s.compare(0, 6, "dword:") == 0) {
    std::string digits = s.substr(6);
    while (!digits.empty() && (digits.back() == ' ' || digits.back() == '\t')) digits.pop_back();
    if (digits.empty() || digits.size() > 8) return false;
    uint32_t d = 0;
    for (char c : digits) {
      int h = HexDigit(c);
      if (h < 0) return false;
      d = (d << 4) | static_cast<uint32_t>(h);
    }
    v.Type = REG_DWORD_TYPE;
    v.Data.assign({static_cast<char>(d & 0xFF), static_cast<char>((d >> 8) & 0xFF), static_cast<char>((d >> 16) & 0xFF),
                   static_cast<char>((d >> 24) & 0xFF)});
    return true;
  }
  size_t i;
  if (s.compare(0, 4, "hex:") == 0) {
    v.Type = REG_BINARY_TYPE;
    i = 4;
  } else if (s.compare(0, 4, "hex(") == 0) {
    size_t close = s.find("):", 4);
    if (close == std::string::npos || close == 4 || close > 12) return false;
    v.Type = 0;
    for (size_t k = 4; k < close; ++k) {
      int h = HexDigit(s[k]);
      if (h < 0) return false;
      v.Type = (v.Type << 4) | static_cast<uint32_t>(h);
    }
    i = close + 2;
  } else {
    return false;
  }
  v.Data.clear();
  for (;;) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    if (i >= s.size()) break;
    if (i + 1 >= s.size()) return false;
    int hi = HexDigit(s[i]), lo = HexDigit(s[i + 1]);
    if (hi < 0 || lo < 0) return false;
    v.Data += static_cast<char>(hi * 16 + lo);
    i += 2;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    if (i < s.size() && s[i] != ',') return false;
    ++i;
  }
  if ((v.Type == REG_SZ_TYPE || v.Type == REG_EXPAND_SZ_TYPE) && !v.Data.empty() && v.Data.back() == '\0')
    v.Data.pop_back();
  return true;
}

// The lines of a hive's text, a value continued after a trailing backslash joined
// to its next line, trailing blanks gone.
std::vector<std::string> JoinedLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string pending;
  for (size_t i = 0; i <= text.size();) {
    size_t j = text.find('\n', i);
    if (j == std::string::npos) j = text.size();
    std::string line = text.substr(i, j - i);
    i = j + 1;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.pop_back();
    if (!pending.empty()) {
      size_t b = line.find_first_not_of(" \t");
      line = pending + (b == std::string::npos ? std::string() : line.substr(b));
      pending.clear();
    }
    // A hex value continues on the next line after a trailing backslash.
    if (!line.empty() && line.back() == '\\' && line[0] != '[')
      pending = line.substr(0, line.size() - 1);
    else
      lines.push_back(line);
    if (j == text.size()) break;
  }
  if (!pending.empty()) lines.push_back(pending);
  return lines;
}

// A key header ("[path]" or "[-path]"): the key later values go to, or none
// (after a removal or a header that reads as no key).
Key* KeyHeader(const std::string& line, Hive& hive) {
  const size_t close = line.rfind(']');
  const bool remove = line.size() > 1 && line[1] == '-';
  std::vector<std::string> parts;
  if (close != std::string::npos && close >= 2)
    parts = SplitKeyPath(line.substr(remove ? 2 : 1, close - (remove ? 2 : 1)));
  if (parts.empty()) {
    hive.corrupt = true;
    return nullptr;
  }
  if (remove) {
    Key* parent = &hive.top;
    for (size_t k = 0; parent && k + 1 < parts.size(); ++k) parent = parent->Find(parts[k]);
    if (parent) parent->Remove(parts.back());
    return nullptr;
  }
  for (char& c : parts[0]) c = text::AnsiUpper(c);  // root names have one spelling
  Key* key = &hive.top;
  for (const auto& p : parts) key = key->Add(p);
  return key;
}

// A value line ("name"=data, @=data, "name"=- to remove) of the key current.
void ValueLine(const std::string& line, Key* current, Hive& hive) {
  std::string name;
  size_t pos = 0;
  if (line[0] == '@') {
    pos = 1;
  } else if (!ParseQuoted(line, pos, name)) {
    hive.corrupt = true;
    return;
  }
  if (!current || pos >= line.size() || line[pos] != '=') {
    hive.corrupt = true;
    return;
  }
  const std::string data = line.substr(pos + 1);
  if (data == "-") {
    current->RemoveValue(name);
    return;
  }
  TRegValue value;
  if (!ParseData(data, value)) {
    hive.corrupt = true;
    return;
  }
  if (TRegValue* old = current->Value(name))
    *old = value;
  else
    current->values.emplace_back(name, value);
}

}  // namespace

void Parse(const std::string& text, Hive& hive) {
  const std::vector<std::string> lines = JoinedLines(text);
  size_t first = 0;
  while (first < lines.size() && lines[first].empty()) ++first;
  if (first >= lines.size()) return;  // an empty hive
  std::string magic = lines[first];
  if (magic.compare(0, 3, "\xEF\xBB\xBF") == 0) magic.erase(0, 3);
  if (magic != "REGEDIT4") {
    hive.corrupt = true;
    return;
  }
  Key* current = nullptr;
  for (size_t n = first + 1; n < lines.size(); ++n) {
    const std::string& line = lines[n];
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[')
      current = KeyHeader(line, hive);
    else
      ValueLine(line, current, hive);
  }
}

std::string Format(const Hive& hive, const std::function<bool(const std::string& rootName)>& wanted) {
  std::string text = "REGEDIT4\n";
  for (const auto& root : hive.top.subkeys)
    if (wanted(root->name)) WriteKey(text, root->name, *root, !root->values.empty());
  return text;
}

}  // namespace platform::regedit4
