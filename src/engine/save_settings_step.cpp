#include "base/log.h"
#include "engine/steps.h"
#include "install/save_settings.h"
#include "platform/system.h"
#include "settings/live_update.h"

namespace engine {

bool SaveSettings(TStepContext& run) {
  bool reported = false;
  const bool saved = install::SaveSettings(
      run.Settings, run.PackageVersion,
      [&run, &reported](const std::string& message) {
        reported = true;
        // The registry's own reason (access denied, no room) after what failed.
        const uint32_t code = platform::LastError();
        run.Report(code == 0 ? message : message + "\r\n" + platform::SysErrorMessage(code), mtWarning);
      },
      run.Defaults.Names);
  // The run goes on without its settings, as before; support should still learn why.
  if (!saved && !reported)
    logging::Log("Settings not saved: the key " + run.Defaults.Names.ProductRegistryKey + " cannot be opened (" +
                 platform::SysErrorMessage(platform::LastError()) + ")");
  return saved;
}

}  // namespace engine
