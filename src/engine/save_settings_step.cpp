#include "engine/steps.h"
#include "install/save_settings.h"
#include "platform/system.h"
#include "settings/live_update.h"

namespace engine {

bool SaveSettings(TStepContext& run) {
  return install::SaveSettings(
      run.Settings,
      [&run](const std::string& message) {
        // The registry's own reason (access denied, no room) after what failed.
        const uint32_t code = platform::LastError();
        run.Report(code == 0 ? message : message + "\r\n" + platform::SysErrorMessage(code), mtWarning);
      },
      run.Defaults.Names);
}

}  // namespace engine
