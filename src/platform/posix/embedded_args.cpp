// Embedded resources, program arguments, the program file and the environment for
// the Linux port.
#include <unistd.h>

#include <climits>
#include <cstddef>
#include <cstdlib>
#include <mutex>

#include "base/text.h"
#include "platform/files.h"
#include "platform/posix/posix_internal.h"
#include "platform/system.h"

namespace platform::detail {
struct EmbeddedResource {
  const char* name;
  const unsigned char* data;
  std::size_t size;
};
// Generated at build time from the files in resources/; ends with a null name.
extern const EmbeddedResource kEmbeddedResources[];
}  // namespace platform::detail

namespace platform {

namespace {
std::mutex argumentsLock;
std::vector<std::string> arguments;
}  // namespace

std::optional<std::string> EmbeddedResource(const std::string& name) {
  for (const detail::EmbeddedResource* r = detail::kEmbeddedResources; r->name != nullptr; ++r) {
    if (text::SameText(r->name, name)) return std::string(reinterpret_cast<const char*>(r->data), r->size);
  }
  return std::nullopt;
}

std::vector<std::string> ProgramArguments() {
  std::lock_guard<std::mutex> guard(argumentsLock);
  return arguments;
}

void SetProgramArguments(int argc, char** argv) {
  std::lock_guard<std::mutex> guard(argumentsLock);
  arguments.clear();
  // The host's text is UTF-8, the program's 1252.
  for (int i = 1; i < argc; ++i) arguments.push_back(posix::AnsiText(argv[i] ? argv[i] : "", false));
}

std::string ProgramPath() {
  // The kernel's name of the program file, which is right even after a rename.
  std::string host(PATH_MAX, '\0');
  const ssize_t n = readlink("/proc/self/exe", host.data(), host.size());
  if (n <= 0 || static_cast<size_t>(n) >= host.size()) return std::string();
  host.resize(static_cast<size_t>(n));
  return FromHostPath(host);
}

std::string GetEnv(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  return value ? value : std::string();
}

}  // namespace platform
