#include "base/text.h"
#include "engine/steps.h"
#include "install/record.h"
#include "platform/platform.h"
#include "settings/build_defaults.h"
#include "settings/file_xml.h"
#include "settings/live_update.h"
#include "settings/string_param.h"

namespace engine {

bool CopyFiles(TStepContext& run) {
  TFileXML& t = run.Texts();
  TLiveUpdate& s = run.Settings;
  run.Controls.PBOverall->StepBy(1);
  run.Controls.LabelPending->SetCaption(t.S_Copy);
  run.Controls.PBPending->SetPosition(0);
  run.Controls.PBPending->SetMax(static_cast<int32_t>(s.ExtractedFiles.size()));

  TStringParam placed("", ";");
  std::vector<std::string> failed;
  const size_t cut = (s.TempFolder + "\\" + s.ExtractFolderName).size();
  bool retry = false;
  do {
    failed.clear();
    for (size_t n = s.ExtractedFiles.size(); n-- > 0;) {
      run.Pass();
      const std::string source = s.ExtractedFiles[n];
      const std::string destination = s.InstallFolder + text::CopyFrom(source, static_cast<int64_t>(cut) + 1);
      platform::ForceDirectories(s.InstallFolder);
      // The package's sub-folders must exist below the installation folder too.
      platform::ForceDirectories(text::ExtractFileDir(destination));
      if (ReplaceFile(source, destination)) {
        placed.Add(destination);
        s.ExtractedFiles.erase(s.ExtractedFiles.begin() + static_cast<std::ptrdiff_t>(n));
        run.Controls.PBPending->SetPosition(static_cast<int32_t>(n) + 1);
      } else {
        failed.push_back(destination);
      }
    }
    retry = !failed.empty() && run.AskRetry(failed);
  } while (retry && !s.ExtractedFiles.empty());

  if (!failed.empty()) {
    run.Report(t.S_CopyError, mtWarning);
    return false;
  }
  install::RecordInstalledFiles(s, placed.GetTextStr());
  return true;
}

bool ReplaceFile(const std::string& source, const std::string& destination) {
  if (platform::FileExists(destination)) {
    const uint32_t start = platform::TickCount();
    for (;;) {
      if (platform::SetAttributesNormal(destination) && platform::EraseFile(destination)) break;
      if (platform::TickCount() - start >= defaults::FileReplaceTimeout) return false;
      platform::SleepMs(100);
    }
  }
  if (platform::MoveFileTo(source, destination)) return true;
  return platform::CopyFileTo(source, destination, false);
}

}  // namespace engine
