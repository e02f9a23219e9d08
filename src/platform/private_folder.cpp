// A run's own folder under a name nobody else chose.
#include "base/text.h"
#include "platform/files.h"
#include "platform/system.h"

namespace platform {

std::string CreatePrivateFolder(const std::string& parent, const std::string& prefix) {
  const std::string base = text::WithoutTrailingSeparators(parent) + "\\" + prefix;
  // A name taken already is another's: the folder is made new or not at all.
  for (int attempt = 0; attempt < 8; ++attempt) {
    const std::string path = base + NewGuidText();
    if (CreatePrivateFolder(path)) return path;
    if (!AlreadyExists(LastError())) return std::string();
  }
  return std::string();
}

}  // namespace platform
