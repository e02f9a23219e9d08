// How a step of a run shows how far it is: the name of the step under way, the
// overall bar that advances once as each step begins, and the step's own bar. The
// window's controls are one such display (engine/steps.h), a test's record another;
// the install and uninstall steps alike write to it and know nothing of windows.
#pragma once

#include <cstdint>
#include <string>

namespace install {

class TStepProgress {
 public:
  virtual ~TStepProgress() = default;

  // The step under way, by name.
  virtual void SetCaption(const std::string& caption) = 0;
  // The overall bar, one step further.
  virtual void StepOverall() = 0;

  // The step's bar keeps its position between 0 and its maximum: a larger position
  // reads back as the maximum, and a maximum set below the position lowers it.
  virtual void SetMax(int32_t max) = 0;
  virtual void SetPosition(int32_t position) = 0;
  // One further.
  virtual void Step() = 0;
  virtual int32_t Max() const = 0;
  virtual int32_t Position() const = 0;
};

}  // namespace install
