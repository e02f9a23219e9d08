#include "engine/steps.h"
#include "install/save_settings.h"
#include "settings/live_update.h"

namespace engine {

bool SaveSettings(TStepContext& run) {
  return install::SaveSettings(
      run.Settings, [&run](const std::string& message) { run.Report(message, mtWarning); }, run.Defaults.Names);
}

}  // namespace engine
