#include "base/text.h"
#include "engine/steps.h"
#include "platform/processes.h"
#include "settings/file_xml.h"
#include "settings/live_update.h"

namespace engine {

namespace {
// How long a terminated process may take to end.
constexpr uint32_t kProcessEndTimeout = 10000;
}  // namespace

bool StopApplication(TStepContext& run) {
  TLiveUpdate& s = run.Settings;
  install::TStepProgress& progress = run.Progress;
  progress.StepOverall();
  progress.SetCaption(run.Texts().S_Kill);
  try {
    run.ProcessList.SetTextStr(s.GetSwitchValue("/KILL"));
    progress.SetPosition(0);
    progress.SetMax(run.ProcessList.Count() + 1);
    progress.SetPosition(0);
    for (int i = 0; i < run.ProcessList.Count(); ++i) {
      // The low 32 bits of a 64-bit number are the identifier.
      const auto pid = static_cast<uint32_t>(text::StrToInt64(run.ProcessList.Strings(i)));
      if (!StopProcess(run, pid)) return false;
      progress.SetPosition(i + 1);
    }
    progress.Step();
    return true;
  } catch (const Exception& e) {
    run.Report("1 " + e.Message, mtWarning);
    return false;
  }
}

bool StopProcess(TStepContext& run, uint32_t pid) {
  try {
    platform::TProcessHandle process = platform::OpenProcessForTerminate(pid);
    if (!process.Valid()) return true;  // gone already, or not ours to stop
    if (!platform::TerminateProcessWith(process, 0) ||
        platform::WaitForProcess(process, kProcessEndTimeout) != platform::TWaitResult::Ended) {
      run.Fail(run.Texts().S_KillError, kExitFilesInUse);  // its files stay in use
      return false;
    }
    return true;
  } catch (const Exception& e) {
    run.Report("2 " + e.Message, mtWarning);
    return false;
  }
}

}  // namespace engine
