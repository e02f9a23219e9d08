// Wildcard patterns, as file masks and proxy bypass lists write them.
#pragma once

#include <string>

namespace text {

// What stands for something else in a pattern: file masks have "*" and "?"; a
// proxy bypass list only "*", a "?" there being itself.
enum class TWildcards { StarAndQuestion, StarOnly };

// Whether s matches pattern as a whole: "*" stands for any run of characters
// (none too), "?" (when wildcards has it) for exactly one, and every other byte
// for itself, the letters of code page 1252 without regard to case. No other
// character is special: a "." is a dot, a "\" a backslash.
bool MatchesWildcard(const std::string& s, const std::string& pattern,
                     TWildcards wildcards = TWildcards::StarAndQuestion);

}  // namespace text
