// A step's progress as a test reads it: every call recorded in order ("caption
// <text>", "overall+1", "max <n>", "pos <n>", "step"), the step bar's state kept
// by a bar of the control model.
#pragma once

#include <string>
#include <vector>

#include "engine/controls.h"
#include "install/step_progress.h"

namespace testsupport {

class TRecordingProgress : public install::TStepProgress {
 public:
  void SetCaption(const std::string& caption) override {
    Calls.push_back("caption " + caption);
    Caption = caption;
  }
  void StepOverall() override {
    Calls.push_back("overall+1");
    ++Overall;
  }
  void SetMax(int32_t max) override {
    Calls.push_back("max " + std::to_string(max));
    bar_.SetMax(max);
  }
  void SetPosition(int32_t position) override {
    Calls.push_back("pos " + std::to_string(position));
    bar_.SetPosition(position);
  }
  void Step() override {
    Calls.push_back("step");
    bar_.StepBy(1);
  }
  int32_t Max() const override { return bar_.Max(); }
  int32_t Position() const override { return bar_.Position(); }

  std::vector<std::string> Calls;
  std::string Caption;
  int Overall = 0;

 private:
  TProgressBar bar_{"PBPending"};
};

}  // namespace testsupport
