#include <windows.h>

#include <cstdlib>

#include "support/test_platform.h"

namespace platform {

bool SetEnv(const std::string& name, const std::string& value) {
  if (name.empty() || name.find('=') != std::string::npos) return false;
  // The process block serves child processes and GetEnvironmentVariable; the C
  // runtime keeps a copy of its own for getenv. Both must change.
  if (!::SetEnvironmentVariableA(name.c_str(), value.c_str())) return false;
  // The runtime cannot hold an empty value: "" removes its copy, so getenv then
  // answers NULL while the process block keeps the empty text.
  return ::_putenv_s(name.c_str(), value.c_str()) == 0;
}

bool UnsetEnv(const std::string& name) {
  if (name.empty() || name.find('=') != std::string::npos) return false;
  ::SetEnvironmentVariableA(name.c_str(), nullptr);  // nullptr removes it
  return ::_putenv_s(name.c_str(), "") == 0;         // "" removes it from the runtime's copy
}

std::string ExecutableSuffix() { return ".exe"; }

uint32_t CreationMask() { return 0; }

}  // namespace platform
