// The update's journal as data: its format read from memory, whatever a disk or a
// hand did to the bytes, and recovery from journals written to lead it astray.
#include <gtest/gtest.h>

#include "base/text.h"
#include "engine/journal.h"
#include "engine/journal_format.h"
#include "engine/steps.h"
#include "install/register.h"
#include "install/uninstall.h"
#include "platform/file_stream.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "support/test_platform.h"
#include "support/test_support.h"

namespace {

using engine::journal::Line;
using engine::journal::Parse;
using engine::journal::TRecord;

const TRecord kHeader = {"JOURNAL",        "2", "C:\\Kestrova", "C:\\T\\ORBAXLU-x", "!ORBAXLU_RECOVER_Kestrova",
                         "\"c\" /RECOVER", "c", "o-1"};

TEST(JournalFormat, EveryRecordReadsBackAndOnlyTheLastMayBeTorn) {
  const std::vector<TRecord> records = {
      kHeader,
      {"REG", "2147483649", "Software\\ORBAX\\Kestrova", "Files", "1", "1", "a%b\tc\r\nd\x01;"},
      {"MKDIR", "data"},
      {"MOVE", "data\\big.bin"},
      {"ADD", "data/new.txt"},
      {"COMMIT"}};
  std::string whole;
  for (const TRecord& r : records) whole += Line(r);
  const auto parsed = Parse(whole);
  EXPECT_EQ(parsed.Damage, "");
  EXPECT_EQ(parsed.Records, records);

  const size_t third = whole.find('\n', whole.find('\n', whole.find('\n') + 1) + 1) + 1;  // after MKDIR
  struct Case {
    const char* What;
    std::string Bytes;
    size_t Records;  // whole ones read
    bool Damaged;
  };
  std::string flipped = whole;
  flipped[third + 2] ^= 0x01;
  std::string zeroed = whole.substr(0, third) + std::string(40, '\0');
  const Case cases[] = {
      {"cut in the last line", whole.substr(0, whole.size() - 4), 5, false},
      {"last line's CRC", whole.substr(0, whole.size() - 3) + "00\n", 5, false},
      {"zeros after a batch", zeroed, 3, false},
      {"a flipped byte with whole records after it", flipped, 3, true},
      {"empty", "", 0, true},
      {"no whole first record", whole.substr(0, 20), 0, true},
      {"a record of no known kind", whole + Line({"DELETE", "x"}), 6, true},
      {"header of an unknown format", Line({"JOURNAL", "3", "a", "b", "c", "d", "e", "o-1"}), 0, true},
      {"header naming another originals' folder", Line({"JOURNAL", "2", "a", "b", "c", "d", "e", "..\\x"}), 0, true},
      {"format 1 MOVE without its number", Line({"JOURNAL", "1", "a", "b", "c", "d", "e"}) + Line({"MOVE", "x"}), 1,
       true},
      {"REG root that is no number", Line(kHeader) + Line({"REG", "x", "k", "n", "1", "1", "d"}), 1, true},
      {"REG existed neither 0 nor 1", Line(kHeader) + Line({"REG", "1", "k", "n", "2", "1", "d"}), 1, true},
  };
  for (const Case& c : cases) {
    const auto p = Parse(c.Bytes);
    EXPECT_EQ(p.Records.size(), c.Records) << c.What;
    EXPECT_EQ(!p.Damage.empty(), c.Damaged) << c.What << ": " << p.Damage;
  }
}

TEST(JournalFormat, PathsStayInsideTheInstallationFolder) {
  for (const char* inside : {"a.txt", "data\\big.bin", "data/big.bin", "a..b\\c", "..a", "readme."})
    EXPECT_TRUE(engine::journal::RelativeInside(inside)) << inside;
  for (const char* outside :
       {"", "..", "x\\..\\..\\Users\\me\\secret.txt", "x/../../Users/me/secret.txt", "\\Windows\\a.dll", "/etc/passwd",
        "C:\\Windows\\a.dll", "D:a.txt", "a\\\\b", "a\\.\\b", "a\\...\\b", "a\\. .\\b", "a.txt:stream", "a\tb",
        "~ORBAXLU.journal\\o-1\\x", "~orbaxlu.LOCK"})
    EXPECT_FALSE(engine::journal::RelativeInside(outside)) << outside;
}

// Recovery from journals written by hand: each is refused as damaged (or as no
// journal at all), nothing outside the installation is touched, nothing raises.
class HostileJournal : public ::testing::Test {
 protected:
  HostileJournal() {
    names = install::TProductNames::FromBuildDefaults();
    names.ApplicationName = "Kestrova";
    names.ProductRegistryKey = "HKEY_CURRENT_USER\\Software\\ORBAX\\HostileTest";
    platform::ForceDirectories(victim.Path() + "\\docs");
    testsupport::WriteFileText(victim / "docs\\secret.txt", "mine");
    run = platform::CreatePrivateFolder(platform::TempDir(), engine::kRunFolderPrefix);
  }
  ~HostileJournal() override {
    platform::RemoveTree(run);
    platform::RegDeleteKeyTree(platform::HKEY_CURRENT_USER_ID, "Software\\ORBAX\\HostileTest");
  }

  // A fresh installation with one file and a work folder holding the journal.
  std::string Install(const std::string& name, const std::string& journal) {
    const std::string folder = installs / name;
    platform::ForceDirectories(folder + "\\" + engine::kJournalFolderName + "\\o-1");
    testsupport::WriteFileText(folder + "\\app.exe", "v1");
    testsupport::WriteFileText(folder + "\\" + engine::kJournalFolderName + "\\journal", journal);
    return folder;
  }
  TRecord Header(const std::string& folder) const {
    const std::string copy = run + "\\" + names.UpdaterFileName;
    return {"JOURNAL",
            "2",
            folder,
            run,
            engine::RecoverValueName(names.ApplicationName),
            "\"" + copy + "\" /RECOVER \"" + folder + "\\" + engine::kJournalFolderName + "\"",
            copy,
            "o-1"};
  }
  // What must never change, whatever the journal says.
  void ExpectVictimWhole(const std::string& what) {
    EXPECT_EQ(testsupport::ReadFileText(victim / "docs\\secret.txt"), "mine") << what;
    EXPECT_EQ(platform::ListDir(victim / "docs"), std::vector<std::string>{"secret.txt"}) << what;
    platform::TRegKey run;
    EXPECT_FALSE(run.Open(platform::HKEY_CURRENT_USER_ID, install::kRunKey, false, true) && run.HasValue("Evil"))
        << what;
  }

  testsupport::TTestMachine machine;
  testsupport::TTempFolder installs, victim;
  install::TProductNames names;
  std::string run;
};

TEST_F(HostileJournal, NothingOutsideTheInstallationIsTouched) {
  const std::string secret = victim / "docs\\secret.txt";
  const std::string up = "..\\..\\..\\" + text::ExtractFileName(victim.Path()) + "\\docs\\secret.txt";
  std::string upSlashes = up;
  for (char& c : upSlashes)
    if (c == '\\') c = '/';
  struct Case {
    const char* What;
    std::vector<TRecord> Records;  // after the header
  };
  const std::string user = text::IntToStr(platform::HKEY_CURRENT_USER_ID);
  const std::string machine = text::IntToStr(platform::HKEY_LOCAL_MACHINE_ID);
  const Case cases[] = {
      {"ADD above the folder", {{"ADD", up}}},
      {"ADD above the folder with slashes", {{"ADD", "x/" + upSlashes}}},
      {"ADD of an absolute path", {{"ADD", secret}}},
      {"MOVE from another drive", {{"MOVE", "D:\\secret.txt"}}},
      {"REG of a logon value of its own", {{"REG", user, install::kRunKey, "Evil", "1", "1", "x"}}},
      {"REG under the machine's root", {{"REG", machine, "Software\\Microsoft", "Evil", "1", "1", "x"}}},
      {"REG of a type that is no number", {{"REG", user, "Software\\ORBAX\\HostileTest", "Version", "1", "x", "1"}}},
  };
  int n = 0;
  for (const Case& c : cases) {
    std::string bytes = Line(Header(installs / ("case" + std::to_string(n))));
    for (const TRecord& r : c.Records) bytes += Line(r);
    const std::string folder = Install("case" + std::to_string(n++), bytes);
    const engine::TRecovery r = engine::RecoverJournal(folder + "\\" + engine::kJournalFolderName, names);
    EXPECT_EQ(r.Outcome, engine::TRecovery::Damaged) << c.What << ": " << r.Failures;
    EXPECT_TRUE(platform::DirectoryExists(folder + "\\" + engine::kJournalFolderName)) << c.What;  // kept
    ExpectVictimWhole(c.What);
  }

  // A recovery copy outside a run folder of TEMP: never deleted.
  TRecord header = Header(installs / "copy");
  header[6] = secret;
  header[5] = "\"" + secret + "\" /RECOVER \"" + (installs / "copy") + "\\" + engine::kJournalFolderName + "\"";
  header[3] = text::ExtractFileDir(secret);
  std::string folder = Install("copy", Line(header) + Line({"COMMIT"}));
  EXPECT_EQ(engine::RecoverJournal(folder + "\\" + engine::kJournalFolderName, names).Outcome,
            engine::TRecovery::Damaged);
  ExpectVictimWhole("recovery copy");

  // A journal far larger than any update writes (sparse: no disk spent) is not read.
  folder = Install("huge", "");
  {
    platform::TFileStream huge(folder + "\\" + engine::kJournalFolderName + "\\journal",
                               platform::TFileMode::OpenReadWrite);
    huge.SetSize(int64_t{1} << 40);
  }
  testsupport::WriteFileText(folder + "\\" + engine::kJournalFolderName + "\\o-1\\app.exe", "v0");
  EXPECT_EQ(engine::RecoverJournal(folder + "\\" + engine::kJournalFolderName, names).Outcome,
            engine::TRecovery::Damaged);
  EXPECT_EQ(testsupport::ReadFileText(folder + "\\app.exe"), "v0");  // the original kept is put back

  // /RECOVER given a folder that is no work folder of an update: nothing goes.
  EXPECT_EQ(engine::RecoverJournal(victim / "docs", names).Outcome, engine::TRecovery::NotJournal);
  ExpectVictimWhole("not a journal");
}

// Links a lesser program of the user's, or another account, could plant for an
// updater with more rights: in a dead run's folder of TEMP, in the installation
// folder, in the work folder.
TEST_F(HostileJournal, LinksAreNeverFollowed) {
  const std::string dead = platform::CreatePrivateFolder(platform::TempDir(), engine::kRunFolderPrefix);
  if (!platform::MakeLink(dead + "\\link", victim / "docs")) {
    platform::RemoveTree(dead);
    GTEST_SKIP() << "no links on this system";
  }
  engine::RecoverAtStart(engine::TStepDefaults::FromBuild());
  EXPECT_FALSE(platform::DirectoryExists(dead));
  ExpectVictimWhole("a link in a run folder of TEMP");

  // Links the system follows when a path passes them.
  const std::string probe = installs / "probe";
  if (!platform::MakeLink(probe, victim / "docs") || !platform::FileExists(probe + "\\secret.txt"))
    GTEST_SKIP() << "no link here leads anywhere";
  EXPECT_FALSE(platform::NoLinkBelow(installs.Path(), "probe\\secret.txt"));
  EXPECT_TRUE(platform::RemoveTree(probe));
  ExpectVictimWhole("a link removed");

  std::string folder = Install("inside", Line(Header(installs / "inside")) + Line({"ADD", "linked\\secret.txt"}));
  ASSERT_TRUE(platform::MakeLink(folder + "\\linked", victim / "docs"));
  engine::TRecovery r = engine::RecoverJournal(folder + "\\" + engine::kJournalFolderName, names);
  EXPECT_EQ(r.Outcome, engine::TRecovery::Unfinished) << r.Failures;
  ExpectVictimWhole("a link in the installation folder");

  // The originals' folder a link to elsewhere: nothing moves in from there.
  folder = Install("work", Line(Header(installs / "work")) + Line({"MOVE", "secret.txt"}));
  platform::RemoveTree(folder + "\\" + engine::kJournalFolderName + "\\o-1");
  ASSERT_TRUE(platform::MakeLink(folder + "\\" + engine::kJournalFolderName + "\\o-1", victim / "docs"));
  r = engine::RecoverJournal(folder + "\\" + engine::kJournalFolderName, names);
  EXPECT_EQ(r.Outcome, engine::TRecovery::Unfinished) << r.Failures;
  EXPECT_FALSE(platform::FileExists(folder + "\\secret.txt"));
  ExpectVictimWhole("a link in the work folder");
}

}  // namespace
