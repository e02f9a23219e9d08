#include "engine/steps.h"
#include "platform/processes.h"
#include "settings/live_update.h"
#include "settings/string_param.h"

namespace engine {

bool StartApplication(const TLiveUpdate& settings, const TStepDefaults& defaults) {
  const TStringParam commands(defaults.Names.ApplicationCommand, ",");
  MakeCurrentFolder(settings.InstallFolder);
  for (int i = 0; i < commands.Count(); ++i) platform::StartDetached(commands.Strings(i));
  return true;
}

}  // namespace engine
