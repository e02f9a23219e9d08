// The main window driven as a user would, through the headless back end.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <thread>

#include "engine/worker.h"
#include "platform/elevation.h"
#include "platform/files.h"
#include "platform/system.h"
#include "settings/build_defaults.h"
#include "settings/file_xml.h"
#include "settings/live_update.h"
#include "settings/registry.h"
#include "shell/form_main.h"
#include "shell/retry_form.h"
#include "shell/ui/win32/layout.h"
#include "shell/ui/win32/resample.h"
#include "support/headless_backend.h"
#include "support/test_support.h"
#include "support/window_under_test.h"

namespace {

struct Window : testsupport::TWindowUnderTest {
  explicit Window(std::vector<std::string> args) : TWindowUnderTest(std::move(args)) {}
};

}  // namespace

TEST(MainWindow, StartsOnTheFolderViewWithTheEnglishInstallerTexts) {
  Window w({});
  EXPECT_TRUE(w.backend.Visible);
  EXPECT_TRUE(w.form.PanelSelectFolder.Visible());
  EXPECT_FALSE(w.form.PanelSetup.Visible());
  EXPECT_FALSE(w.form.PanelFinish.Visible());
  EXPECT_FALSE(w.form.PanelUninstall.Visible());
  EXPECT_EQ(w.form.Caption(), "Kestrova installer");
  EXPECT_EQ(w.form.SFLabelTop.Caption(), "Select the installation folder");
  EXPECT_EQ(w.form.SFLabelFolder.Caption(), "Folder");
  EXPECT_EQ(w.form.BChangeFolder.Caption(), "Change");
  EXPECT_EQ(w.form.BInstall.Caption(), "Install");
  EXPECT_EQ(w.form.CBCreateDesktop.Caption(), "Create desktop shortcut");
  EXPECT_EQ(w.form.LabelOverall.Caption(), "Install progress");
  EXPECT_EQ(w.form.LabelTop.Caption(), "Installation in Progress");
  EXPECT_EQ(w.form.LabelPending.Caption(), "");
  EXPECT_TRUE(w.form.CBCreateDesktop.Checked());
  EXPECT_FALSE(w.form.CBCreateDesktop.Visible());
  EXPECT_FALSE(w.form.CBRestart.Visible());
  EXPECT_EQ(w.form.PBOverall.Max(), 5);
  // The default folder lies on the Windows drive.
  const std::string windowsDrive = platform::WindowsDir().substr(0, 1);
  EXPECT_EQ(w.form.EFolder.Text(), windowsDrive + ":\\Program Files\\Drevanto\\Kestrova");
  EXPECT_EQ(w.form.Settings->InstallFolder, windowsDrive + ":\\Program Files\\Drevanto\\Kestrova");
  ASSERT_EQ(w.form.Settings->RegistryKeys.Count(), 1);
  EXPECT_EQ(w.form.Settings->RegistryKeys.Strings(0), "Software\\ORBAX\\Kestrova");
  // The English brand.
  EXPECT_TRUE(w.form.SFImageDRV.Visible());
  EXPECT_FALSE(w.form.SFImageLV.Visible());
  EXPECT_TRUE(w.form.FDRVImageLeft.Visible());
  EXPECT_FALSE(w.form.Worker->Started());
}

TEST(MainWindow, LanguageChoosesTextsAndBrand) {
  {
    Window w({"/language", "french"});
    EXPECT_EQ(w.form.Texts->Language, "FRENCH");
    EXPECT_EQ(w.form.BInstall.Caption(), "Installer");
    EXPECT_TRUE(w.form.SFImageLV.Visible());
    EXPECT_TRUE(w.form.LVImageTopRight.Visible());
    EXPECT_TRUE(w.form.PULVImage.Visible());
    EXPECT_TRUE(w.form.FLVImageLeft.Visible());
    EXPECT_FALSE(w.form.SFImageDRV.Visible());
  }
  for (const char* other : {"PORTUGUESE", "ENGLISH", "GERMAN"}) {
    Window w({"/LANGUAGE", other});
    EXPECT_TRUE(w.form.SFImageDRV.Visible()) << other;
    EXPECT_FALSE(w.form.SFImageLV.Visible()) << other;
  }
}

TEST(MainWindow, HideInAnyLetterCaseKeepsTheWindowInvisible) {
  for (const char* hide : {"/HIDE", "/hide", "/Hide"}) {
    // An uninstallation of nothing: the hidden run starts by itself and ends.
    Window w({hide, "/uninstall", "HKEY_CURRENT_USER\\Software\\ORBAX\\HiddenTestNothing"});
    EXPECT_TRUE(w.form.Hidden());
    EXPECT_FALSE(w.backend.Visible);
    EXPECT_TRUE(w.backend.PumpUntil([&] { return w.backend.QuitRequested; }, 20000, true));
    EXPECT_FALSE(w.backend.Visible);
  }
  Window w({"/HIDEX", "/language", "ENGLISH"});
  EXPECT_TRUE(w.backend.Visible);
}

TEST(MainWindow, FolderEntriesLoseTrailingBackslashesAndBadOnesWarn) {
  testsupport::TTempFolder tmp;
  {
    Window w({});
    w.form.Gate.Pause();  // keep the started worker from doing anything
    w.form.EFolder.SetText(tmp.Path() + "\\Kestrova\\Sub\\\\\\");
    w.form.BInstallClick();
    EXPECT_EQ(w.form.Settings->InstallFolder, tmp.Path() + "\\Kestrova\\Sub");
    EXPECT_TRUE(platform::DirectoryExists(tmp.Path() + "\\Kestrova\\Sub"));
    EXPECT_TRUE(w.form.PanelSetup.Visible());
    EXPECT_FALSE(w.form.PanelSelectFolder.Visible());
    EXPECT_TRUE(w.form.Worker->Started());
    EXPECT_TRUE(w.backend.Boxes.empty());
    // Closing while it runs asks, pauses the worker, and Yes aborts with status 1.
    w.backend.BoxAnswers.push_back(mrYes);
    w.form.Close();
    ASSERT_EQ(w.backend.Boxes.size(), 1u);
    EXPECT_EQ(w.backend.Boxes[0].Text, "Are you sure you want to abort the installation process?");
    EXPECT_EQ(w.backend.Boxes[0].Buttons, mbYesNo);
    EXPECT_EQ(w.form.ExitStatus(), 1);
    EXPECT_TRUE(w.form.Closed());
  }
  for (const char* bad : {"\\\\\\", ""}) {
    Window w({});
    w.form.EFolder.SetText(bad);
    w.form.BInstallClick();
    ASSERT_EQ(w.backend.Boxes.size(), 1u) << bad;
    EXPECT_EQ(w.backend.Boxes[0].Text, "Unable to create the specified folder!");
    EXPECT_EQ(w.backend.Boxes[0].Type, mtWarning);
    EXPECT_TRUE(w.form.PanelSelectFolder.Visible());
    EXPECT_FALSE(w.form.Worker->Started());
  }
}

TEST(MainWindow, CloseOnTheFolderViewAsksAndNoKeepsItUsable) {
  Window w({});
  w.backend.BoxAnswers.push_back(mrNo);
  w.form.Close();
  ASSERT_EQ(w.backend.Boxes.size(), 1u);
  EXPECT_FALSE(w.form.Closed());
  EXPECT_FALSE(w.form.Worker->Started());  // No does not start the worker
  EXPECT_TRUE(w.form.PanelSelectFolder.Visible());
  EXPECT_EQ(w.form.ExitStatus(), 0);

  w.backend.BoxAnswers.push_back(mrYes);
  w.form.Close();
  EXPECT_TRUE(w.form.Closed());
  EXPECT_EQ(w.form.ExitStatus(), 1);
  // Nothing is registered after an abort.
  testsupport::TTempFolder folder;
  w.form.Settings->InstallFolder = folder.Path();
  w.form.FormDestroy();
  EXPECT_FALSE(w.form.Settings);
  TRegistry run;
  EXPECT_FALSE(run.OpenKeyReadOnly("Software\\Microsoft\\Windows\\CurrentVersion\\Run") &&
               run.ValueExists(defaults::ApplicationName()) &&
               run.ReadString(defaults::ApplicationName()).rfind(folder.Path(), 0) == 0);
}

TEST(MainWindow, CancelledFolderBrowserLeavesTheEntry) {
  Window w({});
  const std::string before = w.form.EFolder.Text();
  w.form.BChangeFolderClick();
  EXPECT_EQ(w.form.EFolder.Text(), before);
  ASSERT_EQ(w.backend.BrowseTitles.size(), 1u);
  EXPECT_EQ(w.backend.BrowseTitles[0], "Select Directory");
  w.backend.FolderAnswers.push_back("D:\\Elsewhere");
  w.form.BChangeFolderClick();
  EXPECT_EQ(w.form.EFolder.Text(), "D:\\Elsewhere");
}

TEST(MainWindow, CloseWindowWarnsOnceOnlyAfterAFailure) {
  {
    // A run that fails at once: refused before anything is fetched.
    Window w({});
    testsupport::TTempFolder folder;
    w.form.Settings->DownloadURL = "http://127.0.0.1:1/kestrovafull.zip";
    w.form.EFolder.SetText(folder / "Kestrova");
    w.form.BInstallClick();
    ASSERT_TRUE(w.backend.PumpUntil([&] { return w.form.Worker->Finished(); }));
    EXPECT_EQ(w.form.ExitStatus(), engine::kExitNotAuthentic);  // plain http without a key
    w.form.CloseWindow();
    ASSERT_EQ(w.backend.Boxes.size(), 1u);
    EXPECT_EQ(w.backend.Boxes[0].Text, w.form.FLabelMessage.Caption());
    EXPECT_EQ(w.backend.Boxes[0].Text.rfind(w.form.Texts->S_DownloadError, 0), 0u);
    EXPECT_EQ(w.backend.Boxes[0].Type, mtWarning);
    EXPECT_TRUE(w.form.Closed());
    // The process ends with the status after the window (and its worker) are gone.
    w.form.FormDestroy();
    EXPECT_EQ(w.form.ExitStatus(), engine::kExitNotAuthentic);
  }
  {
    Window w({});
    EXPECT_EQ(w.form.ExitStatus(), 0);
    w.form.CloseWindow();
    EXPECT_TRUE(w.backend.Boxes.empty());
    EXPECT_TRUE(w.form.Closed());
  }
}

TEST(MainWindow, ShowFinishTitlesByOutcome) {
  Window w({});
  w.form.ShowFinish("done", mtInformation);
  EXPECT_EQ(w.form.FLabelTop.Caption(), "Installation Complete");
  EXPECT_EQ(w.form.FLabelMessage.Caption(), "done");
  EXPECT_TRUE(w.form.PanelFinish.Visible());
  EXPECT_FALSE(w.form.PanelSetup.Visible());
  w.form.ShowFinish("bad", mtWarning);
  EXPECT_EQ(w.form.FLabelTop.Caption(), "Installation Fail");
}

TEST(MainWindow, UninstallCommandShowsTheUninstallViewWithItsTexts) {
  Window w({"/language", "ENGLISH", "/uninstall",
            "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\Kestrova,"
            "HKEY_CURRENT_USER\\Software\\ORBAX\\Kestrova"});
  EXPECT_TRUE(w.form.Settings->UninstallMode);
  EXPECT_TRUE(w.form.PanelUninstall.Visible());
  EXPECT_FALSE(w.form.PanelSelectFolder.Visible());
  EXPECT_EQ(w.form.Settings->RegistryKeys.Count(), 2);
  EXPECT_EQ(w.form.UninstallLabelTop.Caption(), "Uninstall application");
  EXPECT_EQ(w.form.LabelUninstall.Caption(), "The application will be uninstalled.");
  EXPECT_EQ(w.form.BUninstall.Caption(), "Uninstall");
  EXPECT_EQ(w.form.BCancel.Caption(), "Cancel");
  EXPECT_EQ(w.form.CBRestart.Caption(), "Restart computer");
  EXPECT_EQ(w.form.Caption(), "Drevanto Live Update");
  // Cancel asks like the close box; No keeps the view.
  w.form.BCancelClick();
  EXPECT_EQ(w.backend.Boxes.size(), 1u);
  EXPECT_FALSE(w.form.Closed());
}

TEST(RetryDialog, ListsEachFileWithItsFolder) {
  TFileXML texts;
  texts.SetLanguage("ENGLISH");
  texts.LoadTexts("KVI_XMLFile");
  THeadlessBackend backend;
  TFRetry dialog(texts);
  EXPECT_EQ(dialog.Caption, "File Copy Problem");
  EXPECT_EQ(dialog.BRetry.Caption(), "Retry");
  EXPECT_EQ(dialog.BCancel.Caption(), "Cancel");
  backend.RetryAnswers.push_back(1);
  EXPECT_TRUE(dialog.AskRetry({"C:\\Program Files\\K\\a.dll", "D:\\x\\\\b.exe", "C:\\root.txt"}, backend));
  ASSERT_EQ(backend.RetryDialogs.size(), 1u);
  const auto& lines = backend.RetryDialogs[0].Lines;
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "a.dll (C:\\Program Files\\K)");
  EXPECT_EQ(lines[1], "b.exe (D:\\x)");
  EXPECT_EQ(lines[2], "root.txt (C:)");
  // Cancel and the close box both answer false.
  backend.RetryAnswers.push_back(2);
  EXPECT_FALSE(dialog.AskRetry({"C:\\a"}, backend));
  EXPECT_FALSE(dialog.AskRetry({"C:\\a"}, backend));
  EXPECT_EQ(FileFolder("name-only"), "");
}

TEST(MainWindow, EmptyTextsOfTheSectionLeaveNoControlWithoutCaption) {
  // The PORTUGUESE section holds the folder-view texts empty and no retry texts.
  Window w({"/language", "PORTUGUESE"});
  EXPECT_EQ(w.form.Texts->S_BInstall, "");
  EXPECT_EQ(w.form.BInstall.Caption(), "Install");
  EXPECT_EQ(w.form.BChangeFolder.Caption(), "Change");
  EXPECT_EQ(w.form.SFLabelFolder.Caption(), "Folder");
  EXPECT_EQ(w.form.SFLabelTop.Caption(), "Select the installation folder");
  EXPECT_EQ(w.form.CBCreateDesktop.Caption(), "Create desktop shortcut");
  // Texts the section has stay its own.
  EXPECT_EQ(w.form.LabelTop.Caption(), w.form.Texts->S_LabelTopProgress);
  EXPECT_NE(w.form.LabelTop.Caption(), "Installation in Progress");
  TFRetry dialog(*w.form.Texts);
  EXPECT_EQ(dialog.BRetry.Caption(), "Retry");
  EXPECT_EQ(dialog.BCancel.Caption(), "Anular");
  EXPECT_FALSE(dialog.LRetryMessage.Caption().empty());
}

// Every control of the form has its place, inside the window and clear of the
// others of its view (the two brand pictures and the two check boxes share theirs
// by design), at every scale; so do the retry dialog's.
TEST(WindowLayout, EveryControlHasAPlaceInsideItsViewAndClearOfTheOthers) {
  auto apart = [](const layout::TBox& a, const layout::TBox& b) {
    return a == b || a.Right() <= b.X || b.Right() <= a.X || a.Bottom() <= b.Y || b.Bottom() <= a.Y;
  };
  auto inside = [](const layout::TBox& b, const layout::TBox& client) {
    return b.X >= 0 && b.Y >= 0 && b.W > 0 && b.H > 0 && b.Right() <= client.W && b.Bottom() <= client.H;
  };
  Window w({});
  TFMain& form = w.form;
  std::set<TControl*> placed;
  for (int dpi : {96, 120, 144, 192}) {
    const layout::TBox client = layout::Scale(layout::kClient, dpi);
    for (const layout::TView& view : layout::kViews) {
      placed.insert(&view.Panel(form));
      for (const layout::TPlace& a : view.Places) {
        placed.insert(&a.Control(form));
        EXPECT_TRUE(inside(layout::Scale(a.Box, dpi), client)) << a.Control(form).Name << " at " << dpi;
        for (const layout::TPlace& b : view.Places)
          EXPECT_TRUE(apart(layout::Scale(a.Box, dpi), layout::Scale(b.Box, dpi)))
              << a.Control(form).Name << " and " << b.Control(form).Name << " at " << dpi;
      }
    }
    const layout::TRetryLayout& retry = layout::kRetry;
    const layout::TBox boxes[] = {retry.Message, retry.List, retry.Retry, retry.Cancel};
    for (const layout::TBox& a : boxes) {
      EXPECT_TRUE(inside(layout::Scale(a, dpi), layout::Scale(retry.Client, dpi))) << dpi;
      for (const layout::TBox& b : boxes) EXPECT_TRUE(apart(layout::Scale(a, dpi), layout::Scale(b, dpi))) << dpi;
    }
  }
  const std::vector<TControl*> all = form.AllControls();
  EXPECT_EQ(placed, std::set<TControl*>(all.begin(), all.end()));
}

// Brand pictures at another DPI: a flat colour stays exact, each pixel of a
// smaller picture is the mean of what it covers, and a larger one keeps the
// source's pixels where they are whole.
TEST(WindowLayout, PicturesResampleByArea) {
  picture::TPixels flat{136, 40, std::vector<uint32_t>(136 * 40, 0xFF001D61u)};
  for (auto [w, h] : {std::pair{204, 60}, {109, 32}, {170, 50}, {1, 1}}) {
    const picture::TPixels out = picture::Resample(flat, w, h);
    ASSERT_EQ(out.Data.size(), static_cast<size_t>(w) * h);
    EXPECT_TRUE(std::all_of(out.Data.begin(), out.Data.end(), [](uint32_t p) { return p == 0xFF001D61u; })) << w;
  }
  // Black and white columns, halved: grey. A 1-pixel white line in black, halved:
  // half white, not lost.
  const picture::TPixels columns{4, 1, {0xFF000000u, 0xFFFFFFFFu, 0xFF000000u, 0xFFFFFFFFu}};
  EXPECT_EQ(picture::Resample(columns, 2, 1).Data, (std::vector<uint32_t>{0xFF808080u, 0xFF808080u}));
  const picture::TPixels line{3, 1, {0xFF000000u, 0xFFFFFFFFu, 0xFF000000u}};
  EXPECT_EQ(picture::Resample(line, 1, 1).Data, std::vector<uint32_t>{0xFF555555u});
  // Doubled: every source pixel becomes two, unchanged.
  EXPECT_EQ(picture::Resample(line, 6, 2).Data,
            (std::vector<uint32_t>{0xFF000000u, 0xFF000000u, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFF000000u, 0xFF000000u,
                                   0xFF000000u, 0xFF000000u, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFF000000u, 0xFF000000u}));
}

// A call that fails on the window's thread fails the waiting caller: a retry
// question that could not be asked must not read as Cancel.
TEST(SyncQueue, WhatFailsOnTheWindowThreadFailsTheCaller) {
  TSyncQueue queue;
  std::string raised;
  std::thread caller([&] {
    try {
      queue.Call([] { throw EInOutError("no dialog", 0); });
    } catch (const EInOutError& e) {
      raised = e.Message;
    }
  });
  while (!queue.Drain()) std::this_thread::yield();
  caller.join();
  EXPECT_EQ(raised, "no dialog");
}

// A proxy's Basic credentials: the visible window asks, in the section's texts,
// and hands back what was typed; Cancel gives nothing.
TEST(MainWindow, ProxyCredentialsAreAskedInTheirOwnView) {
  Window w({"/language", "FRENCH"});
  w.backend.ProxyAnswers.push_back({"user", "secret"});
  std::string user, password;
  EXPECT_TRUE(w.form.AskProxyCredentials(*w.form.Texts, "gw:3128", "corp", user, password));
  EXPECT_EQ(user, "user");
  EXPECT_EQ(password, "secret");
  EXPECT_FALSE(w.form.AskProxyCredentials(*w.form.Texts, "gw:3128", "corp", user, password));
  EXPECT_EQ(w.backend.ProxyMessages,
            std::vector<std::string>(2, "Le proxy demande un nom d'utilisateur et un mot de passe : gw:3128"));
}

// A folder this user may not change goes to an elevated instance of the program:
// this one ends at once, hands on its arguments, and ends as the other did; a
// declined prompt ends the run with status 6 and its own words.
TEST(MainWindow, AFolderTheUserMayNotChangeGoesToAnElevatedInstance) {
  testsupport::TTempFolder tmp;
  for (const uint32_t error : {platform::kErrorCancelled, 2u}) {
    Window w({"/KILL", "12"});
    std::vector<std::string> asked;
    w.form.FolderNeedsElevation = [&](const std::string& folder) {
      asked.push_back(folder);
      return true;
    };
    w.form.EFolder.SetText(tmp / "Kestrova\\");
    w.form.BInstallClick();
    EXPECT_EQ(asked, std::vector<std::string>{tmp / "Kestrova"});
    EXPECT_TRUE(w.form.HandOverRequested());
    EXPECT_TRUE(w.form.Closed());
    EXPECT_FALSE(w.form.Worker->Started());
    EXPECT_FALSE(platform::DirectoryExists(tmp / "Kestrova"));
    EXPECT_TRUE(w.backend.Boxes.empty());
    EXPECT_EQ(w.form.ElevatedArguments("S-1-5-21-1-2-3-1001", "C:\\Temp\\lu.log"),
              (std::vector<std::string>{"/KILL", "12", "/LOG=C:\\Temp\\lu.log", "/ELEVATED", "S-1-5-21-1-2-3-1001",
                                        "/FOLDER", tmp / "Kestrova"}));
    w.form.HandedOver(false, error, 0);
    EXPECT_EQ(w.form.ExitStatus(), engine::kExitCannotWrite);
    ASSERT_EQ(w.backend.Boxes.size(), 1u);
    const std::string words = w.form.Texts->S_ElevationDeclined;
    EXPECT_EQ(w.backend.Boxes[0].Text,
              error == platform::kErrorCancelled ? words : words + "\r\n" + platform::SysErrorMessage(error));
    w.form.FormDestroy();
    EXPECT_EQ(w.form.ExitStatus(), engine::kExitCannotWrite);
  }
  // The elevated instance's own status is the run's; a log the user named stays.
  Window w({"/LOG=D:\\mine.log"});
  w.form.FolderNeedsElevation = [](const std::string&) { return true; };
  w.form.BInstallClick();
  EXPECT_EQ(w.form.ElevatedArguments("S-1-5-18", "C:\\Temp\\lu.log"),
            (std::vector<std::string>{"/LOG=D:\\mine.log", "/ELEVATED", "S-1-5-18", "/FOLDER",
                                      w.form.Settings->InstallFolder}));
  w.form.HandedOver(true, 0, engine::kExitDamaged);
  EXPECT_EQ(w.form.ExitStatus(), engine::kExitDamaged);
  EXPECT_TRUE(w.backend.Boxes.empty());
}

// The elevated instance goes on with the folder it was given, visible or hidden,
// and never asks again. A hidden run that fails shows its warning only when the
// process has ended its run, and that warning closes by itself.
TEST(MainWindow, TheElevatedInstanceStartsByItselfAndAHiddenFailureWarnsLast) {
  testsupport::TTempFolder tmp;
  for (const bool hidden : {false, true}) {
    std::vector<std::string> args = {"/ELEVATED", "S-1-5-21-1-2-3-1001", "/FOLDER", tmp / "Kestrova"};
    if (hidden) args.push_back("/HIDE");
    Window w(args);
    EXPECT_EQ(w.backend.Visible, !hidden);
    EXPECT_TRUE(w.form.Worker->Started());
    EXPECT_EQ(w.form.Settings->InstallFolder, tmp / "Kestrova");
    EXPECT_TRUE(platform::DirectoryExists(tmp / "Kestrova"));
    EXPECT_FALSE(w.form.HandOverRequested());
    // Plain http without a key: refused at once.
    ASSERT_TRUE(w.backend.PumpUntil([&] { return w.form.Worker->Finished(); }));
    EXPECT_EQ(w.form.ExitStatus(), engine::kExitNotAuthentic);
    w.form.CloseWindow();
    EXPECT_EQ(w.backend.Boxes.size(), hidden ? 0u : 1u);
    w.form.FormDestroy();
    w.form.ShowNotice();
    ASSERT_EQ(w.backend.Boxes.size(), 1u);
    EXPECT_EQ(w.backend.Boxes[0].Text, w.form.FLabelMessage.Caption());
    EXPECT_EQ(w.backend.Notices, hidden ? std::vector<uint32_t>{120000} : std::vector<uint32_t>{});
  }
}
