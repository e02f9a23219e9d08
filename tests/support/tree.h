// Removal of a folder tree through the platform layer, without the test framework,
// so the fuzz targets share it with the unit tests.
#pragma once

#include <string>

#include "platform/files.h"

namespace testsupport {

// Deletes a folder with everything in it (read-only files included), a link in it
// as a link; whether all of it went.
inline bool RemoveTree(const std::string& path) { return platform::RemoveTree(path); }

}  // namespace testsupport
