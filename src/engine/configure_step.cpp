#include <algorithm>
#include <fstream>

#include "base/text.h"
#include "engine/steps.h"
#include "install/platform_id.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "platform/system.h"
#include "settings/build_defaults.h"
#include "settings/file_xml.h"
#include "settings/live_update.h"

namespace engine {

namespace {

void RaiseInOut() {
  const uint32_t code = platform::LastError();
  throw EInOutError(platform::SysErrorMessage(code), static_cast<int>(code));
}

// The batch file as a list of lines (CR, LF or CR LF end a line).
std::vector<std::string> ReadLines(const std::string& path) {
  std::unique_ptr<platform::TFileStream> file;
  file = std::make_unique<platform::TFileStream>(path, platform::TFileMode::OpenRead);
  std::vector<std::string> lines;
  std::string line, block(32768, '\0');
  bool pendingCr = false, any = false;
  for (;;) {
    int64_t n = file->Read(block.data(), static_cast<int64_t>(block.size()));
    if (n <= 0) break;
    for (int64_t i = 0; i < n; ++i) {
      char c = block[static_cast<size_t>(i)];
      if (pendingCr && c == '\n') {
        pendingCr = false;
        continue;
      }
      pendingCr = false;
      if (c == '\r' || c == '\n') {
        lines.push_back(line);
        line.clear();
        pendingCr = c == '\r';
        any = false;
      } else {
        line += c;
        any = true;
      }
    }
  }
  if (any) lines.push_back(line);
  return lines;
}

}  // namespace

bool Configure(TStepContext& run) {
  const TLiveUpdate& s = run.Settings;
  TProgressBar& bar = *run.Controls.PBPending;
  const std::string batch = s.InstallFolder + "\\" + defaults::BatchFileName;
  if (!platform::FileExists(batch)) return true;
  run.Controls.PBOverall->StepBy(1);
  run.Controls.LabelPending->SetCaption(run.Texts().S_ExecBatch);
  bar.SetPosition(0);
  if (!platform::SetCurrentDir(s.InstallFolder)) RaiseInOut();
  const std::vector<std::string> lines = ReadLines(batch);
  const std::string prefix = install::GetPlatformId() == install::kPlatformWin32NT ? "CMD.EXE /C" : "COMMAND.COM /C";
  bar.SetMax(static_cast<int32_t>(lines.size()));
  for (size_t i = 0; i < lines.size(); ++i) {
    run.Pass();
    platform::RunHiddenAndWait(prefix + " " + lines[i]);
    bar.SetPosition(static_cast<int32_t>(i) + 1);
  }
  platform::SetAttributesNormal(batch);
  platform::EraseFile(batch);
  bar.SetPosition(1);
  return true;
}

bool DeleteTempFiles(TStepContext& run) {
  TProgressBar& bar = *run.Controls.PBPending;
  auto& files = run.Settings.ExtractedFiles;
  run.Controls.PBOverall->StepBy(1);
  run.Controls.LabelPending->SetCaption(run.Texts().S_Delete);
  bar.SetPosition(0);
  bar.SetMax(static_cast<int32_t>(files.size()) + 1);
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
    bar.StepBy(1);
  }
  platform::RemoveDir(previous);
  bar.StepBy(1);
  return true;
}

bool StartApplication(TLiveUpdate& settings) {
  settings.ProcessList.SetTextStr(defaults::ApplicationCommand());
  if (!platform::SetCurrentDir(settings.InstallFolder)) RaiseInOut();
  for (int i = 0; i < settings.ProcessList.Count(); ++i) platform::StartDetached(settings.ProcessList.Strings(i));
  return true;
}

}  // namespace engine
