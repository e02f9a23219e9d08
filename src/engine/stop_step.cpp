#include "base/text.h"
#include "engine/worker.h"
#include "platform/platform.h"
#include "settings/file_xml.h"
#include "settings/live_update.h"

namespace {
// How long a terminated process may take to end.
constexpr uint32_t kProcessEndTimeout = 10000;
}  // namespace

bool TThreadLiveUpdate::StopApplication() {
  TFileXML& t = Texts();
  Controls.PBOverall->StepBy(1);
  Controls.LabelPending->SetCaption(t.S_Kill);
  try {
    Settings.ProcessList.SetTextStr(Settings.GetSwitchValue("/KILL"));
    Controls.PBPending->SetPosition(0);
    Controls.PBPending->SetMax(Settings.ProcessList.Count() + 1);
    Controls.PBPending->SetPosition(0);
    for (int i = 0; i < Settings.ProcessList.Count(); ++i) {
      // The low 32 bits of a 64-bit number are the identifier.
      const auto pid = static_cast<uint32_t>(text::StrToInt64(Settings.ProcessList.Strings(i)));
      if (!StopProcess(pid)) return false;
      Controls.PBPending->SetPosition(i + 1);
    }
    Controls.PBPending->StepBy(1);
    return true;
  } catch (const Exception& e) {
    Report("1 " + e.Message, mtWarning);
    return false;
  }
}

bool TThreadLiveUpdate::StopProcess(uint32_t pid) {
  try {
    platform::ProcessHandle process = platform::OpenProcessForTerminate(pid);
    if (!process.Valid()) return true;  // gone already, or not ours to stop
    if (!platform::TerminateProcessWith(process, 0)) {
      Report(Texts().S_KillError, mtWarning);
      return false;
    }
    if (platform::WaitForProcess(process, kProcessEndTimeout) != platform::WaitResult::Ended) {
      Report(Texts().S_KillError, mtWarning);
      return false;
    }
    return true;
  } catch (const Exception& e) {
    Report("2 " + e.Message, mtWarning);
    return false;
  }
}
