#include "net/rate_guard.h"

#include <algorithm>

namespace net {

void TRateGuard::Start(int64_t nowMs, int64_t minBytesPerSecond, int64_t windowMs) {
  *this = TRateGuard();
  if (minBytesPerSecond <= 0 || windowMs <= 0) return;
  start_ = nowMs;
  windowMs_ = windowMs;
  rate_ = minBytesPerSecond;
  slotMs_ = std::max<int64_t>(1, windowMs / kSlots);
  // Rounded up, so a window that holds less than rate * seconds is slow.
  need_ = std::max<int64_t>(1, (minBytesPerSecond * windowMs + 999) / 1000);
}

void TRateGuard::Advance(int64_t nowMs) {
  const int64_t slot = std::max<int64_t>(0, nowMs - start_) / slotMs_;
  // Slots that passed without an Add are emptied as the window moves over them.
  for (int64_t s = slot_ + 1; s <= slot && s <= slot_ + kSlots; ++s) {
    sum_ -= slots_[s % kSlots];
    slots_[s % kSlots] = 0;
  }
  slot_ = std::max(slot_, slot);
}

void TRateGuard::Add(int64_t nowMs, int64_t bytes) {
  if (!Active() || bytes <= 0) return;
  Advance(nowMs);
  slots_[slot_ % kSlots] += bytes;
  sum_ += bytes;
}

bool TRateGuard::TooSlow(int64_t nowMs) {
  if (!Active() || nowMs - start_ < windowMs_) return false;
  Advance(nowMs);
  return sum_ < need_;
}

int64_t TRateGuard::MsUntilCheck(int64_t nowMs) const {
  if (!Active()) return INT64_MAX;
  const int64_t elapsed = std::max<int64_t>(0, nowMs - start_);
  if (elapsed < windowMs_) return windowMs_ - elapsed;
  // From then on the sum changes only when a slot leaves the window.
  return slotMs_ - elapsed % slotMs_;
}

}  // namespace net
