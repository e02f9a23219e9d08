#include "support/headless_backend.h"

#include <chrono>
#include <thread>

#include "shell/form_main.h"
#include "shell/retry_form.h"

THeadlessBackend::THeadlessBackend() = default;

void THeadlessBackend::Run() {
  while (!QuitRequested) {
    if (!ProcessMessages()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (form_) form_->TimerMonitorThread.Fire();
  }
}

bool THeadlessBackend::PumpUntil(const std::function<bool()>& pred, int timeoutMs, bool fireMonitor) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  auto nextTick = std::chrono::steady_clock::now();
  while (!pred()) {
    if (std::chrono::steady_clock::now() > deadline) return pred();
    if (!ProcessMessages()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (fireMonitor && form_ && std::chrono::steady_clock::now() >= nextTick) {
      form_->TimerMonitorThread.Fire();
      nextTick += std::chrono::milliseconds(50);
    }
  }
  return true;
}

TModalResult THeadlessBackend::MessageBox(const std::string& text, TMsgType type, TMsgButtons buttons) {
  Box box{text, type, buttons};
  Boxes.push_back(box);
  if (WhileBoxOpen) WhileBoxOpen(box);
  if (buttons == mbOK) return mrOk;
  if (BoxAnswers.empty()) return buttons == mbYesNo ? mrNo : mrCancel;
  TModalResult r = BoxAnswers.front();
  BoxAnswers.pop_front();
  return r;
}

std::string THeadlessBackend::BrowseForFolder(const std::string& title) {
  BrowseTitles.push_back(title);
  if (FolderAnswers.empty()) return "";
  std::string f = FolderAnswers.front();
  FolderAnswers.pop_front();
  return f;
}

int THeadlessBackend::ShowProxyLoginModal(TFProxyLogin& dialog) {
  ProxyMessages.push_back(dialog.LMessage.Caption());
  if (ProxyAnswers.empty()) return 2;
  dialog.EUser.SetText(ProxyAnswers.front().first);
  dialog.EPassword.SetText(ProxyAnswers.front().second);
  ProxyAnswers.pop_front();
  return 1;
}

int THeadlessBackend::ShowRetryModal(TFRetry& dialog) {
  RetryDialogs.push_back({dialog.Caption, dialog.LRetryMessage.Caption(), dialog.BRetry.Caption(),
                          dialog.BCancel.Caption(), dialog.LBRetry});
  if (WhileRetryOpen) WhileRetryOpen(RetryDialogs.back());
  if (RetryAnswers.empty()) return 2;
  int r = RetryAnswers.front();
  RetryAnswers.pop_front();
  return r;
}
