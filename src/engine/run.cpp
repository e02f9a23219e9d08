// What every run shares: its set-up and clean-up, the context the steps get.
#include "archive/unzip.h"
#include "engine/steps.h"
#include "net/http_client.h"
#include "net/proxy.h"
#include "platform/files.h"
#include "settings/live_update.h"

namespace engine {

TFileXML& TStepContext::Texts() const { return *Settings.Texts; }

TRunTools::TRunTools() = default;
TRunTools::~TRunTools() = default;

void Setup(TStepContext& run, TRunTools& tools) {
  tools.HTTP = std::make_unique<net::THTTPClient>();
  // The step bar doubles as the transfer's byte counter.
  TProgressBar& bar = *run.Controls.PBPending;
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
  run.Settings.TempFolder = platform::TempDir();
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
  // The package's sub-folders stay behind empty once their files were moved out;
  // a file left there was not placed.
  if (!s.ExtractFolderName.empty()) RemoveFolders(s.TempFolder + "\\" + s.ExtractFolderName, false);
  platform::EraseFile(s.TempFolder + "\\" + s.ArchiveFileName);
  tools.UnZip.reset();
  tools.HTTP.reset();
}

void TTransferWatch::Started() {
  lastPosition_.store(0);
  downloading_.store(true);
}

void TTransferWatch::Ended() { downloading_.store(false); }

int32_t TTransferWatch::Progress(const TProgressBar& bar) {
  if (!downloading_.load()) return -1;
  const int32_t position = bar.Position();
  return position - lastPosition_.exchange(position);
}

}  // namespace engine
