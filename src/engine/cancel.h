// The user's giving up of a run. The window cancels; the worker looks at the
// token at its safe points (between steps, between files, before its questions)
// and where it waits, and unwinds from there: what it changed is put back, its
// files go, and nothing more is said to the window.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>

namespace engine {

// Raised at the worker's next safe point once its run is given up. No ordinary
// error (Exception): no step's own handler takes it for a failure to report.
class ERunCancelled : public std::exception {
 public:
  const char* what() const noexcept override { return "the run was cancelled"; }
};

class TCancelToken {
 public:
  // From any thread; a wait under way ends at once.
  void Cancel();
  bool Cancelled() const { return cancelled_.load(); }
  // Raises ERunCancelled once the run is given up.
  void Check() const;
  // Waits milliseconds, or raises ERunCancelled as soon as the run is given up.
  void Wait(uint32_t milliseconds) const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable cv_;
  std::atomic<bool> cancelled_{false};
};

}  // namespace engine
