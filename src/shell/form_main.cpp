#include "shell/form_main.h"

#include "base/log.h"
#include "base/text.h"
#include "install/register.h"
#include "platform/elevation.h"
#include "platform/files.h"
#include "platform/system.h"
#include "settings/build_defaults.h"
#include "settings/file_xml.h"
#include "settings/live_update.h"
#include "shell/retry_form.h"

std::string StripTrailingBackslashes(std::string folder) { return text::WithoutTrailingSeparators(folder); }

namespace {

// How long an aborted run is given to undo and clear up before the program ends.
constexpr uint32_t kAbandonedRunWaitMs = 30000;

// The texts the window speaks: the section "/language" names (else the build's),
// of the uninstallation's document in uninstall mode.
void LoadWindowTexts(TFileXML& texts, bool uninstallMode) {
  std::string language = defaults::DefaultLanguage();
  if (!TLiveUpdate::GetSwitchValue("/language").empty()) language = TLiveUpdate::GetSwitchValue("/language");
  texts.SetLanguage(text::UpperCase(language));
  texts.LoadTexts(uninstallMode ? "LU_XMLFILE" : "KVI_XMLFile");
}

}  // namespace

TFMain::TFMain(TBackend& backend)
    : FolderNeedsElevation(
          [](const std::string& folder) { return platform::CanElevate() && platform::FolderRefused(folder); }),
      backend_(backend) {}

TFMain::~TFMain() = default;

std::vector<TControl*> TFMain::AllControls() {
  return {&PanelSelectFolder, &SFLabelTop,     &SFLabelFolder, &EFolder,       &BChangeFolder,
          &BInstall,          &SFImageDRV,     &SFImageLV,     &PanelSetup,    &LabelTop,
          &LabelOverall,      &PBOverall,      &LabelPending,  &PBPending,     &DRVImageTopRight,
          &LVImageTopRight,   &PanelFinish,    &FLabelTop,     &FLabelMessage, &CBCreateDesktop,
          &CBRestart,         &FBOk,           &FDRVImageLeft, &FLVImageLeft,  &PanelUninstall,
          &UninstallLabelTop, &LabelUninstall, &BUninstall,    &BCancel,       &PUDRVImage,
          &PULVImage};
}

void TFMain::ShowView(TPanel& view) {
  for (TPanel* p : {&PanelSelectFolder, &PanelSetup, &PanelFinish, &PanelUninstall})
    if (p != &view) p->SetVisible(false);
  view.SetVisible(true);
}

// The controls' events and their state before any setting is read.
void TFMain::WireControls() {
  TControl::SetGate(&Gate, std::this_thread::get_id());
  BChangeFolder.OnClick = [this] { BChangeFolderClick(); };
  BInstall.OnClick = [this] { BInstallClick(); };
  BInstall.Default = true;
  BUninstall.OnClick = [this] { BUninstallClick(); };
  BCancel.OnClick = [this] { BCancelClick(); };
  BCancel.Default = true;
  FBOk.OnClick = [this] { FBOkClick(); };
  FBOk.Default = true;
  FBOk.SetCaption("OK");
  TimerMonitorThread.OnTimer = [this] { TimerMonitorThreadTimer(); };
  PBOverall.SetMax(5);
  CBCreateDesktop.SetChecked(true);
  CBCreateDesktop.SetVisible(false);
  CBRestart.SetChecked(false);
  CBRestart.SetVisible(false);
  PanelFinish.SetVisible(false);
  PanelUninstall.SetVisible(false);
}

// The settings from the build and the command line, and their text table.
void TFMain::LoadSettings() {
  ClosingAllowed = false;
  Settings = std::make_unique<TLiveUpdate>();
  Texts = std::make_unique<TFileXML>();
  Settings->Texts = Texts.get();

  // The default folder lies on the drive that holds Windows.
  const std::string windowsDir = platform::WindowsDir();
  Settings->InstallFolder = text::Copy(windowsDir, 1, 1) + ":\\" + defaults::DefaultInstallPath();

  // The folder view, with that folder.
  ShowView(PanelSelectFolder);
  EFolder.SetText(Settings->InstallFolder);

  // The registered uninstall command names the keys to remove after
  // "/uninstall"; that argument selects the uninstall mode.
  Settings->SetRegistryKeys(defaults::ProductRegistryKey());
  Settings->DownloadURL = defaults::DefaultDownloadURL();
  if (Settings->HasSwitch("/uninstall")) {
    Settings->UninstallMode = true;
    Settings->SetRegistryKeys(Settings->GetSwitchValue("/uninstall"));
  }

  // "/language" (also in the registered uninstall command) chooses the section.
  LoadWindowTexts(*Texts, Settings->UninstallMode);

  // Folders are held without a trailing backslash.
  Settings->InstallFolder = StripTrailingBackslashes(Settings->InstallFolder);
}

// The views' captions in the language of the texts, and the brand that goes with it.
void TFMain::ShowTexts() {
  // The folder view's captions.
  CBCreateDesktop.SetCaption(Texts->ShownText("S_LabelCreateDesktopIcon"));
  SFLabelTop.SetCaption(Texts->ShownText("S_LabelTopFolder"));
  SFLabelFolder.SetCaption(Texts->ShownText("S_LabelFolder"));
  BChangeFolder.SetCaption(Texts->ShownText("S_BChangeFolder"));
  BInstall.SetCaption(Texts->ShownText("S_BInstall"));

  // The window's caption and the progress view's texts.
  caption_ = Texts->S_FormCaption;
  applicationTitle_ = Texts->S_FormCaption;
  backend_.SetWindowCaption(caption_);
  LabelOverall.SetCaption(Texts->S_ProgressBarCaption);
  LabelTop.SetCaption(Texts->S_LabelTopProgress);
  LabelPending.SetCaption("");

  if (Settings->UninstallMode) {
    UninstallLabelTop.SetCaption(Texts->S_UninstallLabelTop);
    LabelUninstall.SetCaption(Texts->S_LabelUninstall);
    BUninstall.SetCaption(Texts->ShownText("S_BUninstall"));
    BCancel.SetCaption(Texts->ShownText("S_BCancel"));
    CBRestart.SetCaption(Texts->S_CBRestart);
    ShowView(PanelUninstall);
  }

  // The French brand goes with the French texts.
  const bool french = Texts->Language == "FRENCH";
  for (TImage* image : {&LVImageTopRight, &SFImageLV, &PULVImage, &FLVImageLeft}) image->SetVisible(french);
  for (TImage* image : {&DRVImageTopRight, &SFImageDRV, &PUDRVImage, &FDRVImageLeft}) image->SetVisible(!french);
}

void TFMain::FormCreate() {
  WireControls();
  LoadSettings();
  ShowTexts();

  // Shown unless the run is hidden.
  hidden_ = Settings->HasSwitch("/HIDE");
  elevated_ = Settings->HasSwitch(kElevatedSwitch);
  if (!hidden_) {
    windowVisible_ = true;
    backend_.SetWindowVisible(true);
  }

  // The worker, suspended until Install (or Uninstall).
  const engine::TWorkerControls controls{.LabelPending = &LabelPending,
                                         .LabelTop = &LabelTop,
                                         .FLabelTop = &FLabelTop,
                                         .PBOverall = &PBOverall,
                                         .PBPending = &PBPending,
                                         .CBCreateDesktop = &CBCreateDesktop,
                                         .CBRestart = &CBRestart};
  Worker = std::make_unique<TThreadLiveUpdate>(*Settings, engine::TStepDefaults::FromBuild(), controls, *this, Gate);

  // A hidden run has nobody to press a button: it starts by itself, updating the
  // installation that is there (found through its logon entry) or installing into
  // the default folder. An elevated instance goes on with what the user chose in
  // the instance that started it.
  if (hidden_ || elevated_) {
    if (Settings->UninstallMode) {
      BUninstallClick();
    } else {
      std::string folder = elevated_ ? Settings->GetSwitchValue(kFolderSwitch) : std::string();
      if (folder.empty()) folder = engine::InstalledFolder(Worker->Defaults());
      if (folder.empty()) folder = Settings->InstallFolder;
      EFolder.SetText(folder);
      if (!StartInstallation(folder)) {
        aborted_ = true;
        ClosingAllowed = true;
        Close();
      }
    }
  }
}

bool TFMain::StartInstallation(const std::string& folder) {
  Settings->InstallFolder = StripTrailingBackslashes(folder);
  if (!Settings->InstallFolder.empty() && !elevated_ && FolderNeedsElevation(Settings->InstallFolder)) {
    HandOver();
    return true;
  }
  // An empty entry is no folder at all.
  if (Settings->InstallFolder.empty() || !platform::ForceDirectories(Settings->InstallFolder)) {
    Warn(Texts->S_UnableCreateFolder);
    return false;
  }
  ShowView(PanelSetup);
  Worker->Resume();
  return true;
}

void TFMain::HandOver() {
  logging::Log(Settings->InstallFolder + " needs an administrator's rights: the run goes to an elevated instance");
  handOver_ = true;
  ClosingAllowed = true;
  Close();
}

std::vector<std::string> TFMain::ElevatedArguments(const std::string& sid, const std::string& logFile) const {
  std::vector<std::string> arguments = platform::ProgramArguments();
  bool logNamed = false;
  for (const std::string& argument : arguments) logNamed = logNamed || text::StartsText("/LOG=", argument);
  // The elevated instance's TEMP may be another account's: its lines go on in
  // this run's log.
  if (!logNamed) arguments.push_back("/LOG=" + logFile);
  arguments.insert(arguments.end(), {kElevatedSwitch, sid});
  if (!Settings->UninstallMode) arguments.insert(arguments.end(), {kFolderSwitch, Settings->InstallFolder});
  return arguments;
}

void TFMain::HandedOver(bool started, uint32_t error, uint32_t exitStatus) {
  if (started) {
    handOverStatus_ = static_cast<int>(exitStatus);
    logging::Log("The elevated instance ended with exit status " + std::to_string(handOverStatus_));
    return;
  }
  handOverStatus_ = engine::kExitCannotWrite;
  logging::Log("No elevated instance: " + platform::SysErrorMessage(error));
  std::string words = Texts->S_ElevationDeclined;
  if (error != platform::kErrorCancelled) words += "\r\n" + platform::SysErrorMessage(error);
  FLabelMessage.SetCaption(words);
  Warn(words);
}

void TFMain::Warn(const std::string& text) {
  if (hidden_)
    notice_ = text;
  else
    backend_.MessageBox(text, mtWarning, mbOK);
}

void TFMain::ShowNotice() {
  if (hidden_ && !notice_.empty()) backend_.Notice(notice_, kNoticeCloseMs);
}

void TFMain::BChangeFolderClick() {
  std::string folder = backend_.BrowseForFolder("Select Directory");
  if (!folder.empty()) EFolder.SetText(folder);
}

void TFMain::BInstallClick() { StartInstallation(EFolder.Text()); }

void TFMain::BUninstallClick() {
  // What an uninstallation changes is the installation's folder.
  const std::string folder = engine::InstalledFolder(Worker->Defaults());
  if (!folder.empty() && !elevated_ && FolderNeedsElevation(folder)) {
    Settings->InstallFolder = folder;
    HandOver();
    return;
  }
  ShowView(PanelSetup);
  Worker->Resume();
}

void TFMain::BCancelClick() { Close(); }

void TFMain::FBOkClick() {
  ClosingAllowed = true;
  Close();
}

void TFMain::TimerMonitorThreadTimer() {
  if (windowVisible_) return;
  if (Worker && Worker->Finished()) {
    TimerMonitorThread.SetEnabled(false);
    CloseWindow();
  }
}

bool TFMain::FormCloseQuery() {
  if (ClosingAllowed) return true;
  if (Worker && Worker->Finished()) return true;
  // A worker that never started is not started by the answer either.
  const bool running = Worker && Worker->Started();
  if (running) Worker->Suspend();
  if (backend_.MessageBox(Texts ? Texts->S_CloseApp : "", mtQuestion, mbYesNo) == mrYes) {
    aborted_ = true;
    return true;
  }
  if (running) Worker->Resume();
  return false;
}

void TFMain::Close() {
  if (closed_) return;
  if (FormCloseQuery()) {
    closed_ = true;
    backend_.Quit();
  }
}

void TFMain::CloseWindow() {
  if (ExitStatus() != 0) Warn(FLabelMessage.Caption());
  ClosingAllowed = true;
  Close();
}

void TFMain::FormDestroy() {
  if (destroyed_) return;
  finalStatus_ = ExitStatus();
  destroyed_ = true;
  // Given up while it ran: the worker, let go, undoes what it did and clears up.
  // One held up for longer (a transfer that hangs) is left to the next start,
  // which recovers what it left.
  if (aborted_ && Worker && Worker->Started() && !Worker->Finished()) {
    Worker->Cancel();
    for (const uint32_t start = platform::TickCount();
         !Worker->Finished() && platform::TickCount() - start < kAbandonedRunWaitMs;)
      platform::SleepMs(10);
  }
  if (ExitStatus() == 0 && Settings && Worker) {
    if (Settings->UninstallMode) {
      if (CBRestart.Checked() && !handOver_) platform::RequestRestart();
    } else {
      FinishRun();
    }
  }
  // A worker that runs on, not held at its gate, has made its report and is
  // removing the run's files from TEMP: the process waits a little for that,
  // serving what the worker may still ask of this thread.
  if (Worker && Worker->Started() && !Gate.Paused()) {
    const uint32_t start = platform::TickCount();
    while (!Worker->Finished() && platform::TickCount() - start < 10000) {
      backend_.Sync.Drain();
      platform::SleepMs(5);
    }
  }
  // The worker may still be cleaning up after its report; it keeps using the
  // settings until it ends, so they are freed only when it has ended.
  if (!Worker || Worker->Finished() || !Worker->Started()) {
    Worker.reset();
    Settings.reset();
  } else {
    Worker.release();
    Settings.release();
  }
}

void TFMain::FinishRun() {
  try {
    if (handOver_) {
      // The elevated instance registered it; the application runs as this user.
      logging::Log("Starting the application as the user");
      engine::StartApplication(*Settings, Worker->Defaults());
    } else if (elevated_) {
      install::RegisterInstallation(*Settings, Worker->PackageVersion(), CBCreateDesktop.Checked(),
                                    Worker->Defaults().Names);
      logging::Log("The application is left to the user's own instance to start");
    } else {
      engine::FinishInstallation(*Settings, Worker->PackageVersion(), CBCreateDesktop.Checked(), Worker->Defaults());
    }
  } catch (const Exception& e) {
    // Installed, but not registered or not started: no success.
    logging::Log("After the run: " + e.Message);
    finalStatus_ = engine::kExitFailed;
    if (hidden_)
      notice_ = e.Message;
    else
      backend_.MessageBox(e.Message, mtError, mbOK);
  }
}

int TFMain::ExitStatus() const {
  if (destroyed_) return finalStatus_;  // the worker may be gone by now
  if (handOver_) return handOverStatus_;
  if (aborted_) return engine::kExitFailed;
  return Worker && Worker->Started() ? Worker->ExitStatus() : 0;
}

void TFMain::ShowFinish(const std::string& text, TMsgType type) {
  FLabelMessage.SetCaption(text);
  if (!Settings->UninstallMode) FLabelTop.SetCaption(type == mtInformation ? Texts->S_Complete : Texts->S_Fail);
  PanelFinish.SetVisible(true);
  PanelSetup.SetVisible(false);
}

void TFMain::ShowAlreadyRunning() {
  Texts = std::make_unique<TFileXML>();
  LoadWindowTexts(*Texts, TLiveUpdate::HasSwitch("/uninstall"));
  caption_ = applicationTitle_ = Texts->S_FormCaption;
  backend_.SetWindowCaption(caption_);
  backend_.MessageBox(Texts->S_AlreadyRunning, mtWarning, mbOK);
}

void TFMain::Synchronize(const std::function<void()>& fn) { backend_.Sync.Call(fn); }

bool TFMain::AskRetry(TFileXML& texts, const std::vector<std::string>& files) {
  TFRetry dialog(texts);
  return dialog.AskRetry(files, backend_);
}

bool TFMain::AskProxyCredentials(TFileXML& texts, const std::string& proxy, const std::string&, std::string& username,
                                 std::string& password) {
  if (hidden_) return false;
  TFProxyLogin dialog(texts);
  if (!dialog.Ask(proxy, backend_)) return false;
  username = dialog.EUser.Text();
  password = dialog.EPassword.Text();
  dialog.EPassword.SetText("");
  return true;
}
