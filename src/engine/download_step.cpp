#include <algorithm>
#include <memory>
#include <optional>

#include "base/log.h"
#include "engine/steps.h"
#include "install/save_settings.h"
#include "net/http_client.h"
#include "net/resuming_download.h"
#include "net/statement.h"
#include "net/trust_policy.h"
#include "platform/file_stream.h"
#include "platform/files.h"
#include "platform/system.h"
#include "settings/file_xml.h"
#include "settings/live_update.h"

namespace engine {

namespace {

// The package file as the download writes it: a write the system refuses (a
// full disk, a denied access) keeps the system's reason, which the network calls
// after it would otherwise overwrite.
class TLocalWrites : public TStream {
 public:
  explicit TLocalWrites(TStream& dest) : dest_(dest) {}
  int64_t Read(void* buffer, int64_t count) override { return dest_.Read(buffer, count); }
  void Write(const void* buffer, int64_t count) override {
    Guarded([&] { dest_.Write(buffer, count); });
  }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override { return dest_.Seek(offset, origin); }
  void SetSize(int64_t size) override {
    Guarded([&] { dest_.SetSize(size); });
  }
  // The system's reason for the write that failed; 0 when none did.
  uint32_t Error() const { return error_; }

 private:
  template <typename F>
  void Guarded(F f) {
    try {
      f();
    } catch (const EStreamError&) {
      error_ = platform::LastError();
      throw;
    }
  }
  TStream& dest_;
  uint32_t error_ = 0;
};

// A refusal with the text that heads its report.
struct TRefusal {
  std::string Text;
  int Status = kExitNotAuthentic;
};

// With keys, a package counts only when its release statement (at its address
// with ".sig") is signed by one of them and names this product: anyone who can
// answer for the download host could otherwise run code with the user's rights.
// It is fetched before the package, so that nothing unsigned is even written, and
// it must not be older than what is installed, or a genuine old release with a
// known fault could be served in place of its fix.
net::TReleaseStatement CheckedStatement(TStepContext& run, net::THTTPClient& http, const net::TTrustPolicy& policy) {
  const TFileXML& t = run.Texts();
  try {
    const std::string text = net::FetchStatement(http, run.Settings.DownloadURL);
    net::TReleaseStatement statement = net::VerifyStatement(text, policy.Keys, run.Defaults.Names.ApplicationName);
    const std::string installed = install::InstalledVersion(run.Defaults.Names);
    if (!installed.empty() && net::CompareVersions(statement.Version, installed) < 0)
      throw TRefusal{t.S_OlderPackage + "\r\nVersion " + statement.Version + " is offered, version " + installed +
                     " is installed."};
    return statement;
  } catch (const net::ESignatureError& e) {
    throw TRefusal{t.S_BadSignature + "\r\n" + e.Message};
  } catch (const EHTTPProtocolException& e) {
    throw TRefusal{t.S_BadSignature + "\r\n" + e.Message};  // no statement where it belongs
  }
}

// The package through writes: resumed where a poor line cut it, stopped at the
// statement's size (else at the policy's largest) before a byte too many is
// written, and checked against the statement as it is written.
void FetchPackage(TStepContext& run, net::THTTPClient& http, const net::TTrustPolicy& policy,
                  const std::optional<net::TReleaseStatement>& statement, TStream& writes) {
  const TFileXML& t = run.Texts();
  net::TDownloadOptions options;
  options.WaitsMs = run.Defaults.DownloadWaitsMs;
  options.Sleep = [&run](int32_t ms) { run.Cancel.Wait(static_cast<uint32_t>(std::max(ms, 0))); };
  if (statement) options.ExpectedSize = statement->Size;
  options.MaxBodySize = policy.MaxPackageSize;
  std::optional<net::THashingStream> hashing;
  if (statement) hashing.emplace(writes);
  const net::TDownloadResult result =
      net::DownloadWithRetries(http, run.Settings.DownloadURL, hashing ? *hashing : writes, options);
  if (!result.Complete) throw TRefusal{t.S_DownloadError, kExitDownloadFailed};
  if (!statement) return;
  try {
    hashing->Check(*statement);
  } catch (const net::ESignatureError& e) {
    throw TRefusal{t.S_BadSignature + "\r\n" + e.Message};
  }
  run.PackageVersion = statement->Version;
}

}  // namespace

bool Download(TStepContext& run, net::THTTPClient& http, std::unique_ptr<platform::TFileStream>& package) {
  TFileXML& t = run.Texts();
  TLiveUpdate& s = run.Settings;
  install::TStepProgress& progress = run.Progress;
  progress.SetMax(0);
  progress.SetCaption(t.S_Download);
  progress.StepOverall();
  run.PackageVersion.clear();
  package.reset();
  auto fail = [&](const std::string& text, int status) {
    package.reset();  // a temporary file: nothing of it stays
    run.Fail(text, status);
    return false;
  };

  run.ArchiveFileName = TLiveUpdate::ExtractURLFileName(s.DownloadURL);
  // The run's files are its own: a folder no other run or program shares.
  run.RunFolder = platform::CreatePrivateFolder(s.TempFolder, kRunFolderPrefix);
  if (run.RunFolder.empty()) {
    return fail(t.S_WriteError + "\r\n" + s.TempFolder + ": " + platform::SysErrorMessage(platform::LastError()),
                kExitCannotWrite);
  }
  const std::string archivePath = run.RunFolder + "\\" + run.ArchiveFileName;

  std::unique_ptr<TLocalWrites> writes;
  try {
    // What the program may take, before anything is fetched.
    const net::TTrustPolicy policy = net::TTrustPolicy::FromDefaults(
        run.Defaults.PackageKey, run.Defaults.AllowUnauthenticated, run.Defaults.MaxPackageSize);
    try {
      policy.CheckAddress(s.DownloadURL);
    } catch (const net::EPolicyError& e) {
      throw TRefusal{t.S_DownloadError + "\r\n" + e.Message};  // nothing there could be authenticated
    }
    std::optional<net::TReleaseStatement> statement;
    if (policy.NeedsStatement()) statement = CheckedStatement(run, http, policy);

    // Written through a handle nobody else may use, and read back through the
    // same one by the unpack step: the bytes checked are the bytes installed.
    try {
      package = std::make_unique<platform::TFileStream>(archivePath, platform::TFileMode::CreateTemporary);
    } catch (const Exception& e) {
      // An address that names no file names the folder itself.
      if (run.ArchiveFileName.empty()) return fail(t.S_DownloadError + "\r\n" + e.Message, kExitDownloadFailed);
      return fail(t.S_WriteError + "\r\n" + e.Message, kExitCannotWrite);
    }
    writes = std::make_unique<TLocalWrites>(*package);
    FetchPackage(run, http, policy, statement, *writes);
    logging::Log("Download: the package holds " + std::to_string(package->Size()) + " bytes");
    return true;
  } catch (const TRefusal& r) {
    return fail(r.Text, r.Status);
  } catch (const Exception& e) {
    // A full disk or a denied access here is no fault of the network's.
    if (writes && writes->Error() != 0)
      return fail(t.S_WriteError + "\r\n" + archivePath + ": " + platform::SysErrorMessage(writes->Error()),
                  kExitCannotWrite);
    return fail(t.S_DownloadError + "\r\n" + e.Message, kExitDownloadFailed);
  }
}

}  // namespace engine
