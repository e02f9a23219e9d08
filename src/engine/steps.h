// The steps of a run, each a function over what it needs: the settings in, the
// window's controls for its progress, its report out, its outcome returned. A step
// that returns false has made its own failure report; true means go on.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/controls.h"

class TLiveUpdate;
class TFileXML;
namespace net {
class THTTPClient;
}
namespace archive {
class TUnZip;
}

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

// What a step may use of the run. The calls reach the window's thread and return
// once it has answered.
struct TStepContext {
  TLiveUpdate& Settings;
  const TWorkerControls& Controls;
  // The finish report.
  std::function<void(const std::string& text, TMsgType type)> Report;
  // The retry dialog over the destination paths that failed: true for Retry.
  std::function<bool(const std::vector<std::string>& files)> AskRetry;
  // A safe point: blocks while the window holds the run.
  std::function<void()> Pass;

  TFileXML& Texts() const;
};

// The transfer as the window's stall check sees it.
class TTransferWatch {
 public:
  void Started();
  void Ended();
  // The advance of bar since the previous call while a transfer runs; -1 when none
  // runs.
  int32_t Progress(const TProgressBar& bar);

 private:
  std::atomic<bool> downloading_{false};
  std::atomic<int32_t> lastPosition_{0};
};

// The components Setup makes for a run and Cleanup frees.
struct TRunTools {
  TRunTools();
  ~TRunTools();
  std::unique_ptr<net::THTTPClient> HTTP;
  std::unique_ptr<archive::TUnZip> UnZip;
};

// The client with its progress events and the system proxy, the extraction
// component, and the temporary folder into the settings.
void Setup(TStepContext& run, TRunTools& tools);
// Removes what is left of the extraction folder and the archive, and frees the tools.
void Cleanup(TStepContext& run, TRunTools& tools);
// Removes the folders below a folder, deepest first, then the folder itself; their
// files too only when withFiles is set, else a folder holding a file stays.
void RemoveFolders(const std::string& folder, bool withFiles);

// Fetches the package into the temporary folder.
bool Download(TStepContext& run, net::THTTPClient& http, TTransferWatch& watch);
// Extracts it into a new folder of the temporary folder; the names go into
// Settings.ExtractedFiles.
bool Unpack(TStepContext& run, archive::TUnZip& unzip);
// Stops the processes listed after "/KILL".
bool StopApplication(TStepContext& run);
bool StopProcess(TStepContext& run, uint32_t pid);
// Puts the extracted files in place below the installation folder, offering the
// ones that fail in the retry dialog, and records them for the uninstallation.
// When it does not complete, every original is put back and every added file and
// folder removed.
bool CopyFiles(TStepContext& run);
// One file: an existing destination (read-only or not) is moved to backup within
// the replace time limit, then the source moved, or copied, onto it. False when the
// destination stays held, or nothing could take its place (the original is then
// back where it was).
bool ReplaceFile(const std::string& source, const std::string& destination, const std::string& backup);
// Runs the package's batch file line by line from the installation folder, then
// deletes it. Raises EInOutError when the folder cannot be made current.
bool Configure(TStepContext& run);
// Deletes the extracted files still listed and the folders they leave empty.
bool DeleteTempFiles(TStepContext& run);
// The product settings after a completed run; its failure is reported, never fatal.
bool SaveSettings(TStepContext& run);
bool UninstallFiles(TStepContext& run);
bool UninstallRegistries(TStepContext& run);

// Starts the installed application from its folder (on the window's thread, after
// a completed run). Raises EInOutError when the folder cannot be made current.
bool StartApplication(TLiveUpdate& settings);

}  // namespace engine
