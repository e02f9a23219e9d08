// What every run shares: its set-up and clean-up, the context the steps get.
#include "archive/unzip.h"
#include "engine/steps.h"
#include "install/register.h"
#include "install/uninstall.h"
#include "net/http_client.h"
#include "net/proxy.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "settings/build_defaults.h"
#include "settings/live_update.h"

namespace engine {

TStepDefaults TStepDefaults::FromBuild() {
  TStepDefaults d;
  d.Names = install::TProductNames::FromBuildDefaults();
  d.PackageKey = defaults::PackageKey();
  d.AllowUnauthenticated = defaults::AllowUnauthenticated();
  d.MaxPackageSize = defaults::MaxPackageSize();
  d.BatchFileName = defaults::BatchFileName;
  d.FileReplaceTimeout = defaults::FileReplaceTimeout;
  return d;
}

TFileXML& TStepContext::Texts() const { return *Settings.Texts; }

TRunTools::TRunTools() = default;
TRunTools::~TRunTools() = default;

void Setup(TStepContext& run, TRunTools& tools) {
  tools.HTTP = std::make_unique<net::THTTPClient>();
  // The step bar doubles as the transfer's byte counter.
  install::TStepProgress& bar = run.Progress;
  tools.HTTP->OnWorkBegin = [&bar](net::THTTPClient*, net::TWorkMode, int64_t max) {
    bar.SetMax(static_cast<int32_t>(std::min<int64_t>(max, INT32_MAX)));
  };
  tools.HTTP->OnWork = [&bar](net::THTTPClient*, net::TWorkMode, int64_t count) {
    bar.SetPosition(static_cast<int32_t>(std::min<int64_t>(count, INT32_MAX)));
  };
  std::string host;
  int32_t port = -1;
  if (net::GetSystemProxy(host, port)) {
    tools.HTTP->ProxyParams.SetProxyServer(host);
    tools.HTTP->ProxyParams.SetProxyPort(port);
  }
  tools.UnZip = std::make_unique<archive::TUnZip>();
  tools.UnZip->OnProgress = [&bar](archive::TUnZip*, uint8_t, uint8_t byArchive) { bar.SetPosition(byArchive); };
  // The run's files stay in a folder of its own that only this user can enter,
  // so that nothing else can change them between their check and their use.
  const std::string folder = platform::TempDir() + "ORBAXLU-" + platform::NewGuidText();
  if (!platform::CreatePrivateFolder(folder)) {
    const uint32_t code = platform::LastError();
    throw EInOutError("Cannot create folder \"" + folder + "\". " + platform::SysErrorMessage(code),
                      static_cast<int>(code));
  }
  tools.RunFolder = folder;
  run.Settings.TempFolder = folder + "\\";
}

void MakeCurrentFolder(const std::string& folder) {
  if (platform::SetCurrentDir(folder)) return;
  const uint32_t code = platform::LastError();
  throw EInOutError(platform::SysErrorMessage(code), static_cast<int>(code));
}

void RemoveFolders(const std::string& folder, bool withFiles) {
  for (const std::string& name : platform::ListDir(folder)) {
    if (!name.empty() && name.back() == '\\')
      RemoveFolders(folder + "\\" + name.substr(0, name.size() - 1), withFiles);
    else if (withFiles)
      platform::EraseFile(folder + "\\" + name);
  }
  platform::RemoveDir(folder);
}

void Cleanup(TStepContext& run, TRunTools& tools) {
  const TLiveUpdate& s = run.Settings;
  // The run's files in the temporary folder are its own: what is left there (files
  // a failed or cancelled run did not place, a file that could only be copied)
  // goes with it.
  tools.Package.reset();  // a temporary file: it goes as it closes
  tools.UnZip.reset();
  tools.HTTP.reset();
  if (s.TempFolder.empty()) return;  // Setup did not get that far
  if (!s.ExtractFolderName.empty()) RemoveFolders(s.TempFolder + "\\" + s.ExtractFolderName, true);
  if (!s.ArchiveFileName.empty()) platform::EraseFile(s.TempFolder + "\\" + s.ArchiveFileName);
  if (!tools.RunFolder.empty()) RemoveFolders(tools.RunFolder, true);
}

void TTransferWatch::Started(const net::THTTPClient& client) {
  std::lock_guard<std::mutex> lock(mutex_);
  client_ = &client;
  last_ = client.BytesReceived();
}

void TTransferWatch::Ended() {
  std::lock_guard<std::mutex> lock(mutex_);
  client_ = nullptr;
}

int32_t TTransferWatch::Progress() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!client_) return -1;
  const int64_t received = client_->BytesReceived();
  const int64_t advance = received - last_;
  last_ = received;
  return static_cast<int32_t>(std::min<int64_t>(advance, INT32_MAX));
}

std::string InstalledFolder(const TStepDefaults& defaults) { return install::InstalledFolder(defaults.Names); }

void RunPendingDeletes() { platform::RunPendingDeletes(install::kRunOnceKey, install::kDeleteValuePrefix); }

}  // namespace engine
