// Steps called one by one over a step context of the test's own: a recorded
// progress, the reports and the retry questions kept, no window and no worker.
#include <gtest/gtest.h>

#include <algorithm>

#include "base/text.h"
#include "engine/steps.h"
#include "platform/files.h"
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
  engine::TStepContext run{settings,
                           defaults,
                           progress,
                           [this](const std::string& text, TMsgType) { reports.push_back(text); },
                           [this](const std::vector<std::string>& files) {
                             questions.push_back(files);
                             return answer();
                           },
                           [] {}};
};

}  // namespace

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
  EXPECT_EQ(settings.ProcessList.Count(), 0);  // the "/KILL" list is no scratch list
}

// A copy that does not complete, whether the user cancels or the question cannot
// be asked, leaves the installation folder as it was: originals back, no added
// file or folder, the deeper folder made after its parent removed first.
TEST_F(StepTest, CopyThatDoesNotCompleteLeavesTheFolderAsItWas) {
  for (const bool questionFails : {false, true}) {
    SCOPED_TRACE(questionFails ? "the question fails" : "Cancel");
    NewInstallFolder(questionFails ? "failed" : "cancelled");
    MakeFile(Installed("old.txt"), "v1");
    MakeFile(Installed("blocked\\keep.txt"), "a folder where the package has a file");
    settings.ExtractFolderName = platform::NewGuidText();
    settings.ExtractedFiles.clear();
    // Placed last to first: "blocked" fails, the parent folder is made before the deeper one.
    for (const char* name : {"sub\\deeper\\b.txt", "sub\\a.txt", "old.txt", "blocked"}) {
      const std::string source = settings.TempFolder + "\\" + settings.ExtractFolderName + "\\" + name;
      MakeFile(source, "v2");
      settings.ExtractedFiles.push_back(source);
    }
    reports.clear();
    questions.clear();
    answer = [&] {
      if (questionFails) throw EInOutError("no dialog", 0);
      return false;
    };
    if (questionFails)
      EXPECT_THROW(engine::CopyFiles(run), EInOutError);
    else
      EXPECT_FALSE(engine::CopyFiles(run));
    EXPECT_EQ(reports, questionFails ? std::vector<std::string>{} : std::vector<std::string>{texts.S_CopyError});
    EXPECT_EQ(questions, (std::vector<std::vector<std::string>>{{Installed("blocked")}}));
    EXPECT_EQ(platform::ListDir(settings.InstallFolder), (std::vector<std::string>{"blocked\\", "old.txt"}));
    EXPECT_EQ(testsupport::ReadFileText(Installed("old.txt")), "v1");

    // The run's own files in the temporary folder go with it.
    engine::TRunTools tools;
    engine::Cleanup(run, tools);
    EXPECT_EQ(platform::ListDir(settings.TempFolder),
              std::vector<std::string>{text::ExtractFileName(folder.Path()) + "\\"});
  }
}
