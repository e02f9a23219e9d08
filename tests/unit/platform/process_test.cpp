// Real child processes: started, found, terminated, waited for; command lines
// split and interpreted; files held by another process.
#include <gtest/gtest.h>

#include <optional>
#include <thread>

#include "platform/file_stream.h"
#include "platform/files.h"
#include "platform/locks.h"
#include "platform/processes.h"
#include "platform/system.h"
#include "support/test_support.h"

using namespace platform;
using testsupport::HelperProgram;
using testsupport::Quoted;
using testsupport::ReadFileText;
using testsupport::TTempFolder;
using testsupport::WaitForFile;
using testsupport::WriteFileText;

namespace {

std::string Child() { return Quoted(HelperProgram("lu-child")); }

// Restores the current folder when the test leaves.
struct TCurrentDirGuard {
  std::string saved = GetCurrentDir();
  ~TCurrentDirGuard() { SetCurrentDir(saved); }
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (char c : text) {
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else if (c != '\r') {
      line += c;
    }
  }
  return lines;
}

bool SameTextNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

// An ended process whose handles are closed cannot be opened on the Linux port;
// Wine may still hand out its husk for a while, but nothing is left to wait for.
void ExpectEnded(uint32_t pid) {
  TProcessHandle again = OpenProcessForTerminate(pid);
  if (EmulatedMachine()) {
    EXPECT_FALSE(again.Valid());
  }
  if (again.Valid()) {
    EXPECT_TRUE(TerminateProcessWith(again, 0));  // what was wanted has happened
    EXPECT_EQ(WaitForProcess(again, 0), TWaitResult::Ended);
  }
}

}  // namespace

TEST(Processes, TerminateAndWaitWithALimit) {
  TProcessHandle started = StartProcess(Child() + " sleep 60000", true);
  ASSERT_TRUE(started.Valid()) << SysErrorMessage(LastError());
  uint32_t pid = started.Pid();
  TProcessHandle opened = OpenProcessForTerminate(pid);
  ASSERT_TRUE(opened.Valid());
  EXPECT_EQ(opened.Pid(), pid);
  EXPECT_EQ(WaitForProcess(opened, 50), TWaitResult::TimedOut);
  EXPECT_TRUE(TerminateProcessWith(opened, 0));
  EXPECT_EQ(WaitForProcess(opened, 10000), TWaitResult::Ended);
  EXPECT_EQ(WaitForProcess(started, 10000), TWaitResult::Ended);
  TProcessHandle moved = std::move(opened);
  EXPECT_FALSE(opened.Valid());
  EXPECT_TRUE(moved.Valid());
  moved = TProcessHandle();
  started = TProcessHandle();
  ExpectEnded(pid);
}

TEST(Processes, EndedAndImpossibleProcessesCannotBeOpened) {
  TProcessHandle quick = StartProcess(Child() + " exit 3", true);
  ASSERT_TRUE(quick.Valid());
  uint32_t pid = quick.Pid();
  EXPECT_EQ(WaitForProcess(quick, 10000), TWaitResult::Ended);
  quick = TProcessHandle();
  ExpectEnded(pid);
  EXPECT_FALSE(OpenProcessForTerminate(0).Valid());
  TProcessHandle none;
  EXPECT_FALSE(TerminateProcessWith(none, 0));
  EXPECT_EQ(WaitForProcess(none, 0), TWaitResult::Failed);
  EXPECT_NE(CurrentProcessId(), 0u);
  EXPECT_TRUE(OpenProcessForTerminate(CurrentProcessId()).Valid());
}

TEST(Processes, RunHiddenWaitsAndPassesArgumentsAndFolder) {
  TTempFolder dir;
  TCurrentDirGuard guard;
  ASSERT_TRUE(SetCurrentDir(dir.Path()));
  ASSERT_TRUE(RunHiddenAndWait(Child() + " write out.txt plain \"two words\" \"say \\\"hi\\\"\" back\\slash \"\""));
  auto lines = Lines(ReadFileText(dir / "out.txt"));  // there at once: the run was waited for
  std::vector<std::string> args(lines.begin() + (lines.empty() ? 0 : 1), lines.end());
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(SameTextNoCase(lines[0], dir.Path())) << lines[0];
  std::vector<std::string> expected = {"plain", "two words", "say \"hi\"", "back\\slash", ""};
  EXPECT_EQ(args, expected);
}

TEST(Processes, ProgramsAreFoundInTheCurrentFolder) {
  TTempFolder dir;
  TCurrentDirGuard guard;
  std::string copy = "mychild" + ExecutableSuffix();
  ASSERT_TRUE(CopyFileTo(HelperProgram("lu-child"), dir / copy, true));
  ASSERT_TRUE(SetCurrentDir(dir.Path()));
  EXPECT_TRUE(RunHiddenAndWait("mychild write a.txt 1"));
  EXPECT_TRUE(RunHiddenAndWait("mychild.exe write b.txt 2"));
  EXPECT_TRUE(FileExists(dir / "a.txt"));
  EXPECT_TRUE(FileExists(dir / "b.txt"));
}

TEST(Processes, FailureToCreateIsReported) {
  TTempFolder dir;
  EXPECT_FALSE(RunHiddenAndWait("lu-no-such-program-here arg"));
  EXPECT_FALSE(StartDetached("lu-no-such-program-here arg"));
  EXPECT_FALSE(StartProcess(Quoted(dir / "missing" + ExecutableSuffix()), true).Valid());
  EXPECT_FALSE(RunHiddenAndWait(""));
  // A file that is no program cannot be started either.
  WriteFileText(dir / "notaprogram" + ExecutableSuffix(), "just text");
  SetAttributes(dir / "notaprogram" + ExecutableSuffix(), faArchive, 0755);
  EXPECT_FALSE(RunHiddenAndWait(Quoted(dir / "notaprogram" + ExecutableSuffix())));
}

TEST(Processes, InterpreterPrefixRunsTheRest) {
  TTempFolder dir;
  TCurrentDirGuard guard;
  ASSERT_TRUE(SetCurrentDir(dir.Path()));
  ASSERT_TRUE(RunHiddenAndWait("CMD.EXE /C echo x> out.txt"));
  EXPECT_EQ(ReadFileText(dir / "out.txt").substr(0, 1), "x");
  ASSERT_TRUE(RunHiddenAndWait("cmd.exe /c echo y> second.txt"));
  EXPECT_EQ(ReadFileText(dir / "second.txt").substr(0, 1), "y");
  if (EmulatedMachine()) {
    ASSERT_TRUE(RunHiddenAndWait("COMMAND.COM /C echo z> third.txt"));
    EXPECT_EQ(ReadFileText(dir / "third.txt"), "z\n");
  }
}

TEST(Processes, StartDetachedDoesNotWait) {
  TTempFolder dir;
  TCurrentDirGuard guard;
  ASSERT_TRUE(SetCurrentDir(dir.Path()));
  ASSERT_TRUE(StartDetached(Child() + " write detached.txt go"));
  EXPECT_TRUE(WaitForFile(dir / "detached.txt", 20000));
  const auto lines = Lines(ReadFileText(dir / "detached.txt"));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "go");
}

// One updater at a time: the user's lock, and the lock of a folder whoever runs
// the update. Held elsewhere is "another update runs" (183); anything else in the
// way is the system's own error, never that.
TEST(Processes, OneUpdaterAtATime) {
  testsupport::TTestMachine machine;
  TTempFolder dir;
  std::optional<TUpdaterLock> first(std::in_place);
  ASSERT_TRUE(first->Acquire());
  // Another thread stands in for another process: the mutex belongs to a thread.
  auto acquireElsewhere = [] {
    bool acquired = false, another = false;
    std::thread([&] {
      acquired = TUpdaterLock().Acquire();
      another = AlreadyExists(LastError());
    }).join();
    return acquired ? "acquired" : another ? "another holds it" : "refused";
  };
  EXPECT_STREQ(acquireElsewhere(), "another holds it");
  first.reset();
  EXPECT_STREQ(acquireElsewhere(), "acquired");

  const std::string path = dir / "~ORBAXLU.lock";
  std::optional<TFileLock> folder(std::in_place);
  ASSERT_TRUE(folder->Acquire(path));
  TFileLock second;
  EXPECT_FALSE(second.Acquire(path));
  EXPECT_TRUE(AlreadyExists(LastError()));
  folder.reset();
  EXPECT_FALSE(FileExists(path));  // gone with its holder
  EXPECT_TRUE(second.Acquire(path));
  second.Release();
  ASSERT_TRUE(CreateDir(path));
  EXPECT_FALSE(second.Acquire(path));
  EXPECT_FALSE(AlreadyExists(LastError()));
}

TEST(FileInUse, AFileHeldByAnotherProcessCannotBeReplaced) {
  TTempFolder dir;
  std::string held = dir / "held.dat";
  WriteFileText(held, "original");
  TProcessHandle child = StartProcess(
      Child() + " hold " + Quoted(held) + " " + Quoted(dir / "ready") + " " + Quoted(dir / "release"), true);
  ASSERT_TRUE(child.Valid());
  ASSERT_TRUE(WaitForFile(dir / "ready", 20000));

  EXPECT_FALSE(EraseFile(held));
  EXPECT_EQ(LastError(), 32u);
  EXPECT_FALSE(MoveFileTo(held, dir / "moved.dat"));
  EXPECT_EQ(LastError(), 32u);
  WriteFileText(dir / "new.dat", "new");
  EXPECT_FALSE(CopyFileTo(dir / "new.dat", held, false));
  EXPECT_EQ(LastError(), 32u);
  {
    // Asked once for many files: the held one may be held; a free one is free
    // where the system can list what is held.
    TFileStream witness(dir / "witness", TFileMode::CreateExclusive);
    const THeldFiles list(witness);
    EXPECT_TRUE(list.MayBeHeld(LookAtFile(held)));
    EXPECT_EQ(list.MayBeHeld(LookAtFile(dir / "new.dat")), !EmulatedMachine());
  }
  EXPECT_THROW(TFileStream(held, TFileMode::OpenReadWrite), EFOpenError);
  EXPECT_EQ(LastError(), 32u);
  EXPECT_THROW(TFileStream(held, TFileMode::CreateExclusive), EFCreateError);
  EXPECT_EQ(LastError(), 32u);
  EXPECT_EQ(ReadFileText(held), "original");  // reading is shared

  WriteFileText(dir / "release", "");
  EXPECT_EQ(WaitForProcess(child, 20000), TWaitResult::Ended);
  EXPECT_TRUE(CopyFileTo(dir / "new.dat", held, false));
  EXPECT_EQ(ReadFileText(held), "new");
  EXPECT_TRUE(EraseFile(held));
}

TEST(FileInUse, AKilledHolderLetsGo) {
  TTempFolder dir;
  std::string held = dir / "held.dat";
  WriteFileText(held, "x");
  TProcessHandle child = StartProcess(Child() + " hold " + Quoted(held) + " " + Quoted(dir / "ready"), true);
  ASSERT_TRUE(child.Valid());
  ASSERT_TRUE(WaitForFile(dir / "ready", 20000));
  EXPECT_FALSE(EraseFile(held));
  TProcessHandle h = OpenProcessForTerminate(child.Pid());
  ASSERT_TRUE(TerminateProcessWith(h, 0));
  ASSERT_EQ(WaitForProcess(h, 10000), TWaitResult::Ended);
  EXPECT_TRUE(EraseFile(held));
}
