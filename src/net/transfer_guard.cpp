#include "net/transfer_guard.h"

#include <algorithm>
#include <cstdint>

#include "net/net_errors.h"

namespace net {

void TTransferGuard::Start(int64_t nowMs, const TTransferLimits& limits) {
  *this = TTransferGuard();
  origin_ = nowMs;
  stallMs_ = std::max<int64_t>(0, limits.StallMs);
  if (limits.MinBytesPerSecond <= 0 || limits.WindowMs <= 0) return;
  windowMs_ = limits.WindowMs;
  rate_ = limits.MinBytesPerSecond;
  slotMs_ = std::max<int64_t>(1, windowMs_ / kSlots);
  // Rounded up, so a window that holds less than rate * seconds is slow.
  need_ = std::max<int64_t>(1, (rate_ * windowMs_ + 999) / 1000);
}

int64_t TTransferGuard::Clock(int64_t nowMs) const {
  const int64_t at = suspendedAt_ >= 0 ? suspendedAt_ : nowMs;
  return std::max<int64_t>(0, at - origin_ - paused_);
}

void TTransferGuard::Suspend(int64_t nowMs) {
  if (suspendedAt_ < 0) suspendedAt_ = nowMs;
}

void TTransferGuard::Resume(int64_t nowMs) {
  if (suspendedAt_ < 0) return;
  paused_ += std::max<int64_t>(0, nowMs - suspendedAt_);
  suspendedAt_ = -1;
}

void TTransferGuard::Advance(int64_t at) {
  const int64_t slot = at / slotMs_;
  // Slots that passed without an Add are emptied as the window moves over them.
  for (int64_t s = slot_ + 1; s <= slot && s <= slot_ + kSlots; ++s) {
    sum_ -= slots_[s % kSlots];
    slots_[s % kSlots] = 0;
  }
  slot_ = std::max(slot_, slot);
}

void TTransferGuard::Add(int64_t nowMs, int64_t bytes) {
  if (bytes <= 0) return;
  const int64_t at = Clock(nowMs);
  lastByte_ = at;
  if (need_ == 0) return;
  Advance(at);
  slots_[slot_ % kSlots] += bytes;
  sum_ += bytes;
}

void TTransferGuard::Check(int64_t nowMs) {
  const int64_t at = Clock(nowMs);
  if (stallMs_ > 0 && at - lastByte_ >= stallMs_) throw ETransferStalled(stallMs_);
  if (need_ == 0 || at < windowMs_) return;
  Advance(at);
  if (sum_ < need_) throw ETransferTooSlow(rate_, windowMs_);
}

int64_t TTransferGuard::MsUntilCheck(int64_t nowMs) const {
  const int64_t at = Clock(nowMs);
  int64_t wait = INT64_MAX;
  if (stallMs_ > 0) wait = std::max<int64_t>(1, lastByte_ + stallMs_ - at);
  if (need_ > 0) {
    // From the window's end on, the sum changes only when a slot leaves it.
    wait = std::min(wait, at < windowMs_ ? windowMs_ - at : slotMs_ - at % slotMs_);
  }
  return wait;
}

}  // namespace net
