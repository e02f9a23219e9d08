// Whole runs of the worker behind the window, against scripted servers on
// 127.0.0.1, on a machine of their own.
#include <gtest/gtest.h>

#include <cstring>

#include "base/codepage.h"
#include "engine/worker.h"
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
      if (name == form.Settings->ArchiveFileName || name == form.Settings->ExtractFolderName + "\\" ||
          name == form.Settings->ExtractFolderName)
        return true;
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
  EXPECT_EQ(run.form.Settings->ArchiveFileName, "kestrovafull.zip");
  EXPECT_TRUE(run.form.Settings->ExtractedFiles.empty());
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
  EXPECT_EQ(run.form.ExitStatus(), 1);
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
  run.InstallAndWait();
  EXPECT_EQ(run.form.ExitStatus(), 1);
  EXPECT_EQ(run.form.FLabelMessage.Caption(), "The server provided an invalid file.");
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
  EXPECT_EQ(run.form.ExitStatus(), 1);
  const std::string message = run.form.FLabelMessage.Caption();
  EXPECT_EQ(message.rfind("The server provided an invalid file.\r\n", 0), 0u) << message;
  EXPECT_NE(message.find("code page"), std::string::npos) << message;
  EXPECT_FALSE(platform::FileExists(run.InstallFolder() + "\\good.txt"));
  EXPECT_FALSE(run.TempHasLeftovers());
}

TEST(Pipeline, DownloadFailuresReportTheirCause) {
  {
    nettest::TScriptedServer server(nettest::Answer("HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\nnope"));
    TInstallRun run(server.Url("/kestrova/kestrovafull.zip"));
    run.InstallAndWait();
    EXPECT_EQ(run.form.ExitStatus(), 1);
    EXPECT_EQ(run.form.FLabelMessage.Caption(), run.form.Texts->S_DownloadError + "\r\nHTTP/1.1 404 Not Found");
    EXPECT_EQ(run.form.LabelPending.Caption(), "Downloading");
  }
  {
    // Fewer bytes than announced, then the server closes: no error was raised,
    // but the bar stands short of its maximum.
    nettest::TScriptedServer server(
        nettest::Answer("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly a part of the body"));
    TInstallRun run(server.Url("/kestrova/kestrovafull.zip"));
    run.InstallAndWait();
    EXPECT_EQ(run.form.FLabelMessage.Caption(), run.form.Texts->S_DownloadError);
    EXPECT_EQ(run.form.PBPending.Max(), 100);
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
    EXPECT_EQ(run.form.Settings->ArchiveFileName, "");
    EXPECT_EQ(run.form.FLabelMessage.Caption().rfind(run.form.Texts->S_DownloadError + "\r\n", 0), 0u);
    server.Stop();
  }
}

TEST(Pipeline, StalledTransferIsStoppedByTheCheckTimer) {
  std::atomic<bool> release{false};
  nettest::TScriptedServer server([&](net::TSocket& s, int) {
    nettest::ReadRequestHead(s);
    nettest::Send(s, "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n0123456789");
    while (!release.load()) platform::SleepMs(10);
  });
  TInstallRun run(server.Url("/kestrova/kestrovafull.zip"));
  EXPECT_EQ(run.form.Worker->DownloadProgress(), -1);  // no transfer yet
  run.form.BInstallClick();
  ASSERT_TRUE(run.backend.PumpUntil([&] { return run.form.PBPending.Position() == 10; }));
  EXPECT_EQ(run.form.Worker->DownloadProgress(), 10);  // the first check sees the advance
  EXPECT_EQ(run.form.Worker->DownloadProgress(), 0);   // and then none
  run.form.TimerCheckDownload.Fire();                  // the next check finds nothing new: a stall
  EXPECT_EQ(run.form.FLabelMessage.Caption(), run.form.Texts->S_DownloadError);
  EXPECT_TRUE(run.form.PanelFinish.Visible());
  EXPECT_FALSE(run.form.TimerMonitorThread.Enabled());
  EXPECT_EQ(run.form.ExitStatus(), 1);
  // The worker stays suspended for good: the transfer ending changes nothing.
  release.store(true);
  server.Join();
  ASSERT_TRUE(run.backend.PumpUntil([&] { return run.form.Gate.Waiting(); }));
  EXPECT_EQ(run.form.FLabelMessage.Caption(), run.form.Texts->S_DownloadError);
  EXPECT_TRUE(run.form.Gate.Paused());
  // Let it end so the test leaves nothing running (the window never would).
  run.form.Gate.Reopen();
  ASSERT_TRUE(run.backend.PumpUntil([&] { return run.form.Worker->Finished(); }));
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
      EXPECT_EQ(run.form.ExitStatus(), 1);
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
    // The originals waited in the temporary folder only while the step ran.
    EXPECT_FALSE(
        platform::DirectoryExists(platform::TempDir() + "\\" + run.form.Settings->ExtractFolderName + ".replaced"));
  }
}
