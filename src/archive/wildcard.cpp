#include "archive/wildcard.h"

#include "base/text.h"

namespace archive {

namespace {

bool SameChar(char a, char b) { return text::AnsiUpper(a) == text::AnsiUpper(b); }

// Splits at the last "\": the folder keeps its trailing "\".
void SplitName(const std::string& name, std::string& folder, std::string& file) {
  std::size_t slash = name.rfind('\\');
  if (slash == std::string::npos) {
    folder.clear();
    file = name;
  } else {
    folder = name.substr(0, slash + 1);
    file = name.substr(slash + 1);
  }
}

bool MatchesFilePart(const std::string& file, const std::string& mask) {
  if (MatchesMask(file, mask)) return true;
  if (file.find('.') != std::string::npos) return false;
  std::string dottedMask = mask.find('.') == std::string::npos ? mask + "." : mask;
  return MatchesMask(file + ".", dottedMask);
}

}  // namespace

bool MatchesMask(const std::string& s, const std::string& mask) {
  // Iterative matching with one backtrack point: the last "*" seen. Linear in
  // practice and never recursive, whatever the pattern.
  std::size_t si = 0, mi = 0;
  std::size_t starMask = std::string::npos, starText = 0;
  while (si < s.size()) {
    if (mi < mask.size() && mask[mi] == '*') {
      starMask = mi++;
      starText = si;
    } else if (mi < mask.size() && (mask[mi] == '?' || SameChar(mask[mi], s[si]))) {
      ++mi;
      ++si;
    } else if (starMask != std::string::npos) {
      mi = starMask + 1;
      si = ++starText;
    } else {
      return false;
    }
  }
  while (mi < mask.size() && mask[mi] == '*') ++mi;
  return mi == mask.size();
}

bool PatternSelects(const std::string& name, const std::string& pattern, bool recurseDirs) {
  if (text::AnsiSameText(pattern, name)) return true;
  std::string nameFolder, nameFile, patternFolder, patternFile;
  SplitName(name, nameFolder, nameFile);
  SplitName(pattern, patternFolder, patternFile);
  if (!recurseDirs) return text::AnsiSameText(patternFolder, nameFolder) && MatchesFilePart(nameFile, patternFile);
  if (patternFolder.empty()) return MatchesFilePart(nameFile, patternFile);
  // The name must lie in a folder the pattern's folder matches, or below one.
  for (std::size_t i = 0; i < nameFolder.size(); ++i) {
    if (nameFolder[i] == '\\' && MatchesMask(nameFolder.substr(0, i + 1), patternFolder))
      return MatchesFilePart(nameFile, patternFile);
  }
  return false;
}

bool FileSpecSelects(const std::string& name, const std::vector<std::string>& patterns, bool recurseDirs) {
  for (const std::string& pattern : patterns)
    if (PatternSelects(name, pattern, recurseDirs)) return true;
  return false;
}

}  // namespace archive
