#include "engine/controls.h"

#include <algorithm>

#include "base/assert.h"
#include "engine/steps.h"

namespace {
std::atomic<TControlObserver*> gObserver{nullptr};
std::atomic<TPauseGate*> gGate{nullptr};
std::thread::id gWindowThread;
}  // namespace

// The gate is open, closed, or closed for good: closed, and opened again only by
// Reopen; or given up, and open. waiting_ holds only while the one worker blocks
// in Pass.
bool TPauseGate::Consistent() const { return (!forGood_ || paused_) && (!abandoned_ || !paused_); }

void TPauseGate::Abandon() {
  {
    std::lock_guard lock(mutex_);
    abandoned_ = true;
    paused_ = false;
    forGood_ = false;
    LU_ASSERT(Consistent());
  }
  cv_.notify_all();
}

void TPauseGate::Pause() {
  std::lock_guard lock(mutex_);
  if (abandoned_) return;
  paused_ = true;
  LU_ASSERT(Consistent());
}

void TPauseGate::Resume() {
  {
    std::lock_guard lock(mutex_);
    if (!forGood_) paused_ = false;
    LU_ASSERT(Consistent());
  }
  cv_.notify_all();
}

void TPauseGate::PauseForGood() {
  std::lock_guard lock(mutex_);
  if (abandoned_) return;
  paused_ = true;
  forGood_ = true;
  LU_ASSERT(Consistent());
}

void TPauseGate::Reopen() {
  {
    std::lock_guard lock(mutex_);
    paused_ = false;
    forGood_ = false;
    LU_ASSERT(Consistent());
  }
  cv_.notify_all();
}

void TPauseGate::Pass() {
  std::unique_lock lock(mutex_);
  LU_ASSERT(!waiting_);  // one worker, and never from inside its own wait
  if (paused_) {
    waiting_ = true;
    cv_.wait(lock, [this] { return !paused_; });
    LU_ASSERT(waiting_ && !forGood_);
    waiting_ = false;
  }
}

bool TPauseGate::Paused() const {
  std::lock_guard lock(mutex_);
  return paused_;
}

bool TPauseGate::Waiting() const {
  std::lock_guard lock(mutex_);
  return waiting_;
}

void TControl::SetObserver(TControlObserver* observer) { gObserver.store(observer); }

void TControl::SetGate(TPauseGate* gate, std::thread::id windowThread) {
  gWindowThread = windowThread;
  gGate.store(gate);
}

void TControl::BeforeWrite() {
  TPauseGate* gate = gGate.load();
  if (gate && std::this_thread::get_id() != gWindowThread) gate->Pass();
}

void TControl::Changed() {
  if (TControlObserver* o = gObserver.load()) o->ControlChanged(*this);
}

void TControl::SetVisible(bool visible) {
  BeforeWrite();
  visible_.store(visible);
  Changed();
}

std::string TLabel::Caption() const {
  std::lock_guard lock(mutex_);
  return caption_;
}

void TLabel::SetCaption(const std::string& caption) {
  BeforeWrite();
  {
    std::lock_guard lock(mutex_);
    caption_ = caption;
  }
  Changed();
}

std::string TEdit::Text() const {
  std::lock_guard lock(mutex_);
  return text_;
}

void TEdit::SetText(const std::string& text) {
  BeforeWrite();
  {
    std::lock_guard lock(mutex_);
    text_ = text;
  }
  Changed();
}

void TCheckBox::SetChecked(bool checked) {
  BeforeWrite();
  checked_.store(checked);
  Changed();
}

int32_t TProgressBar::Max() const {
  std::lock_guard lock(mutex_);
  return max_;
}

int32_t TProgressBar::Position() const {
  std::lock_guard lock(mutex_);
  return position_;
}

void TProgressBar::SetMax(int32_t max) {
  BeforeWrite();
  {
    std::lock_guard lock(mutex_);
    max_ = std::max<int32_t>(max, 0);
    position_ = std::min(position_, max_);
  }
  Changed();
}

void TProgressBar::SetPosition(int32_t position) {
  BeforeWrite();
  {
    std::lock_guard lock(mutex_);
    position_ = std::clamp<int32_t>(position, 0, max_);
  }
  Changed();
}

void TProgressBar::StepBy(int32_t delta) {
  BeforeWrite();
  {
    std::lock_guard lock(mutex_);
    int64_t p = static_cast<int64_t>(position_) + delta;
    position_ = static_cast<int32_t>(std::clamp<int64_t>(p, 0, max_));
  }
  Changed();
}

namespace engine {

TControlProgress::TControlProgress(TLabel& caption, TProgressBar& overall, TProgressBar& step)
    : caption_(caption),
      overall_(overall),
      step_(step),
      max_(step.Max()),
      position_(step.Position()),
      shown_(position_),
      next_(std::chrono::steady_clock::now()) {}

void TControlProgress::SetCaption(const std::string& caption) {
  Flush();
  caption_.SetCaption(caption);
}

void TControlProgress::StepOverall() {
  Flush();
  overall_.StepBy(1);
}

void TControlProgress::SetMax(int32_t max) {
  Flush();
  max_ = std::max<int32_t>(max, 0);
  position_ = std::min(position_, max_);
  shown_ = position_;
  step_.SetMax(max_);
}

void TControlProgress::SetPosition(int32_t position) {
  position_ = std::clamp<int32_t>(position, 0, max_);
  Show();
}

void TControlProgress::Step() {
  if (position_ < max_) ++position_;
  Show();
}

void TControlProgress::Flush() {
  if (position_ == shown_) return;
  step_.SetPosition(position_);
  shown_ = position_;
  next_ = std::chrono::steady_clock::now() + kShowInterval;
}

// A control write wakes the window's thread: per file that would cost more than
// the file.
void TControlProgress::Show() {
  if (position_ == shown_ || std::chrono::steady_clock::now() < next_) return;
  Flush();
}

}  // namespace engine
