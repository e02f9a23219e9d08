// Files and folders on the real file system, the same cases on both targets.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#include <sys/file.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/file_stream.h"
#include "platform/files.h"
#include "platform/system.h"
#include "support/test_platform.h"
#include "support/test_support.h"

using namespace platform;
using testsupport::ReadFileText;
using testsupport::TTempFolder;
using testsupport::TTestMachine;
using testsupport::WriteFileText;

TEST(Paths, SystemFoldersExistAndTempEndsInBackslash) {
  TTestMachine machine;
  std::string temp = TempDir();
  ASSERT_GE(temp.size(), 3u);
  EXPECT_EQ(temp.back(), '\\');
  EXPECT_EQ(temp[1], ':');
  EXPECT_TRUE(DirectoryExists(temp));
  EXPECT_TRUE(DirectoryExists(WindowsDir()));
  EXPECT_TRUE(DriveAccessible(temp));
  EXPECT_TRUE(DriveAccessible("relative\\name"));
}

TEST(Paths, CurrentFolderRoundTrips) {
  TTempFolder dir;
  std::string old = GetCurrentDir();
  ASSERT_TRUE(SetCurrentDir(dir.Path()));
  WriteFileText("here.txt", "x");
  EXPECT_TRUE(FileExists(dir / "here.txt"));
  EXPECT_TRUE(FileExists(".\\here.txt"));
  std::string now = GetCurrentDir();
  ASSERT_TRUE(SetCurrentDir(old));
  EXPECT_TRUE(FileExists(now + "\\here.txt"));
  EXPECT_FALSE(SetCurrentDir(dir / "missing"));
}

TEST(Paths, EmulatedDrivesMapIntoThePrefix) {
  if (!EmulatedMachine()) GTEST_SKIP() << "the drives are the system's own";
  TTestMachine machine;
  std::string prefix = HostPath("C:\\");
  ASSERT_FALSE(prefix.empty());
  EXPECT_EQ(HostPath("C:\\a\\\\b/c"), prefix + "/a/b/c");
  EXPECT_EQ(HostPath("c:\\a\\..\\..\\..\\b"), prefix + "/b");  // never above the root
  EXPECT_EQ(HostPath("Z:\\"), "/");
  EXPECT_EQ(HostPath("Z:\\usr\\\\bin"), "/usr/bin");
  EXPECT_EQ(HostPath("D:\\x"), "");
  EXPECT_EQ(LastError(), 3u);
  EXPECT_EQ(HostPath("\\\\server\\share\\x"), "");
  EXPECT_FALSE(DriveAccessible("D:\\x"));
  EXPECT_FALSE(FileExists("D:\\x"));
  EXPECT_TRUE(DriveAccessible("c:\\"));
  EXPECT_EQ(FromHostPath(prefix + "/Windows"), "C:\\Windows");
  EXPECT_EQ(FromHostPath(prefix), "C:\\");
  EXPECT_EQ(FromHostPath("/usr/bin"), "Z:\\usr\\bin");
  EXPECT_EQ(FromHostPath("/"), "Z:\\");
  std::string temp = TempDir();
  EXPECT_EQ(temp.substr(0, 3), "Z:\\");
  // Names are found whatever their case, like on Windows.
  ASSERT_TRUE(ForceDirectories("C:\\Program Files\\Drevanto"));
  EXPECT_EQ(HostPath("C:\\PROGRAM FILES\\drevanto\\New"), prefix + "/Program Files/Drevanto/New");
  EXPECT_TRUE(DirectoryExists("c:\\program files\\DREVANTO"));
}

TEST(Folders, CreateForceAndRemove) {
  TTempFolder dir;
  EXPECT_TRUE(ForceDirectories(dir.Path() + "\\a\\\\b\\\\\\c\\"));
  EXPECT_TRUE(DirectoryExists(dir / "a\\b\\c"));
  EXPECT_TRUE(ForceDirectories(dir / "a\\b"));  // exists already
  EXPECT_TRUE(ForceDirectories("C:"));          // shorter than three characters
  EXPECT_TRUE(ForceDirectories("ab"));
  EXPECT_FALSE(DirectoryExists("ab"));

  EXPECT_FALSE(CreateDir(dir / "a"));
  EXPECT_EQ(LastError(), 183u);
  EXPECT_FALSE(CreateDir(dir / "x\\y"));
  EXPECT_EQ(LastError(), 3u);
  EXPECT_TRUE(CreateDir(dir / "x"));

  EXPECT_FALSE(RemoveDir(dir / "a"));  // not empty
  EXPECT_EQ(LastError(), 145u);
  EXPECT_TRUE(RemoveDir(dir / "a\\b\\c"));
  EXPECT_FALSE(DirectoryExists(dir / "a\\b\\c"));
  EXPECT_FALSE(RemoveDir(dir / "a\\b\\c"));

  WriteFileText(dir / "file", "x");
  EXPECT_FALSE(ForceDirectories(dir / "file\\sub"));  // a file is in the way
  EXPECT_FALSE(RemoveDir(dir / "file"));
  EXPECT_TRUE(FileExists(dir / "file"));
  EXPECT_FALSE(DirectoryExists(dir / "file"));
  EXPECT_FALSE(FileExists(dir / "x"));
}

TEST(Folders, PrivateFoldersAreNewAndTheOwnersAlone) {
  TTempFolder dir;
  const std::string a = CreatePrivateFolder(dir.Path() + "\\", "run-"), b = CreatePrivateFolder(dir.Path(), "run-");
  ASSERT_FALSE(a.empty());
  EXPECT_NE(a, b);
  EXPECT_TRUE(DirectoryExists(a));
  EXPECT_EQ(a.rfind(dir.Path() + "\\run-{", 0), 0u);
  if (EmulatedMachine()) {
    namespace fs = std::filesystem;
    EXPECT_EQ(fs::status(HostPath(a)).permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_TRUE(FlushVolume(a));
  }
  WriteFileText(a + "\\f", "x");
  EXPECT_TRUE(FlushFile(a + "\\f"));
  EXPECT_TRUE(FlushFolder(a));
  EXPECT_EQ(CreatePrivateFolder(dir / "missing", "run-"), "");
  EXPECT_EQ(LastError(), 3u);
}

TEST(Folders, ListDirPutsFoldersFirst) {
  TTempFolder dir;
  WriteFileText(dir / "b.txt", "1");
  WriteFileText(dir / "A.txt", "2");
  ASSERT_TRUE(CreateDir(dir / "zeta"));
  ASSERT_TRUE(CreateDir(dir / "Alpha"));
  std::vector<std::string> expected = {"Alpha\\", "zeta\\", "A.txt", "b.txt"};
  EXPECT_EQ(ListDir(dir.Path()), expected);
  EXPECT_TRUE(ListDir(dir / "missing").empty());
}

// Paths past the 260 characters of the ANSI file functions, as an installation a
// few folders deep reaches below %TEMP%\<GUID>\: every file and folder service
// takes them, in every spelling (doubled separators, "." and "..", relative to
// the current folder), and the tree is removed again.
TEST(Folders, PathsLongerThan260Characters) {
  TTempFolder dir;
  std::string relative;
  for (int i = 0; dir.Path().size() + relative.size() < 320; ++i)
    relative += (relative.empty() ? "" : "\\") + std::string(60, static_cast<char>('a' + i));
  const std::string deep = dir / relative;
  ASSERT_TRUE(ForceDirectories(deep));
  EXPECT_TRUE(DirectoryExists(deep));
  EXPECT_FALSE(CreateDir(deep));
  const std::string file = deep + "\\a file with a long name.txt";
  WriteFileText(file, "long");
  EXPECT_TRUE(FileExists(file));
  const std::string twin = deep + "\\.\\x\\..\\\\a file with a long name.txt";
  EXPECT_EQ(ReadFileText(twin), "long");
  const std::string old = GetCurrentDir();
  ASSERT_TRUE(SetCurrentDir(dir.Path()));
  EXPECT_TRUE(FileExists(relative + "\\a file with a long name.txt"));
  ASSERT_TRUE(SetCurrentDir(old));

  ASSERT_TRUE(SetAttributes(file, faReadOnly | faArchive));
  EXPECT_EQ(GetAttributes(file) & faReadOnly, faReadOnly);
  EXPECT_TRUE(SetAttributesNormal(file));
  ASSERT_TRUE(SetLastWriteTime(file, TLocalTime{2003, 7, 15, 23, 59, 58}));
  EXPECT_EQ(GetLastWriteTime(file)->Year, 2003);
  ASSERT_TRUE(CopyFileTo(file, deep + "\\copy.txt", true));
  ASSERT_TRUE(MoveFileTo(deep + "\\copy.txt", deep + "\\moved.txt"));
  EXPECT_EQ(ListDir(deep), (std::vector<std::string>{"a file with a long name.txt", "moved.txt"}));
  EXPECT_EQ(ReadFileText(deep + "\\moved.txt"), "long");
  EXPECT_TRUE(EraseFile(deep + "\\moved.txt"));
  EXPECT_FALSE(RemoveDir(deep));  // not empty
  EXPECT_TRUE(EraseFile(file));
  EXPECT_TRUE(RemoveDir(deep));
  EXPECT_FALSE(DirectoryExists(deep));
}

TEST(Files, AttributesAndReadOnly) {
  TTempFolder dir;
  std::string f = dir / "f.txt";
  WriteFileText(f, "data");
  uint32_t attr = GetAttributes(f);
  ASSERT_NE(attr, faInvalid);
  EXPECT_EQ(attr & (faDirectory | faReadOnly), 0u);
  EXPECT_NE(GetAttributes(dir.Path()) & faDirectory, 0u);
  EXPECT_EQ(GetAttributes(dir / "missing"), faInvalid);
  EXPECT_EQ(LastError(), 2u);
  EXPECT_EQ(GetAttributes(dir / "missing\\x"), faInvalid);
  EXPECT_EQ(LastError(), 3u);

  ASSERT_TRUE(SetAttributes(f, faReadOnly));
  EXPECT_NE(GetAttributes(f) & faReadOnly, 0u);
  EXPECT_FALSE(EraseFile(f));
  EXPECT_EQ(LastError(), 5u);
  if (EmulatedMachine()) {
    // Windows refuses these too; Wine run by root lets them through.
    EXPECT_THROW(TFileStream(f, TFileMode::OpenReadWrite), EFOpenError);
    EXPECT_THROW(TFileStream(f, TFileMode::CreateExclusive), EFCreateError);
  }
  EXPECT_EQ(ReadFileText(f), "data");  // reading is fine

  ASSERT_TRUE(SetAttributesNormal(f));
  EXPECT_EQ(GetAttributes(f) & faReadOnly, 0u);
  EXPECT_TRUE(EraseFile(f));
  EXPECT_FALSE(FileExists(f));
  EXPECT_FALSE(EraseFile(f));
  EXPECT_EQ(LastError(), 2u);
  EXPECT_FALSE(EraseFile(dir.Path()));  // a folder is not a file
}

TEST(Files, MoveNeverReplaces) {
  TTempFolder dir;
  WriteFileText(dir / "a", "A");
  WriteFileText(dir / "b", "B");
  EXPECT_FALSE(MoveFileTo(dir / "a", dir / "b"));
  EXPECT_EQ(LastError(), 183u);
  EXPECT_EQ(ReadFileText(dir / "a"), "A");
  EXPECT_EQ(ReadFileText(dir / "b"), "B");
  EXPECT_TRUE(MoveFileTo(dir / "a", dir / "c"));
  EXPECT_FALSE(FileExists(dir / "a"));
  EXPECT_EQ(ReadFileText(dir / "c"), "A");
  EXPECT_FALSE(MoveFileTo(dir / "a", dir / "d"));
  EXPECT_EQ(LastError(), 2u);
  // Folders move with their content; read-only files move too.
  ASSERT_TRUE(ForceDirectories(dir / "f1\\sub"));
  WriteFileText(dir / "f1\\sub\\x", "X");
  ASSERT_TRUE(SetAttributes(dir / "f1\\sub\\x", faReadOnly));
  EXPECT_TRUE(MoveFileTo(dir / "f1", dir / "f2"));
  EXPECT_EQ(ReadFileText(dir / "f2\\sub\\x"), "X");
  EXPECT_TRUE(MoveFileTo(dir / "f2\\sub\\x", dir / "ro"));
  EXPECT_NE(GetAttributes(dir / "ro") & faReadOnly, 0u);
  // The rename that never copies keeps the same rules.
  EXPECT_FALSE(RenameFile(dir / "ro", dir / "c"));
  EXPECT_EQ(LastError(), 183u);
  EXPECT_TRUE(RenameFile(dir / "ro", dir / "f2\\ro"));
  EXPECT_NE(GetAttributes(dir / "f2\\ro") & faReadOnly, 0u);
#ifndef _WIN32
  // A link moves itself, not what it leads to; a folder is never in use.
  const std::string host = HostPath(dir / "f2");
  ASSERT_EQ(symlink("ro", (host + "/link").c_str()), 0);
  EXPECT_TRUE(RenameFile(dir / "f2\\link", dir / "f2\\moved link"));
  EXPECT_EQ(ReadFileText(dir / "f2\\moved link"), "X");
  const int held = open(host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  EXPECT_EQ(flock(held, LOCK_EX), 0);
  EXPECT_TRUE(RenameFile(dir / "f2", dir / "f3"));
  close(held);
#endif
}

TEST(Files, MoveAcrossDrivesCopiesTheFile) {
  // The temporary folder and the installation folder may lie on different volumes.
  TTestMachine machine;
  // On the Linux port a memory file system stands in for the other volume.
  const char* oldTmp = std::getenv("TMPDIR");
  std::string savedTmp = oldTmp ? oldTmp : "";
  if (EmulatedMachine() && DirectoryExists("Z:\\dev\\shm")) SetEnv("TMPDIR", "/dev/shm");
  TTempFolder dir;
  if (EmulatedMachine()) {
    if (oldTmp)
      SetEnv("TMPDIR", savedTmp);
    else
      UnsetEnv("TMPDIR");
  }
  std::string target = "C:\\lu-move-test";
  ASSERT_TRUE(ForceDirectories(target));
  WriteFileText(dir / "big", std::string(300000, 'q'));
  std::string dest = target + "\\big";
  SetAttributesNormal(dest);
  EraseFile(dest);
  if (EmulatedMachine() && DirectoryExists("Z:\\dev\\shm")) {
    // A rename never copies: across volumes it fails, and nothing moved.
    EXPECT_FALSE(RenameFile(dir / "big", dest));
    EXPECT_EQ(LastError(), 17u);
    EXPECT_FALSE(FileExists(dest));
  }
  EXPECT_TRUE(MoveFileTo(dir / "big", dest));
  EXPECT_FALSE(FileExists(dir / "big"));
  EXPECT_EQ(ReadFileText(dest), std::string(300000, 'q'));
  EXPECT_TRUE(testsupport::RemoveTree(target));
}

TEST(Files, CopyReplacesOnlyWhenAllowed) {
  TTempFolder dir;
  WriteFileText(dir / "src", "new content");
  WriteFileText(dir / "dst", "old");
  TLocalTime stamp{2003, 4, 5, 6, 7, 8};
  ASSERT_TRUE(SetLastWriteTime(dir / "src", stamp));
  EXPECT_FALSE(CopyFileTo(dir / "src", dir / "dst", true));
  EXPECT_EQ(LastError(), 80u);
  EXPECT_EQ(ReadFileText(dir / "dst"), "old");
  EXPECT_TRUE(CopyFileTo(dir / "src", dir / "dst", false));
  EXPECT_EQ(ReadFileText(dir / "dst"), "new content");
  auto t = GetLastWriteTime(dir / "dst");
  ASSERT_TRUE(t.has_value());
  EXPECT_EQ(t->Year, 2003);
  EXPECT_EQ(t->Second, 8);
  EXPECT_TRUE(CopyFileTo(dir / "src", dir / "fresh", true));
  EXPECT_EQ(ReadFileText(dir / "src"), "new content");
  if (EmulatedMachine()) {
    // A read-only destination stays (on Windows too; Wine run by root replaces it).
    ASSERT_TRUE(SetAttributes(dir / "dst", faReadOnly));
    EXPECT_FALSE(CopyFileTo(dir / "fresh", dir / "dst", false));
    EXPECT_EQ(LastError(), 5u);
  }
  EXPECT_FALSE(CopyFileTo(dir / "missing", dir / "other", false));
  EXPECT_EQ(LastError(), 2u);
  EXPECT_FALSE(FileExists(dir / "other"));
}

TEST(Files, LastWriteTimeIsLocalTime) {
  TTempFolder dir;
  WriteFileText(dir / "t", "");
  auto now = Now();
  auto written = GetLastWriteTime(dir / "t");
  ASSERT_TRUE(written.has_value());
  EXPECT_EQ(written->Year, now.Year);
  EXPECT_EQ(written->Day, now.Day);
  for (TLocalTime stamp :
       {TLocalTime{1999, 12, 31, 23, 59, 58}, TLocalTime{2024, 7, 15, 12, 0, 0}, TLocalTime{2010, 1, 1, 0, 0, 0}}) {
    ASSERT_TRUE(SetLastWriteTime(dir / "t", stamp));
    auto t = GetLastWriteTime(dir / "t");
    ASSERT_TRUE(t.has_value());
    EXPECT_EQ(std::make_tuple(t->Year, t->Month, t->Day, t->Hour, t->Minute, t->Second),
              std::make_tuple(stamp.Year, stamp.Month, stamp.Day, stamp.Hour, stamp.Minute, stamp.Second));
  }
  EXPECT_FALSE(GetLastWriteTime(dir / "missing").has_value());
  EXPECT_FALSE(SetLastWriteTime(dir / "missing", TLocalTime{}));
  {
    TFileStream s(dir / "dated by its stream", TFileMode::CreateExclusive);
    s.Write("abc", 3);
    ASSERT_TRUE(s.SetLastWriteTime(TLocalTime{2001, 2, 3, 4, 5, 6}));
    EXPECT_FALSE(s.SetLastWriteTime(TLocalTime{2001, 13, 3, 4, 5, 6}));
  }  // closed after dating: the date stays
  auto t = GetLastWriteTime(dir / "dated by its stream");
  ASSERT_TRUE(t.has_value());
  EXPECT_EQ(std::make_tuple(t->Year, t->Month, t->Day, t->Hour, t->Minute, t->Second),
            std::make_tuple(2001, 2, 3, 4, 5, 6));
}

TEST(Files, ShortPathNameOfExistingPaths) {
  TTempFolder dir;
  WriteFileText(dir / "a long file name.text", "x");
  std::string shortName = ShortPathName(dir / "a long file name.text");
  ASSERT_FALSE(shortName.empty());
  EXPECT_TRUE(FileExists(shortName));
  if (EmulatedMachine()) {
    EXPECT_EQ(shortName, dir / "a long file name.text");
  }
  EXPECT_EQ(ShortPathName(dir / "missing"), "");
}

TEST(FileStream, ModesShareLikeWindows) {
  TTempFolder dir;
  std::string f = dir / "s.bin";
  {
    TFileStream w(f, TFileMode::CreateExclusive);
    w.Write("0123456789", 10);
    // Nobody else may open or delete a file being created.
    try {
      TFileStream other(f, TFileMode::OpenRead);
      ADD_FAILURE() << "opened a file held exclusively";
    } catch (const EFOpenError& e) {
      EXPECT_EQ(LastError(), 32u);
      EXPECT_EQ(e.Message, "Cannot open file \"" + f + "\". " + SysErrorMessage(32));
    }
    EXPECT_THROW(TFileStream(f, TFileMode::CreateExclusive), EFCreateError);
    EXPECT_FALSE(EraseFile(f));
    EXPECT_EQ(LastError(), 32u);
    EXPECT_TRUE(w.Close());
  }
  {
    TFileStream rw(f, TFileMode::OpenReadWrite);
    TFileStream r(f, TFileMode::OpenRead);  // others may read
    EXPECT_THROW(TFileStream(f, TFileMode::OpenReadWrite), EFOpenError);
    EXPECT_EQ(LastError(), 32u);
    EXPECT_EQ(rw.Size(), 10);
    rw.Seek(-3, TSeekOrigin::soEnd);
    rw.Write("AB", 2);
    char buf[16] = {};
    EXPECT_EQ(r.Read(buf, 16), 10);
    EXPECT_EQ(std::string(buf, 10), "0123456AB9");
    rw.SetSize(4);
    EXPECT_EQ(rw.Position(), 4);
    rw.SetPosition(2);
    rw.SetSize(20);
    EXPECT_EQ(rw.Position(), 2);
    EXPECT_EQ(rw.Size(), 20);
    EXPECT_THROW(rw.Seek(-1, TSeekOrigin::soBeginning), EStreamError);
  }
  {
    TFileStream a(f, TFileMode::OpenRead);
    TFileStream b(f, TFileMode::OpenRead);
    char c;
    EXPECT_EQ(b.Read(&c, 1), 1);
  }
  {
    TFileStream w(f, TFileMode::CreateExclusive);  // replaces the content
    EXPECT_EQ(w.Size(), 0);
  }
  try {
    TFileStream missing(dir / "missing", TFileMode::OpenRead);
    ADD_FAILURE() << "opened a missing file";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Message, "Cannot open file \"" + dir / "missing" + "\". " + SysErrorMessage(2));
  }
  try {
    TFileStream missing(dir / "no\\such", TFileMode::CreateExclusive);
    ADD_FAILURE() << "created a file in a missing folder";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.Message, "Cannot create file \"" + dir / "no\\such" + "\". " + SysErrorMessage(3));
  }
}

// A run's package: new, its own, read back through its handle, gone when closed.
TEST(FileStream, TemporaryFileIsNewUnsharedAndGoesWhenClosed) {
  TTempFolder dir;
  const std::string f = dir / "package.zip";
  {
    TFileStream t(f, TFileMode::CreateTemporary);
    t.Write("0123456789", 10);
    try {
      TFileStream other(f, TFileMode::OpenRead);
      ADD_FAILURE() << "opened a temporary file of another stream";
    } catch (const EFOpenError& e) {
      EXPECT_EQ(e.Message, "Cannot open file \"" + f + "\". " + SysErrorMessage(32));
    }
    EXPECT_FALSE(EraseFile(f));
    EXPECT_FALSE(MoveFileTo(f, dir / "moved"));
    EXPECT_FALSE(FileExists(dir / "moved"));
    t.SetPosition(2);
    char buf[4] = {};
    EXPECT_EQ(t.Read(buf, 4), 4);
    EXPECT_EQ(std::string(buf, 4), "2345");
  }
  EXPECT_FALSE(FileExists(f));
  // Made only where nothing is, a link included; what is there stays.
  WriteFileText(f, "old");
  try {
    TFileStream again(f, TFileMode::CreateTemporary);
    ADD_FAILURE() << "took an existing file";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.Message, "Cannot create file \"" + f + "\". " + SysErrorMessage(80));
  }
  EXPECT_EQ(ReadFileText(f), "old");
  if (HostPath("C:\\") != "C:\\") {
    std::filesystem::create_symlink(HostPath(dir / "target"), HostPath(dir / "link"));
    EXPECT_THROW(TFileStream(dir / "link", TFileMode::CreateTemporary), EFCreateError);
    EXPECT_FALSE(FileExists(dir / "target"));
  }
}

TEST(Folders, PrivateFolderIsNewAndTheOwnersAlone) {
  TTempFolder dir;
  const std::string folder = dir / "run";
  ASSERT_TRUE(CreatePrivateFolder(folder));
  std::string why;
  EXPECT_TRUE(OwnerOnlyFolder(folder, why)) << why;
  EXPECT_TRUE(OwnFolder(folder));  // what the sweep of dead runs asks
  EXPECT_FALSE(OwnFolder(folder + "\\missing"));
  WriteFileText(folder + "\\a.txt", "inside");  // the owner works in it as anywhere
  EXPECT_EQ(ReadFileText(folder + "\\a.txt"), "inside");
  // Never one that exists, nor in a missing folder.
  EXPECT_FALSE(CreatePrivateFolder(folder));
  EXPECT_EQ(LastError(), 183u);
  EXPECT_FALSE(CreatePrivateFolder(folder + "\\a.txt"));
  EXPECT_FALSE(CreatePrivateFolder(dir / "no\\such"));
  EXPECT_EQ(LastError(), 3u);
  if (HostPath("C:\\") != "C:\\") {
    std::filesystem::create_symlink(HostPath(dir / "target"), HostPath(dir / "link"));
    EXPECT_FALSE(CreatePrivateFolder(dir / "link"));
    EXPECT_FALSE(DirectoryExists(dir / "target"));
  }
}

TEST(Errors, MessagesAreSingleLines) {
  for (uint32_t code : {2u, 3u, 5u, 32u, 80u, 145u, 183u}) {
    std::string text = SysErrorMessage(code);
    ASSERT_FALSE(text.empty()) << code;
    EXPECT_NE(text.back(), '\n');
    EXPECT_NE(text.back(), '\r');
  }
  if (EmulatedMachine()) {
    // The texts Windows itself gives (Wine has shorter ones of its own).
    EXPECT_EQ(SysErrorMessage(2), "The system cannot find the file specified.");
    EXPECT_EQ(SysErrorMessage(3), "The system cannot find the path specified.");
    EXPECT_EQ(SysErrorMessage(5), "Access is denied.");
    EXPECT_EQ(SysErrorMessage(32), "The process cannot access the file because it is being used by another process.");
    EXPECT_EQ(SysErrorMessage(183), "Cannot create a file when that file already exists.");
  }
}

// The ANSI code page is 1252 where the product is sold, and Wine's default too.
TEST(Names, UnicodeToAnsiRefusesWhatTheCodePageLacks) {
  std::string ansi = "untouched";
  ASSERT_TRUE(UnicodeToAnsi(U"caf\u00E9 \u20AC\u2013.txt", ansi));
  EXPECT_EQ(ansi, "caf\xE9 \x80\x96.txt");
  ansi = "untouched";
  EXPECT_FALSE(UnicodeToAnsi(U"\u65E5\u672C\u8A9E.txt", ansi));
  EXPECT_FALSE(UnicodeToAnsi(U"\u011B", ansi));  // e-caron: no best-fit "e"
  EXPECT_EQ(ansi, "untouched");
}

// Names of the program's code page on disk: UTF-8 on the Linux port, the system's
// own under Wine; found again whatever their case, listed as they were made.
TEST(Names, CodePageNamesRoundTrip) {
  TTempFolder dir;
  const std::string e = "\xE9", E = "\xC9", euro = "\x80", dash = "\x96";  // 1252
  const std::string folder = dir / ("Donn" + e + "es " + euro);
  const std::string file = "caf" + e + " " + dash + " na\xEFve.txt";
  ASSERT_TRUE(CreateDir(folder));
  WriteFileText(folder + "\\" + file, "1");
  EXPECT_TRUE(FileExists(dir / ("DONN" + E + "ES " + euro + "\\CAF" + E + " " + dash + " NA\xCFVE.TXT")));
  EXPECT_EQ(ListDir(dir.Path()), std::vector<std::string>{"Donn" + e + "es " + euro + "\\"});
  EXPECT_EQ(ListDir(folder), std::vector<std::string>{file});
  if (EmulatedMachine()) {
    const std::string utf8e = "\xC3\xA9";
    EXPECT_EQ(HostPath(folder + "\\" + file), HostPath(dir.Path()) + "/Donn" + utf8e + "es \xE2\x82\xAC/caf" + utf8e +
                                                  " \xE2\x80\x93 na\xC3\xAFve.txt");
    EXPECT_EQ(FromHostPath(HostPath(folder)), folder);
    std::string old = GetCurrentDir();
    ASSERT_TRUE(SetCurrentDir(folder));
    EXPECT_EQ(GetCurrentDir(), folder);
    ASSERT_TRUE(SetCurrentDir(old));
  }
}

// Host names the code page cannot spell (other scripts, bytes that are no UTF-8,
// the "?" and "\" Windows refuses) read back in an escaped form that names that
// file and no other.
TEST(Names, HostNamesOutsideTheCodePageStayDistinct) {
  if (!EmulatedMachine()) GTEST_SKIP() << "names are the system's own";
  TTempFolder dir;
  const std::string host = HostPath(dir.Path());
  const std::vector<std::pair<std::string, std::string>> names = {
      {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt", "?E6?97?A5?E6?9C?AC?E8?AA?9E.txt"},
      {"\xE4\xB8\xAD\xE6\x96\x87\xE5\xAD\x97.txt", "?E4?B8?AD?E6?96?87?E5?AD?97.txt"},
      {"caf\xE9.txt", "caf?E9.txt"},  // 1252 bytes are not UTF-8
      {"caf\xC3\xA9.txt", "caf\xE9.txt"},
      {"what?.txt", "what?3F.txt"},
      {"what?3F.txt", "what?3F3F.txt"},
      {"back\\slash", "back?5Cslash"},
      {"e\xCC\x81", "e?CC?81"},  // decomposed: the combining mark has no 1252 form
  };
  for (const auto& [hostName, read] : names) {
    std::FILE* f = std::fopen((host + "/" + hostName).c_str(), "w");
    ASSERT_NE(f, nullptr) << hostName;
    std::fputs(hostName.c_str(), f);
    std::fclose(f);
  }
  std::vector<std::string> listed = ListDir(dir.Path());
  ASSERT_EQ(listed.size(), names.size());
  for (const auto& [hostName, read] : names) {
    EXPECT_NE(std::find(listed.begin(), listed.end(), read), listed.end()) << read;
    EXPECT_EQ(HostPath(dir / read), host + "/" + hostName);
    EXPECT_EQ(FromHostPath(host + "/" + hostName), dir / read);
    EXPECT_EQ(ReadFileText(dir / read), hostName);
  }
  // Escapes that no read name holds stay as they are.
  EXPECT_EQ(HostPath(dir / "?41?2F?"), host + "/?41?2F?");
  for (const auto& [hostName, read] : names) EXPECT_TRUE(EraseFile(dir / read)) << read;
  EXPECT_TRUE(ListDir(dir.Path()).empty());
}

// What the layer keeps of a folder must follow every change, by this process and
// behind its back: a missing name is looked up again after another writer makes it.
TEST(Names, CaseInsensitiveLookupFollowsChangesBehindOurBack) {
  if (!EmulatedMachine()) GTEST_SKIP() << "the system finds names itself";
  TTempFolder dir;
  const std::string host = HostPath(dir.Path());
  ASSERT_TRUE(CreateDir(dir / "Sub"));
  EXPECT_FALSE(FileExists(dir / "SUB\\NEW.TXT"));  // the folder is read and kept
  EXPECT_EQ(std::rename((host + "/Sub").c_str(), (host + "/Old").c_str()), 0);
  EXPECT_TRUE(std::filesystem::create_directory(host + "/sub"));
  std::FILE* f = std::fopen((host + "/sub/new.txt").c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  EXPECT_TRUE(FileExists(dir / "SUB\\NEW.TXT"));
  EXPECT_EQ(HostPath(dir / "SUB\\NEW.TXT"), host + "/sub/new.txt");
  // Made by another writer in a folder already read: replaced, not doubled.
  f = std::fopen((host + "/sub/Data.TXT").c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  WriteFileText(dir / "sub\\data.txt", "replaced");
  EXPECT_EQ(ListDir(dir / "sub"), (std::vector<std::string>{"Data.TXT", "new.txt"}));
  EXPECT_EQ(ReadFileText(dir / "SUB\\DATA.TXT"), "replaced");
  // Removed behind our back: gone, and made again in its new spelling.
  EXPECT_EQ(std::remove((host + "/sub/Data.TXT").c_str()), 0);
  EXPECT_FALSE(FileExists(dir / "sub\\data.txt"));
  WriteFileText(dir / "sub\\data.txt", "new");
  EXPECT_EQ(ListDir(dir / "sub"), (std::vector<std::string>{"data.txt", "new.txt"}));
  // A folder removed and made again by someone else is read afresh.
  EXPECT_TRUE(testsupport::RemoveTree(dir / "sub"));
  EXPECT_TRUE(std::filesystem::create_directory(host + "/sub"));
  f = std::fopen((host + "/sub/X.bin").c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  EXPECT_TRUE(FileExists(dir / "Sub\\x.BIN"));
}

// The port's arguments come from the host in UTF-8; backslashes and "?" are text there.
TEST(Names, ArgumentsFromTheHostReadAs1252) {
  if (!EmulatedMachine()) GTEST_SKIP() << "Windows gives them in its own code page";
  testsupport::SetArguments({"/uninstall", "HKEY_CURRENT_USER\\Software\\Caf\xC3\xA9", "\xFF?"});
  EXPECT_EQ(ProgramArguments(),
            (std::vector<std::string>{"/uninstall", "HKEY_CURRENT_USER\\Software\\Caf\xE9", "?FF?"}));
  testsupport::SetArguments({});
}
