#include "install/platform_id.h"

#include <atomic>

#include "platform/platform.h"

namespace install {

namespace {
// -1: no override. Read by the worker thread, set before it runs.
std::atomic<int64_t> overrideId{-1};
}  // namespace

uint32_t GetPlatformId() {
  const int64_t forced = overrideId.load();
  if (forced >= 0) return static_cast<uint32_t>(forced);
  return platform::PlatformId();
}

TPlatformIdOverride::TPlatformIdOverride(uint32_t platformId) : previous_(overrideId.exchange(platformId)) {}

TPlatformIdOverride::~TPlatformIdOverride() { overrideId.store(previous_); }

}  // namespace install
