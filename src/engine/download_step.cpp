#include <memory>

#include "engine/steps.h"
#include "net/http_client.h"
#include "net/statement.h"
#include "platform/files.h"
#include "settings/file_xml.h"
#include "settings/live_update.h"

namespace engine {

namespace {

// With a publisher's key built in, a package counts only when its release
// statement (beside it, at its address + ".sig") is signed by one of the keys,
// names this product and describes this very file: anyone who can answer for
// the download host could otherwise run code with the user's rights. Fails like
// the transfer itself, before the unpack step opens the file.
bool VerifyPackage(TStepContext& run, net::THTTPClient& http, TTransferWatch& watch, const std::string& archivePath) {
  try {
    const std::vector<std::string> keys = net::SplitPackageKeys(run.Defaults.PackageKey);
    if (keys.empty()) return true;
    watch.Started();  // the stall check watches this transfer too
    const std::string text = net::FetchStatement(http, run.Settings.DownloadURL);
    watch.Ended();
    const net::TReleaseStatement statement = net::VerifyStatement(text, keys, run.Defaults.Names.ApplicationName);
    platform::TFileStream package(archivePath, platform::TFileMode::OpenRead);
    net::CheckPackageStream(package, statement);
    return true;
  } catch (const Exception& e) {
    watch.Ended();
    run.Report(run.Texts().S_BadSignature + "\r\n" + e.Message, mtWarning);
    return false;
  }
}

}  // namespace

// The bar clamps at its maximum, so more bytes than announced count as complete.
bool TransferComplete(int64_t counted, int64_t announced) { return counted >= announced; }

bool Download(TStepContext& run, net::THTTPClient& http, TTransferWatch& watch) {
  TFileXML& t = run.Texts();
  TLiveUpdate& s = run.Settings;
  install::TStepProgress& progress = run.Progress;
  progress.SetMax(0);
  progress.SetCaption(t.S_Download);
  progress.StepOverall();

  s.ArchiveFileName = TLiveUpdate::ExtractURLFileName(s.DownloadURL);
  const std::string archivePath = s.TempFolder + "\\" + s.ArchiveFileName;

  // A leftover of an earlier run goes first; one that cannot go means the new
  // archive could not be written either.
  if (platform::FileExists(archivePath)) {
    if (!platform::FileExists(archivePath) || !platform::EraseFile(archivePath)) {
      watch.Ended();
      run.Report(t.S_DownloadError + " (2)", mtWarning);
      return false;
    }
  }

  std::unique_ptr<platform::TFileStream> file;
  try {
    file = std::make_unique<platform::TFileStream>(archivePath, platform::TFileMode::CreateExclusive);
    watch.Started();
    http.Get(s.DownloadURL, *file);
    watch.Ended();
    if (!TransferComplete(progress.Position(), progress.Max())) {
      file.reset();
      run.Report(t.S_DownloadError, mtWarning);
      return false;
    }
    if (!file->Close()) throw EInOutError("Error closing file " + archivePath, 0);
    return VerifyPackage(run, http, watch, archivePath);
  } catch (const Exception& e) {
    watch.Ended();
    file.reset();
    run.Report(t.S_DownloadError + "\r\n" + e.Message, mtWarning);
    return false;
  }
}

}  // namespace engine
