// The worker: one run of the installation (or uninstallation) pipeline on a thread
// of its own. It reaches the window only through the controls it writes and the
// host's synchronised calls.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/controls.h"

class TLiveUpdate;
class TFileXML;
class TStringParam;
namespace net {
class THTTPClient;
}
namespace archive {
class TUnZip;
}
namespace platform {
class TFileStream;
}

// The process exit status shared by the window and the worker: 0 at start, 1 while
// a run has not completed, 0 after a completed run, 1 after an abort.
extern std::atomic<int> ExitStatus;

// What the worker needs from the window, all run on the window's thread.
class TWorkerHost {
 public:
  virtual ~TWorkerHost() = default;
  // Runs fn on the window's thread and waits until it has run.
  virtual void Synchronize(const std::function<void()>& fn) = 0;
  // The finish view with the report (called through Synchronize).
  virtual void ShowFinish(const std::string& text, TMsgType type) = 0;
  // The retry dialog (called through Synchronize): true for Retry.
  virtual bool AskRetry(TFileXML& texts, const std::vector<std::string>& files) = 0;
};

// The controls the worker writes.
struct TWorkerControls {
  TLabel* LabelPending = nullptr;
  TLabel* LabelTop = nullptr;
  TLabel* FLabelTop = nullptr;
  TProgressBar* PBOverall = nullptr;
  TProgressBar* PBPending = nullptr;
  TCheckBox* CBCreateDesktop = nullptr;
  TCheckBox* CBRestart = nullptr;
};

class TThreadLiveUpdate {
 public:
  // Always created suspended: the thread starts on the first Resume.
  TThreadLiveUpdate(TLiveUpdate& settings, TWorkerControls controls, TWorkerHost& host, TPauseGate& gate);
  ~TThreadLiveUpdate();
  TThreadLiveUpdate(const TThreadLiveUpdate&) = delete;
  TThreadLiveUpdate& operator=(const TThreadLiveUpdate&) = delete;

  // Starts the thread on the first call; afterwards opens the pause gate.
  void Resume();
  // Closes the gate: the worker stops at its next safe point.
  void Suspend();
  void SuspendForGood();
  // The zero-time wait: true once Execute has returned.
  bool Finished() const { return finished_.load(); }
  bool Started() const { return started_.load(); }
  // Waits for the thread (tests and the process end only).
  void WaitFor();

  void Execute();

  // Called by the window's stall check: the advance of the step bar since the
  // previous call, or -1 when no transfer runs.
  int32_t DownloadProgress();

  // Run on the window's thread at destruction after a completed run.
  bool StartApplication();
  void RegisterInstallation(bool createDesktopShortcut);

  // Steps; each returns true to go on, false after its own failure report.
  void Setup();
  void Cleanup();
  bool Download();
  bool Unpack();
  bool StopApplication();
  bool StopProcess(uint32_t pid);
  bool CopyFiles();
  bool ReplaceFile(const std::string& source, const std::string& destination);
  bool RequestRetry(TFileXML& texts, const std::vector<std::string>& files);
  bool Configure();
  bool DeleteTempFiles();
  bool SaveSettings();
  bool UninstallFiles();
  bool UninstallRegistries();

  void Report(const std::string& text, TMsgType type);

  // Handlers of the transfer and the extraction.
  void DownloadWorkBegin(int64_t workCountMax);
  void DownloadWork(int64_t workCount);
  void UnpackProgress(int progressByFile, int progressByArchive);
  void UnpackBegin(const std::string& fileName, int count, bool& extract);

  // Whether the extraction reported a problem with an entry (a damaged package is
  // never installed).
  bool UnpackFailed() const { return unpackFailed_; }

  TLiveUpdate& Settings;
  TWorkerControls Controls;

  std::unique_ptr<net::THTTPClient> HTTP;
  std::unique_ptr<archive::TUnZip> UnZip;
  std::string ReportText;
  TMsgType ReportType = mtInformation;
  std::atomic<bool> Downloading{false};
  std::atomic<int32_t> LastPosition{0};
  TFileXML* RetryTexts = nullptr;
  const std::vector<std::string>* RetryFiles = nullptr;
  bool RetryAnswer = false;

 private:
  TFileXML& Texts();

  TWorkerHost& host_;
  TPauseGate& gate_;
  std::thread thread_;
  std::atomic<bool> started_{false};
  std::atomic<bool> finished_{false};
  bool unpackFailed_ = false;
};
