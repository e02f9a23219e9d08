// Embedded resources, program arguments and the environment, from Win32.
#include <windows.h>

#include "platform/platform.h"

namespace platform {

std::optional<std::string> EmbeddedResource(const std::string& name) {
  // Resource names compare without regard to case; FindResourceA upper-cases
  // the name it is given as well.
  std::string upper = name;
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  HMODULE module = GetModuleHandleA(nullptr);                               // this program's own image
  HRSRC info = FindResourceA(module, upper.c_str(), MAKEINTRESOURCEA(10));  // RT_RCDATA
  if (info == nullptr) return std::nullopt;
  HGLOBAL loaded = LoadResource(module, info);
  if (loaded == nullptr) return std::nullopt;
  const DWORD size = SizeofResource(module, info);
  const void* data = LockResource(loaded);  // resource memory lives as long as the image
  if (data == nullptr && size != 0) return std::nullopt;
  return std::string(static_cast<const char*>(data), size);
}

namespace {

// Splits a command line as the Microsoft C runtime does: blanks and tabs
// separate; double quotes group and are removed; 2n backslashes before a quote
// give n backslashes and the quote toggles grouping; 2n+1 give n and a literal
// quote; a doubled quote inside a group gives a literal quote; other backslashes
// are literal. The program name is read by the simpler rule the loader uses
// (quotes group, no escapes) and left out.
std::vector<std::string> SplitCommandLine(const char* line) {
  std::vector<std::string> result;
  const char* p = line;
  if (p == nullptr) return result;
  bool quoted = false;
  while (*p != '\0') {
    if (*p == '"') {
      quoted = !quoted;
    } else if (!quoted && (*p == ' ' || *p == '\t')) {
      break;
    }
    ++p;
  }
  for (;;) {
    while (*p == ' ' || *p == '\t') ++p;
    if (*p == '\0') break;
    std::string argument;
    bool inQuotes = false;
    for (;;) {
      size_t backslashes = 0;
      while (*p == '\\') {
        ++backslashes;
        ++p;
      }
      if (*p == '"') {
        argument.append(backslashes / 2, '\\');
        if (backslashes % 2 == 1) {
          argument += '"';
          ++p;
        } else if (inQuotes && p[1] == '"') {
          argument += '"';
          p += 2;
        } else {
          inQuotes = !inQuotes;
          ++p;
        }
        continue;
      }
      argument.append(backslashes, '\\');
      if (*p == '\0' || (!inQuotes && (*p == ' ' || *p == '\t'))) break;
      argument += *p++;
    }
    result.push_back(std::move(argument));
  }
  return result;
}

}  // namespace

namespace {
// Arguments given explicitly (tests, tools); otherwise the process's command line.
std::optional<std::vector<std::string>> gArguments;
}  // namespace

std::vector<std::string> ProgramArguments() {
  if (gArguments) return *gArguments;
  return SplitCommandLine(GetCommandLineA());
}

// The command line stays the source for the program itself: its entry point passes
// nothing here on Windows, where the runtime's argv is split from the same line.
void SetProgramArguments(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  gArguments = std::move(args);
}

std::string GetEnv(const std::string& name) {
  char small[256];
  DWORD needed = GetEnvironmentVariableA(name.c_str(), small, sizeof small);
  if (needed == 0) return std::string();
  if (needed < sizeof small) return std::string(small, needed);
  // The variable grew between the calls at worst; the second call says so.
  for (;;) {
    std::string value(needed, '\0');
    const DWORD got = GetEnvironmentVariableA(name.c_str(), value.data(), needed);
    if (got == 0) return std::string();
    if (got < needed) {
      value.resize(got);
      return value;
    }
    needed = got;
  }
}

}  // namespace platform
