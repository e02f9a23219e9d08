#include <fstream>

#include "base/log.h"
#include "engine/steps.h"
#include "install/platform_id.h"
#include "platform/file_stream.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "platform/system.h"
#include "settings/file_xml.h"
#include "settings/live_update.h"

namespace engine {

namespace {

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
  install::TStepProgress& progress = run.Progress;
  const std::string batch = s.InstallFolder + "\\" + run.Defaults.BatchFileName;
  if (!platform::FileExists(batch)) return true;
  progress.StepOverall();
  progress.SetCaption(run.Texts().S_ExecBatch);
  progress.SetPosition(0);
  MakeCurrentFolder(s.InstallFolder);
  const std::vector<std::string> lines = ReadLines(batch);
  const std::string prefix = install::GetPlatformId() == install::kPlatformWin32NT ? "CMD.EXE /C" : "COMMAND.COM /C";
  progress.SetMax(static_cast<int32_t>(lines.size()));
  for (size_t i = 0; i < lines.size(); ++i) {
    run.Pass();
    // A line whose interpreter cannot start is one the package does without, as
    // a command that fails inside it would be; support learns which and why.
    if (!platform::RunHiddenAndWait(prefix + " " + lines[i]))
      logging::Log("Configure: line " + std::to_string(i + 1) + " of " + batch +
                   " could not be run: " + platform::SysErrorMessage(platform::LastError()));
    progress.SetPosition(static_cast<int32_t>(i) + 1);
  }
  platform::SetAttributesNormal(batch);
  platform::EraseFile(batch);
  progress.SetPosition(1);
  return true;
}

}  // namespace engine
