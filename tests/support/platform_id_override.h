// Makes GetPlatformId answer another family while it lives, so that one machine
// can exercise both families' registry roots and commands. Not nestable across
// threads.
#pragma once

#include <atomic>
#include <cstdint>

#include "install/platform_id.h"

namespace install {

class TPlatformIdOverride {
 public:
  explicit TPlatformIdOverride(uint32_t platformId)
      : previousId_(forced_.exchange(platformId)), previousSource_(SetPlatformIdSource(&Forced)) {}
  ~TPlatformIdOverride() {
    forced_.store(previousId_);
    SetPlatformIdSource(previousSource_);
  }
  TPlatformIdOverride(const TPlatformIdOverride&) = delete;
  TPlatformIdOverride& operator=(const TPlatformIdOverride&) = delete;

 private:
  static uint32_t Forced() { return forced_.load(); }
  static inline std::atomic<uint32_t> forced_{0};
  uint32_t previousId_;
  TPlatformIdSource previousSource_;
};

}  // namespace install
