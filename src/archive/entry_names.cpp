#include "archive/entry_names.h"

#include <algorithm>

#include "archive/zip_format.h"
#include "base/codepage.h"
#include "base/text.h"
#include "platform/system.h"

namespace archive {

namespace {

// Drive and root that a stored name may carry: "C:\dir\x" and "C:x" lose their
// drive, "\dir\x" its leading backslash.
std::string StripDrive(const std::string& name) {
  if (name.find(':') != std::string::npos) {
    std::size_t firstSlash = name.find('\\');
    return name.substr(firstSlash == 2 ? 3 : std::min<std::size_t>(2, name.size()));
  }
  if (!name.empty() && name[0] == '\\') return name.substr(1);
  return name;
}

// Joins with one "\" unless the first part already ends with one.
std::string JoinPath(const std::string& first, const std::string& second) {
  if (first.empty()) return second;
  if (first.back() == '\\') return first + second;
  return first + "\\" + second;
}

// Segments Windows would resolve to a parent folder ("..", and ". ." or "... "
// once it drops trailing dots and blanks) or to a device instead of a file.
bool IsUnsafeSegment(const std::string& segment) {
  if (segment.find("..") != std::string::npos && segment.find_first_not_of(". ") == std::string::npos) return true;
  std::string base = segment.substr(0, segment.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  base = text::UpperCase(base);
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* device : kDevices)
    if (base == device) return true;
  if (base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) && base[3] >= '1' &&
      base[3] <= '9')
    return true;
  return false;
}

// The name as Unicode; false when its bytes are to be kept as they are.
bool StoredNameToUnicode(const std::string& stored, uint16_t flags, int host, std::u32string& unicode) {
  const bool utf8 = codepage::Utf8ToUnicode(stored, unicode);
  if (utf8 && ((flags & zip::kFlagUtf8) || host < 0)) return true;
  if (host == zip::kHostUnix || host == zip::kHostMacOsX) return utf8;
  unicode = codepage::Cp437ToUnicode(stored);
  return true;
}

// <U+XXXX> for each character the code page lacks, for an error message.
std::string ShownName(const std::u32string& unicode) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string shown;
  for (char32_t c : unicode) {
    std::string one;
    if (platform::UnicodeToAnsi(std::u32string(1, c), one)) {
      shown += one;
      continue;
    }
    char code[8];
    std::size_t digits = 0;
    for (uint32_t v = c; v != 0 || digits < 4; v >>= 4) code[digits++] = kHex[v & 0xF];
    shown += "<U+";
    while (digits > 0) shown += code[--digits];
    shown += '>';
  }
  return shown;
}

// "a\.\b" is "a\b" and ".\a" is "a"; other segments stay as they are, empty ones
// included. A folder of dot segments only is the root, "\".
std::string WithoutDotSegments(const std::string& name) {
  if (name.find('.') == std::string::npos) return name;
  std::string out;
  std::size_t begin = 0;
  for (;;) {
    const std::size_t end = name.find('\\', begin);
    const bool last = end == std::string::npos;
    const std::string segment = name.substr(begin, last ? std::string::npos : end - begin);
    if (segment != ".") out += last ? segment : segment + '\\';
    if (last) break;
    begin = end + 1;
  }
  if (out.empty() && !name.empty() && name.back() == '\\') out.push_back('\\');
  return out;
}

}  // namespace

bool EntryName(const std::string& storedName, uint16_t flags, int host, bool translate, std::string& name) {
  bool ok = true;
  name = storedName;
  const bool ascii =
      std::all_of(storedName.begin(), storedName.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  std::u32string unicode;
  if (translate && !ascii && StoredNameToUnicode(storedName, flags, host, unicode) &&
      !platform::UnicodeToAnsi(unicode, name)) {
    name = ShownName(unicode);
    ok = false;
  }
  name = WithoutDotSegments(SlashesToBackslashes(std::move(name)));
  return ok;
}

std::string SlashesToBackslashes(std::string s) {
  std::replace(s.begin(), s.end(), '/', '\\');
  return s;
}

std::string FilePart(const std::string& name) {
  std::size_t cut = name.find_last_of("\\:");
  return cut == std::string::npos ? name : name.substr(cut + 1);
}

std::string FolderPart(const std::string& name) {
  std::size_t cut = name.find_last_of("\\:");
  return cut == std::string::npos ? std::string() : name.substr(0, cut + 1);
}

bool IsSafeName(const std::string& name, bool useStoredDirs) {
  // The system would end the name at a NUL: the file written would not be the
  // one announced.
  if (name.find('\0') != std::string::npos) return false;
  std::string relative = useStoredDirs ? StripDrive(name) : FilePart(name);
  if (relative.find(':') != std::string::npos) return false;
  if (!relative.empty() && relative[0] == '\\') return false;
  std::size_t begin = 0;
  while (begin <= relative.size()) {
    std::size_t end = relative.find('\\', begin);
    if (end == std::string::npos) end = relative.size();
    if (IsUnsafeSegment(relative.substr(begin, end - begin))) return false;
    begin = end + 1;
  }
  return true;
}

std::string OutputPath(const std::string& targetFolder, const std::string& name, bool useStoredDirs) {
  std::string folder = targetFolder;
  // A relative target stays relative to the current folder; it is not made
  // relative to the drive's root.
  if (useStoredDirs) folder = JoinPath(folder, FolderPart(StripDrive(name)));
  return JoinPath(folder, FilePart(name));
}

}  // namespace archive
