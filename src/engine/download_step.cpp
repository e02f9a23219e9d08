#include <memory>

#include "engine/steps.h"
#include "net/http_client.h"
#include "platform/platform.h"
#include "settings/file_xml.h"
#include "settings/live_update.h"

namespace engine {

bool Download(TStepContext& run, net::THTTPClient& http, TTransferWatch& watch) {
  TFileXML& t = run.Texts();
  TLiveUpdate& s = run.Settings;
  TProgressBar& bar = *run.Controls.PBPending;
  bar.SetMax(0);
  run.Controls.LabelPending->SetCaption(t.S_Download);
  run.Controls.PBOverall->StepBy(1);

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
    file = std::make_unique<platform::TFileStream>(archivePath, platform::FileMode::CreateExclusive);
    watch.Started();
    http.Get(s.DownloadURL, *file);
    watch.Ended();
    if (bar.Position() != bar.Max()) {
      file.reset();
      run.Report(t.S_DownloadError, mtWarning);
      return false;
    }
    if (!file->Close()) throw EInOutError("Error closing file " + archivePath, 0);
    return true;
  } catch (const Exception& e) {
    watch.Ended();
    file.reset();
    run.Report(t.S_DownloadError + "\r\n" + e.Message, mtWarning);
    return false;
  }
}

}  // namespace engine
