// Embedded resources, program arguments, the program file and the environment,
// from Win32.
#include <windows.h>

#include "base/text.h"
#include "platform/system.h"
#include "platform/win32/wide_paths.h"

namespace platform {

std::optional<std::string> EmbeddedResource(const std::string& name) {
  // Resource names compare without regard to case; FindResourceA upper-cases
  // the name it is given as well.
  const std::string upper = text::UpperCase(name);
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
// Arguments given explicitly (tests, tools); otherwise the process's command line.
std::optional<std::vector<std::string>> gArguments;
}  // namespace

std::vector<std::string> ProgramArguments() {
  if (gArguments) return *gArguments;
  std::vector<std::string> arguments = SplitCommandLine(GetCommandLineA());
  if (!arguments.empty()) arguments.erase(arguments.begin());  // the program name
  return arguments;
}

// The command line stays the source for the program itself: its entry point passes
// nothing here on Windows, where the runtime's argv is split from the same line.
void SetProgramArguments(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  gArguments = std::move(args);
}

std::string ProgramPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr /* this program */, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return std::string();
    if (n < path.size()) {
      path.resize(n);
      return win32::Narrow(path);
    }
    if (path.size() >= 32768) return std::string();
    path.resize(path.size() * 2);  // cut short: a longer buffer
  }
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
