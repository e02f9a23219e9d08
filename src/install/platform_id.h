// The platform family the system reports. Installation and uninstallation pick
// registry roots and command interpreters by it, and so does the worker.
#pragma once

#include <cstdint>

namespace install {

// The version query's identifier of the NT family; every other value is the
// older family (COMMAND.COM, uninstall entries below HKEY_LOCAL_MACHINE).
constexpr uint32_t kPlatformWin32NT = 2;

// The platform identifier of the running system, or the one a live
// TPlatformIdOverride stands for.
uint32_t GetPlatformId();

// Makes GetPlatformId answer another family while it lives, so that one machine
// can exercise both families' registry roots and commands. Not nestable across
// threads; meant for tests.
class TPlatformIdOverride {
 public:
  explicit TPlatformIdOverride(uint32_t platformId);
  ~TPlatformIdOverride();
  TPlatformIdOverride(const TPlatformIdOverride&) = delete;
  TPlatformIdOverride& operator=(const TPlatformIdOverride&) = delete;

 private:
  int64_t previous_;
};

}  // namespace install
