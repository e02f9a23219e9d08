// Windows behaviour of files and processes that the copy, stop and configure
// steps rely on: sharing violations, hidden waited processes, termination.
// Runs on the Windows build only; elsewhere each case skips itself.
#include <gtest/gtest.h>

#include <string>

#include "platform/file_stream.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "platform/system.h"
#include "support/test_support.h"

namespace {

using namespace platform;

bool OnWin32() { return HostPath("C:\\") == "C:\\"; }

#define SKIP_UNLESS_WIN32() \
  if (!OnWin32()) GTEST_SKIP() << "Windows behaviour"

// A fresh folder below the system's temporary folder, removed afterwards.
class Win32Folder : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!OnWin32()) return;
    dir_ = TempDir() + "lu-w32-" + NewGuidText();
    ASSERT_TRUE(CreateDir(dir_));
  }
  void TearDown() override {
    if (!dir_.empty()) RemoveTree(dir_);
  }
  std::string Path(const std::string& name) const { return dir_ + "\\" + name; }
  static void WriteFile(const std::string& path, const std::string& data) {
    TFileStream s(path, TFileMode::CreateExclusive);
    s.Write(data.data(), static_cast<int64_t>(data.size()));
  }
  static std::string ReadFile(const std::string& path) {
    TFileStream s(path, TFileMode::OpenRead);
    std::string data(static_cast<size_t>(s.Size()), '\0');
    s.ReadBuffer(data.data(), static_cast<int64_t>(data.size()));
    return data;
  }
  // Polls for a file another process makes; false after timeoutMs.
  static bool WaitForFile(const std::string& path, uint32_t timeoutMs) {
    uint32_t start = TickCount();
    while (!FileExists(path)) {
      if (TickCount() - start > timeoutMs) return false;
      SleepMs(20);
    }
    return true;
  }
  // This test program, as the Windows path a child process is started from.
  static std::string SelfProgram() { return FromHostPath(std::string(LU_BINARY_DIR) + "/tests/unit_platform.exe"); }
  // Starts this program as a child that plays one role of Win32ChildRole in the
  // folder given (the child works in its inherited current folder).
  TProcessHandle StartChild(const std::string& role) {
    std::string saved = GetCurrentDir();
    EXPECT_TRUE(SetCurrentDir(dir_));
    TProcessHandle child = StartProcess(
        "\"" + SelfProgram() +
            "\" --gtest_brief=1 --gtest_also_run_disabled_tests --gtest_filter=Win32ChildRole.DISABLED_" + role,
        true);
    SetCurrentDir(saved);
    return child;
  }

  std::string dir_;
};

}  // namespace

// The roles a child copy of this program plays for the tests below. Disabled, so
// they never run by themselves; each gives up after 30 s if nobody releases it.
TEST(Win32ChildRole, DISABLED_HoldFileWithoutSharing) {
  TFileStream held("held.dat", TFileMode::CreateExclusive);
  held.Write("held", 4);
  { TFileStream ready("ready", TFileMode::CreateExclusive); }
  uint32_t start = TickCount();
  while (!FileExists("release") && TickCount() - start < 30000) SleepMs(20);
}

TEST_F(Win32Folder, FileHeldWithoutSharingByAnotherProcessRefusesDeleteMoveAndCopy) {
  SKIP_UNLESS_WIN32();
  ASSERT_TRUE(FileExists(SelfProgram())) << SelfProgram();
  TProcessHandle child = StartChild("HoldFileWithoutSharing");
  ASSERT_TRUE(child.Valid());
  ASSERT_TRUE(WaitForFile(Path("ready"), 30000));
  const std::string held = Path("held.dat");
  WriteFile(Path("new.dat"), "new");

  EXPECT_FALSE(EraseFile(held));
  EXPECT_EQ(LastError(), 32u);
  EXPECT_FALSE(MoveFileTo(held, Path("moved.dat")));
  EXPECT_EQ(LastError(), 32u);
  EXPECT_FALSE(CopyFileTo(Path("new.dat"), held, false));
  EXPECT_EQ(LastError(), 32u);
  EXPECT_THROW(TFileStream(held, TFileMode::OpenRead), EFOpenError);
  EXPECT_NE(SysErrorMessage(32), "");

  WriteFile(Path("release"), "");
  EXPECT_EQ(WaitForProcess(child, 30000), TWaitResult::Ended);
  // Once the holder has gone, the same file can be replaced and deleted.
  EXPECT_TRUE(CopyFileTo(Path("new.dat"), held, false));
  EXPECT_EQ(ReadFile(held), "new");
  EXPECT_TRUE(EraseFile(held));
}

TEST_F(Win32Folder, OwnExclusiveStreamKeepsOthersOutUntilClosed) {
  SKIP_UNLESS_WIN32();
  const std::string path = Path("x.bin");
  TFileStream writer(path, TFileMode::CreateExclusive);
  writer.Write("abc", 3);
  EXPECT_THROW(TFileStream(path, TFileMode::OpenRead), EFOpenError);
  EXPECT_FALSE(EraseFile(path));
  EXPECT_EQ(LastError(), 32u);
  EXPECT_TRUE(writer.Close());
  EXPECT_FALSE(writer.Close());
  // A reader shares reading and writing with others, a read-write opener only reading.
  TFileStream reader(path, TFileMode::OpenRead);
  TFileStream second(path, TFileMode::OpenRead);
  EXPECT_NO_THROW(TFileStream(path, TFileMode::OpenReadWrite));
  TFileStream updater(path, TFileMode::OpenReadWrite);
  EXPECT_THROW(TFileStream(path, TFileMode::OpenReadWrite), EFOpenError);
  EXPECT_THROW(TFileStream(path, TFileMode::CreateExclusive), EFCreateError);
}

TEST_F(Win32Folder, StreamPositionsBeyondFourGigabytes) {
  SKIP_UNLESS_WIN32();
  const std::string path = Path("sparse.bin");
  TFileStream s(path, TFileMode::CreateExclusive);
  const int64_t far = (int64_t(1) << 32) + 10;  // past what 32 bits hold
  s.Seek(far, TSeekOrigin::soBeginning);
  EXPECT_EQ(s.Position(), far);
  s.SetSize(20);
  // The position lay past the new end, so it comes back to it.
  EXPECT_EQ(s.Position(), 20);
  EXPECT_EQ(s.Size(), 20);
  s.SetPosition(5);
  s.SetSize(30);
  EXPECT_EQ(s.Position(), 5);
  EXPECT_EQ(s.Seek(-3, TSeekOrigin::soEnd), 27);
  EXPECT_THROW(s.Seek(-100, TSeekOrigin::soBeginning), EStreamError);
}

TEST_F(Win32Folder, ErrorsCarryWindowsCodesAndTexts) {
  SKIP_UNLESS_WIN32();
  EXPECT_FALSE(EraseFile(Path("missing.txt")));
  EXPECT_EQ(LastError(), 2u);
  EXPECT_FALSE(CreateDir(Path("no\\such\\parent")));
  EXPECT_EQ(LastError(), 3u);
  for (uint32_t code : {2u, 3u, 5u, 32u, 183u}) {
    std::string text = SysErrorMessage(code);
    ASSERT_FALSE(text.empty()) << code;
    EXPECT_NE(text.back(), '\n') << code;
    EXPECT_NE(text.back(), '\r') << code;
  }
  try {
    TFileStream s(Path("missing.txt"), TFileMode::OpenRead);
    FAIL() << "opened a missing file";
  } catch (const EFOpenError& e) {
    EXPECT_NE(e.Message.find("missing.txt"), std::string::npos) << e.Message;
    EXPECT_NE(e.Message.find(SysErrorMessage(2)), std::string::npos) << e.Message;
  }
  EXPECT_THROW(TFileStream(Path("no\\such\\x.txt"), TFileMode::CreateExclusive), EFCreateError);
}

TEST_F(Win32Folder, PathsFoldersAndShortNames) {
  SKIP_UNLESS_WIN32();
  EXPECT_EQ(HostPath("C:\\a\\\\b"), "C:\\a\\\\b");
  EXPECT_EQ(FromHostPath("/tmp/x y/z"), "Z:\\tmp\\x y\\z");
  EXPECT_EQ(FromHostPath("C:\\a"), "C:\\a");
  EXPECT_EQ(FromHostPath("rel/a"), "rel/a");
  EXPECT_TRUE(DriveAccessible("C:\\nowhere\\x"));
  EXPECT_TRUE(DriveAccessible("relative.txt"));
  EXPECT_FALSE(DriveAccessible("Q:\\x"));  // no such drive in a Wine prefix or a test machine
  EXPECT_EQ(TempDir().back(), '\\');
  std::string windows = WindowsDir();
  ASSERT_GE(windows.size(), 3u);
  EXPECT_EQ(windows[1], ':');
  EXPECT_TRUE(DirectoryExists(windows));
  EXPECT_EQ(PlatformId(), 2u);

  // Nested creation, doubled separators and trailing backslashes.
  EXPECT_TRUE(ForceDirectories(Path("a\\\\b\\c\\")));
  EXPECT_TRUE(DirectoryExists(Path("a\\b\\c")));
  EXPECT_TRUE(ForceDirectories(Path("a\\b")));  // exists already
  EXPECT_TRUE(ForceDirectories("C:"));
  EXPECT_FALSE(ForceDirectories("\\\\"));
  EXPECT_FALSE(CreateDir(Path("a")));
  EXPECT_FALSE(RemoveDir(Path("a")));  // not empty
  WriteFile(Path("a\\file.txt"), "1");
  EXPECT_EQ(ListDir(Path("a")), (std::vector<std::string>{"b\\", "file.txt"}));

  // A long name has an 8.3 form that names the same file.
  const std::string longName = Path("a long file name.text");
  WriteFile(longName, "long");
  std::string shortName = ShortPathName(longName);
  ASSERT_FALSE(shortName.empty());
  std::string last = shortName.substr(shortName.rfind('\\') + 1);
  EXPECT_LE(last.size(), 12u) << shortName;
  EXPECT_EQ(last.find(' '), std::string::npos) << shortName;
  EXPECT_EQ(ReadFile(shortName), "long");
  EXPECT_EQ(ShortPathName(longName, 5), "");  // does not fit: nothing usable
  EXPECT_EQ(ShortPathName(Path("missing.txt")), "");

  // Read-only blocks deletion until the attributes are normal again.
  ASSERT_TRUE(SetAttributes(longName, faReadOnly | faArchive));
  EXPECT_EQ(GetAttributes(longName) & faReadOnly, faReadOnly);
  EXPECT_FALSE(EraseFile(longName));
  EXPECT_EQ(LastError(), 5u);
  EXPECT_TRUE(SetAttributesNormal(longName));
  EXPECT_TRUE(EraseFile(longName));
  EXPECT_EQ(GetAttributes(longName), faInvalid);
}

TEST_F(Win32Folder, LastWriteTimeIsLocalTimeOnBothSidesOfSummerTime) {
  SKIP_UNLESS_WIN32();
  const std::string path = Path("t.txt");
  WriteFile(path, "t");
  for (TLocalTime t :
       {TLocalTime{2003, 1, 15, 8, 30, 2}, TLocalTime{2003, 7, 15, 23, 59, 58}, TLocalTime{1999, 12, 31, 0, 0, 0}}) {
    ASSERT_TRUE(SetLastWriteTime(path, t));
    auto back = GetLastWriteTime(path);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->Year, t.Year);
    EXPECT_EQ(back->Month, t.Month);
    EXPECT_EQ(back->Day, t.Day);
    EXPECT_EQ(back->Hour, t.Hour);
    EXPECT_EQ(back->Minute, t.Minute);
    EXPECT_EQ(back->Second, t.Second);
  }
  EXPECT_FALSE(SetLastWriteTime(path, TLocalTime{2003, 13, 40, 0, 0, 0}));
  EXPECT_FALSE(SetLastWriteTime(Path("missing.txt"), TLocalTime{}));
  EXPECT_FALSE(GetLastWriteTime(Path("missing.txt")).has_value());
  // Folders carry times too.
  EXPECT_TRUE(SetLastWriteTime(dir_, TLocalTime{2010, 6, 1, 12, 0, 0}));
}

TEST_F(Win32Folder, HiddenCommandLinesRunOneAfterAnotherAndAreWaitedFor) {
  SKIP_UNLESS_WIN32();
  std::string saved = GetCurrentDir();
  ASSERT_TRUE(SetCurrentDir(dir_));
  // The interpreter's work is complete when the call returns: the second line
  // sees the file of the first.
  EXPECT_TRUE(RunHiddenAndWait("CMD.EXE /C echo first> one.txt"));
  EXPECT_TRUE(RunHiddenAndWait("CMD.EXE /C copy one.txt two.txt"));
  EXPECT_TRUE(RunHiddenAndWait("CMD.EXE /C "));  // an empty batch line
  EXPECT_FALSE(RunHiddenAndWait("no-such-program-here.exe /x"));
  SetCurrentDir(saved);
  EXPECT_EQ(ReadFile(Path("two.txt")).substr(0, 5), "first");
}

TEST_F(Win32Folder, DetachedProgramStartsWithoutBeingWaitedFor) {
  SKIP_UNLESS_WIN32();
  std::string saved = GetCurrentDir();
  ASSERT_TRUE(SetCurrentDir(dir_));
  // The system's search adds ".exe" and looks in the current folder first.
  EXPECT_TRUE(StartDetached("cmd /C echo started> started.txt"));
  EXPECT_FALSE(StartDetached("no-such-program-here"));
  SetCurrentDir(saved);
  EXPECT_TRUE(WaitForFile(Path("started.txt"), 30000));
}

TEST_F(Win32Folder, TerminateAndWaitWithAShortLimit) {
  SKIP_UNLESS_WIN32();
  TProcessHandle child =
      StartProcess(testsupport::Quoted(testsupport::HelperProgram("lu-child")) + " sleep 30000", true);
  ASSERT_TRUE(child.Valid());
  EXPECT_EQ(WaitForProcess(child, 50), TWaitResult::TimedOut);

  // As the stop step does it: open by identifier, terminate with 0, wait.
  TProcessHandle opened = OpenProcessForTerminate(child.Pid());
  ASSERT_TRUE(opened.Valid());
  EXPECT_EQ(opened.Pid(), child.Pid());
  EXPECT_TRUE(TerminateProcessWith(opened, 0));
  EXPECT_EQ(WaitForProcess(opened, 10000), TWaitResult::Ended);
  EXPECT_EQ(WaitForProcess(child, 0), TWaitResult::Ended);
  // Terminating what has ended meanwhile is no failure.
  EXPECT_TRUE(TerminateProcessWith(opened, 0));

  // Moving the handle moves ownership; the moved-from one is empty.
  TProcessHandle moved = std::move(opened);
  EXPECT_TRUE(moved.Valid());
  EXPECT_FALSE(opened.Valid());
  EXPECT_EQ(WaitForProcess(opened, 0), TWaitResult::Failed);
  EXPECT_FALSE(TerminateProcessWith(opened, 0));

  // Identifiers are multiples of four, so this one names no process.
  EXPECT_FALSE(OpenProcessForTerminate(0xFFFFFFF3u).Valid());
  EXPECT_TRUE(OpenProcessForTerminate(CurrentProcessId()).Valid());
}

TEST_F(Win32Folder, AnEndedProcessStillHeldElsewhereCountsAsGone) {
  SKIP_UNLESS_WIN32();
  // The application that asked for the update may have ended by itself while its
  // parent still holds a handle: it must not look like a process that refuses to stop.
  TProcessHandle parentsHandle =
      StartProcess(testsupport::Quoted(testsupport::HelperProgram("lu-child")) + " exit 0", true);
  ASSERT_TRUE(parentsHandle.Valid());
  ASSERT_EQ(WaitForProcess(parentsHandle, 10000), TWaitResult::Ended);
  EXPECT_FALSE(OpenProcessForTerminate(parentsHandle.Pid()).Valid());
}
