// Program entry: the shutdown privilege for the whole run, the window, its loop,
// and the exit status.
#include <cstdio>
#include <cstdlib>

#include "base/text.h"
#include "engine/steps.h"
#include "platform/system.h"
#include "settings/build_defaults.h"
#include "settings/file_xml.h"
#include "shell/backend.h"
#include "shell/form_main.h"

int main(int argc, char** argv) {
  if (platform::EmulatedMachine()) platform::SetProgramArguments(argc, argv);
  // The files an uninstallation left for the next start of Windows: where the
  // system is emulated, nothing else would ever delete them.
  engine::RunPendingDeletes();
  uint32_t savedShutdownAttributes = 0;
  try {
    // Held from start to end so that a restart after an uninstallation is allowed.
    savedShutdownAttributes = platform::SetPrivilege("SeShutdownPrivilege", platform::SE_PRIVILEGE_ENABLED_ATTR);
  } catch (const Exception& e) {
    // No window yet, and a window program has no console to write to: the failure
    // gets a box of its own, titled and worded as the window would be.
    TFileXML texts;
    texts.SetLanguage(text::UpperCase(defaults::DefaultLanguage()));
    texts.LoadTexts("KVI_XMLFile");
    ReportStartupFailure(texts.S_FormCaption, texts.S_UnknownError, e.Message);
    return 1;
  }

  std::unique_ptr<TBackend> backend = CreateDefaultBackend();
  TFMain form(*backend);
  TControl::SetObserver(backend.get());
  backend->Attach(form);
  form.FormCreate();
  backend->Run();
  form.FormDestroy();
  TControl::SetObserver(nullptr);

  try {
    platform::SetPrivilege("SeShutdownPrivilege", savedShutdownAttributes);
  } catch (const Exception& e) {
    // Too late to matter to the run, but a failure is never kept quiet.
    ReportStartupFailure(form.Caption(), "SeShutdownPrivilege", e.Message);
  }
  std::fflush(stdout);
  std::fflush(stderr);
  // A worker still blocked (a stalled transfer, a paused thread) ends with the
  // process; no destructor may wait for it.
  std::_Exit(form.ExitStatus());
}
