// The steps of a run, each a function over a step context: the settings in, the
// build-time values, a progress display, its report out, its outcome returned. A
// step that returns false has made its own failure report; true means go on.
//
// The working fields of the settings (TLiveUpdate), who writes and who reads them:
//
//   field              written by                         read by
//   DownloadURL        the window                         Download
//   InstallFolder      the window (Install)               CopyFiles, Configure, SaveSettings,
//                                                         FinishInstallation
//   RegistryKeys       the window                         CopyFiles (the record), UninstallFiles,
//                                                         UninstallRegistries, FinishInstallation
//   UninstallMode      the window                         the sequence (worker.cpp)
//   Texts              the window                         every step's captions and reports
//   TempFolder         Setup (the run's private folder)   Download, Unpack, CopyFiles, Cleanup
//   ArchiveFileName    Download                           Unpack, Cleanup
//   PackageVersion     Download (from the statement)      SaveSettings, FinishInstallation
//   ExtractFolderName  Unpack                             CopyFiles, Cleanup
//   ExtractedFiles     Unpack; CopyFiles drops the        CopyFiles, DeleteTempFiles
//                      files it placed
//   ProcessList        StopApplication (the "/KILL" list) StopApplication
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/controls.h"
#include "install/product_names.h"
#include "install/step_progress.h"

class TLiveUpdate;
class TFileXML;
namespace net {
class THTTPClient;
}
namespace archive {
class TUnZip;
}
namespace platform {
class TFileStream;
}
class TStream;

namespace engine {

// The build-time values the steps use, read once for a run (FromBuild), so that
// no step reads the program's defaults itself and a test can give a step its own.
struct TStepDefaults {
  install::TProductNames Names;
  // Which packages are taken (net::TTrustPolicy::FromDefaults reads them): the
  // publisher's keys, "1" for unsigned packages over plain http too, the most
  // bytes of an unsigned package ("" for the built-in limit).
  std::string PackageKey;
  std::string AllowUnauthenticated;
  std::string MaxPackageSize;
  std::string BatchFileName;
  uint32_t FileReplaceTimeout = 0;  // milliseconds a held file is tried for

  static TStepDefaults FromBuild();
};

// What a step may use of the run. Report and AskRetry reach the window's thread
// and return once it has answered; an exception raised there is raised here.
struct TStepContext {
  TLiveUpdate& Settings;
  const TStepDefaults& Defaults;
  install::TStepProgress& Progress;
  // The finish report.
  std::function<void(const std::string& text, TMsgType type)> Report;
  // The retry dialog over the destination paths that failed: true for Retry.
  std::function<bool(const std::vector<std::string>& files)> AskRetry;
  // A safe point: blocks while the window holds the run.
  std::function<void()> Pass;

  TFileXML& Texts() const;
};

// The window's controls as a step's progress: LabelPending, PBOverall, PBPending.
class TControlProgress : public install::TStepProgress {
 public:
  TControlProgress(TLabel& caption, TProgressBar& overall, TProgressBar& step)
      : caption_(caption), overall_(overall), step_(step) {}
  void SetCaption(const std::string& caption) override { caption_.SetCaption(caption); }
  void StepOverall() override { overall_.StepBy(1); }
  void SetMax(int32_t max) override { step_.SetMax(max); }
  void SetPosition(int32_t position) override { step_.SetPosition(position); }
  void Step() override { step_.StepBy(1); }
  int32_t Max() const override { return step_.Max(); }
  int32_t Position() const override { return step_.Position(); }

 private:
  TLabel& caption_;
  TProgressBar& overall_;
  TProgressBar& step_;
};

// The transfer as the window's stall check sees it: the bytes the client
// receives, counted whether or not the answer announced its length.
class TTransferWatch {
 public:
  // client's transfer begins; it stays alive until Ended.
  void Started(const net::THTTPClient& client);
  void Ended();
  // The bytes received since the previous call (since Started for the first)
  // while a transfer runs, at most INT32_MAX; -1 when none runs. Any thread.
  int32_t Progress();

 private:
  std::mutex mutex_;
  const net::THTTPClient* client_ = nullptr;
  int64_t last_ = 0;
};

// The components Setup makes for a run and Cleanup frees.
struct TRunTools {
  TRunTools();
  ~TRunTools();
  std::unique_ptr<net::THTTPClient> HTTP;
  std::unique_ptr<archive::TUnZip> UnZip;
  // The package as the download step wrote and checked it, open until Cleanup.
  std::unique_ptr<platform::TFileStream> Package;
  // The run's private folder in TEMP, made by Setup.
  std::string RunFolder;
};

// The client with its progress events and the system proxy, the extraction
// component, and the run's private folder (platform::CreatePrivateFolder) in the
// temporary folder as the settings' TempFolder. Raises EInOutError when that
// folder cannot be made.
void Setup(TStepContext& run, TRunTools& tools);
// Closes the package, removes the run's archive and its extraction folder and the
// run's folder with whatever is left in them, and frees the tools. Runs on every
// way out of a run; raises nothing.
void Cleanup(TStepContext& run, TRunTools& tools);
// Makes folder the process's current folder; raises EInOutError when it cannot.
void MakeCurrentFolder(const std::string& folder);
// Removes the folders below a folder, deepest first, then the folder itself; their
// files too only when withFiles is set, else a folder holding a file stays.
void RemoveFolders(const std::string& folder, bool withFiles);

// Fetches the package into the temporary folder as the trust policy of the
// defaults allows: with package keys, the release statement first (signed, this
// product, not older than the installed version), then the package, stopped at
// the statement's size and hashed as it is written; without keys, only over
// https unless AllowUnauthenticated, and no larger than MaxPackageSize. On
// success package holds the file, open, unshared, for the unpack step; on failure
// nothing of it is left.
bool Download(TStepContext& run, net::THTTPClient& http, TTransferWatch& watch,
              std::unique_ptr<platform::TFileStream>& package);
// The download's rule of completeness: every announced byte counted (an answer
// that announces no length is complete with whatever came).
bool TransferComplete(int64_t counted, int64_t announced);

// Extracts the package, read from the stream the download step left open, into a
// new folder of the temporary folder; the names go into Settings.ExtractedFiles.
bool Unpack(TStepContext& run, archive::TUnZip& unzip, TStream& package);
// How the unpack step sets the extractor up, its archive already set: every entry,
// with its folders, below extractFolder, existing files replaced without a question.
void ConfigureUnpack(archive::TUnZip& unzip, const std::string& extractFolder);

// Stops the processes listed after "/KILL".
bool StopApplication(TStepContext& run);
bool StopProcess(TStepContext& run, uint32_t pid);

// Puts the extracted files in place below the installation folder, offering the
// ones that fail in the retry dialog, and records them for the uninstallation.
// When it does not complete (Cancel, or an error raised, which it raises again),
// every original is put back and every added file and folder removed.
bool CopyFiles(TStepContext& run);
// One file: an existing destination (read-only or not) is moved to backup within
// timeoutMs, then the source moved, or copied, onto it. False when the destination
// stays held, or nothing could take its place (the original is then back where it
// was).
bool ReplaceFile(const std::string& source, const std::string& destination, const std::string& backup,
                 uint32_t timeoutMs);

// Runs the package's batch file line by line from the installation folder, then
// deletes it. Raises EInOutError when the folder cannot be made current.
bool Configure(TStepContext& run);
// Deletes the extracted files still listed and the folders they leave empty.
bool DeleteTempFiles(TStepContext& run);
// The product settings after a completed run; its failure is reported, never fatal.
bool SaveSettings(TStepContext& run);

// What the window does when the user leaves a completed installation, on its own
// thread: registers the installation (the desktop shortcut only when
// createDesktopShortcut) and starts the application. Raises what the registration
// raises (then nothing is started) and EInOutError from StartApplication.
void FinishInstallation(const TLiveUpdate& settings, bool createDesktopShortcut, const TStepDefaults& defaults);
// Starts each program of the application's command list from the installation
// folder, without waiting. Raises EInOutError when the folder cannot be made
// current.
bool StartApplication(const TLiveUpdate& settings, const TStepDefaults& defaults);

// The folder of the installation there is (from its logon entry), or "": what a
// hidden run updates.
std::string InstalledFolder(const TStepDefaults& defaults);
// Deletes the files an uninstallation left for the next start of the system, where
// the system is emulated and nothing else would.
void RunPendingDeletes();

}  // namespace engine
