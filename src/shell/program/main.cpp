// Program entry: one updater at a time, an update left in doubt recovered first,
// the shutdown privilege for the whole run, the window, its loop, the hand-over
// to an elevated instance, and the exit status.
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "base/log.h"
#include "base/text.h"
#include "engine/steps.h"
#include "platform/elevation.h"
#include "platform/locks.h"
#include "platform/log_file.h"
#include "platform/system.h"
#include "program_version.h"
#include "settings/build_defaults.h"
#include "settings/file_xml.h"
#include "settings/live_update.h"
#include "shell/backend.h"
#include "shell/form_main.h"

namespace {

// Every run appends to the log, in the temporary folder unless "/LOG=<file>"
// names another; a log that cannot be written loses its lines, never the run.
// Returns the log's path.
std::string StartLog() {
  std::string path = platform::DefaultLogFile();
  std::string line;
  for (const std::string& argument : platform::ProgramArguments()) {
    if (text::StartsText("/LOG=", argument) && argument.size() > 5) path = argument.substr(5);
    line += " " + argument;
  }
  platform::StartLogFile(path);
  logging::Log(std::string("ORBAX Live Update ") + LU_PROGRAM_VERSION + " started:" + line);
  return path;
}

int Ended(int status) {
  logging::Log("Exit status " + std::to_string(status));
  return status;
}

// Another updater runs: this one touches nothing. A hidden run (or a recovery)
// just ends; a visible one says so first.
int AnotherUpdateRuns() {
  if (!TLiveUpdate::HasSwitch("/HIDE") && !TLiveUpdate::HasSwitch(engine::kRecoverSwitch)) {
    std::unique_ptr<TBackend> backend = CreateDefaultBackend();
    TFMain form(*backend);
    backend->Attach(form);
    form.ShowAlreadyRunning();
  }
  logging::Log("Another updater runs: nothing done");
  return engine::kExitAnotherUpdateRuns;
}

// The texts of the program's own language, for a box before the window is made.
TFileXML StartupTexts() {
  TFileXML texts;
  texts.SetLanguage(text::UpperCase(defaults::DefaultLanguage()));
  texts.LoadTexts("KVI_XMLFile");
  return texts;
}

// A run that ends before its window, for a reason the user should read: its
// status and the log's last line first and the lock let go, then the box of a
// visible run (a hidden run shows nothing).
int EndedBeforeTheWindow(int status, std::unique_ptr<platform::TUpdaterLock>& lock, const std::string& wording,
                         const std::string& message) {
  Ended(status);
  lock.reset();
  if (!TLiveUpdate::HasSwitch("/HIDE") && !TLiveUpdate::HasSwitch(engine::kRecoverSwitch))
    ReportStartupFailure(StartupTexts().S_FormCaption, wording, message);
  return status;
}

// What comes before the window: the user an elevated instance acts for, the
// lock, and an update left in doubt made whole (all /RECOVER does). The status
// the run ends with here, logged; -1 to go on.
int BeforeTheWindow(std::unique_ptr<platform::TUpdaterLock>& lock) {
  // An elevated instance acts for the user whose instance started it: that
  // user's hive is HKEY_CURRENT_USER before anything reads or writes it.
  if (TLiveUpdate::HasSwitch(kElevatedSwitch)) {
    const std::string user = TLiveUpdate::GetSwitchValue(kElevatedSwitch);
    if (!platform::ActForUser(user)) {
      logging::Log("Cannot act for the user " + user + ": " + platform::SysErrorMessage(platform::LastError()));
      return Ended(engine::kExitFailed);
    }
    logging::Log("Elevated, for the user " + user);
  }
  if (!lock->Acquire()) {
    const uint32_t code = platform::LastError();
    if (platform::AlreadyExists(code)) return Ended(AnotherUpdateRuns());
    // Not another updater: the system's own reason, never "another update runs".
    logging::Log("The updater's lock cannot be taken: " + platform::SysErrorMessage(code));
    return EndedBeforeTheWindow(engine::kExitCannotWrite, lock, StartupTexts().S_UnknownError,
                                platform::SysErrorMessage(code));
  }
  const engine::TStepDefaults defaults = engine::TStepDefaults::FromBuild();
  engine::TRecovery recovery = engine::RecoverAtStart(defaults);
  if (TLiveUpdate::HasSwitch(engine::kRecoverSwitch) && recovery.IsWhole())
    recovery = engine::RecoverJournal(TLiveUpdate::GetSwitchValue(engine::kRecoverSwitch), defaults.Names);
  if (!recovery.IsWhole()) logging::Log("Recovery: " + recovery.Failures);
  if (TLiveUpdate::HasSwitch(engine::kRecoverSwitch)) return Ended(engine::RecoveryStatus(recovery));
  // Nothing is installed over an update in doubt; an uninstallation may go on,
  // and so may a run whose elevated instance could finish what this user's
  // rights could not (it recovers before anything else, too).
  const bool elevationMayFinish = recovery.Outcome == engine::TRecovery::Unfinished && platform::CanElevate() &&
                                  !TLiveUpdate::HasSwitch(kElevatedSwitch);
  if (!recovery.IsWhole() && !elevationMayFinish && !TLiveUpdate::HasSwitch("/uninstall")) {
    const TFileXML texts = StartupTexts();
    const bool busy = recovery.Outcome == engine::TRecovery::Busy;
    return EndedBeforeTheWindow(engine::RecoveryStatus(recovery), lock,
                                busy ? texts.S_AlreadyRunning : texts.S_UpdateInDoubt, recovery.Failures);
  }
  // The files an uninstallation left for the next start of Windows: where the
  // system is emulated, nothing else would ever delete them.
  engine::RunPendingDeletes();
  return -1;
}

// The window's run, a hand-over to an elevated instance when the window asks for
// one, and the run's end: its status logged and the lock let go before any
// notice is shown.
[[noreturn]] void WithTheWindow(std::unique_ptr<platform::TUpdaterLock>& lock, const std::string& logFile) {
  const bool hidden = TLiveUpdate::HasSwitch("/HIDE");
  uint32_t savedShutdownAttributes = 0;
  try {
    // Held from start to end so that a restart after an uninstallation is allowed.
    savedShutdownAttributes = platform::SetPrivilege("SeShutdownPrivilege", platform::SE_PRIVILEGE_ENABLED_ATTR);
  } catch (const Exception& e) {
    // No window yet, and a window program has no console to write to: the failure
    // gets a box of its own, titled and worded as the window would be.
    const TFileXML texts = StartupTexts();
    logging::Log("SeShutdownPrivilege: " + e.Message);
    const int status = Ended(1);
    lock.reset();
    ReportStartupFailure(texts.S_FormCaption, texts.S_UnknownError, e.Message, hidden ? kNoticeCloseMs : 0);
    std::_Exit(status);
  }
  std::unique_ptr<TBackend> backend = CreateDefaultBackend();
  TFMain form(*backend);
  TControl::SetObserver(backend.get());
  backend->Attach(form);
  form.FormCreate();
  backend->Run();
  if (form.HandOverRequested()) {
    // The elevated instance takes the lock; this one waits for it to end.
    lock.reset();
    uint32_t status = 0;
    const bool started = platform::RunElevated(form.ElevatedArguments(platform::CurrentUserSid(), logFile), status);
    form.HandedOver(started, started ? 0 : platform::LastError(), status);
  }
  form.FormDestroy();
  TControl::SetObserver(nullptr);
  try {
    platform::SetPrivilege("SeShutdownPrivilege", savedShutdownAttributes);
  } catch (const Exception& e) {
    // Too late to matter to the run, but a failure is never kept quiet.
    logging::Log("SeShutdownPrivilege: " + e.Message);
    if (!hidden) ReportStartupFailure(form.Caption(), "SeShutdownPrivilege", e.Message);
  }
  // The run has ended for whoever waits on it before anything more is shown: its
  // status in the log, the lock free for the next updater.
  const int status = Ended(form.ExitStatus());
  lock.reset();
  form.ShowNotice();
  std::fflush(stdout);
  std::fflush(stderr);
  // A worker still blocked (a stalled transfer, a paused thread) ends with the
  // process; no destructor may wait for it.
  std::_Exit(status);
}

}  // namespace

int main(int argc, char** argv) {
  if (platform::EmulatedMachine()) platform::SetProgramArguments(argc, argv);
  const std::string logFile = StartLog();
  // Held until the run has ended, or handed to an elevated instance.
  auto lock = std::make_unique<platform::TUpdaterLock>();
  const int ended = BeforeTheWindow(lock);
  if (ended >= 0) return ended;
  WithTheWindow(lock, logFile);
}
