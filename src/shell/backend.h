// What the window needs from a user-interface back end: the real Win32 window, the
// Linux port's console, or the headless one of the tests. The back end renders the
// control model, runs the message loop on the window's thread and asks the
// questions.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/controls.h"

// <windows.h> names a macro after the method below; in a file that includes it
// first the method would be renamed in this file and not in the others.
#undef MessageBox

class TFMain;
class TFRetry;
class TFProxyLogin;

// Calls queued to the window's thread by other threads, each waited for.
class TSyncQueue {
 public:
  // From any thread but the window's: queues fn and waits until it has run. An
  // exception fn raises is raised again here, on the caller's thread.
  void Call(const std::function<void()>& fn);
  // On the window's thread: runs everything queued. Returns whether anything ran.
  bool Drain();
  // Set by the back end: wakes its loop when a call arrives.
  std::function<void()> OnQueued;

 private:
  struct Item {
    std::function<void()> fn;
    bool done = false;
    std::exception_ptr error;
  };
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<Item*> items_;
};

class TBackend : public TControlObserver {
 public:
  ~TBackend() override = default;

  // Builds the window for the form (hidden). Called once, before FormCreate.
  virtual void Attach(TFMain& form) = 0;
  // Makes the window visible (or hides it).
  virtual void SetWindowVisible(bool visible) = 0;
  virtual void SetWindowCaption(const std::string& caption) = 0;
  // Runs the loop until Quit; fires the form's timers and drains the sync queue.
  virtual void Run() = 0;
  // Ends the loop after the current message.
  virtual void Quit() = 0;
  // A message box; returns the modal result.
  virtual TModalResult MessageBox(const std::string& text, TMsgType type, TMsgButtons buttons) = 0;
  // A warning that nobody may be there to answer (a hidden run's): a box with OK
  // that closes by itself after closeAfterMs. Where boxes never wait, a box.
  virtual void Notice(const std::string& text, uint32_t closeAfterMs) { MessageBox(text, mtWarning, mbOK); }
  // The folder browser; "" when cancelled.
  virtual std::string BrowseForFolder(const std::string& title) = 0;
  // Shows the retry dialog modally; returns its modal result (1 Retry, 2 Cancel).
  virtual int ShowRetryModal(TFRetry& dialog) = 0;
  // Shows the proxy's question modally; returns 1 for OK (the fields filled), 2
  // for Cancel.
  virtual int ShowProxyLoginModal(TFProxyLogin& dialog) = 0;

  TSyncQueue Sync;
};

// The target's own back end: the Win32 window, or the Linux port's console.
std::unique_ptr<TBackend> CreateDefaultBackend();

// A failure while there is no window (before it is made, or after it is gone),
// told where the user of the target sees it: on Windows a message box with the
// title, the wording, a blank line and the error's message, closing by itself
// after closeAfterMs unless that is 0; on the Linux port the error's message on
// standard error.
void ReportStartupFailure(const std::string& title, const std::string& wording, const std::string& message,
                          uint32_t closeAfterMs = 0);
