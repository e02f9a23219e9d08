// Steps called one by one over a step context of the test's own: a recorded
// progress, the reports and the retry questions kept, no window and no worker.
#include <gtest/gtest.h>

#include <algorithm>

#include "base/text.h"
#include "engine/steps.h"
#include "install/uninstall.h"
#include "platform/file_stream.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "settings/file_xml.h"
#include "settings/live_update.h"
#include "support/recording_progress.h"
#include "support/test_support.h"

namespace {

class StepTest : public ::testing::Test {
 protected:
  StepTest() {
    texts.SetLanguage("ENGLISH");
    texts.SetDefaultTexts();
    settings.Texts = &texts;
    settings.TempFolder = platform::TempDir();
    defaults = engine::TStepDefaults::FromBuild();
  }

  // A fresh installation folder for each case of a table.
  void NewInstallFolder(const std::string& name) {
    settings.InstallFolder = folder / name;
    ASSERT_TRUE(platform::ForceDirectories(settings.InstallFolder));
    progress.Calls.clear();
  }
  std::string Installed(const std::string& name) const { return settings.InstallFolder + "\\" + name; }
  void MakeFile(const std::string& path, const std::string& content) {
    platform::ForceDirectories(text::ExtractFileDir(path));
    testsupport::WriteFileText(path, content);
  }

  testsupport::TTestMachine machine;
  testsupport::TTempFolder folder;
  TFileXML texts;
  TLiveUpdate settings;
  engine::TStepDefaults defaults;
  testsupport::TRecordingProgress progress;
  std::vector<std::string> reports;
  std::vector<std::vector<std::string>> questions;
  std::function<bool()> answer = [] { return false; };
  engine::TCancelToken cancel;
  engine::TStepContext run{
      .Settings = settings,
      .Defaults = defaults,
      .Progress = progress,
      .Cancel = cancel,
      .Report = [this](const std::string& text, TMsgType) { reports.push_back(text); },
      .AskRetry =
          [this](const std::vector<std::string>& files) {
            questions.push_back(files);
            return answer();
          },
      .Pass = [] {},
  };
};

}  // namespace

// The step bar as the window's controls show it: positions read back at once,
// kept within the maximum, and on the bar before anything that follows them.
TEST(ControlProgress, ReadsBackAtOnceAndShowsThePositionBeforeWhatFollows) {
  TLabel caption("LabelPending");
  TProgressBar overall("PBOverall"), bar("PBPending");
  engine::TControlProgress progress(caption, overall, bar);
  progress.SetMax(20000);
  for (int i = 0; i < 20000; ++i) progress.Step();
  progress.Step();
  EXPECT_EQ(progress.Position(), 20000);
  progress.SetCaption("Copying");
  EXPECT_EQ(bar.Position(), 20000);
  progress.SetPosition(7);
  progress.SetMax(5);  // below the position: lowers it
  EXPECT_EQ(progress.Position(), 5);
  EXPECT_EQ(bar.Position(), 5);
  progress.SetPosition(-3);
  EXPECT_EQ(progress.Position(), 0);
  progress.Flush();
  EXPECT_EQ(bar.Position(), 0);
  progress.StepOverall();
  EXPECT_EQ(overall.Position(), 1);
  EXPECT_EQ(caption.Caption(), "Copying");
}

TEST_F(StepTest, BatchFileLinesEndAtCrLfLfOrCr) {
  const struct {
    const char* name;
    std::string batch;
    int lines;
    std::string output;
  } cases[] = {
      {"CR LF, an empty line", "echo a>>o.txt\r\n\r\necho b>>o.txt\r\n", 3, "a\nb\n"},
      {"LF, no final line end", "echo a>>o.txt\necho b>>o.txt", 2, "a\nb\n"},
      {"CR", "echo a>>o.txt\recho b>>o.txt\r", 2, "a\nb\n"},
      {"mixed", "echo a>>o.txt\recho b>>o.txt\necho c>>o.txt\r\n", 3, "a\nb\nc\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    NewInstallFolder(c.name);
    MakeFile(Installed(defaults.BatchFileName), c.batch);
    EXPECT_TRUE(engine::Configure(run));
    EXPECT_EQ(progress.Caption, texts.S_ExecBatch);
    EXPECT_NE(std::find(progress.Calls.begin(), progress.Calls.end(), "max " + std::to_string(c.lines)),
              progress.Calls.end());
    EXPECT_EQ(progress.Calls.back(), "pos 1");
    std::string output = testsupport::ReadFileText(Installed("o.txt"));
    output.erase(std::remove(output.begin(), output.end(), '\r'), output.end());
    EXPECT_EQ(output, c.output);
    EXPECT_FALSE(platform::FileExists(Installed(defaults.BatchFileName)));
  }
}

TEST_F(StepTest, StartApplicationStartsEachProgramFromTheInstallationFolder) {
  NewInstallFolder("Kestrova");
  const std::string child = testsupport::Quoted(testsupport::HelperProgram("lu-child"));
  defaults.Names.ApplicationCommand = child + " write first.txt," + child + " write second.txt";
  EXPECT_TRUE(engine::StartApplication(settings, defaults));
  for (const char* name : {"first.txt", "second.txt"}) {
    ASSERT_TRUE(testsupport::WaitForFile(Installed(name), 20000)) << name;
    const std::string written = testsupport::ReadFileText(Installed(name));
    EXPECT_TRUE(text::AnsiSameText(written.substr(0, written.find('\n')), settings.InstallFolder)) << written;
  }
}

// A copy that does not complete leaves the installation folder as it was:
// originals back, no added file or folder, no journal, no recovery entry. A file
// another program holds goes to the question (Cancel, or a question that cannot
// be asked); any other cause ends the step at once, named; a run given up ends
// the wait for a held file at once.
TEST_F(StepTest, CopyThatDoesNotCompleteLeavesTheFolderAsItWas) {
  enum Fault { Cancel, QuestionFails, FolderInTheWay, GivenUp };
  for (const Fault fault : {Cancel, QuestionFails, FolderInTheWay, GivenUp}) {
    SCOPED_TRACE(fault);
    NewInstallFolder("case" + std::to_string(fault));
    MakeFile(Installed("old.txt"), "v1");
    MakeFile(Installed("held.dll"), "v1");
    MakeFile(Installed("blocked\\keep.txt"), "a folder where the package has a file");
    run.RunFolder = platform::CreatePrivateFolder(settings.TempFolder, engine::kRunFolderPrefix);
    run.ExtractFolderName = platform::NewGuidText();
    run.ExtractedFiles.clear();
    // Placed last to first: the parent folder is made before the deeper one.
    std::vector<std::string> names = {"sub\\deeper\\b.txt", "sub\\a.txt", "old.txt", "held.dll"};
    if (fault == FolderInTheWay) names.insert(names.begin(), "blocked");
    for (const std::string& name : names) {
      const std::string source = run.RunFolder + "\\" + run.ExtractFolderName + "\\" + name;
      MakeFile(source, "v2");
      run.ExtractedFiles.push_back(source);
    }
    reports.clear();
    questions.clear();
    answer = [&] {
      if (fault == QuestionFails) throw EInOutError("no dialog", 0);
      return false;
    };
    {
      platform::TFileStream holder(Installed("held.dll"), platform::TFileMode::OpenReadWrite);
      if (fault == GivenUp) {
        defaults.FileReplaceTimeout = 60000;
        cancel.Cancel();
      }
      if (fault == QuestionFails)
        EXPECT_THROW(engine::CopyFiles(run), EInOutError);
      else if (fault == GivenUp)
        EXPECT_THROW(engine::CopyFiles(run), engine::ERunCancelled);
      else
        EXPECT_FALSE(engine::CopyFiles(run));
    }
    if (fault == GivenUp) {
      EXPECT_TRUE(questions.empty());
      EXPECT_TRUE(reports.empty());
    } else if (fault == FolderInTheWay) {
      EXPECT_TRUE(questions.empty());
      ASSERT_EQ(reports.size(), 1u);
      EXPECT_EQ(reports[0].rfind("Unable to copy one or more files.\r\n" + Installed("blocked") + ": ", 0), 0u)
          << reports[0];
      EXPECT_EQ(reports[0].find("close all running applications"), std::string::npos) << reports[0];
    } else {
      EXPECT_EQ(questions, (std::vector<std::vector<std::string>>{{Installed("held.dll")}}));
      EXPECT_EQ(reports, fault == Cancel ? std::vector<std::string>{texts.S_CopyError} : std::vector<std::string>{});
    }
    EXPECT_EQ(platform::ListDir(settings.InstallFolder),
              (std::vector<std::string>{"blocked\\", "held.dll", "old.txt"}));
    EXPECT_EQ(testsupport::ReadFileText(Installed("old.txt")), "v1");
    EXPECT_EQ(testsupport::ReadFileText(Installed("held.dll")), "v1");
    platform::TRegKey runOnce;
    EXPECT_FALSE(runOnce.Open(platform::HKEY_CURRENT_USER_ID, install::kRunOnceKey, false, true) &&
                 runOnce.HasValue(engine::RecoverValueName(defaults.Names.ApplicationName)));

    // The run's own files in the temporary folder go with it.
    engine::TRunTools tools;
    engine::Cleanup(run, tools);
    EXPECT_EQ(platform::ListDir(settings.TempFolder),
              std::vector<std::string>{text::ExtractFileName(folder.Path()) + "\\"});
  }
}

// What a kill leaves at any point of the copy step is undone from the journal
// alone, whichever of a batch's changes were made, a record torn in half at its
// end; recovering twice is recovering once. After COMMIT the update stays.
TEST_F(StepTest, RecoveryUndoesWhatAKillLeftAtAnyPoint) {
  const std::string key = "Software\\ORBAX\\JournalTest";
  install::TProductNames names = defaults.Names;
  names.ProductRegistryKey = "HKEY_CURRENT_USER\\" + key;
  // Values an update of these names changes: the product key's.
  const std::vector<install::TRegValueName> values = {{platform::HKEY_CURRENT_USER_ID, key, "Version"},
                                                      {platform::HKEY_CURRENT_USER_ID, key, "UserName"}};
  auto setValue = [&](const std::string& name, const std::string& data) {
    platform::TRegKey k;
    ASSERT_TRUE(k.Open(platform::HKEY_CURRENT_USER_ID, key, true, false));
    ASSERT_TRUE(k.SetValue(name, {platform::REG_SZ_TYPE, data}));
  };
  auto value = [&](const std::string& name) {
    platform::TRegKey k;
    platform::TRegValue v;
    return k.Open(platform::HKEY_CURRENT_USER_ID, key, false, true) && k.GetValue(name, v) ? v.Data : "(none)";
  };
  const int kChanges = 6;
  for (int made = 0; made <= kChanges + 1; ++made) {
    SCOPED_TRACE(made);
    NewInstallFolder("kill" + std::to_string(made));
    MakeFile(Installed("old.txt"), "v1");
    setValue("Version", "1.0");
    run.RunFolder = platform::CreatePrivateFolder(settings.TempFolder, engine::kRunFolderPrefix);
    const std::string work = Installed(engine::kJournalFolderName);
    {
      auto journal = engine::TUpdateJournal::Begin({settings.InstallFolder, run.RunFolder, names, values});
      journal->NoteFolder(Installed("sub"));
      const std::string backup = journal->NoteReplace(Installed("old.txt"));
      journal->NoteAdd(Installed("sub\\new.txt"));
      journal->Flush();
      const std::function<void()> changes[kChanges] = {
          [&] { ASSERT_TRUE(platform::CreateDir(Installed("sub"))); },
          [&] { ASSERT_TRUE(platform::RenameFile(Installed("old.txt"), backup)); },
          [&] { MakeFile(Installed("old.txt"), "v2"); },
          [&] { MakeFile(Installed("sub\\new.txt"), "v2"); },
          [&] { setValue("Version", "2.0"); },
          [&] { setValue("UserName", "there now"); },
      };
      for (int i = 0; i < std::min(made, kChanges); ++i) changes[i]();
      if (made > kChanges) {
        journal->Commit();
        EXPECT_TRUE(journal->Ended());
      }
      // The kill: the journal goes without a word, its last record cut.
    }
    if (made <= kChanges) {
      platform::TRegKey runOnce;
      platform::TRegValue command;
      ASSERT_TRUE(runOnce.Open(platform::HKEY_CURRENT_USER_ID, install::kRunOnceKey, false, true) &&
                  runOnce.GetValue(engine::RecoverValueName(names.ApplicationName), command));
      EXPECT_EQ(engine::RecoveredFolder(command.Data), work);
      platform::TFileStream file(work + "\\journal", platform::TFileMode::OpenReadWrite);
      file.Seek(0, TSeekOrigin::soEnd);
      file.Write("ADD\tsub\\new", 11);
    }
    EXPECT_EQ(engine::RecoverJournal(work, names).Failures, "");
    EXPECT_EQ(engine::RecoverJournal(work, names).Failures, "");
    const bool forward = made > kChanges;
    const std::vector<std::string> v1{"old.txt"}, v2{"sub\\", "old.txt"};
    EXPECT_EQ(platform::ListDir(settings.InstallFolder), forward ? v2 : v1);
    EXPECT_EQ(testsupport::ReadFileText(Installed("old.txt")), forward ? "v2" : "v1");
    EXPECT_EQ(value("Version"), forward ? "2.0" : "1.0");
    EXPECT_EQ(value("UserName"), forward ? "there now" : "(none)");
    platform::TRegKey runOnce;
    EXPECT_FALSE(runOnce.Open(platform::HKEY_CURRENT_USER_ID, install::kRunOnceKey, false, true) &&
                 runOnce.HasValue(engine::RecoverValueName(names.ApplicationName)));
    EXPECT_FALSE(platform::FileExists(run.RunFolder + "\\" + names.UpdaterFileName));  // the recovery copy went
    EXPECT_TRUE(platform::RemoveDir(run.RunFolder));
    platform::RegDeleteKeyTree(platform::HKEY_CURRENT_USER_ID, key);
  }
}
