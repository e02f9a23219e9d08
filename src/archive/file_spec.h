// Selection of archive entries by FileSpec patterns ("*" any run of characters, "?"
// exactly one), letter case ignored. Names and patterns use "\" between folders.
#pragma once

#include <string>
#include <vector>

namespace archive {

// Whether one pattern selects a stored name:
// - a pattern equal to the whole name selects it;
// - a pattern without a folder part is matched against the name's file part;
// - with recurseDirs false the pattern's folder part must equal the name's folder
//   part; with recurseDirs true a pattern folder selects names in it or below it;
// - a file part without "." that fails is tried again with "." appended (and the
//   pattern's file part too when it has no "."), so "*.*" selects "README".
bool PatternSelects(const std::string& name, const std::string& pattern, bool recurseDirs);

// Whether any of the patterns selects the name (none when the list is empty).
bool FileSpecSelects(const std::string& name, const std::vector<std::string>& patterns, bool recurseDirs);

}  // namespace archive
