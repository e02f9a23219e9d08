#include <algorithm>

#include "base/text.h"
#include "engine/steps.h"
#include "platform/files.h"
#include "settings/file_xml.h"
#include "settings/live_update.h"

namespace engine {

bool DeleteTempFiles(TStepContext& run) {
  install::TStepProgress& progress = run.Progress;
  auto& files = run.ExtractedFiles;
  progress.StepOverall();
  progress.SetCaption(run.Texts().S_Delete);
  progress.SetPosition(0);
  progress.SetMax(static_cast<int32_t>(files.size()) + 1);
  std::stable_sort(files.begin(), files.end(),
                   [](const std::string& a, const std::string& b) { return text::AnsiCompareText(a, b) < 0; });
  if (files.empty()) return true;
  std::string previous = text::ExtractFilePath(files.back());
  for (size_t n = files.size(); n-- > 0;) {
    const std::string folder = text::ExtractFilePath(files[n]);
    if (folder != previous) platform::RemoveDir(previous);
    platform::SetAttributesNormal(files[n]);
    platform::EraseFile(files[n]);
    previous = folder;
    progress.Step();
  }
  platform::RemoveDir(previous);
  progress.Step();
  return true;
}

}  // namespace engine
