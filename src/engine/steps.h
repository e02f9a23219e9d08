// The steps of a run, each a function over a step context: the settings in, the
// build-time values, a progress display, its report out, its outcome returned. A
// step that returns false has made its own failure report; true means go on.
//
// The settings (TLiveUpdate) are the window's: a step reads them, and only Setup
// writes one, TempFolder. What the steps hand each other lives in the step context,
// the run's own; of that, ExtractedFiles alone has two writers: Unpack lists the
// files, CopyFiles drops the ones it placed.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/cancel.h"
#include "engine/controls.h"
#include "engine/journal.h"
#include "install/product_names.h"
#include "install/step_progress.h"
#include "settings/string_param.h"

class TLiveUpdate;
class TFileXML;
namespace net {
class THTTPClient;
class TProxyResolver;
}  // namespace net
namespace archive {
class TUnZip;
}
namespace platform {
class TFileStream;
}
class TStream;

namespace engine {

// How a run ends, as the process's exit status, hidden or visible: what a script
// that starts the updater may tell apart.
constexpr int kExitDone = 0;               // installed or uninstalled
constexpr int kExitFailed = 1;             // anything not below
constexpr int kExitDownloadFailed = 2;     // the network, the server or the proxy
constexpr int kExitNotAuthentic = 3;       // not signed, not this product's, older than installed
constexpr int kExitDamaged = 4;            // the package cannot be unpacked whole
constexpr int kExitFilesInUse = 5;         // held files (or the application) and the update cancelled
constexpr int kExitCannotWrite = 6;        // a full disk, a denied access
constexpr int kExitAnotherUpdateRuns = 7;  // found another updater running and did nothing
constexpr int kExitUpdateInDoubt = 8;      // an earlier update's journal is damaged: nothing done until resolved

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
  // The waits between attempts of a download that fails midway (the last one
  // repeats), before a little jitter.
  std::vector<int32_t> DownloadWaitsMs = {1000, 2000, 4000, 8000};
  // How long a download may receive nothing before it is given up.
  int32_t DownloadStallMs = 60000;

  static TStepDefaults FromBuild();
};

// What a step may use of the run. Report and AskRetry reach the window's thread
// and return once it has answered; an exception raised there is raised here.
struct TStepContext {
  TLiveUpdate& Settings;
  const TStepDefaults& Defaults;
  install::TStepProgress& Progress;
  // Set once the user gives the run up: what waits, waits on it.
  const TCancelToken& Cancel;
  // The finish report.
  std::function<void(const std::string& text, TMsgType type)> Report;
  // The retry dialog over the destination paths that failed: true for Retry.
  std::function<bool(const std::vector<std::string>& files)> AskRetry;
  // A safe point: blocks while the window holds the run; raises ERunCancelled
  // once it is given up.
  std::function<void()> Pass;
  // Asks the user for a proxy's Basic credentials ("host:port", its realm); false
  // when nobody may be asked or the user declines. Unset: never asked.
  std::function<bool(const std::string& proxy, const std::string& realm, std::string& username, std::string& password)>
      AskProxyCredentials{};
  // What the steps hand each other. The run's own folder below TempFolder (without
  // trailing backslash), made by Download: the archive, the extraction folder and
  // the recovery copy of the updater live there, and it goes with the run.
  std::string RunFolder{};
  std::string ArchiveFileName{};  // Download
  // Download, from the release statement; "" without one.
  std::string PackageVersion{};
  std::string ExtractFolderName{};  // Unpack
  // Unpack: the installation's volume cannot be flushed whole, so every new file
  // is flushed as it is written (the extraction, a copy from another volume).
  bool FlushFileByFile = false;
  // Full paths of the extracted files, in the order they were reported.
  std::vector<std::string> ExtractedFiles{};
  // The "/KILL" list, StopApplication's.
  TStringParam ProcessList{"", ","};
  // The update's journal from the copy step's first change until the update is
  // whole (CommitUpdate) or undone (RollBackUpdate); kept when it could not be
  // undone, in doubt.
  std::unique_ptr<TUpdateJournal> Journal{};
  // The exit status a step that returns false leaves for the run (kExit...).
  int Failure = kExitFailed;

  TFileXML& Texts() const;
  // Reports text and leaves status for the run.
  void Fail(const std::string& text, int status);
};

// The window's controls as a step's progress: LabelPending, PBOverall, PBPending.
// The step bar's position, which may change per file or per block, reaches the
// window at most every kShowInterval; the caption, the overall bar and the maximum
// at once, after the position before them. Used by the worker's thread alone.
class TControlProgress : public install::TStepProgress {
 public:
  static constexpr std::chrono::milliseconds kShowInterval{50};

  TControlProgress(TLabel& caption, TProgressBar& overall, TProgressBar& step);
  void SetCaption(const std::string& caption) override;
  void StepOverall() override;
  void SetMax(int32_t max) override;
  void SetPosition(int32_t position) override;
  void Step() override;
  int32_t Max() const override { return max_; }
  int32_t Position() const override { return position_; }
  // Shows the position now: before the window is told how the run ends.
  void Flush();

 private:
  void Show();

  TLabel& caption_;
  TProgressBar& overall_;
  TProgressBar& step_;
  int32_t max_;
  int32_t position_;
  int32_t shown_;  // the position the bar holds
  std::chrono::steady_clock::time_point next_;
};

// The components Setup makes for a run and Cleanup frees.
struct TRunTools {
  TRunTools();
  ~TRunTools();
  std::unique_ptr<net::TProxyResolver> Proxies;
  std::unique_ptr<net::THTTPClient> HTTP;
  std::unique_ptr<archive::TUnZip> UnZip;
  // The package as the download step wrote and checked it, open until Cleanup.
  std::unique_ptr<platform::TFileStream> Package;
};

// Runs one step of the sequence, its start and end in the log.
bool LoggedStep(const char* name, const std::function<bool()>& step);

// The client with its progress events, the proxies the system would use and
// the question for a proxy's credentials (asked once a run), the extraction
// component, and the temporary folder into the settings.
void Setup(TStepContext& run, TRunTools& tools);
// Closes the package, removes the run's folder with everything in it (the
// archive, the extraction folder), but for the recovery copy of an update left in
// doubt, and frees the tools. Runs on every way out of a run; raises nothing.
void Cleanup(TStepContext& run, TRunTools& tools);
// Makes folder the process's current folder; raises EInOutError when it cannot.
void MakeCurrentFolder(const std::string& folder);
// The name of a run's own folder in the temporary folder begins with this,
// followed by a GUID.
extern const char* const kRunFolderPrefix;  // "ORBAXLU-"
// Whether a name is that of a run's own folder: the prefix and a GUID in its
// 38-character form, nothing else.
bool IsRunFolderName(const std::string& name);

// Makes the run's private folder (platform::CreatePrivateFolder) in the temporary
// folder and fetches the package into it as the trust policy of the defaults
// allows: with package keys, the release statement first (signed, this product,
// not older than the installed version), then the package, stopped at the
// statement's size and hashed as it is written; without keys, only over https
// unless AllowUnauthenticated, and no larger than MaxPackageSize. On success
// package holds the file, open, unshared, for the unpack step; on failure nothing
// of it is left.
bool Download(TStepContext& run, net::THTTPClient& http, std::unique_ptr<platform::TFileStream>& package);

// Extracts the package, read from the stream the download step left open, into a
// new folder of the run's folder; the names go into run.ExtractedFiles.
bool Unpack(TStepContext& run, archive::TUnZip& unzip, TStream& package);
// How the unpack step sets the extractor up, its archive already set: every entry,
// with its folders, below extractFolder, existing files replaced without a question.
void ConfigureUnpack(archive::TUnZip& unzip, const std::string& extractFolder);

// Stops the processes listed after "/KILL".
bool StopApplication(TStepContext& run);
bool StopProcess(TStepContext& run, uint32_t pid);

// Puts the extracted files in place below the installation folder, offering the
// ones held by another program in the retry dialog, and records them for the
// uninstallation; the update's journal begins before its first change (and stays
// in run.Journal). A file that cannot be placed for another cause (access denied,
// a full disk) ends the step at once with the system's message. When it does not
// complete (that, Cancel, or an error raised, which it raises again), every
// original is put back and every added file and folder removed.
bool CopyFiles(TStepContext& run);
// One file. backup: where the original goes aside ("" when none is there);
// copy: where a file from another volume is copied (and, with flushCopy, flushed)
// before it is renamed into place. A destination another program holds is tried
// for timeoutMs, a wait that cancel ends (ERunCancelled); unheld: the caller
// knows that none does (platform::THeldFiles).
enum class TPlacement { Placed, Held, Failed };
TPlacement PlaceFile(const std::string& source, const std::string& destination, const std::string& backup,
                     const std::string& copy, uint32_t timeoutMs, bool unheld = false,
                     const TCancelToken* cancel = nullptr, bool flushCopy = false);
// The update is whole after the last step: what it changed is flushed to the
// disk and its journal ends. When the system cannot flush it or write the end,
// the update is undone and reported (status kExitCannotWrite): false.
bool CommitUpdate(TStepContext& run);
// Undoes the copy step of a run that ends before CommitUpdate (nothing when there
// is none); returns what could not be put back. Raises nothing.
std::string RollBackUpdate(TStepContext& run);

// Runs the package's batch file line by line from the installation folder, then
// deletes it. Raises EInOutError when the folder cannot be made current.
bool Configure(TStepContext& run);
// Deletes the extracted files still listed and the folders they leave empty.
bool DeleteTempFiles(TStepContext& run);
// The product settings after a completed run; its failure is reported, never fatal.
bool SaveSettings(TStepContext& run);

// What the window does when the user leaves a completed installation, on its own
// thread: registers the installation (packageVersion: the run's) (the desktop shortcut only when
// createDesktopShortcut) and starts the application. Raises what the registration
// raises (then nothing is started) and EInOutError from StartApplication.
void FinishInstallation(const TLiveUpdate& settings, const std::string& packageVersion, bool createDesktopShortcut,
                        const TStepDefaults& defaults);
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

// What every start does once it holds the updater's lock, before anything else:
// recovers the updates left in doubt that this product's RunOnce recovery entry
// names, then removes the folders dead runs of this user left in the temporary
// folder, but for what an update still in doubt needs. Returns how the recovery
// ended.
TRecovery RecoverAtStart(const TStepDefaults& defaults);
// The exit status a recovery that did not end whole gives a run (kExitDone when
// it did): another updater at work, a damaged journal, or what could not be
// written.
int RecoveryStatus(const TRecovery& recovery);
// The report of such a recovery: its text and what failed.
std::string RecoveryReport(TFileXML& texts, const TRecovery& recovery);

}  // namespace engine
