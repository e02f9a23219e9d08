#include "engine/steps.h"
#include "install/save_settings.h"
#include "install/uninstall.h"
#include "settings/live_update.h"

namespace engine {

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

bool SaveSettings(TStepContext& run) {
  return install::SaveSettings(run.Settings, [&run](const std::string& message) { run.Report(message, mtWarning); });
}

bool UninstallFiles(TStepContext& run) { return install::UninstallFiles(run.Settings, ProgressOf(run.Controls)); }

bool UninstallRegistries(TStepContext& run) {
  return install::UninstallRegistries(run.Settings, ProgressOf(run.Controls));
}

}  // namespace engine
