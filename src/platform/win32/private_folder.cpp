// A run's own folder on Windows: made with the user's own access list, so that
// other users can neither read nor change what the run keeps in it.
#include <windows.h>

#include "platform/files.h"
#include "platform/win32/token.h"
#include "platform/win32/wide_paths.h"

namespace platform {

bool CreatePrivateFolder(const std::string& path) {
  win32::TOwnerOnlySecurity security;
  return security.Build() && ::CreateDirectoryW(win32::LongPath(path).c_str(), security.Attributes()) != FALSE;
}

}  // namespace platform
