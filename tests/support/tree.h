// Removal of a folder tree through the platform layer, without the test framework,
// so the fuzz targets share it with the unit tests.
#pragma once

#include <string>

#include "platform/files.h"

namespace testsupport {

// Deletes a folder with everything in it (read-only files included); whether all
// of it went.
inline bool RemoveTree(const std::string& path) {
  bool ok = true;
  for (const auto& name : platform::ListDir(path)) {
    if (!name.empty() && name.back() == '\\') {
      ok = RemoveTree(path + "\\" + name.substr(0, name.size() - 1)) && ok;
    } else {
      std::string file = path + "\\" + name;
      platform::SetAttributesNormal(file);
      ok = platform::EraseFile(file) && ok;
    }
  }
  return platform::RemoveDir(path) && ok;
}

}  // namespace testsupport
