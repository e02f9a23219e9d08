// The worker: one run of the installation (or uninstallation) on a thread of its
// own. It keeps the thread, the pause gate and the sequence of the steps (steps.h);
// it reaches the window only through the controls it writes and the host's
// synchronised calls.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "engine/controls.h"
#include "engine/steps.h"

class TLiveUpdate;
class TFileXML;

namespace engine {

// The controls a run writes.
struct TWorkerControls {
  TLabel* LabelPending = nullptr;
  TLabel* LabelTop = nullptr;
  TLabel* FLabelTop = nullptr;
  TProgressBar* PBOverall = nullptr;
  TProgressBar* PBPending = nullptr;
  TCheckBox* CBCreateDesktop = nullptr;
  TCheckBox* CBRestart = nullptr;
};

}  // namespace engine

// What the worker needs from the window, all run on the window's thread.
class TWorkerHost {
 public:
  virtual ~TWorkerHost() = default;
  // Runs fn on the window's thread and waits until it has run; raises here what fn
  // raised there.
  virtual void Synchronize(const std::function<void()>& fn) = 0;
  // The finish view with the report (called through Synchronize).
  virtual void ShowFinish(const std::string& text, TMsgType type) = 0;
  // The retry dialog (called through Synchronize): true for Retry.
  virtual bool AskRetry(TFileXML& texts, const std::vector<std::string>& files) = 0;
  // A proxy's user name and password (called through Synchronize): true when
  // given. Nobody is asked unless a host says otherwise.
  virtual bool AskProxyCredentials(TFileXML& /*texts*/, const std::string& /*proxy*/, const std::string& /*realm*/,
                                   std::string& /*username*/, std::string& /*password*/) {
    return false;
  }
};

class TThreadLiveUpdate {
 public:
  // Always created suspended: the thread starts on the first Resume.
  TThreadLiveUpdate(TLiveUpdate& settings, engine::TStepDefaults defaults, engine::TWorkerControls controls,
                    TWorkerHost& host, TPauseGate& gate);
  ~TThreadLiveUpdate();
  TThreadLiveUpdate(const TThreadLiveUpdate&) = delete;
  TThreadLiveUpdate& operator=(const TThreadLiveUpdate&) = delete;

  // Starts the thread on the first call; afterwards opens the pause gate.
  void Resume();
  // Closes the gate: the worker stops at its next safe point.
  void Suspend();
  void SuspendForGood();
  // Gives the run up (from the window's thread): the worker stops at its next safe
  // point or wait, puts back what it changed and removes its files, and reports
  // nothing more.
  void Cancel();
  // The zero-time wait: true once the run has returned.
  bool Finished() const { return finished_.load(); }
  bool Started() const { return started_.load(); }
  // Waits for the thread (tests and the process end only).
  void WaitFor();

  // What the run hands back for the process to end with: 1 until it has
  // completed, 0 once it has, the failing step's status (engine::kExit...) after
  // a failure.
  int ExitStatus() const { return exitStatus_.load(); }

  // The version of the package a completed run installed ("" without a release
  // statement): read once ExitStatus is 0.
  const std::string& PackageVersion() const { return packageVersion_; }

  // The build-time values the run goes by.
  const engine::TStepDefaults& Defaults() const { return defaults_; }

 private:
  // The whole run: the steps in order, stopping at the first that fails, one report.
  void Execute();
  // The sequences: true when every step completed.
  bool Install(engine::TStepContext& run, engine::TRunTools& tools);
  bool Uninstall(install::TStepProgress& progress);
  // The end of a run whose steps all completed: its controls, status and report.
  void Complete(const engine::TStepContext& run);
  // One step, begun only while the run is not given up.
  bool Step(const char* name, const std::function<bool()>& step);
  // A safe point: waits while the window holds the run; raises
  // engine::ERunCancelled once it is given up.
  void Pass();
  // What comes before a call into the window: the progress shown whole, a safe
  // point.
  void BeforeWindow();
  // The run's questions and its report, on the window's thread.
  bool AskRetry(const std::vector<std::string>& files);
  bool AskProxyCredentials(const std::string& proxy, const std::string& realm, std::string& username,
                           std::string& password);
  void Report(const std::string& text, TMsgType type);
  // The report of an error no step handled, with what could not be put back.
  void ReportUnknownError(const std::string& unrestored);

  TLiveUpdate& settings_;
  const engine::TStepDefaults defaults_;
  const engine::TWorkerControls controls_;
  TWorkerHost& host_;
  TPauseGate& gate_;
  engine::TCancelToken cancel_;
  // The run's progress while Execute runs: shown whole before any report.
  engine::TControlProgress* progress_ = nullptr;
  std::thread thread_;
  std::string packageVersion_;
  std::atomic<int> exitStatus_{1};
  std::atomic<bool> started_{false};
  std::atomic<bool> finished_{false};
};
