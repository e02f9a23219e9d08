// The Linux port's front end: the visible view as text on the terminal, the two
// bars redrawn in place, questions read from standard input. With "/HIDE" nothing
// is drawn and nothing is asked, but the boxes of a hidden run are still printed so
// that a script sees why a run failed.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>

#include <termios.h>
#include <unistd.h>

#include "base/codepage.h"
#include "base/text.h"
#include "platform/console.h"
#include "platform/files.h"
#include "shell/backend.h"
#include "shell/form_main.h"
#include "shell/retry_form.h"

namespace {

std::atomic<bool> gInterrupted{false};

void OnInterrupt() { gInterrupted.store(true); }

std::string Bar(int32_t position, int32_t max, int width) {
  int filled = max > 0 ? static_cast<int>(static_cast<int64_t>(position) * width / max) : 0;
  return "[" + std::string(static_cast<size_t>(filled), '#') + std::string(static_cast<size_t>(width - filled), '-') +
         "]";
}

// The program's texts are code page 1252; a terminal today speaks UTF-8.
std::string ToUtf8(const std::string& s) { return codepage::Cp1252ToUtf8(s); }

// What the user typed, in the program's code page: UTF-8 when it reads as such
// (and fits the code page), else as typed, from a terminal that speaks 1252 itself.
std::string FromTerminal(const std::string& typed) {
  std::string ansi;
  return codepage::Utf8ToCp1252(typed, ansi) ? ansi : typed;
}

class TConsoleBackend : public TBackend {
 public:
  void Attach(TFMain& form) override {
    form_ = &form;
    Sync.OnQueued = [this] { Wake(); };
    platform::SetInterruptHandler(OnInterrupt);
    terminal_ = platform::StdoutIsTerminal();
    person_ = platform::StdinIsTerminal();
  }
  void SetWindowVisible(bool visible) override {
    visible_ = visible;
    Wake();
  }
  void SetWindowCaption(const std::string& caption) override { caption_ = caption; }
  void Quit() override {
    quit_ = true;
    Wake();
  }
  void ControlChanged(TControl&) override {
    dirty_.store(true);
    Wake();
  }

  void Run() override {
    using clock = std::chrono::steady_clock;
    auto nextMonitor = clock::now();
    while (!quit_) {
      Sync.Drain();
      if (gInterrupted.exchange(false)) {
        EndBarLines();
        form_->Close();
        continue;
      }
      if (visible_) Render();
      if (quit_) break;
      auto now = clock::now();
      if (now >= nextMonitor) {
        form_->TimerMonitorThread.Fire();
        nextMonitor = now + std::chrono::milliseconds(form_->TimerMonitorThread.Interval);
      }
      if (visible_ && AskForView()) continue;
      std::unique_lock lock(mutex_);
      cv_.wait_for(lock, std::chrono::milliseconds(50), [this] { return woken_; });
      woken_ = false;
    }
    EndBarLines();
  }

  TModalResult MessageBox(const std::string& text, TMsgType type, TMsgButtons buttons) override {
    EndBarLines();
    FILE* out = (type == mtWarning || type == mtError) ? stderr : stdout;
    std::fprintf(out, "%s\n", ToUtf8(text).c_str());
    std::fflush(out);
    if (buttons == mbYesNo) {
      std::string answer;
      // Nobody can answer once the input has ended: the question (whether to
      // abort) is answered Yes, or the run would wait for good.
      if (!Ask("[y/n] ", answer)) return inputEnded_ ? mrYes : mrNo;
      return text::StartsText("y", text::Trim(answer)) || text::StartsText("o", text::Trim(answer)) ||
                     text::StartsText("s", text::Trim(answer))
                 ? mrYes
                 : mrNo;
    }
    // A plain box waits for Enter only when a person is there to read it.
    if (person_ && visible_) {
      std::string ignored;
      Ask("[Enter] ", ignored);
    }
    return mrOk;
  }

  std::string BrowseForFolder(const std::string& title) override {
    std::string answer;
    if (!Ask(ToUtf8(title) + ": ", answer)) return "";
    return ToWindowsPath(text::Trim(answer));
  }

  int ShowRetryModal(TFRetry& dialog) override {
    EndBarLines();
    std::fprintf(stderr, "%s\n%s\n", ToUtf8(dialog.Caption).c_str(), ToUtf8(dialog.LRetryMessage.Caption()).c_str());
    for (const std::string& line : dialog.LBRetry) std::fprintf(stderr, "  %s\n", ToUtf8(line).c_str());
    std::fflush(stderr);
    // The one question a hidden run still asks; nobody at the terminal means Cancel.
    if (!person_ && !visible_) return 2;
    std::string answer;
    std::string prompt = ToUtf8(dialog.BRetry.Caption()) + " / " + ToUtf8(dialog.BCancel.Caption()) + " [r/c] ";
    if (!Ask(prompt, answer)) return 2;
    return text::StartsText("r", text::Trim(answer)) ? 1 : 2;
  }

  int ShowProxyLoginModal(TFProxyLogin& dialog) override {
    EndBarLines();
    std::fprintf(stderr, "%s\n%s\n", ToUtf8(dialog.Caption).c_str(), ToUtf8(dialog.LMessage.Caption()).c_str());
    std::fflush(stderr);
    if (!person_ && !visible_) return 2;
    std::string user, password;
    if (!Ask(ToUtf8(dialog.LUser.Caption()) + ": ", user)) return 2;
    // The password is not shown as it is typed.
    termios saved{};
    const bool quiet = person_ && tcgetattr(STDIN_FILENO, &saved) == 0;
    if (quiet) {
      termios silent = saved;
      silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
      tcsetattr(STDIN_FILENO, TCSANOW, &silent);
    }
    const bool given = Ask(ToUtf8(dialog.LPassword.Caption()) + ": ", password);
    if (quiet) {
      tcsetattr(STDIN_FILENO, TCSANOW, &saved);
      std::fputs("\n", stdout);
    }
    if (!given) return 2;
    dialog.EUser.SetText(FromTerminal(text::Trim(user)));
    dialog.EPassword.SetText(FromTerminal(password));
    password.assign(password.size(), '\0');
    return 1;
  }

 private:
  void Wake() {
    {
      std::lock_guard lock(mutex_);
      woken_ = true;
    }
    cv_.notify_all();
  }

  // A host path typed on Linux ("/home/...") stands for its Windows form; the
  // platform reads the host's bytes itself.
  static std::string ToWindowsPath(const std::string& path) {
    if (!path.empty() && path[0] == '/') return platform::FromHostPath(path);
    return FromTerminal(path);
  }

  bool Ask(const std::string& prompt, std::string& answer) {
    std::fputs(prompt.c_str(), stdout);
    std::fflush(stdout);
    bool interrupted = false;
    bool ok = platform::ReadConsoleLine(answer, interrupted);
    if (!ok && !interrupted) inputEnded_ = true;
    if (!ok) std::fputs("\n", stdout);
    return ok;
  }

  // Questions of the views that wait for the user: the folder, the uninstall
  // confirmation, the finish view's check boxes and OK. Returns whether it acted.
  bool AskForView() {
    if (form_->PanelSelectFolder.Visible() && !form_->Worker->Started()) {
      std::string answer;
      bool interrupted = false;
      std::printf("%s [%s]\n", ToUtf8(form_->SFLabelFolder.Caption()).c_str(), ToUtf8(form_->EFolder.Text()).c_str());
      std::printf("%s: ", ToUtf8(form_->BInstall.Caption()).c_str());
      std::fflush(stdout);
      if (!platform::ReadConsoleLine(answer, interrupted)) {
        // Ctrl+C, or the end of input without an answer, is a close request.
        if (!interrupted) inputEnded_ = true;
        std::puts("");
        form_->Close();
        return true;
      }
      answer = text::Trim(answer);
      if (!answer.empty()) form_->EFolder.SetText(ToWindowsPath(answer));
      form_->BInstallClick();
      return true;
    }
    if (form_->PanelUninstall.Visible() && !form_->Worker->Started()) {
      std::string answer;
      std::printf("%s / %s [u/c]: ", ToUtf8(form_->BUninstall.Caption()).c_str(),
                  ToUtf8(form_->BCancel.Caption()).c_str());
      std::fflush(stdout);
      if (Ask("", answer) && text::StartsText("u", text::Trim(answer)))
        form_->BUninstallClick();
      else
        form_->BCancelClick();
      return true;
    }
    if (form_->PanelFinish.Visible() && !finishAsked_) {
      finishAsked_ = true;
      for (TCheckBox* box : {&form_->CBCreateDesktop, &form_->CBRestart}) {
        if (!box->Visible()) continue;
        std::string answer;
        std::string prompt = ToUtf8(box->Caption()) + (box->Checked() ? " [Y/n] " : " [y/N] ");
        if (Ask(prompt, answer) && !text::Trim(answer).empty())
          box->SetChecked(text::StartsText("y", text::Trim(answer)) || text::StartsText("o", text::Trim(answer)) ||
                          text::StartsText("s", text::Trim(answer)));
      }
      if (person_) {
        std::string ignored;
        Ask(ToUtf8(form_->FBOk.Caption()) + " [Enter] ", ignored);
      }
      form_->FBOkClick();
      return true;
    }
    return false;
  }

  void Render() {
    TPanel* view = form_->PanelSelectFolder.Visible() ? static_cast<TPanel*>(&form_->PanelSelectFolder)
                   : form_->PanelSetup.Visible()      ? &form_->PanelSetup
                   : form_->PanelFinish.Visible()     ? &form_->PanelFinish
                   : form_->PanelUninstall.Visible()  ? &form_->PanelUninstall
                                                      : nullptr;
    if (view != shownView_) {
      EndBarLines();
      shownView_ = view;
      if (view == &form_->PanelSelectFolder) {
        std::printf("%s\n%s\n", ToUtf8(caption_).c_str(), ToUtf8(form_->SFLabelTop.Caption()).c_str());
      } else if (view == &form_->PanelSetup) {
        std::printf("%s\n", ToUtf8(form_->LabelTop.Caption()).c_str());
      } else if (view == &form_->PanelFinish) {
        std::printf("%s\n%s\n", ToUtf8(form_->FLabelTop.Caption()).c_str(),
                    ToUtf8(form_->FLabelMessage.Caption()).c_str());
      } else if (view == &form_->PanelUninstall) {
        std::printf("%s\n%s\n%s\n", ToUtf8(caption_).c_str(), ToUtf8(form_->UninstallLabelTop.Caption()).c_str(),
                    ToUtf8(form_->LabelUninstall.Caption()).c_str());
      }
      std::fflush(stdout);
      dirty_.store(true);
    }
    if (view == &form_->PanelSetup && dirty_.exchange(false)) DrawBars();
  }

  void DrawBars() {
    const std::string step = ToUtf8(form_->LabelPending.Caption());
    const std::string overall = ToUtf8(form_->LabelOverall.Caption());
    const int32_t op = form_->PBOverall.Position(), om = form_->PBOverall.Max();
    const int32_t pp = form_->PBPending.Position(), pm = form_->PBPending.Max();
    if (terminal_) {
      // Redrawn in place: two lines, the cursor kept below them.
      if (barLines_) std::fputs("\x1b[2A", stdout);
      std::printf("\r\x1b[K%-28s %s %d/%d\n", overall.c_str(), Bar(op, om, 30).c_str(), op, om);
      int percent = pm > 0 ? static_cast<int>(static_cast<int64_t>(pp) * 100 / pm) : 0;
      std::printf("\r\x1b[K%-28s %s %3d%%\n", step.c_str(), Bar(pp, pm, 30).c_str(), percent);
      barLines_ = true;
    } else if (step != lastStep_) {
      // Without a terminal, one line per step.
      std::printf("%s\n", step.c_str());
    }
    lastStep_ = step;
    std::fflush(stdout);
  }

  void EndBarLines() { barLines_ = false; }

  TFMain* form_ = nullptr;
  bool visible_ = false;
  bool quit_ = false;
  bool terminal_ = false;
  bool person_ = false;
  bool finishAsked_ = false;
  bool inputEnded_ = false;
  bool barLines_ = false;
  std::string caption_;
  std::string lastStep_;
  TPanel* shownView_ = nullptr;
  std::atomic<bool> dirty_{false};
  std::mutex mutex_;
  std::condition_variable cv_;
  bool woken_ = false;
};

}  // namespace

std::unique_ptr<TBackend> CreateDefaultBackend() { return std::make_unique<TConsoleBackend>(); }

void ReportStartupFailure(const std::string&, const std::string&, const std::string& message, uint32_t) {
  std::fprintf(stderr, "%s\n", message.c_str());
}
