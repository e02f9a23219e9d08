// A back end without a screen, for tests: questions are answered from scripted
// queues, every box and dialog is recorded, and the test pumps the window's thread
// itself.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "shell/backend.h"

class THeadlessBackend : public TBackend {
 public:
  struct Box {
    std::string Text;
    TMsgType Type;
    TMsgButtons Buttons;
  };
  struct RetryDialog {
    std::string Caption, Message, RetryCaption, CancelCaption;
    std::vector<std::string> Lines;
  };

  THeadlessBackend();

  void Attach(TFMain& form) override { form_ = &form; }
  void SetWindowVisible(bool visible) override { Visible = visible; }
  void SetWindowCaption(const std::string& caption) override { Caption = caption; }
  void Run() override;
  void Quit() override { QuitRequested = true; }
  TModalResult MessageBox(const std::string& text, TMsgType type, TMsgButtons buttons) override;
  // Recorded among the boxes, with how long it would stay in Notices.
  void Notice(const std::string& text, uint32_t closeAfterMs) override {
    Boxes.push_back({text, mtWarning, mbOK});
    Notices.push_back(closeAfterMs);
  }
  std::string BrowseForFolder(const std::string& title) override;
  int ShowRetryModal(TFRetry& dialog) override;
  int ShowProxyLoginModal(TFProxyLogin& dialog) override;
  void ControlChanged(TControl&) override { ++Changes; }

  // Runs what the worker queued for the window's thread. Returns whether anything ran.
  bool ProcessMessages() { return Sync.Drain(); }
  // Pumps until pred holds or timeoutMs passes; returns pred's last value. Fires
  // the monitor timer every 50 ms like the real loop when fireMonitor is set.
  bool PumpUntil(const std::function<bool()>& pred, int timeoutMs = 20000, bool fireMonitor = false);

  // Scripted answers; an empty queue answers No / Cancel / "" and records it.
  std::deque<TModalResult> BoxAnswers;
  std::deque<int> RetryAnswers;
  std::deque<std::string> FolderAnswers;
  // The proxy question's answers as {user name, password}; none answers Cancel.
  std::deque<std::pair<std::string, std::string>> ProxyAnswers;
  std::vector<std::string> ProxyMessages;  // the message of each one asked
  // Called while a box is open, on the window's thread (to look at the worker).
  std::function<void(const Box&)> WhileBoxOpen;
  // Called while the retry dialog is open, before its scripted answer.
  std::function<void(const RetryDialog&)> WhileRetryOpen;

  std::vector<Box> Boxes;
  std::vector<uint32_t> Notices;
  std::vector<RetryDialog> RetryDialogs;
  std::vector<std::string> BrowseTitles;
  bool Visible = false;
  std::string Caption;
  bool QuitRequested = false;
  std::atomic<int> Changes{0};

 private:
  TFMain* form_ = nullptr;
};
