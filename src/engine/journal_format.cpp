#include "engine/journal_format.h"

#include <cstdint>
#include <cstdio>

#include "archive/crc32.h"
#include "base/text.h"

namespace engine::journal {

const char* const kFormat = "2";

namespace {

std::string Escape(const std::string& field) {
  std::string out;
  out.reserve(field.size());
  for (const char c : field) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && c != '%') {
      out += c;
      continue;
    }
    char hex[4];
    std::snprintf(hex, sizeof hex, "%%%02X", byte);
    out += hex;
  }
  return out;
}

bool Unescape(std::string_view field, std::string& out) {
  out.clear();
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '%') {
      out += field[i];
      continue;
    }
    if (field.size() - i < 3 || text::HexDigitValue(field[i + 1]) < 0 || text::HexDigitValue(field[i + 2]) < 0)
      return false;
    out += static_cast<char>(text::HexDigitValue(field[i + 1]) * 16 + text::HexDigitValue(field[i + 2]));
    i += 2;
  }
  return true;
}

bool IsFlag(const std::string& s) { return s == "0" || s == "1"; }

// Whether a record is one the journal writes, in its place, with fields that
// read as what they stand for.
bool WellFormed(const TRecord& r, bool first, const std::string& format) {
  if (first) {
    if (r[0] != "JOURNAL" || r.size() < 7 || r[2].empty() || r[6].empty()) return false;
    return (r[1] == "1" && r.size() == 7) || (r[1] == "2" && r.size() == 8 && OriginalsFolderName(r[7]));
  }
  if (r[0] == "REG") return r.size() == 7 && text::AllDigits(r[1]) && IsFlag(r[4]) && text::AllDigits(r[5]);
  if (r[0] == "MKDIR" || r[0] == "ADD") return r.size() == 2 && RelativeInside(r[1]);
  if (r[0] == "MOVE") {
    if (format == "1") return r.size() == 3 && RelativeInside(r[1]) && text::AllDigits(r[2]) && r[2].size() < 10;
    return r.size() == 2 && RelativeInside(r[1]);
  }
  return r.size() == 1 && r[0] == "COMMIT";
}

// The fields of a line whose CRC holds; false when a field's escape is broken.
bool Fields(std::string_view line, TRecord& record) {
  record.clear();
  for (size_t at = 0; at < line.size();) {
    const size_t tab = line.find('\t', at);
    record.emplace_back();
    if (!Unescape(line.substr(at, tab - at), record.back())) return false;
    at = tab + 1;
  }
  return true;
}

// Whether a line (without its LF) is whole: fields, each followed by a TAB, then
// the CRC of all of them.
bool CrcHolds(std::string_view line) {
  if (line.size() < 10 || line[line.size() - 9] != '\t') return false;
  uint32_t crc = 0;
  for (const char c : line.substr(line.size() - 8)) {
    const int digit = text::HexDigitValue(c);
    if (digit < 0) return false;
    crc = crc * 16 + static_cast<uint32_t>(digit);
  }
  return archive::Crc32(line.data(), line.size() - 8) == crc;
}

}  // namespace

std::string Line(const TRecord& fields) {
  std::string line;
  for (const std::string& field : fields) line += Escape(field) + '\t';
  char crc[9];
  std::snprintf(crc, sizeof crc, "%08X", static_cast<unsigned>(archive::Crc32(line.data(), line.size())));
  return line + crc + '\n';
}

TParsed Parse(std::string_view bytes) {
  TParsed parsed;
  if (bytes.empty()) {
    parsed.Damage = "the journal is empty";
    return parsed;
  }
  std::string format;
  for (size_t at = 0; at < bytes.size();) {
    const size_t end = bytes.find('\n', at);
    const std::string_view line = bytes.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
    TRecord record;
    const bool whole = end != std::string_view::npos && CrcHolds(line) &&
                       Fields(line.substr(0, line.size() - 8), record) && !record.empty();
    if (!whole) {
      // A write the end cut short leaves its line last: nothing whole may follow.
      const std::string_view rest = end == std::string_view::npos ? std::string_view() : bytes.substr(end + 1);
      for (size_t next = 0; next < rest.size();) {
        const size_t stop = rest.find('\n', next);
        if (stop == std::string_view::npos) break;
        if (CrcHolds(rest.substr(next, stop - next))) {
          parsed.Damage = "record " + text::IntToStr(static_cast<int64_t>(parsed.Records.size()) + 1) +
                          " is damaged and others follow it";
          return parsed;
        }
        next = stop + 1;
      }
      break;
    }
    if (!WellFormed(record, parsed.Records.empty(), format)) {
      parsed.Damage = "record " + text::IntToStr(static_cast<int64_t>(parsed.Records.size()) + 1) +
                      " is not one an update writes (" + record[0].substr(0, 16) + ")";
      return parsed;
    }
    if (parsed.Records.empty()) format = record[1];
    parsed.Records.push_back(std::move(record));
    at = end + 1;
  }
  if (parsed.Records.empty()) parsed.Damage = "the journal has no whole first record";
  return parsed;
}

bool RelativeInside(const std::string& relative) {
  if (relative.empty()) return false;
  size_t at = 0;
  for (bool first = true;; first = false) {
    const size_t end = relative.find_first_of("\\/", at);
    const std::string name = relative.substr(at, end == std::string::npos ? std::string::npos : end - at);
    // Windows drops trailing dots and blanks: "...", ". ." and "" all climb or stay.
    if (name.find_first_not_of(". ") == std::string::npos) return false;
    for (const char c : name)
      if (c == ':' || static_cast<unsigned char>(c) < 0x20) return false;
    if (first && UpdaterOwnName(name)) return false;
    if (end == std::string::npos) return true;
    at = end + 1;
  }
}

bool OriginalsFolderName(const std::string& name) {
  return name.size() > 2 && name.size() < 12 && name.compare(0, 2, "o-") == 0 && text::AllDigits(name.substr(2));
}

bool UpdaterOwnName(const std::string& name) {
  return text::AnsiSameText(name, "~ORBAXLU.journal") || text::AnsiSameText(name, "~ORBAXLU.lock");
}

}  // namespace engine::journal
