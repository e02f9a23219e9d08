#include "archive/entry_names.h"

#include <algorithm>

#include "archive/oem_charset.h"
#include "base/text.h"

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

}  // namespace

std::string EntryName(const std::string& storedName, uint16_t flags, int host, bool translate) {
  return SlashesToBackslashes(translate ? EntryNameToAnsi(storedName, flags, host) : storedName);
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
