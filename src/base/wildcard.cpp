#include "base/wildcard.h"

#include "base/text.h"

namespace text {

bool MatchesWildcard(const std::string& s, const std::string& pattern, TWildcards wildcards) {
  const bool question = wildcards == TWildcards::StarAndQuestion;
  // Iterative matching with one backtrack point, the last "*" seen: never
  // recursive, and quadratic at worst whatever the pattern.
  std::size_t si = 0, pi = 0;
  std::size_t starPattern = std::string::npos, starText = 0;
  while (si < s.size()) {
    if (pi < pattern.size() && pattern[pi] == '*') {
      starPattern = pi++;
      starText = si;
    } else if (pi < pattern.size() &&
               ((question && pattern[pi] == '?') || AnsiUpper(pattern[pi]) == AnsiUpper(s[si]))) {
      ++pi;
      ++si;
    } else if (starPattern != std::string::npos) {
      pi = starPattern + 1;
      si = ++starText;
    } else {
      return false;
    }
  }
  while (pi < pattern.size() && pattern[pi] == '*') ++pi;
  return pi == pattern.size();
}

}  // namespace text
