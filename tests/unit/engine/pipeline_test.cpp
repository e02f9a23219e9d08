// Whole runs of the worker behind the window, against scripted servers on
// 127.0.0.1, on a machine of their own.
#include <gtest/gtest.h>

#include <cstring>

#include "base/codepage.h"
#include "base/text.h"
#include "engine/worker.h"
#include "net/http_client.h"
#include "platform/file_stream.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "platform/system.h"
#include "settings/file_xml.h"
#include "settings/live_update.h"
#include "settings/registry.h"
#include "shell/form_main.h"
#include "support/headless_backend.h"
#include "support/test_support.h"
#include "support/window_under_test.h"
#include "unit/archive/raw_zip.h"
#include "unit/archive/unzip_test_helpers.h"
#include "unit/net/scripted_server.h"

namespace {

using testsupport::TTempFolder;

// A ZIP archive of stored entries, enough for packages made in a test.
std::string StoredZip(const std::vector<std::pair<std::string, std::string>>& files) {
  std::vector<unziptest::TEntrySpec> entries(files.size());
  for (std::size_t i = 0; i < files.size(); ++i) entries[i].Name = files[i].first, entries[i].Data = files[i].second;
  return unziptest::BuildZip(entries);
}

std::string Ok(const std::string& body) {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

// The window with its worker, on a machine of its own, installing from url into
// a fresh folder.
struct TInstallRun : testsupport::TWindowUnderTest {
  explicit TInstallRun(const std::string& url, std::vector<std::string> args = {}) : TWindowUnderTest(std::move(args)) {
    form.Settings->DownloadURL = url;
    form.EFolder.SetText(folder / "Kestrova");
    // The scripted servers speak plain http and sign nothing.
    engine::TStepDefaults defaults = form.Worker->Defaults();
    defaults.AllowUnauthenticated.assign(1, '1');  // not = "1": GCC 12 warns falsely of overlapping copies
    defaults.DownloadWaitsMs = {0};                // a failed attempt is tried again at once
    UseDefaults(defaults);
  }
  // A worker that goes by other build-time values.
  void UseDefaults(const engine::TStepDefaults& defaults) {
    const engine::TWorkerControls controls{&form.LabelPending, &form.LabelTop,        &form.FLabelTop, &form.PBOverall,
                                           &form.PBPending,    &form.CBCreateDesktop, &form.CBRestart};
    form.Worker = std::make_unique<TThreadLiveUpdate>(*form.Settings, defaults, controls, form, form.Gate);
  }
  ~TInstallRun() { EndWorker(); }
  // Presses Install and pumps until the worker has ended.
  void InstallAndWait() {
    form.BInstallClick();
    ASSERT_TRUE(backend.PumpUntil([&] { return form.Worker->Finished(); }, 60000)) << "worker did not end";
    backend.ProcessMessages();
  }
  std::string InstallFolder() const { return folder.Path() + "\\Kestrova"; }
  bool TempHasLeftovers() {
    for (const std::string& name : platform::ListDir(platform::TempDir()))
      if (text::StartsText(engine::kRunFolderPrefix, name)) return true;
    return false;
  }

  TTempFolder folder;
};

}  // namespace

TEST(Pipeline, CompleteInstallationPlacesFilesAndReportsSuccess) {
  const std::string zip = StoredZip({{"Kestrova.txt", "app"}, {"data/ad.xml", "<ad/>"}, {"data/maps/r.txt", "map"}});
  nettest::TScriptedServer server(nettest::Answer(Ok(zip)));
  TInstallRun run(server.Url("/kestrova/kestrovafull.zip"));
  run.InstallAndWait();
  EXPECT_EQ(run.form.ExitStatus(), 0);
  EXPECT_EQ(run.form.FLabelMessage.Caption(), "The application was installed successfully!");
  EXPECT_EQ(run.form.FLabelTop.Caption(), "Installation Complete");
  EXPECT_EQ(run.form.LabelTop.Caption(), "Installation Complete");
  EXPECT_TRUE(run.form.PanelFinish.Visible());
  EXPECT_FALSE(run.form.PanelSetup.Visible());
  EXPECT_TRUE(run.form.CBCreateDesktop.Visible());
  EXPECT_FALSE(run.form.CBRestart.Visible());
  EXPECT_EQ(run.form.PBOverall.Position(), 5);  // five steps, no batch file
  EXPECT_EQ(testsupport::ReadFileText(run.InstallFolder() + "\\Kestrova.txt"), "app");
  EXPECT_EQ(testsupport::ReadFileText(run.InstallFolder() + "\\data\\ad.xml"), "<ad/>");
  EXPECT_EQ(testsupport::ReadFileText(run.InstallFolder() + "\\data\\maps\\r.txt"), "map");
  EXPECT_FALSE(run.TempHasLeftovers());
  EXPECT_TRUE(run.backend.RetryDialogs.empty());
  // The placed files and the data files are recorded for the uninstallation.
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKeyReadOnly("Software\\ORBAX\\Kestrova\\Uninstall"));
  const std::string files = reg.ReadString("Files");
  EXPECT_NE(files.find(run.InstallFolder() + "\\data\\maps\\r.txt;"), std::string::npos);
  EXPECT_NE(files.find(run.InstallFolder() + "\\KestrovaApp.log;"), std::string::npos);
}

TEST(Pipeline, BatchFileRunsLineByLineAndIsDeleted) {
  const std::string zip =
      StoredZip({{"a.txt", "a"}, {"LiveUpdate.bat", "echo first> one.txt\r\n\r\necho second> two.txt\r\n"}});
  nettest::TScriptedServer server(nettest::Answer(Ok(zip)));
  TInstallRun run(server.Url("/p/kestrovafull.zip"));
  run.InstallAndWait();
  EXPECT_EQ(run.form.ExitStatus(), 0) << run.form.FLabelMessage.Caption();
  EXPECT_TRUE(platform::FileExists(run.InstallFolder() + "\\one.txt"));
  EXPECT_TRUE(platform::FileExists(run.InstallFolder() + "\\two.txt"));
  EXPECT_FALSE(platform::FileExists(run.InstallFolder() + "\\LiveUpdate.bat"));
  EXPECT_EQ(run.form.PBOverall.Position(), 5);  // six steps on a bar of five: full
  EXPECT_EQ(run.form.PBPending.Max(), 1);       // deleting temporary files: nothing left, maximum 1
}

TEST(Pipeline, NotAnArchiveFailsInUnpackAndCleansUp) {
  nettest::TScriptedServer server(nettest::Answer(Ok("this is not a zip archive")));
  TInstallRun run(server.Url("/kestrova/kestrovafull.zip"));
  run.InstallAndWait();
  EXPECT_EQ(run.form.ExitStatus(), engine::kExitDamaged);
  EXPECT_EQ(run.form.FLabelMessage.Caption(), "The server provided an invalid file.");
  EXPECT_EQ(run.form.FLabelTop.Caption(), "Installation Fail");
  EXPECT_EQ(run.form.LabelPending.Caption(), "Decompressing");  // StopApplication never ran
  EXPECT_EQ(run.form.PBOverall.Position(), 2);
  EXPECT_FALSE(run.TempHasLeftovers());
  EXPECT_FALSE(run.form.CBCreateDesktop.Visible());
}

TEST(Pipeline, DamagedPackageIsNotInstalled) {
  std::string zip = StoredZip({{"good.txt", "fine"}, {"bad.txt", "damaged data"}});
  zip[zip.find("damaged")] = 'D';  // the stored CRC no longer matches
  nettest::TScriptedServer server(nettest::Answer(Ok(zip)));
  TInstallRun run(server.Url("/kestrova/kestrovafull.zip"));
  nettest::TLogCapture log;
  run.InstallAndWait();
  EXPECT_EQ(run.form.ExitStatus(), engine::kExitDamaged);
  EXPECT_EQ(run.form.FLabelMessage.Caption(), "The server provided an invalid file.");
  // The log names the entry and what failed of it.
  EXPECT_NE(log.Text().find("Unpack: File fails CRC check: bad.txt (CRC "), std::string::npos) << log.Text();
  EXPECT_FALSE(platform::FileExists(run.InstallFolder() + "\\good.txt"));
  EXPECT_FALSE(run.TempHasLeftovers());
}

// A failure that lies with this machine is named after the server's text.
TEST(Pipeline, UnpackFailureOfThisMachineSaysWhy) {
  unziptest::TEntrySpec good, utf8;
  good.Name = "good.txt", good.Data = "fine";
  utf8.Name = "\xE6\x97\xA5\xE6\x9C\xAC.txt", utf8.Data = "no 1252 name", utf8.Flags = 0x800;  // UTF-8 name
  nettest::TScriptedServer server(nettest::Answer(Ok(unziptest::BuildZip({good, utf8}))));
  TInstallRun run(server.Url("/kestrova/kestrovafull.zip"));
  run.InstallAndWait();
  EXPECT_EQ(run.form.ExitStatus(), engine::kExitDamaged);  // a name this system cannot hold: no write failed
  const std::string message = run.form.FLabelMessage.Caption();
  EXPECT_EQ(message.rfind("The server provided an invalid file.\r\n", 0), 0u) << message;
  EXPECT_NE(message.find("code page"), std::string::npos) << message;
  EXPECT_FALSE(platform::FileExists(run.InstallFolder() + "\\good.txt"));
  EXPECT_FALSE(run.TempHasLeftovers());
}

// What the download takes by the program's trust settings: an address refused
// before anything is fetched; with a key the statement first and nothing older
// than what is installed, the package held to the statement's size and digest;
// without one no more than MaxPackageSize. Every way out leaves TEMP empty (the
// test machine checks).
TEST(Pipeline, DownloadTakesOnlyWhatTheTrustSettingsAllow) {
  auto file = [](const char* name) {
    return testsupport::ReadFileText(platform::FromHostPath(std::string(LU_SOURCE_DIR) + "/tests/data/sign/" + name));
  };
  const std::string key = file("p256.pub.b64"), statement = file("statement.p256"), package = file("package.txt");
  std::string changed = package;
  changed[100] ^= 1;
  const struct {
    const char* what;
    std::string keys, allow, max, installed;
    std::string sig, zip;         // the answers at .../k.zip.sig and .../k.zip ("" for 404)
    bool endlessZip;              // after zip, bytes without end
    int requests;                 // the statement first, then the package
    std::string TFileXML::*text;  // the report's head,
    std::string reason;           // then the reason's start
    int status;
  } cases[] = {
      {"no key, http", "", "0", "", "", "", Ok("x"), false, 0, &TFileXML::S_DownloadError,
       "This program has no package key, so it takes packages only over https", engine::kExitNotAuthentic},
      {"10 TiB announced", "", "1", "1000", "", "", "HTTP/1.1 200 OK\r\nContent-Length: 10995116277760\r\n\r\n", true,
       1, &TFileXML::S_DownloadError, "The server announces 10995116277760 bytes; at most 1000 are accepted.",
       engine::kExitDownloadFailed},
      {"older", key, "0", "", "6.0", Ok(statement), Ok(package), false, 1, &TFileXML::S_OlderPackage,
       "Version 5.4.0 is offered, version 6.0 is installed.", engine::kExitNotAuthentic},
      {"the same version", key, "0", "", "5.4.0", Ok(statement), Ok(package), false, 2, &TFileXML::S_ZipEmpty, "",
       engine::kExitDamaged},
      {"another digest", key, "0", "", "", Ok(statement), Ok(changed), false, 2, &TFileXML::S_BadSignature,
       "The package's SHA-256 is not the one", engine::kExitNotAuthentic},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> requested;
    nettest::TScriptedServer server(
        [&](net::TSocket& s, int) {
          const std::string head = nettest::ReadRequestHead(s);
          const std::string path = head.substr(4, head.find(' ', 4) - 4);
          requested.push_back(path);
          const std::string& answer = path == "/p/k.zip.sig" ? c.sig : c.zip;
          nettest::Send(s, answer.empty() ? "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n" : answer);
          const std::string block(65536, 'z');
          while (c.endlessZip && path == "/p/k.zip") nettest::Send(s, block);  // ends when the client goes
        },
        c.requests);
    TInstallRun run(server.Url("/p/k.zip"));
    engine::TStepDefaults defaults = run.form.Worker->Defaults();
    defaults.PackageKey = c.keys;
    defaults.AllowUnauthenticated = c.allow;
    defaults.MaxPackageSize = c.max;
    run.UseDefaults(defaults);
    {
      TRegistry reg;
      ASSERT_TRUE(reg.OpenKey("Software\\ORBAX\\Kestrova", true));
      if (c.installed.empty())
        reg.DeleteValue("Version");
      else
        reg.WriteString("Version", c.installed);
    }
    run.InstallAndWait();
    server.Stop();
    EXPECT_EQ(run.form.ExitStatus(), c.status);
    const std::string report = run.form.FLabelMessage.Caption();
    std::string expected = run.form.Texts.get()->*c.text;
    if (!c.reason.empty()) expected.append("\r\n").append(c.reason);
    EXPECT_EQ(report.substr(0, expected.size()), expected) << report;
    EXPECT_EQ(requested.size(), static_cast<size_t>(c.requests));
    if (!requested.empty()) {
      EXPECT_EQ(requested[0], c.keys.empty() ? "/p/k.zip" : "/p/k.zip.sig");
    }
    EXPECT_FALSE(platform::FileExists(run.InstallFolder() + "\\package.txt"));
    TRegistry reg;
    if (reg.OpenKey("Software\\ORBAX\\Kestrova", false)) reg.DeleteValue("Version");
  }
}

TEST(Pipeline, DownloadFailuresReportTheirCause) {
  {
    nettest::TScriptedServer server(nettest::Answer("HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\nnope"));
    TInstallRun run(server.Url("/kestrova/kestrovafull.zip"));
    run.InstallAndWait();
    EXPECT_EQ(run.form.ExitStatus(), engine::kExitDownloadFailed);
    EXPECT_EQ(run.form.FLabelMessage.Caption(), run.form.Texts->S_DownloadError + "\r\nHTTP/1.1 404 Not Found");
    EXPECT_EQ(run.form.LabelPending.Caption(), "Downloading");
  }
  {
    // Fewer bytes than announced, then the server closes, on every attempt:
    // the bar stands short of its maximum.
    nettest::TScriptedServer server(
        nettest::Answer("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly a part of the body"), 5);
    TInstallRun run(server.Url("/kestrova/kestrovafull.zip"));
    run.InstallAndWait();
    EXPECT_EQ(run.form.FLabelMessage.Caption(),
              run.form.Texts->S_DownloadError + "\r\nThe download stopped at 23 of 100 bytes after 5 attempts.");
    EXPECT_EQ(run.form.PBPending.Max(), 100);
    EXPECT_EQ(run.form.PBPending.Position(), 23);
  }
  {
    uint16_t closedPort;
    {
      net::TListener probe;
      closedPort = probe.Port();
    }
    TInstallRun run("http://127.0.0.1:" + std::to_string(closedPort) + "/kestrova/kestrovafull.zip");
    run.InstallAndWait();
    EXPECT_EQ(run.form.FLabelMessage.Caption(),
              run.form.Texts->S_DownloadError + "\r\nSocket Error # 10061\r\nConnection refused.");
  }
  {
    // An address ending in "/" names no file: the temporary folder itself cannot
    // be created as a file.
    nettest::TScriptedServer server(nettest::Answer(Ok("x")));
    TInstallRun run(server.Url("/kestrova/"));
    run.InstallAndWait();
    EXPECT_EQ(run.form.FLabelMessage.Caption().rfind(run.form.Texts->S_DownloadError + "\r\n", 0), 0u);
    server.Stop();
  }
}

// The client gives a download up after its stall limit without a byte, an
// answer without a length as well as any, and the run ends as a download that
// failed; it is not tried again.
TEST(Pipeline, AStalledDownloadEndsTheRunAsADownloadFailure) {
  const testsupport::TDeadline deadline(30000);
  std::atomic<bool> release{false};
  std::atomic<int> requests{0};
  nettest::TScriptedServer server(
      [&](net::TSocket& s, int) {
        ++requests;
        nettest::ReadRequestHead(s);
        nettest::Send(s, "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n0123456789");
        while (!release.load()) platform::SleepMs(10);
      },
      2);
  TInstallRun run(server.Url("/kestrova/kestrovafull.zip"));
  engine::TStepDefaults defaults = run.form.Worker->Defaults();
  defaults.DownloadStallMs = 300;
  run.UseDefaults(defaults);
  run.InstallAndWait();
  release.store(true);
  server.Stop();
  EXPECT_EQ(run.form.FLabelMessage.Caption(),
            run.form.Texts->S_DownloadError + "\r\nNothing arrived for 300 milliseconds; the transfer was given up.");
  EXPECT_EQ(run.form.ExitStatus(), engine::kExitDownloadFailed);
  EXPECT_EQ(requests.load(), 1);
  EXPECT_FALSE(run.TempHasLeftovers());
}

TEST(Pipeline, KillSwitchStopsTheListedProcesses) {
  const std::string zip = StoredZip({{"a.txt", "a"}});
  platform::TProcessHandle child =
      platform::StartProcess(testsupport::Quoted(testsupport::HelperProgram("lu-child")) + " sleep 60000", true);
  ASSERT_TRUE(child.Valid());
  const uint32_t pid = child.Pid();
  {
    nettest::TScriptedServer server(nettest::Answer(Ok(zip)));
    TInstallRun run(server.Url("/k.zip"), {"/kill", std::to_string(pid) + ",999999"});
    run.InstallAndWait();
    EXPECT_EQ(run.form.ExitStatus(), 0) << run.form.FLabelMessage.Caption();
    EXPECT_EQ(platform::WaitForProcess(child, 5000), platform::TWaitResult::Ended);
  }
  {
    nettest::TScriptedServer server(nettest::Answer(Ok(zip)));
    TInstallRun run(server.Url("/k.zip"), {"/KILL", "999999,abc"});
    run.InstallAndWait();
    EXPECT_EQ(run.form.ExitStatus(), 1);
    EXPECT_EQ(run.form.FLabelMessage.Caption(), "1 'abc' is not a valid integer value");
    EXPECT_EQ(run.form.LabelPending.Caption(), "Terminating Application");
  }
}

// Packages of independent tools, of every method between them: shrunk, reduced,
// imploded (legacy_methods), stored (jar cf0), deflated (bsdtar), Deflate64 (7-Zip).
TEST(Pipeline, InstallsPackagesOfEveryMethod) {
  const std::vector<testzip::TManifestRow> manifest = testzip::ReadManifest(testzip::LocalZipDir() + "manifest.tsv");
  for (const char* name : {"legacy_methods.zip", "jar_cf0.zip", "bsdtar_deflate.zip", "7z_deflate64_mx5.zip"}) {
    SCOPED_TRACE(name);
    const std::string zip = testsupport::ReadFileText(platform::FromHostPath(testzip::LocalZipDir() + name));
    nettest::TScriptedServer server(nettest::Answer(Ok(zip)));
    TInstallRun run(server.Url("/kestrova/kestrovafull.zip"));
    run.InstallAndWait();
    EXPECT_EQ(run.form.ExitStatus(), 0) << run.form.FLabelMessage.Caption();
    int checked = 0;
    for (const auto& row : manifest) {
      if (row.archive != name || row.type != "file" || row.expect != "ok") continue;
      std::string entry;  // the manifest's names are UTF-8, the program's 1252
      ASSERT_TRUE(codepage::Utf8ToCp1252(row.entry.compare(0, 2, "./") == 0 ? row.entry.substr(2) : row.entry, entry));
      std::string path = run.InstallFolder() + "\\" + entry;
      for (char& c : path)
        if (c == '/') c = '\\';
      EXPECT_EQ(unziptest::Sha256Hex(testsupport::ReadFileText(path)), row.sha256) << row.entry;
      ++checked;
    }
    EXPECT_GE(checked, 3);
    EXPECT_FALSE(run.TempHasLeftovers());
  }
}

// Version 2 changes every file of version 1 and adds one in a new folder, while
// one installed file is held: Retry places it, Cancel leaves version 1 untouched.
TEST(Pipeline, FileInUseGoesThroughTheRetryDialog) {
  const std::string zip = StoredZip({{"app.dll", "new"}, {"other.txt", "other v2"}, {"sub/added.txt", "added"}});
  for (const bool retry : {true, false}) {
    nettest::TScriptedServer server(nettest::Answer(Ok(zip)));
    TInstallRun run(server.Url("/kestrova/kestrovafull.zip"));
    const std::string target = run.InstallFolder() + "\\app.dll";
    ASSERT_TRUE(platform::ForceDirectories(run.InstallFolder()));
    testsupport::WriteFileText(target, "old");
    testsupport::WriteFileText(run.InstallFolder() + "\\other.txt", "other v1");
    const std::string ready = run.folder / "ready", release = run.folder / "release";
    platform::TProcessHandle holder = platform::StartProcess(
        testsupport::Quoted(testsupport::HelperProgram("lu-child")) + " hold " + testsupport::Quoted(target) + " " +
            testsupport::Quoted(ready) + " " + testsupport::Quoted(release),
        true);
    ASSERT_TRUE(testsupport::WaitForFile(ready, 20000));
    run.backend.RetryAnswers.push_back(retry ? 1 : 2);
    run.backend.WhileRetryOpen = [&](const THeadlessBackend::RetryDialog&) {
      if (!retry) return;
      testsupport::WriteFileText(release, "");
      platform::WaitForProcess(holder, 20000);
    };
    run.InstallAndWait();
    ASSERT_EQ(run.backend.RetryDialogs.size(), 1u);
    EXPECT_EQ(run.backend.RetryDialogs[0].Caption, "File Copy Problem");
    ASSERT_EQ(run.backend.RetryDialogs[0].Lines.size(), 1u);  // only the file in use
    EXPECT_EQ(run.backend.RetryDialogs[0].Lines[0], "app.dll (" + run.InstallFolder() + ")");
    TRegistry reg;
    const bool recorded = reg.OpenKeyReadOnly("Software\\ORBAX\\Kestrova\\Uninstall") &&
                          reg.ReadString("Files").find(target + ";") != std::string::npos;
    if (retry) {
      EXPECT_EQ(run.form.ExitStatus(), 0) << run.form.FLabelMessage.Caption();
      EXPECT_EQ(testsupport::ReadFileText(target), "new");
      EXPECT_EQ(testsupport::ReadFileText(run.InstallFolder() + "\\other.txt"), "other v2");
      EXPECT_EQ(testsupport::ReadFileText(run.InstallFolder() + "\\sub\\added.txt"), "added");
      EXPECT_TRUE(recorded);
    } else {
      EXPECT_EQ(run.form.ExitStatus(), engine::kExitFilesInUse);
      EXPECT_EQ(
          run.form.FLabelMessage.Caption(),
          "Unable to copy one or more files.\r\nPlease close all running applications and redo the installation.");
      EXPECT_FALSE(recorded);  // nothing recorded after Cancel
      EXPECT_EQ(testsupport::ReadFileText(run.InstallFolder() + "\\other.txt"), "other v1");
      EXPECT_FALSE(platform::FileExists(run.InstallFolder() + "\\sub\\added.txt"));
      EXPECT_FALSE(platform::DirectoryExists(run.InstallFolder() + "\\sub"));
      testsupport::WriteFileText(release, "");
      platform::WaitForProcess(holder, 20000);
      EXPECT_EQ(testsupport::ReadFileText(target), "old");
    }
    // The originals waited beside the installation only while the update ran.
    EXPECT_FALSE(platform::DirectoryExists(run.InstallFolder() + "\\" + engine::kJournalFolderName));
    EXPECT_FALSE(run.TempHasLeftovers());
  }
}

// An abort while the copy step runs leaves no update half done: the worker, let
// go when the window goes, puts version 1 back and clears up after itself.
TEST(Pipeline, AbortInTheCopyStepLeavesTheOldVersionWhole) {
  const std::string zip = StoredZip({{"app.dll", "new"}, {"other.txt", "other v2"}, {"sub/added.txt", "added"}});
  nettest::TScriptedServer server(nettest::Answer(Ok(zip)));
  TInstallRun run(server.Url("/kestrova/kestrovafull.zip"));
  ASSERT_TRUE(platform::ForceDirectories(run.InstallFolder()));
  testsupport::WriteFileText(run.InstallFolder() + "\\app.dll", "old");
  testsupport::WriteFileText(run.InstallFolder() + "\\other.txt", "other v1");
  {
    // Held, the file placed last keeps the step waiting; the window holds the run
    // at its next safe point and the user gives it up.
    platform::TFileStream holder(run.InstallFolder() + "\\app.dll", platform::TFileMode::OpenReadWrite);
    run.form.BInstallClick();
    ASSERT_TRUE(run.backend.PumpUntil([&] { return platform::FileExists(run.InstallFolder() + "\\sub\\added.txt"); }));
    run.form.Worker->Suspend();
    ASSERT_TRUE(run.backend.PumpUntil([&] { return run.form.Gate.Waiting(); }));
    run.backend.BoxAnswers.push_back(mrYes);
    run.form.Close();
    run.form.FormDestroy();
  }
  EXPECT_EQ(run.form.ExitStatus(), 1);
  EXPECT_EQ(run.form.Worker, nullptr);  // it ended, and went
  EXPECT_TRUE(run.backend.RetryDialogs.empty());
  EXPECT_EQ(platform::ListDir(run.InstallFolder()), (std::vector<std::string>{"app.dll", "other.txt"}));
  EXPECT_EQ(testsupport::ReadFileText(run.InstallFolder() + "\\other.txt"), "other v1");
  EXPECT_FALSE(run.TempHasLeftovers());
}

// Given up while the download waits to try again, the run ends at once: no
// report, nothing left in TEMP.
TEST(Pipeline, AbortWhileTheDownloadWaitsEndsTheRunAtOnce) {
  std::atomic<int> requests{0};
  nettest::TScriptedServer server(
      [&](net::TSocket& s, int) {
        nettest::ReadRequestHead(s);
        nettest::Send(s, "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly a part");
        ++requests;
      },
      2);
  TInstallRun run(server.Url("/kestrova/kestrovafull.zip"));
  engine::TStepDefaults defaults = run.form.Worker->Defaults();
  defaults.DownloadWaitsMs = {600000};
  run.UseDefaults(defaults);
  run.form.BInstallClick();
  ASSERT_TRUE(run.backend.PumpUntil([&] { return requests.load() == 1; }));
  run.backend.BoxAnswers.push_back(mrYes);
  run.form.Close();
  run.form.FormDestroy();
  EXPECT_EQ(run.form.Worker, nullptr);  // it ended, and went
  EXPECT_EQ(run.form.ExitStatus(), 1);
  EXPECT_EQ(run.form.FLabelMessage.Caption(), "");
  EXPECT_EQ(requests.load(), 1);
  EXPECT_FALSE(run.TempHasLeftovers());
  server.Stop();
}
