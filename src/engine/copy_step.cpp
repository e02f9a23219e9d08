#include "base/text.h"
#include "engine/worker.h"
#include "install/record.h"
#include "platform/platform.h"
#include "settings/build_defaults.h"
#include "settings/file_xml.h"
#include "settings/live_update.h"
#include "settings/string_param.h"

bool TThreadLiveUpdate::CopyFiles() {
  TFileXML& t = Texts();
  Controls.PBOverall->StepBy(1);
  Controls.LabelPending->SetCaption(t.S_Copy);
  Controls.PBPending->SetPosition(0);
  Controls.PBPending->SetMax(static_cast<int32_t>(Settings.ExtractedFiles.size()));

  TStringParam placed("", ";");
  std::vector<std::string> failed;
  const size_t cut = (Settings.TempFolder + "\\" + Settings.ExtractFolderName).size();
  bool failedMark = false;
  bool retry = false;
  do {
    failedMark = false;
    failed.clear();
    for (size_t n = Settings.ExtractedFiles.size(); n-- > 0;) {
      gate_.Pass();
      const std::string source = Settings.ExtractedFiles[n];
      const std::string destination = Settings.InstallFolder + text::CopyFrom(source, static_cast<int64_t>(cut) + 1);
      platform::ForceDirectories(Settings.InstallFolder);
      // The package's sub-folders must exist below the installation folder too.
      platform::ForceDirectories(text::ExtractFileDir(destination));
      if (ReplaceFile(source, destination)) {
        placed.Add(destination);
        Settings.ExtractedFiles.erase(Settings.ExtractedFiles.begin() + static_cast<std::ptrdiff_t>(n));
        Controls.PBPending->SetPosition(static_cast<int32_t>(n) + 1);
      } else {
        failed.push_back(destination);
        failedMark = true;
      }
    }
    retry = failedMark && RequestRetry(t, failed);
  } while (retry && !Settings.ExtractedFiles.empty());

  if (failedMark) {
    Report(t.S_CopyError, mtWarning);
    return false;
  }
  install::RecordInstalledFiles(Settings, placed.GetTextStr());
  return true;
}

bool TThreadLiveUpdate::ReplaceFile(const std::string& source, const std::string& destination) {
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
