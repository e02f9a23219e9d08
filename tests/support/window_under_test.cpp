#include "support/window_under_test.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "engine/worker.h"
#include "platform/system.h"

namespace testsupport {

TWindowUnderTest::TWindowUnderTest(std::vector<std::string> args) {
  SetArguments(std::move(args));
  TControl::SetObserver(&backend);
  backend.Attach(form);
  form.FormCreate();
}

TWindowUnderTest::~TWindowUnderTest() {
  EndWorker();
  TControl::SetObserver(nullptr);
  TControl::SetGate(nullptr, {});
}

void TWindowUnderTest::EndWorker() {
  if (!form.Worker || !form.Worker->Started()) return;
  form.Gate.Resume();
  // A worker held for good, or one that runs on too long, is given up; the
  // window's thread serves what it still asks meanwhile.
  if (form.Gate.Paused()) form.Worker->Cancel();
  if (!backend.PumpUntil([&] { return form.Worker->Finished(); })) {
    form.Worker->Cancel();
    if (!backend.PumpUntil([&] { return form.Worker->Finished(); })) {
      // Blocked where nothing ends it: joined, it would hold the whole suite.
      const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
      std::fprintf(stderr, "%s: the worker did not end\n", info ? info->name() : "a test");
      std::abort();
    }
  }
  form.Worker->WaitFor();
}

}  // namespace testsupport
