#include "support/test_platform.h"

#include <unistd.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

#include "platform/files.h"

namespace platform {

bool SetEnv(const std::string& name, const std::string& value) { return setenv(name.c_str(), value.c_str(), 1) == 0; }

bool UnsetEnv(const std::string& name) { return unsetenv(name.c_str()) == 0; }

std::string ExecutableSuffix() { return std::string(); }

uint32_t CreationMask() {
  const mode_t mask = umask(022);
  umask(mask);
  return mask;
}

bool OwnerOnlyFolder(const std::string& path, std::string& why) {
  struct stat st;
  if (lstat(HostPath(path).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    why = "no folder";
    return false;
  }
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
  why = std::string("mode ") + mode + (st.st_uid == geteuid() ? "" : ", another owner");
  return (st.st_mode & 07777) == 0700 && st.st_uid == geteuid();
}

bool MakeLink(const std::string& link, const std::string& target, bool /*folder*/) {
  return symlink(HostPath(target).c_str(), HostPath(link).c_str()) == 0;
}

void StopActingForUser() {}

}  // namespace platform
