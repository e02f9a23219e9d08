#include "engine/worker.h"

#include "base/log.h"
#include "install/register.h"
#include "install/uninstall.h"
#include "platform/files.h"
#include "settings/file_xml.h"
#include "settings/live_update.h"

// The whole update, from the download to the start of the application. The
// worker runs the steps in order, stopping at the first that fails, and makes one
// report; the window runs the last part, FinishInstallation, when the user leaves
// a completed installation.
void TThreadLiveUpdate::Execute() {
  exitStatus_.store(1);
  engine::TControlProgress progress(*controls_.LabelPending, *controls_.PBOverall, *controls_.PBPending);
  progress_ = &progress;
  engine::TStepContext run{
      .Settings = settings_,
      .Defaults = defaults_,
      .Progress = progress,
      .Cancel = cancel_,
      // A failure's status is set before its report, which the user may answer
      // by ending the program at once.
      .Report =
          [this, &run](const std::string& text, TMsgType type) {
            if (type != mtInformation) exitStatus_.store(run.Failure);
            Report(text, type);
          },
      .AskRetry = [this](const std::vector<std::string>& files) { return AskRetry(files); },
      .Pass = [this] { Pass(); },
      .AskProxyCredentials =
          [this](const std::string& proxy, const std::string& realm, std::string& username, std::string& password) {
            return AskProxyCredentials(proxy, realm, username, password);
          },
  };
  engine::TRunTools tools;
  try {
    engine::Setup(run, tools);
    const bool done = settings_.UninstallMode ? Uninstall(progress) : Install(run, tools);
    if (done)
      Complete(run);
    else
      exitStatus_.store(run.Failure);
  } catch (const engine::ERunCancelled&) {
    // Given up by the user, who has been told: what the run changed is put back
    // below, and the window hears nothing more.
    logging::Log("Run cancelled by the user");
  } catch (const Exception& e) {
    // What failed is named (a folder that cannot be made current, with the
    // system's message), then what could not be put back.
    logging::Log("Run ended by an error: " + e.Message);
    const std::string unrestored = engine::RollBackUpdate(run);
    ReportUnknownError(unrestored.empty() ? e.Message : e.Message + "\r\n" + unrestored);
  } catch (...) {
    logging::Log("Run ended by an error: " + logging::HandledErrorText());
    const std::string unrestored = engine::RollBackUpdate(run);
    ReportUnknownError(unrestored);
  }
  // A run that stopped after the copy step began leaves the old version whole.
  engine::RollBackUpdate(run);
  engine::Cleanup(run, tools);
  progress_ = nullptr;
}

void TThreadLiveUpdate::Complete(const engine::TStepContext& run) {
  // Given up at the last moment, the run says nothing more; an update already
  // whole stays so.
  Pass();
  TFileXML& texts = run.Texts();
  if (settings_.UninstallMode) {
    controls_.CBRestart->SetVisible(true);
    controls_.FLabelTop->SetCaption(texts.S_UninstallComplete);
  } else {
    controls_.CBCreateDesktop->SetVisible(true);
    controls_.LabelTop->SetCaption(texts.S_LabelTopComplete);
  }
  packageVersion_ = run.PackageVersion;  // before the status the window reads it by
  exitStatus_.store(0);
  Report(settings_.UninstallMode ? texts.S_UninstallMessage : texts.S_Successfull, mtInformation);
}

bool TThreadLiveUpdate::Step(const char* name, const std::function<bool()>& step) {
  Pass();
  return engine::LoggedStep(name, step);
}

bool TThreadLiveUpdate::Install(engine::TStepContext& run, engine::TRunTools& tools) {
  return Step("download", [&] { return engine::Download(run, *tools.HTTP, tools.Package); }) &&
         Step("unpack", [&] { return engine::Unpack(run, *tools.UnZip, *tools.Package); }) &&
         Step("stop", [&] { return engine::StopApplication(run); }) &&
         Step("copy", [&] { return engine::CopyFiles(run); }) &&
         Step("configure", [&] { return engine::Configure(run); }) &&
         Step("delete temporary files", [&] { return engine::DeleteTempFiles(run); }) && Step("commit", [&] {
           engine::SaveSettings(run);  // its failure never fails the run
           // The update is whole, on the disk, and says so, before it is reported.
           return engine::CommitUpdate(run);
         });
}

bool TThreadLiveUpdate::Uninstall(install::TStepProgress& progress) {
  controls_.PBOverall->SetMax(2);
  if (!install::UninstallFiles(settings_, progress)) return false;
  Pass();
  return install::UninstallRegistries(settings_, progress);
}

void engine::FinishInstallation(const TLiveUpdate& settings, const std::string& packageVersion,
                                bool createDesktopShortcut, const TStepDefaults& defaults) {
  install::RegisterInstallation(settings, packageVersion, createDesktopShortcut, defaults.Names);
  StartApplication(settings, defaults);
}

TThreadLiveUpdate::TThreadLiveUpdate(TLiveUpdate& settings, engine::TStepDefaults defaults,
                                     engine::TWorkerControls controls, TWorkerHost& host, TPauseGate& gate)
    : settings_(settings), defaults_(std::move(defaults)), controls_(controls), host_(host), gate_(gate) {}

TThreadLiveUpdate::~TThreadLiveUpdate() {
  // The worker is never freed while it runs; at the process end a thread still
  // blocked (a stalled transfer, a batch command that never ends) is left behind.
  if (thread_.joinable()) {
    if (finished_.load())
      thread_.join();
    else
      thread_.detach();
  }
}

void TThreadLiveUpdate::Resume() {
  if (!started_.exchange(true)) {
    gate_.Resume();
    thread_ = std::thread([this] {
      Execute();
      finished_.store(true);
    });
    return;
  }
  gate_.Resume();
}

void TThreadLiveUpdate::Suspend() { gate_.Pause(); }

void TThreadLiveUpdate::SuspendForGood() { gate_.PauseForGood(); }

void TThreadLiveUpdate::WaitFor() {
  if (thread_.joinable()) thread_.join();
}

void TThreadLiveUpdate::Cancel() {
  // Set before the gate opens, so that a worker held there sees it at once.
  cancel_.Cancel();
  gate_.Abandon();
}

void TThreadLiveUpdate::Pass() {
  gate_.Pass();
  cancel_.Check();
}

void TThreadLiveUpdate::BeforeWindow() {
  if (progress_) progress_->Flush();
  Pass();
}

bool TThreadLiveUpdate::AskRetry(const std::vector<std::string>& files) {
  BeforeWindow();
  bool answer = false;
  host_.Synchronize([&] { answer = host_.AskRetry(*settings_.Texts, files); });
  return answer;
}

bool TThreadLiveUpdate::AskProxyCredentials(const std::string& proxy, const std::string& realm, std::string& username,
                                            std::string& password) {
  BeforeWindow();
  bool given = false;
  host_.Synchronize([&] { given = host_.AskProxyCredentials(*settings_.Texts, proxy, realm, username, password); });
  return given;
}

void TThreadLiveUpdate::Report(const std::string& text, TMsgType type) {
  BeforeWindow();
  logging::Log("Report: " + text);
  host_.Synchronize([&] { host_.ShowFinish(text, type); });
}

void TThreadLiveUpdate::ReportUnknownError(const std::string& unrestored) {
  try {
    Report(settings_.Texts->S_UnknownError + (unrestored.empty() ? "" : "\r\n" + unrestored), mtWarning);
  } catch (...) {
    // Nothing is left to tell the window with; the exit status still says how the
    // run ended.
    logging::Log("The report could not be shown: " + logging::HandledErrorText());
  }
}
