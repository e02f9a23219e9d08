// A run's own folder under a name nobody else chose.
#include "platform/files.h"
#include "platform/system.h"

namespace platform {

namespace {

constexpr uint32_t kAlreadyExists = 183;  // the system's code on both ports

}  // namespace

std::string CreatePrivateFolder(const std::string& parent, const std::string& prefix) {
  std::string base = parent;
  while (!base.empty() && (base.back() == '\\' || base.back() == '/')) base.pop_back();
  base += "\\" + prefix;
  // A name taken already is another's: the folder is made new or not at all.
  for (int attempt = 0; attempt < 8; ++attempt) {
    const std::string path = base + NewGuidText();
    if (CreatePrivateFolder(path)) return path;
    if (LastError() != kAlreadyExists) return std::string();
  }
  return std::string();
}

}  // namespace platform
