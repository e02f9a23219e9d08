#include "install/platform_id.h"

#include <atomic>

#include "platform/system.h"

namespace install {

namespace {
// Read by the worker thread, set before it runs.
std::atomic<TPlatformIdSource> source{nullptr};
}  // namespace

uint32_t GetPlatformId() {
  const TPlatformIdSource s = source.load();
  return s ? s() : platform::PlatformId();
}

TPlatformIdSource SetPlatformIdSource(TPlatformIdSource replacement) { return source.exchange(replacement); }

}  // namespace install
