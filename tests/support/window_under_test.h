// The main window on a machine of its own, driven through the headless back end,
// for the tests of the window and of whole runs.
#pragma once

#include <string>
#include <vector>

#include "shell/form_main.h"
#include "support/headless_backend.h"
#include "support/test_support.h"

namespace testsupport {

class TWindowUnderTest {
 public:
  // Creates the window as the program would with these arguments.
  explicit TWindowUnderTest(std::vector<std::string> args);
  ~TWindowUnderTest();
  TWindowUnderTest(const TWindowUnderTest&) = delete;
  TWindowUnderTest& operator=(const TWindowUnderTest&) = delete;

  // Lets a started worker run to its end, so that nothing touches the window or a
  // test's folders after the test. A derived fixture with folders of its own
  // calls it before they go.
  void EndWorker();

  TTestMachine machine;
  THeadlessBackend backend;
  TFMain form{backend};
};

}  // namespace testsupport
