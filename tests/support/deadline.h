// Deadlines of the tests' own, for tests that wait.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace testsupport {

// A test's own deadline, below the test runner's: a wait that what the test
// guards should have ended aborts the test binary with the test's name, instead
// of holding the whole run until the runner gives up.
class TDeadline {
 public:
  explicit TDeadline(int64_t ms) {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    name_ = info ? std::string(info->test_suite_name()) + "." + info->name() : "a test";
    watch_ = std::thread([this, ms] {
      std::unique_lock<std::mutex> lock(lock_);
      if (!wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return done_; })) {
        std::fprintf(stderr, "%s ran past its deadline of %lld ms\n", name_.c_str(), static_cast<long long>(ms));
        std::abort();
      }
    });
  }
  ~TDeadline() {
    {
      std::lock_guard<std::mutex> guard(lock_);
      done_ = true;
    }
    wake_.notify_all();
    watch_.join();
  }
  TDeadline(const TDeadline&) = delete;
  TDeadline& operator=(const TDeadline&) = delete;

 private:
  std::string name_;
  std::mutex lock_;
  std::condition_variable wake_;
  bool done_ = false;
  std::thread watch_;
};

}  // namespace testsupport
