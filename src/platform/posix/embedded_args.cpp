// Embedded resources, program arguments and the environment for the Linux port.
#include <cstddef>
#include <cstdlib>
#include <mutex>

#include "base/text.h"
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

std::string GetEnv(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  return value ? value : std::string();
}

}  // namespace platform
