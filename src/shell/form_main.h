// The main window: four views (folder, progress, finish, uninstall), the worker,
// its two timers, the close question and what happens when the window goes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/controls.h"
#include "engine/worker.h"
#include "shell/backend.h"

class TLiveUpdate;
class TFileXML;

// The arguments the user's own instance adds for the elevated one it starts: the
// user's security identifier, and the installation folder it chose.
constexpr const char* kElevatedSwitch = "/ELEVATED";
constexpr const char* kFolderSwitch = "/FOLDER";
// How long the warning of a hidden run stays when nobody answers it.
constexpr uint32_t kNoticeCloseMs = 2 * 60 * 1000;

class TFMain : public TWorkerHost {
 public:
  explicit TFMain(TBackend& backend);
  ~TFMain() override;

  // Handlers.
  void FormCreate();
  void BChangeFolderClick();
  void BInstallClick();
  void BUninstallClick();
  void BCancelClick();
  void FBOkClick();
  void TimerMonitorThreadTimer();
  // The close request; true when the window may close.
  bool FormCloseQuery();
  void FormDestroy();

  void ShowFinish(const std::string& text, TMsgType type) override;
  // Instead of FormCreate, when another updater runs: the message box that says
  // so, in the window's language and with its title.
  void ShowAlreadyRunning();
  void CloseWindow();
  // Asks to close the window (the close box, Ctrl+C, BCancel): ends the loop when
  // the close request allows it.
  void Close();

  // TWorkerHost
  void Synchronize(const std::function<void()>& fn) override;
  bool AskRetry(TFileXML& texts, const std::vector<std::string>& files) override;
  // The visible window asks; a hidden run never does.
  bool AskProxyCredentials(TFileXML& texts, const std::string& proxy, const std::string& realm, std::string& username,
                           std::string& password) override;

  // Whether start-up asked for a hidden run.
  bool Hidden() const { return hidden_; }

  // Whether this user may not change the folder an installation or
  // uninstallation must change, so that an elevated instance should: on Windows,
  // a folder the system refuses this instance, unless it is itself the elevated
  // one. Replaceable by tests.
  std::function<bool(const std::string& folder)> FolderNeedsElevation;
  // Whether the window ended to hand the run to an elevated instance.
  bool HandOverRequested() const { return handOver_; }
  // That instance's arguments: this run's, this user's identifier (sid), the
  // folder, and the log this run writes unless the arguments name one.
  std::vector<std::string> ElevatedArguments(const std::string& sid, const std::string& logFile) const;
  // How the elevated instance ended: its exit status when it started, else the
  // system's error (platform::kErrorCancelled when the user declined), which ends
  // this run with engine::kExitCannotWrite and its words. After a completed
  // installation FormDestroy starts the application, as this user.
  void HandedOver(bool started, uint32_t error, uint32_t exitStatus);
  // What a hidden run that failed shows once it has ended (its status logged, its
  // lock let go): the warning, closing by itself after kNoticeCloseMs.
  void ShowNotice();
  std::string Caption() const { return caption_; }
  std::string ApplicationTitle() const { return applicationTitle_; }
  bool Closed() const { return closed_; }
  // What the process ends with: the worker's status once it has started; 1 after
  // an abort, or a hidden run that could not start; 0 before anything ran.
  int ExitStatus() const;

  // Controls, by view.
  TPanel PanelSelectFolder{"PanelSelectFolder"};
  TLabel SFLabelTop{"SFLabelTop"};
  TLabel SFLabelFolder{"SFLabelFolder"};
  TEdit EFolder{"EFolder"};
  TButton BChangeFolder{"BChangeFolder"};
  TButton BInstall{"BInstall"};
  TImage SFImageDRV{"SFImageDRV", "BRAND_DREVANTO"};
  TImage SFImageLV{"SFImageLV", "BRAND_LUMEVA"};

  TPanel PanelSetup{"PanelSetup"};
  TLabel LabelTop{"LabelTop"};
  TLabel LabelOverall{"LabelOverall"};
  TProgressBar PBOverall{"PBOverall"};
  TLabel LabelPending{"LabelPending"};
  TProgressBar PBPending{"PBPending"};
  TImage DRVImageTopRight{"DRVImageTopRight", "BRAND_DREVANTO"};
  TImage LVImageTopRight{"LVImageTopRight", "BRAND_LUMEVA"};

  TPanel PanelFinish{"PanelFinish"};
  TLabel FLabelTop{"FLabelTop"};
  TLabel FLabelMessage{"FLabelMessage"};
  TCheckBox CBCreateDesktop{"CBCreateDesktop"};
  TCheckBox CBRestart{"CBRestart"};
  TButton FBOk{"FBOk"};
  TImage FDRVImageLeft{"FDRVImageLeft", "BRAND_DREVANTO_LEFT"};
  TImage FLVImageLeft{"FLVImageLeft", "BRAND_LUMEVA_LEFT"};

  TPanel PanelUninstall{"PanelUninstall"};
  TLabel UninstallLabelTop{"UninstallLabelTop"};
  TLabel LabelUninstall{"LabelUninstall"};
  TButton BUninstall{"BUninstall"};
  TButton BCancel{"BCancel"};
  TImage PUDRVImage{"PUDRVImage", "BRAND_DREVANTO"};
  TImage PULVImage{"PULVImage", "BRAND_LUMEVA"};

  TTimer TimerMonitorThread{"TimerMonitorThread", 50};

  bool ClosingAllowed = false;
  std::unique_ptr<TLiveUpdate> Settings;
  std::unique_ptr<TFileXML> Texts;
  std::unique_ptr<TThreadLiveUpdate> Worker;
  TPauseGate Gate;

  // Every control, for back ends that walk them.
  std::vector<TControl*> AllControls();

 private:
  // Strips trailing backslashes, creates the folder with its parents and starts the
  // worker; false after the warning when the folder cannot be made.
  bool StartInstallation(const std::string& folder);
  // The parts of FormCreate, in its order.
  void WireControls();
  void LoadSettings();
  void ShowTexts();
  void ShowView(TPanel& view);
  // Ends the window for an elevated instance to do the run.
  void HandOver();
  // A warning: a box in a visible run, the hidden run's notice otherwise.
  void Warn(const std::string& text);
  // After a completed installation: registers it and starts the application, as
  // far as this instance's part goes.
  void FinishRun();

  TBackend& backend_;
  bool hidden_ = false;
  bool elevated_ = false;  // started elevated by the user's own instance
  bool handOver_ = false;
  int handOverStatus_ = 1;  // the elevated instance's, once it ended
  std::string notice_;
  bool windowVisible_ = false;
  bool closed_ = false;
  bool destroyed_ = false;
  bool aborted_ = false;
  int finalStatus_ = 0;  // what ExitStatus gives once the window is destroyed
  std::string caption_;
  std::string applicationTitle_;
};

// Trailing backslashes off, one by one.
std::string StripTrailingBackslashes(std::string folder);
