// What every run shares: its set-up and clean-up, the context the steps get.
#include "archive/unzip.h"
#include "base/log.h"
#include "base/text.h"
#include "engine/steps.h"
#include "install/register.h"
#include "install/uninstall.h"
#include "net/http_client.h"
#include "net/proxy_resolver.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "settings/build_defaults.h"
#include "settings/file_xml.h"
#include "settings/live_update.h"

namespace engine {

TStepDefaults TStepDefaults::FromBuild() {
  TStepDefaults d;
  d.Names = install::TProductNames::FromBuildDefaults();
  d.PackageKey = defaults::PackageKey();
  d.AllowUnauthenticated = defaults::AllowUnauthenticated();
  d.MaxPackageSize = defaults::MaxPackageSize();
  d.BatchFileName = defaults::BatchFileName;
  d.FileReplaceTimeout = defaults::FileReplaceTimeout;
  return d;
}

TFileXML& TStepContext::Texts() const { return *Settings.Texts; }

void TStepContext::Fail(const std::string& text, int status) {
  Failure = status;
  Report(text, mtWarning);
}

TRunTools::TRunTools() = default;
TRunTools::~TRunTools() = default;

bool LoggedStep(const char* name, const std::function<bool()>& step) {
  logging::Log(std::string("Step ") + name + ": start");
  bool done = false;
  try {
    done = step();
  } catch (...) {
    logging::Log(std::string("Step ") + name + ": ended by an error");
    throw;
  }
  logging::Log(std::string("Step ") + name + (done ? ": done" : ": failed"));
  return done;
}

void Setup(TStepContext& run, TRunTools& tools) {
  tools.HTTP = std::make_unique<net::THTTPClient>();
  tools.HTTP->StallTimeout = run.Defaults.DownloadStallMs;
  // The step bar doubles as the transfer's byte counter.
  install::TStepProgress& bar = run.Progress;
  tools.HTTP->OnWorkBegin = [&bar](net::THTTPClient*, net::TWorkMode, int64_t max) {
    bar.SetMax(static_cast<int32_t>(std::min<int64_t>(max, INT32_MAX)));
  };
  // A transfer or an extraction given up ends at its next block.
  const TCancelToken& cancel = run.Cancel;
  tools.HTTP->OnWork = [&bar, &cancel](net::THTTPClient*, net::TWorkMode, int64_t count) {
    cancel.Check();
    bar.SetPosition(static_cast<int32_t>(std::min<int64_t>(count, INT32_MAX)));
  };
  // The proxies the system's own HTTP stack would take for each address, not
  // only its fixed proxy.
  tools.Proxies = std::make_unique<net::TProxyResolver>();
  net::TProxyResolver& proxies = *tools.Proxies;
  tools.HTTP->ResolveProxy = [&proxies](const std::string& url) { return proxies.Resolve(url); };
  if (run.AskProxyCredentials) {
    // Asked once a run: what was given is kept by the client for the rest of it,
    // and a refusal of it ends the request with the proxy's answer.
    tools.HTTP->OnProxyCredentials = [&run, asked = false](net::THTTPClient*,
                                                           const net::TProxyCredentialRequest& request,
                                                           std::string& username, std::string& password) mutable {
      const std::string line = "Proxy credentials for " + request.Proxy + ": ";
      // From the second attempt on, the proxy has refused what it was given.
      const std::string refused = request.Attempt > 1 ? "the ones given were refused" : "";
      if (asked) {
        logging::Log(line + refused);
        return false;
      }
      asked = true;
      const bool given = run.AskProxyCredentials(request.Proxy, request.Realm, username, password);
      logging::Log(line + (refused.empty() ? (given ? "given" : "none given")
                                           : refused + (given ? "; others given" : "; no others given")));
      return given;
    };
  }
  tools.UnZip = std::make_unique<archive::TUnZip>();
  tools.UnZip->OnProgress = [&bar, &cancel](archive::TUnZip*, uint8_t, uint8_t byArchive) {
    cancel.Check();
    bar.SetPosition(byArchive);
  };
  run.Settings.TempFolder = platform::TempDir();
}

void MakeCurrentFolder(const std::string& folder) {
  if (platform::SetCurrentDir(folder)) return;
  const uint32_t code = platform::LastError();
  throw EInOutError(platform::SysErrorMessage(code), static_cast<int>(code));
}

const char* const kRunFolderPrefix = "ORBAXLU-";

bool IsRunFolderName(const std::string& name) {
  if (name.size() != 8 + 38 || !text::StartsText(kRunFolderPrefix, name)) return false;
  const std::string guid = name.substr(8);
  for (size_t i = 0; i < guid.size(); ++i) {
    const char c = guid[i];
    const bool wanted = i == 0                                      ? c == '{'
                        : i == 37                                   ? c == '}'
                        : (i == 9 || i == 14 || i == 19 || i == 24) ? c == '-'
                                                                    : text::HexDigitValue(c) >= 0;
    if (!wanted) return false;
  }
  return true;
}

void Cleanup(TStepContext& run, TRunTools& tools) {
  // The run's files in the temporary folder are its own: what is left there (files
  // a failed or cancelled run did not place, a file that could only be copied)
  // goes with it, but for the recovery copy an update still in doubt needs.
  tools.Package.reset();  // a temporary file: it goes as it closes
  tools.UnZip.reset();
  tools.HTTP.reset();
  tools.Proxies.reset();
  if (run.RunFolder.empty()) return;  // the download step did not get that far
  if (!run.Journal) {
    platform::RemoveTree(run.RunFolder);
    return;
  }
  if (!run.ExtractFolderName.empty()) platform::RemoveTree(run.RunFolder + "\\" + run.ExtractFolderName);
  if (!run.ArchiveFileName.empty()) platform::EraseFile(run.RunFolder + "\\" + run.ArchiveFileName);
}

std::string InstalledFolder(const TStepDefaults& defaults) { return install::InstalledFolder(defaults.Names); }

void RunPendingDeletes() { platform::RunPendingDeletes(install::kRunOnceKey, install::kDeleteValuePrefix); }

int RecoveryStatus(const TRecovery& recovery) {
  switch (recovery.Outcome) {
    case TRecovery::Whole: return kExitDone;
    case TRecovery::Busy: return kExitAnotherUpdateRuns;
    case TRecovery::Damaged: return kExitUpdateInDoubt;
    case TRecovery::Unfinished: return kExitCannotWrite;
    case TRecovery::NotJournal: break;
  }
  return kExitFailed;
}

std::string RecoveryReport(TFileXML& texts, const TRecovery& recovery) {
  if (recovery.Outcome == TRecovery::Busy) return texts.S_AlreadyRunning + "\r\n" + recovery.Failures;
  return texts.S_UpdateInDoubt + "\r\n" + recovery.Failures;
}

TRecovery RecoverAtStart(const TStepDefaults& defaults) {
  // The entry Windows would run at the next logon, run now; the Linux port has no
  // other way to run it.
  const std::string valueName = RecoverValueName(defaults.Names.ApplicationName);
  TRecovery recovery;
  std::string kept;
  platform::TRegKey runOnce;
  platform::TRegValue value;
  if (runOnce.Open(platform::HKEY_CURRENT_USER_ID, install::kRunOnceKey, false, false) &&
      runOnce.GetValue(valueName, value)) {
    const std::string work = RecoveredFolder(value.Data);
    if (!work.empty()) recovery = RecoverJournal(work, defaults.Names);
    if (recovery.IsWhole())
      runOnce.DeleteValue(valueName);
    else
      kept = text::ExtractFileDir(platform::SplitCommandLine(value.Data).front());
  }
  // The installed folder's, whether or not the entry is there: a cleaner, a
  // policy or a lost registry write must not leave it mixed.
  const std::string installed = InstalledFolder(defaults);
  if (!installed.empty() && recovery.IsWhole())
    recovery = RecoverJournal(installed + "\\" + kJournalFolderName, defaults.Names);
  // What dead runs left: every run folder of this user's but the one an update in
  // doubt still names (its recovery copy). Only folders of the form the updater
  // makes, and only its own: TEMP may be shared, and what others put there is
  // theirs.
  const std::string temp = platform::TempDir();
  for (const std::string& name : platform::ListDir(temp)) {
    if (name.back() != '\\' || !IsRunFolderName(name.substr(0, name.size() - 1))) continue;
    const std::string folder = temp + name.substr(0, name.size() - 1);
    if (!text::AnsiSameText(folder, kept) && platform::OwnFolder(folder)) platform::RemoveTree(folder);
  }
  return recovery;
}

}  // namespace engine
