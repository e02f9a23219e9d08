#include "base/log.h"
#include "engine/steps.h"
#include "platform/processes.h"
#include "platform/system.h"
#include "settings/live_update.h"
#include "settings/string_param.h"

namespace engine {

bool StartApplication(const TLiveUpdate& settings, const TStepDefaults& defaults) {
  const TStringParam commands(defaults.Names.ApplicationCommand, ",");
  MakeCurrentFolder(settings.InstallFolder);
  bool started = true;
  for (int i = 0; i < commands.Count(); ++i) {
    if (platform::StartDetached(commands.Strings(i))) continue;
    // Installed all the same: the user starts it by its shortcut, support reads why.
    logging::Log("The application " + commands.Strings(i) +
                 " could not be started: " + platform::SysErrorMessage(platform::LastError()));
    started = false;
  }
  return started;
}

}  // namespace engine
