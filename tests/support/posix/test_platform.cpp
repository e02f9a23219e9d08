#include "support/test_platform.h"

#include <sys/stat.h>

#include <cstdlib>

namespace platform {

bool SetEnv(const std::string& name, const std::string& value) { return setenv(name.c_str(), value.c_str(), 1) == 0; }

bool UnsetEnv(const std::string& name) { return unsetenv(name.c_str()) == 0; }

std::string ExecutableSuffix() { return std::string(); }

uint32_t CreationMask() {
  const mode_t mask = umask(022);
  umask(mask);
  return mask;
}

}  // namespace platform
