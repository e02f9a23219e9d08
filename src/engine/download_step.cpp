#include <memory>

#include "engine/worker.h"
#include "net/http_client.h"
#include "net/signature.h"
#include "platform/platform.h"
#include "settings/build_defaults.h"
#include "settings/file_xml.h"
#include "settings/live_update.h"

namespace {

// With a publisher's key built in, a package counts only when the signature
// beside it (its address + ".sig") is that key's signature of it: anyone who
// can answer for the download host could otherwise run code with the user's
// rights. Fails like the transfer itself, before the unpack step opens the file.
bool VerifyPackage(TThreadLiveUpdate& worker, const std::string& archivePath) {
  const std::string key = defaults::PackageKey();
  if (key.empty()) return true;
  try {
    // The stall check watches this transfer too.
    worker.LastPosition.store(0);
    worker.Downloading.store(true);
    const std::string signature = net::FetchSignature(*worker.HTTP, worker.Settings.DownloadURL + ".sig");
    worker.Downloading.store(false);
    net::VerifyFileSignature(archivePath, signature, key);
    return true;
  } catch (const Exception& e) {
    worker.Downloading.store(false);
    worker.Report(worker.Settings.Texts->S_BadSignature + "\r\n" + e.Message, mtWarning);
    return false;
  }
}

}  // namespace

bool TThreadLiveUpdate::Download() {
  TFileXML& t = Texts();
  Controls.PBPending->SetMax(0);
  Controls.LabelPending->SetCaption(t.S_Download);
  Controls.PBOverall->StepBy(1);

  Settings.ArchiveFileName = TLiveUpdate::ExtractURLFileName(Settings.DownloadURL);
  const std::string archivePath = Settings.TempFolder + "\\" + Settings.ArchiveFileName;

  // A leftover of an earlier run goes first; one that cannot go means the new
  // archive could not be written either.
  if (platform::FileExists(archivePath)) {
    if (!platform::FileExists(archivePath) || !platform::EraseFile(archivePath)) {
      Downloading.store(false);
      Report(t.S_DownloadError + " (2)", mtWarning);
      return false;
    }
  }

  std::unique_ptr<platform::TFileStream> file;
  try {
    file = std::make_unique<platform::TFileStream>(archivePath, platform::FileMode::CreateExclusive);
    LastPosition.store(0);
    Downloading.store(true);
    HTTP->Get(Settings.DownloadURL, *file);
    Downloading.store(false);
    if (Controls.PBPending->Position() != Controls.PBPending->Max()) {
      file.reset();
      Report(t.S_DownloadError, mtWarning);
      return false;
    }
    if (!file->Close()) throw EInOutError("Error closing file " + archivePath, 0);
    return VerifyPackage(*this, archivePath);
  } catch (const Exception& e) {
    Downloading.store(false);
    file.reset();
    Report(t.S_DownloadError + "\r\n" + e.Message, mtWarning);
    return false;
  }
}

void TThreadLiveUpdate::DownloadWorkBegin(int64_t workCountMax) {
  Controls.PBPending->SetMax(static_cast<int32_t>(std::min<int64_t>(workCountMax, INT32_MAX)));
}

void TThreadLiveUpdate::DownloadWork(int64_t workCount) {
  Controls.PBPending->SetPosition(static_cast<int32_t>(std::min<int64_t>(workCount, INT32_MAX)));
}

int32_t TThreadLiveUpdate::DownloadProgress() {
  if (!Downloading.load()) return -1;
  int32_t position = Controls.PBPending->Position();
  int32_t advance = position - LastPosition.load();
  LastPosition.store(position);
  return advance;
}
