// The Windows command-line rules, for both targets: Win32 splits its own command
// line with them, the Linux port the command lines it is asked to run.
#include "platform/system.h"

namespace platform {

// As the Microsoft C runtime splits: blanks and tabs separate; double quotes group
// and are removed; 2n backslashes before a quote give n backslashes and the quote
// toggles grouping, 2n+1 give n and a literal quote; a doubled quote inside a group
// gives a literal quote; other backslashes are literal. The program name is read
// by the simpler rule the loader uses: quotes toggle grouping, nothing escapes.
std::vector<std::string> SplitCommandLine(const std::string& line) {
  std::vector<std::string> result;
  const size_t n = line.size();
  auto blank = [&](size_t i) { return line[i] == ' ' || line[i] == '\t'; };
  size_t i = 0;
  while (i < n && blank(i)) ++i;
  if (i >= n) return result;
  std::string program;
  for (bool quoted = false; i < n && (quoted || !blank(i)); ++i) {
    if (line[i] == '"')
      quoted = !quoted;
    else
      program += line[i];
  }
  result.push_back(std::move(program));
  for (;;) {
    while (i < n && blank(i)) ++i;
    if (i >= n) break;
    std::string argument;
    bool quoted = false;
    for (;;) {
      size_t backslashes = 0;
      while (i < n && line[i] == '\\') ++backslashes, ++i;
      if (i < n && line[i] == '"') {
        argument.append(backslashes / 2, '\\');
        if (backslashes % 2 == 1) {
          argument += '"';
          ++i;
        } else if (quoted && i + 1 < n && line[i + 1] == '"') {
          argument += '"';
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
        continue;
      }
      argument.append(backslashes, '\\');
      if (i >= n || (!quoted && blank(i))) break;
      argument += line[i++];
    }
    result.push_back(std::move(argument));
  }
  return result;
}

std::string QuoteArgument(const std::string& argument) {
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes before a quote escape; the quote itself too.
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  // Before the closing quote they would escape it.
  quoted.append(backslashes * 2, '\\');
  return quoted + '"';
}

std::string JoinCommandLine(const std::vector<std::string>& arguments) {
  std::string line;
  for (const std::string& argument : arguments) {
    if (!line.empty()) line += ' ';
    const bool plain = !argument.empty() && argument.find_first_of(" \t\"") == std::string::npos;
    line += plain ? argument : QuoteArgument(argument);
  }
  return line;
}

}  // namespace platform
