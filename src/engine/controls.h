// The control model: the window's controls as plain objects that hold their state.
// The worker writes captions, bar positions and visibility from its own thread; a
// control stores the value and tells its observer (the user-interface back end),
// which shows it on the window's thread. Nothing here draws anything.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A gate the worker passes at safe points. The window closes it while it asks the
// user whether to abort, and closes it for good when a transfer stalls. A paused
// worker holds nothing the window's thread needs, because every safe point lies
// outside the worker's calls into the window.
class TPauseGate {
 public:
  // The run is given up: the gate opens for good, so that the worker reaches the
  // safe point where it sees it was cancelled.
  void Abandon();
  void Pause();
  void Resume();
  // Closed for good: Resume no longer opens it.
  void PauseForGood();
  // Opens even a gate closed for good: for tests that must not leave a worker
  // waiting behind them.
  void Reopen();
  // Blocks while the gate is closed. Called by the worker thread only.
  void Pass();
  bool Paused() const;
  // True while the worker waits at the gate (for tests).
  bool Waiting() const;

 private:
  bool Consistent() const;

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  bool paused_ = false;
  bool forGood_ = false;
  bool waiting_ = false;
  bool abandoned_ = false;
};

class TControl;

// The back end's view of control changes. Called from any thread.
class TControlObserver {
 public:
  virtual ~TControlObserver() = default;
  virtual void ControlChanged(TControl& control) = 0;
};

class TControl {
 public:
  explicit TControl(std::string name) : Name(std::move(name)) {}
  virtual ~TControl() = default;
  TControl(const TControl&) = delete;
  TControl& operator=(const TControl&) = delete;

  const std::string Name;

  bool Visible() const { return visible_.load(); }
  void SetVisible(bool visible);

  // Set by the form: where changes are announced, and the gate a writer on
  // another thread than the window's passes first.
  static void SetObserver(TControlObserver* observer);
  static void SetGate(TPauseGate* gate, std::thread::id windowThread);

 protected:
  // Passes the gate when called off the window's thread, so a paused worker stops
  // at its next control write.
  void BeforeWrite();
  void Changed();

 private:
  std::atomic<bool> visible_{true};
};

class TLabel : public TControl {
 public:
  using TControl::TControl;
  std::string Caption() const;
  void SetCaption(const std::string& caption);

 private:
  mutable std::mutex mutex_;
  std::string caption_;
};

class TButton : public TLabel {
 public:
  using TLabel::TLabel;
  std::function<void()> OnClick;
  bool Default = false;
  void Click() {
    if (OnClick) OnClick();
  }
};

class TEdit : public TControl {
 public:
  using TControl::TControl;
  std::string Text() const;
  void SetText(const std::string& text);

 private:
  mutable std::mutex mutex_;
  std::string text_;
};

class TCheckBox : public TLabel {
 public:
  using TLabel::TLabel;
  bool Checked() const { return checked_.load(); }
  void SetChecked(bool checked);

 private:
  std::atomic<bool> checked_{false};
};

// A bar keeps its position between 0 and its maximum: a larger position reads back
// as the maximum, and lowering the maximum below the position lowers the position.
class TProgressBar : public TControl {
 public:
  using TControl::TControl;
  int32_t Max() const;
  int32_t Position() const;
  void SetMax(int32_t max);
  void SetPosition(int32_t position);
  // Adds to the position (as "add 1 to the position" of a step).
  void StepBy(int32_t delta);

 private:
  mutable std::mutex mutex_;
  int32_t max_ = 100;
  int32_t position_ = 0;
};

class TPanel : public TControl {
 public:
  using TControl::TControl;
};

// A picture from the embedded resources, by resource name.
class TImage : public TControl {
 public:
  TImage(std::string name, std::string resource) : TControl(std::move(name)), Resource(std::move(resource)) {}
  const std::string Resource;
};

// A timer; the back end fires OnTimer on the window's thread every Interval ms
// while Enabled.
class TTimer {
 public:
  TTimer(std::string name, uint32_t interval) : Name(std::move(name)), Interval(interval) {}
  const std::string Name;
  const uint32_t Interval;
  std::function<void()> OnTimer;
  bool Enabled() const { return enabled_.load(); }
  void SetEnabled(bool enabled) { enabled_.store(enabled); }
  void Fire() {
    if (Enabled() && OnTimer) OnTimer();
  }

 private:
  std::atomic<bool> enabled_{true};
};

// Message-box types and answers, with the Win32 values.
enum TMsgType : uint32_t { mtInformation = 0x40, mtWarning = 0x30, mtError = 0x10, mtQuestion = 0x20 };
enum TMsgButtons : uint32_t { mbOK = 0, mbOKCancel = 1, mbRetryCancel = 5, mbYesNo = 4 };
enum TModalResult : int { mrNone = 0, mrOk = 1, mrCancel = 2, mrRetry = 4, mrYes = 6, mrNo = 7 };
