// The slowest transfer worth waiting for: the bytes of the last window (120 s by
// default) must average at least a minimum rate, or the transfer is given up.
// A server that trickles a byte now and then would otherwise hold a run for as
// long as it likes, while one that sends steadily, however long, is never cut.
// Pure logic over a clock the caller reads, so tests need not wait.
#pragma once

#include <cstdint>

namespace net {

class TRateGuard {
 public:
  // Watches from nowMs on; minBytesPerSecond or windowMs of 0 or less turn the
  // guard off.
  void Start(int64_t nowMs, int64_t minBytesPerSecond, int64_t windowMs);
  bool Active() const { return need_ > 0; }
  void Add(int64_t nowMs, int64_t bytes);
  // True once a whole window has passed since Start and its bytes fall short.
  bool TooSlow(int64_t nowMs);
  // How long a wait may last before TooSlow has to be asked again (1 or more).
  int64_t MsUntilCheck(int64_t nowMs) const;
  int64_t MinBytesPerSecond() const { return rate_; }
  int64_t WindowMs() const { return windowMs_; }

 private:
  // The window in slots; bytes leave it a slot at a time.
  static constexpr int kSlots = 120;
  void Advance(int64_t nowMs);

  int64_t start_ = 0, windowMs_ = 0, slotMs_ = 1, rate_ = 0;
  int64_t need_ = 0;  // bytes a window must hold; 0 when off
  int64_t slot_ = 0;  // the slot of the latest Add or check, counted from start_
  int64_t sum_ = 0;   // the bytes of the slots in the window
  int64_t slots_[kSlots] = {};
};

}  // namespace net
