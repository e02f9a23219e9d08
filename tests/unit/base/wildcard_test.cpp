// The one wildcard matcher, for file masks ("*" and "?") and proxy bypass
// patterns ("*" alone).
#include "base/wildcard.h"

#include <gtest/gtest.h>

namespace {

using text::MatchesWildcard;
using text::TWildcards;

TEST(Wildcard, WholeTextMatchesIgnoringCase) {
  struct Case {
    const char* text;
    const char* pattern;
    bool withQuestion;  // "*" and "?" wild
    bool starOnly;      // "?" is itself
  } cases[] = {
      {"readme.txt", "*.txt", true, true},
      {"README.TXT", "*.txt", true, true},
      {"readme.txt", "*.tx", false, false},
      {"readme.txt", "r?adme.*", true, false},
      {"r?adme.txt", "r?adme.*", true, true},
      {"readme.txt", "?", false, false},
      {"", "*", true, true},
      {"", "", true, true},
      {"a", "", false, false},
      {"", "?", false, false},
      {"abc", "a*b*c", true, true},
      {"abbbc", "a*b*c", true, true},
      {"abcb", "a*b*c", false, false},
      {"a.b.c", "*.c", true, true},
      {"x", "**", true, true},
      {"README", "*.*", false, false},  // the file masks' dot rule is the caller's
      {"caf\xE9.txt", "CAF\xC9.*", true, true},
      {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaab", "*a*a*a*a*a*a*c", false, false},
      // Host patterns of a bypass list.
      {"www.example.com", "*.example.com", true, true},
      {"example.com", "*.example.com", false, false},
      {"notexample.com", "*example.com", true, true},
      {"intranet", "intra*", true, true},
      {"10.1.2.3", "10.*", true, true},
      {"110.1.2.3", "10.*", false, false},
      {"a.example.com", "?.example.com", true, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MatchesWildcard(c.text, c.pattern), c.withQuestion) << c.text << " ~ " << c.pattern;
    EXPECT_EQ(MatchesWildcard(c.text, c.pattern, TWildcards::StarOnly), c.starOnly) << c.text << " ~ " << c.pattern;
  }
}

}  // namespace
