#include "archive/file_spec.h"

#include "base/text.h"
#include "base/wildcard.h"

namespace archive {

namespace {

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
  if (text::MatchesWildcard(file, mask)) return true;
  if (file.find('.') != std::string::npos) return false;
  std::string dottedMask = mask.find('.') == std::string::npos ? mask + "." : mask;
  return text::MatchesWildcard(file + ".", dottedMask);
}

}  // namespace

bool PatternSelects(const std::string& name, const std::string& pattern, bool recurseDirs) {
  if (text::AnsiSameText(pattern, name)) return true;
  std::string nameFolder, nameFile, patternFolder, patternFile;
  SplitName(name, nameFolder, nameFile);
  SplitName(pattern, patternFolder, patternFile);
  if (!recurseDirs) return text::AnsiSameText(patternFolder, nameFolder) && MatchesFilePart(nameFile, patternFile);
  if (patternFolder.empty()) return MatchesFilePart(nameFile, patternFile);
  // The name must lie in a folder the pattern's folder matches, or below one.
  for (std::size_t i = 0; i < nameFolder.size(); ++i) {
    if (nameFolder[i] == '\\' && text::MatchesWildcard(nameFolder.substr(0, i + 1), patternFolder))
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
