#include "support/window_under_test.h"

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
  if (form.Worker && form.Worker->Started()) {
    form.Gate.Resume();
    backend.PumpUntil([&] { return form.Worker->Finished(); });
    form.Worker->WaitFor();
  }
}

}  // namespace testsupport
