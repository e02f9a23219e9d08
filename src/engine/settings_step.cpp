#include "engine/worker.h"
#include "install/save_settings.h"
#include "install/uninstall.h"
#include "settings/file_xml.h"
#include "settings/live_update.h"

namespace {

install::TUninstallProgress ProgressOf(const TWorkerControls& c) {
  install::TUninstallProgress p;
  p.SetCaption = [&c](const std::string& caption) { c.LabelPending->SetCaption(caption); };
  p.StepOverall = [&c] { c.PBOverall->StepBy(1); };
  p.SetMax = [&c](int32_t max) { c.PBPending->SetMax(max); };
  p.SetPosition = [&c](int32_t position) { c.PBPending->SetPosition(position); };
  p.Step = [&c] { c.PBPending->StepBy(1); };
  return p;
}

}  // namespace

bool TThreadLiveUpdate::SaveSettings() {
  return install::SaveSettings(Settings, [this](const std::string& message) { Report(message, mtWarning); });
}

bool TThreadLiveUpdate::UninstallFiles() { return install::UninstallFiles(Settings, ProgressOf(Controls)); }

bool TThreadLiveUpdate::UninstallRegistries() { return install::UninstallRegistries(Settings, ProgressOf(Controls)); }
