// The main window: four views (folder, progress, finish, uninstall), the worker,
// its two timers, the close question and what happens when the window goes.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/controls.h"
#include "engine/worker.h"
#include "shell/backend.h"

class TLiveUpdate;
class TFileXML;

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
  void ShowView(TPanel& view);

  TBackend& backend_;
  bool hidden_ = false;
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
