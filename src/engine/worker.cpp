#include "engine/worker.h"

#include "archive/unzip.h"
#include "install/register.h"
#include "net/http_client.h"
#include "net/proxy.h"
#include "platform/platform.h"
#include "settings/build_defaults.h"
#include "settings/file_xml.h"
#include "settings/live_update.h"

std::atomic<int> ExitStatus{0};

TThreadLiveUpdate::TThreadLiveUpdate(TLiveUpdate& settings, TWorkerControls controls, TWorkerHost& host,
                                     TPauseGate& gate)
    : Settings(settings), Controls(controls), host_(host), gate_(gate) {}

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

TFileXML& TThreadLiveUpdate::Texts() { return *Settings.Texts; }

void TThreadLiveUpdate::Execute() {
  ExitStatus.store(1);
  try {
    Setup();
    if (Settings.UninstallMode) {
      Controls.PBOverall->SetMax(2);
      if (UninstallFiles() && UninstallRegistries()) {
        Controls.CBRestart->SetVisible(true);
        Controls.FLabelTop->SetCaption(Texts().S_UninstallComplete);
        ExitStatus.store(0);
        Report(Texts().S_UninstallMessage, mtInformation);
      }
    } else {
      if (Download() && Unpack() && StopApplication() && CopyFiles() && Configure() && DeleteTempFiles()) {
        SaveSettings();
        Controls.CBCreateDesktop->SetVisible(true);
        Controls.LabelTop->SetCaption(Texts().S_LabelTopComplete);
        ExitStatus.store(0);
        Report(Texts().S_Successfull, mtInformation);
      }
    }
    Cleanup();
  } catch (...) {
    // Without Cleanup: the temporary files stay for whoever looks into the failure.
    Report(Texts().S_UnknownError, mtWarning);
  }
}

void TThreadLiveUpdate::Setup() {
  HTTP = std::make_unique<net::THTTPClient>();
  HTTP->OnWorkBegin = [this](net::THTTPClient*, net::TWorkMode, int64_t max) { DownloadWorkBegin(max); };
  HTTP->OnWork = [this](net::THTTPClient*, net::TWorkMode, int64_t count) { DownloadWork(count); };
  std::string host;
  int32_t port = -1;
  if (net::GetSystemProxy(host, port)) {
    HTTP->ProxyParams.SetProxyServer(host);
    HTTP->ProxyParams.SetProxyPort(port);
  }
  UnZip = std::make_unique<archive::TUnZip>();
  UnZip->OnProgress = [this](archive::TUnZip*, uint8_t byFile, uint8_t byArchive) {
    UnpackProgress(byFile, byArchive);
  };
  UnZip->OnBegin = [this](archive::TUnZip*, const std::string& name, int count, bool& extract) {
    UnpackBegin(name, count, extract);
  };
  // Any problem with an entry means the package must not be installed.
  UnZip->OnError = [this](archive::TUnZip*, const std::string&, const std::string&, const std::string&, int) {
    unpackFailed_ = true;
  };
  Downloading.store(false);
  Settings.TempFolder = platform::TempDir();
}

namespace {

// Removes the empty folders below a folder, deepest first, then the folder when it
// is empty too. Files are never touched: a file left here was not placed.
void RemoveEmptyFolders(const std::string& folder) {
  for (const std::string& name : platform::ListDir(folder))
    if (!name.empty() && name.back() == '\\') RemoveEmptyFolders(folder + "\\" + name.substr(0, name.size() - 1));
  platform::RemoveDir(folder);
}

}  // namespace

void TThreadLiveUpdate::Cleanup() {
  // The package's sub-folders stay behind empty once their files were moved out.
  if (!Settings.ExtractFolderName.empty()) RemoveEmptyFolders(Settings.TempFolder + "\\" + Settings.ExtractFolderName);
  platform::EraseFile(Settings.TempFolder + "\\" + Settings.ArchiveFileName);
  UnZip.reset();
  HTTP.reset();
}

void TThreadLiveUpdate::Report(const std::string& text, TMsgType type) {
  ReportText = text;
  ReportType = type;
  gate_.Pass();
  host_.Synchronize([this] { host_.ShowFinish(ReportText, ReportType); });
}

bool TThreadLiveUpdate::RequestRetry(TFileXML& texts, const std::vector<std::string>& files) {
  RetryTexts = &texts;
  RetryFiles = &files;
  gate_.Pass();
  host_.Synchronize([this] { RetryAnswer = host_.AskRetry(*RetryTexts, *RetryFiles); });
  return RetryAnswer;
}

bool TThreadLiveUpdate::StartApplication() {
  Settings.ProcessList.SetTextStr(defaults::ApplicationCommand());
  if (!platform::SetCurrentDir(Settings.InstallFolder))
    throw EInOutError(platform::SysErrorMessage(platform::LastError()), static_cast<int>(platform::LastError()));
  for (int i = 0; i < Settings.ProcessList.Count(); ++i) platform::StartDetached(Settings.ProcessList.Strings(i));
  return true;
}

void TThreadLiveUpdate::RegisterInstallation(bool createDesktopShortcut) {
  install::RegisterInstallation(Settings, createDesktopShortcut);
}
