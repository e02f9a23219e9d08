// When a transfer is given up, the one rule for it: after StallMs without a
// byte (a server or proxy that went quiet), or once the bytes of the last
// WindowMs average less than MinBytesPerSecond (one that trickles a byte now
// and then, which would otherwise hold a run for as long as it likes; one that
// sends steadily, however long, is never cut). Both count on the transfer's own
// clock, which stops between the attempts of a download: a retry neither starts
// a fresh window nor is blamed for the wait before it.
// Pure logic over a clock the caller reads, so tests need not wait.
#pragma once

#include <cstdint>

namespace net {

struct TTransferLimits {
  int64_t StallMs = 60000;
  int64_t MinBytesPerSecond = 1024;
  int64_t WindowMs = 120000;
};

class TTransferGuard {
 public:
  // A new transfer from nowMs on; a limit of 0 or less turns its rule off.
  void Start(int64_t nowMs, const TTransferLimits& limits);
  // The clock stops (between attempts) and goes on where it stood.
  void Suspend(int64_t nowMs);
  void Resume(int64_t nowMs);
  bool Active() const { return stallMs_ > 0 || need_ > 0; }
  void Add(int64_t nowMs, int64_t bytes);
  // Raises ETransferStalled or ETransferTooSlow once the transfer is to be given up.
  void Check(int64_t nowMs);
  // How long a wait may last before Check has to be called again (1 or more).
  int64_t MsUntilCheck(int64_t nowMs) const;

 private:
  // The window in slots; bytes leave it a slot at a time.
  static constexpr int kSlots = 120;
  int64_t Clock(int64_t nowMs) const;
  void Advance(int64_t at);

  int64_t paused_ = 0;        // real milliseconds the clock stood still
  int64_t suspendedAt_ = -1;  // real time of Suspend; -1 while running
  int64_t lastByte_ = 0;      // on the clock: the last byte, or the start
  int64_t stallMs_ = 0;
  int64_t windowMs_ = 0, slotMs_ = 1, rate_ = 0;
  int64_t need_ = 0;  // bytes a window must hold; 0 when off
  int64_t slot_ = 0;  // the slot of the latest Add or check
  int64_t sum_ = 0;   // the bytes of the slots in the window
  int64_t slots_[kSlots] = {};
  int64_t origin_ = 0;  // real time of Start
};

}  // namespace net
