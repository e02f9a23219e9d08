// Runs a function when the scope ends, on every way out: for undoing what a
// function changed on an object it does not own (a client's limit, a timeout).
#pragma once

#include <utility>

namespace base {

template <typename F>
class TScopeExit {
 public:
  explicit TScopeExit(F fn) : fn_(std::move(fn)) {}
  ~TScopeExit() {
    if (armed_) fn_();
  }
  TScopeExit(const TScopeExit&) = delete;
  TScopeExit& operator=(const TScopeExit&) = delete;
  // The scope ends without running it.
  void Dismiss() { armed_ = false; }

 private:
  F fn_;
  bool armed_ = true;
};

}  // namespace base
