#include "engine/cancel.h"

#include <chrono>

namespace engine {

void TCancelToken::Cancel() {
  {
    // Under the lock, so that a waiter between its look and its sleep is woken.
    std::lock_guard lock(mutex_);
    cancelled_.store(true);
  }
  cv_.notify_all();
}

void TCancelToken::Check() const {
  if (Cancelled()) throw ERunCancelled();
}

void TCancelToken::Wait(uint32_t milliseconds) const {
  std::unique_lock lock(mutex_);
  if (cv_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return cancelled_.load(); }))
    throw ERunCancelled();
}

}  // namespace engine
