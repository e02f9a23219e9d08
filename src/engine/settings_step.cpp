#include "engine/worker.h"
#include "install/register.h"
#include "install/uninstall.h"
#include "settings/file_xml.h"
#include "settings/live_update.h"

bool TThreadLiveUpdate::SaveSettings() {
  return install::SaveSettings(Settings, [this](const std::string& message) { Report(message, mtWarning); });
}

bool TThreadLiveUpdate::UninstallFiles() {
  Controls.PBPending->SetMax(0);
  Controls.LabelPending->SetCaption(Texts().S_UninstallFiles);
  Controls.PBOverall->StepBy(1);
  return install::UninstallFiles(Settings, PendingProgress());
}

bool TThreadLiveUpdate::UninstallRegistries() {
  Controls.PBPending->SetMax(0);
  Controls.LabelPending->SetCaption(Texts().S_UninstallRegistries);
  Controls.PBOverall->StepBy(1);
  return install::UninstallRegistries(Settings, PendingProgress());
}
