// Extraction of hand-made archives: the cases real archives seldom show (folder
// entries only, no entries, a cut-off file, a program stub, damaged entries,
// unsupported methods, names that would leave the target folder, bogus sizes
// and offsets), the overwrite rules, dates and attributes, progress and events.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <stdexcept>

#include "base/text.h"
#include "platform/file_stream.h"
#include "platform/files.h"
#include "platform/system.h"
#include "support/test_platform.h"
#include "support/test_support.h"
#include "unit/net/scripted_server.h"
#include "unzip_test_helpers.h"

namespace {

using archive::TUnZip;
using unziptest::BuildZip;
using unziptest::TArchiveLayout;
using unziptest::TEntrySpec;
using unziptest::TRecorder;

std::string Pattern(std::size_t size, unsigned seed) {
  std::string s(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (char& c : s) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>('a' + (x >> 16) % 26);
  }
  return s;
}

TEntrySpec File(const std::string& name, const std::string& data) {
  TEntrySpec e;
  e.Name = name;
  e.Data = data;
  return e;
}

TEntrySpec Folder(const std::string& name) {
  TEntrySpec e;
  e.Name = name;
  e.ExternalAttributes = 0x10;
  return e;
}

// A temporary folder holding one archive and an output folder below it.
class UnZipExtract : public ::testing::Test {
 protected:
  void SetUp() override {
    archivePath_ = tmp_ / "test.zip";
    outDir_ = tmp_ / "out";
    ASSERT_TRUE(platform::CreateDir(outDir_));
  }

  void WriteArchive(const std::string& bytes) {
    platform::EraseFile(archivePath_);
    testsupport::WriteFileText(archivePath_, bytes);
  }

  // Configured as the unpack step does.
  void Configure(TUnZip& z) {
    rec_.Attach(z);
    z.FileSpec = {"*.*"};
    z.RecurseDirs = true;
    z.ConfirmOverwrites = false;
    z.SetArchiveFile(archivePath_);
    z.SetExtractDir(outDir_);
  }

  int Run(const std::string& bytes, std::optional<std::function<void(TUnZip&)>> tweak = std::nullopt) {
    WriteArchive(bytes);
    TUnZip z;
    Configure(z);
    if (tweak) (*tweak)(z);
    return z.Extract();
  }

  std::string Out(const std::string& relative) const { return outDir_ + "\\" + relative; }
  std::string Read(const std::string& relative) { return testsupport::ReadFileText(Out(relative)); }

  testsupport::TTempFolder tmp_;
  std::string archivePath_, outDir_;
  TRecorder rec_;
};

TEST_F(UnZipExtract, FoldersOnlyAndEmptyArchivesGiveNothing) {
  EXPECT_EQ(Run(BuildZip({Folder("app/"), Folder("app/bin/")})), 0);
  EXPECT_TRUE(rec_.Begun.empty());
  EXPECT_TRUE(rec_.Errors.empty());
  // Folder entries end with a passed check but are not created by default.
  ASSERT_EQ(rec_.Ended.size(), 2u);
  EXPECT_TRUE(rec_.Ended[0].second);
  EXPECT_FALSE(platform::DirectoryExists(Out("app")));

  rec_ = TRecorder();
  EXPECT_EQ(Run(BuildZip({Folder("app/"), Folder("app/bin/")}), [](TUnZip& z) { z.CreateStoredDirs = true; }), 0);
  EXPECT_TRUE(platform::DirectoryExists(Out("app\\bin")));
  EXPECT_EQ(rec_.Ended[1].first, Out("app\\bin\\"));

  rec_ = TRecorder();
  EXPECT_EQ(Run(BuildZip({})), 0);
  EXPECT_TRUE(rec_.Begun.empty());
  EXPECT_TRUE(rec_.Errors.empty());
  EXPECT_EQ(rec_.Events, (std::vector<std::string>{"activate", "deactivate", "elapsed"}));
}

TEST_F(UnZipExtract, CutOffArchiveIsReadThroughItsLocalHeaders) {
  std::string whole = BuildZip(
      {File("one.txt", Pattern(5000, 1)), File("sub/two.txt", Pattern(7000, 2)), File("three.txt", Pattern(9000, 3))},
      TArchiveLayout{"", false, false, ""});
  std::string cut = whole.substr(0, whole.size() - 4000);
  int corruptCalls = 0;
  int count = Run(cut, [&](TUnZip& z) {
    z.OnCorruptZipHeader = [&](TUnZip*, archive::TZipHeaderState state, bool& cancel) {
      EXPECT_EQ(state, archive::hsNoEndRecord);
      EXPECT_TRUE(cancel);
      cancel = false;
      ++corruptCalls;
    };
  });
  EXPECT_EQ(corruptCalls, 1);
  EXPECT_EQ(count, 3);
  // Whatever it still holds, a cut archive fails as a whole.
  ASSERT_EQ(rec_.ErrorCodes(), std::vector<int>{archive::kErrBadDirectory});
  EXPECT_EQ(rec_.Errors[0].FileName, archivePath_);
  EXPECT_EQ(Read("one.txt"), Pattern(5000, 1));
  EXPECT_EQ(Read("sub\\two.txt"), Pattern(7000, 2));
  EXPECT_EQ(Read("three.txt"), Pattern(5000, 3));  // as far as its data goes
  ASSERT_EQ(rec_.Ended.size(), 3u);
  EXPECT_TRUE(rec_.Ended[0].second);
  EXPECT_TRUE(rec_.Ended[1].second);
  EXPECT_FALSE(rec_.Ended[2].second);

  // A handler that leaves Cancel set stops before anything is extracted.
  rec_ = TRecorder();
  EXPECT_EQ(Run(cut, [](TUnZip& z) { z.OnCorruptZipHeader = [](TUnZip*, archive::TZipHeaderState, bool&) {}; }), 0);
  EXPECT_TRUE(rec_.Begun.empty());
}

TEST_F(UnZipExtract, EndRecordWithoutDirectoryFallsBackToTheLocalHeaders) {
  std::string good = BuildZip({File("a.txt", "alpha"), File("b.txt", "beta")});
  // Point the end record's directory somewhere that holds no central header and
  // break the size too, so neither place is found.
  std::size_t end = good.size() - 22;
  good[end + 12] = 1;  // directory size
  good[end + 16] = 3;  // directory offset
  std::optional<archive::TZipHeaderState> seen;
  EXPECT_EQ(Run(good,
                [&](TUnZip& z) {
                  z.OnCorruptZipHeader = [&](TUnZip*, archive::TZipHeaderState s, bool& cancel) {
                    seen = s;
                    cancel = false;
                  };
                }),
            2);
  EXPECT_EQ(seen, archive::hsNoCentralDirectory);
  EXPECT_EQ(Read("b.txt"), "beta");
  EXPECT_EQ(rec_.ErrorCodes(), std::vector<int>{archive::kErrBadDirectory});
}

// The end record behind the longest comment, behind data appended to the archive
// (200 KB, stray signatures in it), behind a comment that holds an end record of
// its own, and a program stub of 1 MB in front (with and without offsets that
// count it, the stub holding a local header signature).
TEST_F(UnZipExtract, EndRecordBehindCommentsAppendedDataAndStubs) {
  const std::string smallStub = "MZ" + Pattern(3000, 9) + "PK\x03\x04" + Pattern(1000, 10);
  const std::string bigStub = "MZ" + Pattern(1 << 20, 13);
  std::string appended = Pattern(200 * 1024, 14);
  for (std::size_t at = 5000; at + 22 < appended.size(); at += 10007) appended.replace(at, 4, "PK\x05\x06");
  // Entries 1, directory size 46 at offset 0, no comment of its own.
  const std::string fakeRecord("PK\x05\x06\0\0\0\0\x01\0\x01\0\x2E\0\0\0\0\0\0\0\0\0", 22);
  struct TCase {
    const char* what;
    TArchiveLayout layout;
    std::string after;  // bytes after the end record and its comment
  };
  const std::vector<TCase> cases = {
      {"small stub, offsets not adjusted", {smallStub, false, true, "a comment"}, ""},
      {"small stub, offsets adjusted", {smallStub, true, true, "a comment"}, ""},
      {"comment of 65,535 bytes", {"", false, true, Pattern(65535, 15)}, ""},
      {"200 KB appended", {"", false, true, ""}, appended},
      {"end record in the comment", {"", false, true, fakeRecord + Pattern(100, 16)}, ""},
      {"1 MB stub, offsets adjusted", {bigStub, true, true, ""}, ""},
      {"1 MB stub, not adjusted, long comment, 200 KB appended", {bigStub, false, true, Pattern(65535, 17)}, appended},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    rec_ = TRecorder();
    testsupport::RemoveTree(outDir_);
    platform::CreateDir(outDir_);
    WriteArchive(BuildZip({File("a.txt", "first"), File("d/b.txt", Pattern(40000, 4))}, c.layout) + c.after);
    TUnZip z;
    Configure(z);
    EXPECT_EQ(z.ArcType(), c.layout.Stub.empty() ? archive::atZip : archive::atZipExe);
    EXPECT_EQ(z.Extract(), 2);
    EXPECT_EQ(Read("a.txt"), "first");
    EXPECT_EQ(Read("d\\b.txt"), Pattern(40000, 4));
    EXPECT_TRUE(rec_.Errors.empty());
  }
}

// ZIP64 as zip -fz, Python and streaming writers make it: the ZIP64 end record and
// its locator, sizes and offsets in the ZIP64 extra field of central and local
// headers, 64-bit data descriptors; with a program stub in front too.
TEST_F(UnZipExtract, Zip64RecordsAndFields) {
  TEntrySpec wide = File("wide.txt", Pattern(3000, 11));
  wide.Zip64 = true;
  TEntrySpec streamed = File("sub/streamed.txt", Pattern(5000, 12));
  streamed.Zip64 = true;
  streamed.DataDescriptor = true;
  const std::vector<TEntrySpec> entries = {File("plain.txt", "plain"), wide, streamed};
  std::string stub = "MZ" + Pattern(500, 13);
  for (const TArchiveLayout& layout :
       {TArchiveLayout{"", false, true, "", true}, TArchiveLayout{"", false, true, ""},
        TArchiveLayout{stub, false, true, "", true}, TArchiveLayout{stub, true, true, "", true}}) {
    SCOPED_TRACE(std::to_string(layout.Stub.size()) + (layout.AdjustOffsets ? " adjusted" : "") +
                 (layout.Zip64End ? " ZIP64 end record" : ""));
    rec_ = TRecorder();
    EXPECT_EQ(Run(BuildZip(entries, layout)), 3);
    EXPECT_TRUE(rec_.Errors.empty());
    EXPECT_EQ(Read("wide.txt"), Pattern(3000, 11));
    EXPECT_EQ(Read("sub\\streamed.txt"), Pattern(5000, 12));
    for (const auto& [name, pass] : rec_.Ended) EXPECT_TRUE(pass) << name;
  }

  // Cut off, read through the local headers: the sizes come from the ZIP64 extra
  // field, or from the data descriptor that follows data of unknown length.
  TEntrySpec piped = File("piped.txt", Pattern(4000, 15));
  piped.DataDescriptor = true;
  const std::string local =
      BuildZip({wide, streamed, piped, File("last.txt", "last")}, TArchiveLayout{"", false, false, ""});
  rec_ = TRecorder();
  EXPECT_EQ(Run(local), 4);
  EXPECT_EQ(Read("wide.txt"), Pattern(3000, 11));
  EXPECT_EQ(Read("sub\\streamed.txt"), Pattern(5000, 12));
  EXPECT_EQ(Read("piped.txt"), Pattern(4000, 15));
  EXPECT_EQ(Read("last.txt"), "last");
  for (const auto& [name, pass] : rec_.Ended) EXPECT_TRUE(pass) << name;
  EXPECT_EQ(rec_.ErrorCodes(), std::vector<int>{archive::kErrBadDirectory});

  // Cut inside such an entry: its sizes are nowhere, so it is named as lost and
  // never passes for an empty file.
  rec_ = TRecorder();
  testsupport::RemoveTree(outDir_);
  platform::CreateDir(outDir_);
  EXPECT_EQ(Run(local.substr(0, local.find("piped.txt") + 2000)), 2);
  EXPECT_EQ(rec_.ErrorCodes(), (std::vector<int>{archive::kErrBadDirectory, archive::kErrBadHeader}));
  EXPECT_EQ(rec_.Errors[1].FileName, "piped.txt");
  EXPECT_FALSE(platform::FileExists(Out("piped.txt")));
}

// More entries than the 16-bit count holds; only two are selected, so the test
// reads the whole directory without writing seventy thousand files.
TEST_F(UnZipExtract, MoreThan65535Entries) {
  std::vector<TEntrySpec> entries;
  for (int i = 0; i < 70000; ++i)
    entries.push_back(File(std::string("e").append(std::to_string(i)).append(".txt"), std::to_string(i)));
  std::string bytes = BuildZip(entries, TArchiveLayout{"", false, true, "", true});
  EXPECT_EQ(Run(bytes, [](TUnZip& z) { z.FileSpec = {"e0.txt", "e69999.txt"}; }), 2);
  EXPECT_EQ(Read("e69999.txt"), "69999");
  EXPECT_TRUE(rec_.Errors.empty());

  // A count beyond what the extraction keeps in memory is refused whole.
  std::size_t record = bytes.size() - 22 - 20 - 56;
  bytes = BuildZip({File("a.txt", "a")}, TArchiveLayout{"", false, true, "", true});
  record = bytes.size() - 22 - 20 - 56;
  for (int at : {24, 32}) bytes.replace(record + at, 8, std::string("\x80\x84\x1E\0\0\0\0\0", 8));  // 2,000,000
  rec_ = TRecorder();
  EXPECT_EQ(Run(bytes), 0);
  EXPECT_TRUE(rec_.Begun.empty());
  ASSERT_EQ(rec_.Errors.size(), 1u);
  EXPECT_NE(rec_.Errors[0].ExtendedMsg.find("1000000"), std::string::npos);
}

// An archive whose entries lie beyond 4 GB into the file (a sparse file: the hole
// in front takes no room): positions and offsets are 64-bit on every build.
TEST_F(UnZipExtract, OffsetsBeyondFourGigabytes) {
  const uint64_t hole = (uint64_t{5} << 30) + 123;
  TArchiveLayout layout;
  layout.Hole = hole;
  std::string bytes = BuildZip({File("far.txt", Pattern(2000, 14)), File("d/farther.txt", "end")}, layout);
  try {
    platform::TFileStream file(archivePath_, platform::TFileMode::CreateExclusive);
    file.Seek(static_cast<int64_t>(hole), TSeekOrigin::soBeginning);
    file.Write(bytes.data(), static_cast<int64_t>(bytes.size()));
  } catch (const Exception& e) {
    GTEST_SKIP() << "no sparse file of 5 GB here: " << e.Message;
  }
  TUnZip z;
  Configure(z);
  EXPECT_EQ(z.Extract(), 2);
  EXPECT_TRUE(rec_.Errors.empty());
  EXPECT_EQ(Read("far.txt"), Pattern(2000, 14));
  EXPECT_EQ(Read("d\\farther.txt"), "end");
  platform::EraseFile(archivePath_);
}

TEST_F(UnZipExtract, NamesWithoutExtensionAndPatterns) {
  std::string bytes =
      BuildZip({File("README", "r"), File("bin/tool", "t"), File("doc/a.txt", "a"), File("b.TXT", "b")});
  EXPECT_EQ(Run(bytes), 4);

  rec_ = TRecorder();
  EXPECT_EQ(Run(bytes, [](TUnZip& z) { z.FileSpec = {"*.txt"}; }), 2);
  EXPECT_EQ(rec_.Begun, (std::vector<std::string>{Out("doc\\a.txt"), Out("b.TXT")}));

  rec_ = TRecorder();
  EXPECT_EQ(Run(bytes,
                [](TUnZip& z) {
                  z.FileSpec = {"*.txt"};
                  z.RecurseDirs = false;
                }),
            1);
  EXPECT_EQ(rec_.Begun, (std::vector<std::string>{Out("b.TXT")}));

  rec_ = TRecorder();
  EXPECT_EQ(Run(bytes, [](TUnZip& z) { z.FileSpec.clear(); }), 0);
}

// In a folder of its own, and flushed file by file (a read-only one too).
TEST_F(UnZipExtract, NamesThatDifferOnlyInCaseAreOneFileHoweverWritten) {
  TEntrySpec readOnly = File("DATA/B.TXT", "b2");
  readOnly.ExternalAttributes = 0x21;
  const std::string bytes = BuildZip({File("Data/a.txt", "a1"), File("Data/A.TXT", "a2"), File("data/b.txt", "b1"),
                                      readOnly, File("data/c.txt", "c")});
  for (const bool own : {false, true}) {
    testsupport::RemoveTree(outDir_);
    platform::CreateDir(outDir_);
    ASSERT_EQ(Run(bytes,
                  [own](TUnZip& z) {
                    z.OwnFolder = own;
                    z.FlushFiles = own;
                  }),
              5)
        << own;
    EXPECT_EQ(platform::ListDir(outDir_), std::vector<std::string>{"Data\\"}) << own;
    EXPECT_EQ(platform::ListDir(Out("Data")), (std::vector<std::string>{"a.txt", "b.txt", "c.txt"})) << own;
    EXPECT_EQ(Read("Data\\a.txt") + Read("Data\\b.txt"), "a2b2") << own;
    EXPECT_NE(platform::GetAttributes(Out("Data\\b.txt")) & platform::faReadOnly, 0u) << own;
    EXPECT_EQ(platform::GetAttributes(Out("Data\\c.txt")) & platform::faReadOnly, 0u) << own;
  }
}

TEST_F(UnZipExtract, DamagedEntryIsWrittenCountedAndReported) {
  TEntrySpec bad = File("bad.txt", Pattern(3000, 5));
  bad.BadCrc = true;
  std::string bytes = BuildZip({File("good.txt", "fine"), bad});

  // With an OnEnd handler the check result goes there.
  EXPECT_EQ(Run(bytes), 2);
  EXPECT_EQ(Read("bad.txt"), Pattern(3000, 5));
  EXPECT_EQ(rec_.Ended, (std::vector<std::pair<std::string, bool>>{{Out("good.txt"), true}, {Out("bad.txt"), false}}));
  EXPECT_TRUE(rec_.Errors.empty());

  // Without one it is reported as 25151 and nothing else.
  rec_ = TRecorder();
  EXPECT_EQ(Run(bytes, [](TUnZip& z) { z.OnEnd = nullptr; }), 2);
  ASSERT_EQ(rec_.ErrorCodes(), std::vector<int>{archive::kErrCrc});
  EXPECT_EQ(rec_.Errors[0].FileName, Out("bad.txt"));
  EXPECT_EQ(archive::UnZipErrorText(archive::kErrCrc), "File fails CRC check");
}

// What failed of a damaged entry is said with it: the CRC, the size, the data.
TEST_F(UnZipExtract, DamageIsNamed) {
  TEntrySpec crc = File("crc.txt", "abc");
  crc.DeclaredCrc = 0x12345678;
  TEntrySpec cut = File("cut.txt", "abcde");
  cut.DeclaredSize = 10;
  TEntrySpec longer = File("longer.txt", std::string("\x01\x06\x00\xF9\xFF"
                                                     "abcdef",
                                                     11));  // stored block
  longer.Method = 8;
  longer.DeclaredSize = 3;
  longer.DeclaredCrc = archive::Crc32("abc", 3);
  TEntrySpec garbage = File("garbage.bin", std::string(8, '\xFF'));  // a Deflate block of type 3
  garbage.Method = 8;
  garbage.DeclaredSize = 100;
  EXPECT_EQ(Run(BuildZip({crc, cut, longer, garbage}), [](TUnZip& z) { z.OnEnd = nullptr; }), 4);
  std::vector<std::string> said;
  for (const unziptest::TErrorEvent& e : rec_.Errors) said.push_back(e.ExtendedMsg);
  EXPECT_EQ(said, (std::vector<std::string>{
                      "CRC 352441C2 where the archive says 12345678", "the data ends after 5 of 10 bytes",
                      "the data goes on past its size of 3 bytes", "damaged compressed data after 0 of 100 bytes"}));
}

// A handler that throws ends the extraction there; it is reported, never passed
// over, and Extract itself does not throw.
TEST_F(UnZipExtract, HandlerThatThrowsIsReported) {
  std::string bytes = BuildZip({File("a.txt", "a"), File("b.txt", "b")});
  EXPECT_EQ(Run(bytes,
                [](TUnZip& z) {
                  z.OnBegin = [](TUnZip*, const std::string& name, int, bool&) {
                    if (name.find("b.txt") != std::string::npos) throw std::runtime_error("handler failed");
                  };
                }),
            1);
  ASSERT_EQ(rec_.ErrorCodes(), std::vector<int>{archive::kErrUnexpected});
  EXPECT_EQ(rec_.Errors[0].ExtendedMsg, "handler failed");
  EXPECT_EQ(rec_.Events.back(), "elapsed");

  // Logged too, as is an error handler that throws in its turn.
  nettest::TLogCapture log;
  EXPECT_EQ(Run(bytes,
                [](TUnZip& z) {
                  z.OnActivate = [](TUnZip*) { throw std::bad_alloc(); };
                  z.OnError = [](TUnZip*, const std::string&, const std::string&, const std::string&, int) {
                    throw Exception("no report");
                  };
                }),
            0);
  EXPECT_NE(log.Text().find("Extraction: stopped by an unexpected error: std::bad_alloc\n"
                            "Extraction: the error handler failed too: no report\n"),
            std::string::npos)
      << log.Text();

  rec_ = TRecorder();
  EXPECT_EQ(Run(bytes, [](TUnZip& z) { z.OnActivate = [](TUnZip*) { throw Exception("no"); }; }), 0);
  EXPECT_EQ(rec_.ErrorCodes(), std::vector<int>{archive::kErrUnexpected});
}

// A Deflate stream that goes on past the declared size is damaged even when the
// declared part has the stored CRC; one that ends there is whole, also when the
// declared size is 0.
TEST_F(UnZipExtract, DeflateStreamLongerThanDeclaredIsDamaged) {
  // One final stored block (RFC 1951, 3.2.4) of "abcdef".
  const std::string stream(
      "\x01\x06\x00\xF9\xFF"
      "abcdef",
      11);
  TEntrySpec longer = File("longer.txt", stream);
  longer.Method = 8;
  longer.DeclaredSize = 3;
  longer.DeclaredCrc = archive::Crc32("abc", 3);
  TEntrySpec exact = longer;
  exact.Name = "exact.txt";
  exact.DeclaredSize = 6;
  exact.DeclaredCrc = archive::Crc32("abcdef", 6);
  TEntrySpec empty = File("empty.txt", std::string("\x03\x00", 2));  // empty fixed-code block
  empty.Method = 8;
  empty.DeclaredSize = 0;
  empty.DeclaredCrc = 0;
  EXPECT_EQ(Run(BuildZip({longer, exact, empty})), 3);
  EXPECT_EQ(rec_.Ended, (std::vector<std::pair<std::string, bool>>{
                            {Out("longer.txt"), false}, {Out("exact.txt"), true}, {Out("empty.txt"), true}}));
  EXPECT_EQ(Read("longer.txt"), "abc");  // never more than declared
}

// An unknown method and AES encryption (method 99, which no password given here
// would open) are named and leave no file, not even an empty one; neither counts.
TEST_F(UnZipExtract, UnsupportedMethodAndAesLeaveNoFile) {
  TEntrySpec lzma = File("packed.bin", Pattern(100, 6));
  lzma.Method = 14;
  TEntrySpec aes = File("sub/aes.txt", Pattern(100, 7));
  aes.Method = 99;
  aes.Flags = 1;
  aes.Extra = std::string(
      "\x01\x99\x07\x00\x02\x00"
      "AE\x03\x08\x00",
      11);  // AE-2, AES-256, deflated
  int asked = 0;
  EXPECT_EQ(
      Run(BuildZip({lzma, aes, File("next.txt", "next")}),
          [&](TUnZip& z) { z.OnGetPassword = [&](TUnZip*, const std::string&, std::string&, bool&) { ++asked; }; }),
      1);
  EXPECT_EQ(asked, 0);
  EXPECT_FALSE(platform::FileExists(Out("packed.bin")));
  EXPECT_FALSE(platform::DirectoryExists(Out("sub")));
  EXPECT_EQ(Read("next.txt"), "next");
  ASSERT_EQ(rec_.ErrorCodes(), (std::vector<int>{archive::kErrUnsupported, archive::kErrEncrypted}));
  EXPECT_EQ(rec_.Errors[0].FileName, Out("packed.bin"));
  EXPECT_EQ(rec_.Errors[1].FileName, "sub\\aes.txt");
  EXPECT_EQ(archive::UnZipErrorText(archive::kErrUnsupported), "Unsupported compression method");
  EXPECT_EQ(archive::UnZipErrorText(archive::kErrEncrypted), "The entry is encrypted");
}

TEST_F(UnZipExtract, SkippingWritesNothing) {
  std::string bytes = BuildZip({File("a.txt", "a"), File("sub/b.txt", "b")});
  EXPECT_EQ(Run(bytes, [](TUnZip& z) { z.OverwriteMode = archive::omSkip; }), 0);
  EXPECT_EQ(rec_.Begun.size(), 2u);
  EXPECT_TRUE(platform::ListDir(outDir_).empty());

  // OnBegin may refuse single entries.
  rec_ = TRecorder();
  EXPECT_EQ(Run(bytes,
                [&](TUnZip& z) {
                  z.OnBegin = [](TUnZip*, const std::string& name, int, bool& extract) {
                    extract = name.find("b.txt") == std::string::npos;
                  };
                }),
            1);
  EXPECT_TRUE(platform::FileExists(Out("a.txt")));
  EXPECT_FALSE(platform::FileExists(Out("sub\\b.txt")));
}

TEST_F(UnZipExtract, MissingArchiveAndArchiveFileRules) {
  TUnZip z;
  rec_.Attach(z);
  EXPECT_EQ(z.ArchiveFile(), "");
  EXPECT_EQ(z.ArcType(), archive::atNA);
  z.SetArchiveFile(tmp_ / "missing.zip");
  EXPECT_EQ(z.ArchiveFile(), "");
  EXPECT_EQ(z.ArcType(), archive::atNA);
  EXPECT_EQ(z.Extract(), 0);
  ASSERT_EQ(rec_.ErrorCodes(), std::vector<int>{archive::kErrFileNotFound});
  EXPECT_EQ(archive::UnZipErrorText(archive::kErrFileNotFound), "File not found");
  EXPECT_EQ(rec_.Events, std::vector<std::string>{"error 25192"});

  // "/" becomes "\"; a file that is no archive (text, nothing at all) is atNA,
  // yields nothing and says so.
  for (const std::string& content : {std::string("not an archive at all"), std::string()}) {
    platform::EraseFile(tmp_ / "notes.txt");
    testsupport::WriteFileText(tmp_ / "notes.txt", content);
    std::string slashed = tmp_.Path() + "/notes.txt";
    z.SetArchiveFile(slashed);
    EXPECT_EQ(z.ArchiveFile(), text::StringReplace(slashed, "/", "\\"));
    EXPECT_EQ(z.ArcType(), archive::atNA);
    rec_ = TRecorder();
    rec_.Attach(z);
    z.FileSpec = {"*.*"};
    EXPECT_EQ(z.Extract(), 0);
    EXPECT_EQ(rec_.ErrorCodes(), std::vector<int>{archive::kErrNotZip});
  }

  WriteArchive(BuildZip({File("a.txt", "a")}));
  z.SetArchiveFile(archivePath_);
  EXPECT_EQ(z.ArcType(), archive::atZip);

  // Read from a stream the caller holds, under a name: what the name leads to is
  // never read.
  TMemoryStream held;
  const std::string zip = BuildZip({File("held.txt", "from the stream")});
  held.Write(zip.data(), static_cast<int64_t>(zip.size()));
  z.SetArchiveStream(held, archivePath_);
  EXPECT_EQ(z.ArchiveFile(), archivePath_);
  EXPECT_EQ(z.ArcType(), archive::atZip);
  z.SetExtractDir(outDir_);
  EXPECT_EQ(z.Extract(), 1);
  EXPECT_EQ(Read("held.txt"), "from the stream");
  EXPECT_FALSE(platform::FileExists(Out("a.txt")));
}

TEST_F(UnZipExtract, ExtractDirRulesAndTheDoubledBackslash) {
  TUnZip z;
  z.SetExtractDir("C:/some/where");
  EXPECT_EQ(z.ExtractDir(), "C:\\some\\where\\");
  z.SetExtractDir("C:\\tmp\\\\x\\");
  EXPECT_EQ(z.ExtractDir(), "C:\\tmp\\\\x\\");
  z.SetExtractDir("");
  EXPECT_EQ(z.ExtractDir(), "");
  WriteArchive(BuildZip({File("a.txt", "a")}));
  z.SetArchiveFile(archivePath_);
  z.SetExtractDir("");
  EXPECT_EQ(z.ExtractDir(), tmp_.Path() + "\\");

  // The unpack step's form: temp folder, a second backslash, the GUID folder.
  // Every output path starts with that text unchanged.
  std::string doubled = tmp_.Path() + "\\\\guid";
  ASSERT_TRUE(platform::CreateDir(tmp_ / "guid"));
  rec_ = TRecorder();
  rec_.Attach(z);
  z.FileSpec = {"*.*"};
  WriteArchive(BuildZip({File("a.txt", "a"), File("d/e/f.txt", "f")}));
  z.SetArchiveFile(archivePath_);
  z.SetExtractDir(doubled);
  EXPECT_EQ(z.Extract(), 2);
  EXPECT_EQ(rec_.Begun, (std::vector<std::string>{doubled + "\\a.txt", doubled + "\\d\\e\\f.txt"}));
  EXPECT_EQ(testsupport::ReadFileText(tmp_ / "guid\\d\\e\\f.txt"), "f");

  // Without stored folders everything lands in the target folder itself.
  rec_ = TRecorder();
  rec_.Attach(z);
  z.UseStoredDirs = false;
  z.SetExtractDir(outDir_);
  EXPECT_EQ(z.Extract(), 2);
  EXPECT_EQ(rec_.Begun, (std::vector<std::string>{Out("a.txt"), Out("f.txt")}));

  z.SetZipCmntBufSize(10);
  EXPECT_EQ(z.ZipCmntBufSize(), 2000);
  z.SetZipCmntBufSize(1 << 20);
  EXPECT_EQ(z.ZipCmntBufSize(), 32767);
}

TEST_F(UnZipExtract, DefaultsAtCreation) {
  TUnZip z;
  EXPECT_TRUE(z.FileSpec.empty());
  EXPECT_TRUE(z.RecurseDirs);
  EXPECT_TRUE(z.UseStoredDirs);
  EXPECT_FALSE(z.CreateStoredDirs);
  EXPECT_FALSE(z.ConfirmOverwrites);
  EXPECT_EQ(z.OverwriteMode, archive::omOverwrite);
  EXPECT_EQ(z.DateAttribute, archive::daFileDate);
  EXPECT_TRUE(z.RestoreFileAttr);
  EXPECT_TRUE(z.TranslateOemChar);
  EXPECT_TRUE(z.Passwords.empty());
  EXPECT_EQ(z.PasswordAttempts, 3);
  EXPECT_EQ(z.ExtractDir(), "");
}

// Names that would land outside the target folder are refused and nothing is
// written there; the harmless ones around them are extracted.
TEST_F(UnZipExtract, NamesLeavingTheTargetFolderAreRefused) {
  const std::vector<std::string> unsafe = {
      "../escape1.txt",    "a/../../escape2.txt", "..\\escape3.txt",   "C:../escape4.txt", "//server/share/x.txt",
      "C:\\\\escape5.txt", "sub/.. /escape6.txt", "d/.../escape7.txt", "aux.txt",          "x/COM1",
      "ab:c.txt"};
  std::vector<TEntrySpec> entries = {File("first.txt", "1")};
  for (const std::string& name : unsafe) entries.push_back(File(name, "evil"));
  entries.push_back(File("/rooted.txt", "r"));   // root stripped: lands inside
  entries.push_back(File("C:/drive.txt", "d"));  // drive stripped: lands inside
  entries.push_back(File("last.txt", "2"));
  EXPECT_EQ(Run(BuildZip(entries)), 4);
  EXPECT_EQ(rec_.Begun,
            (std::vector<std::string>{Out("first.txt"), Out("rooted.txt"), Out("drive.txt"), Out("last.txt")}));
  EXPECT_EQ(rec_.ErrorCount(archive::kErrUnsafeName), static_cast<int>(unsafe.size()));
  EXPECT_EQ(archive::UnZipErrorText(archive::kErrUnsafeName), "Unsafe file name");
  // Nothing appeared next to the output folder or above it.
  std::vector<std::string> around = platform::ListDir(tmp_.Path());
  std::sort(around.begin(), around.end());
  EXPECT_EQ(around, (std::vector<std::string>{"out\\", "test.zip"}));

  // A central name that looks harmless does not hide a local name that is not.
  rec_ = TRecorder();
  TEntrySpec disguised = File("fine.txt", "evil");
  disguised.LocalName = "../../disguised.txt";
  EXPECT_EQ(Run(BuildZip({disguised})), 0);
  EXPECT_EQ(rec_.ErrorCodes(), std::vector<int>{archive::kErrUnsafeName});

  // Without stored folders only the file part counts.
  rec_ = TRecorder();
  EXPECT_EQ(Run(BuildZip({File("../../flat.txt", "f")}), [](TUnZip& z) { z.UseStoredDirs = false; }), 1);
  EXPECT_EQ(Read("flat.txt"), "f");
}

TEST_F(UnZipExtract, LongNamesAreReadWhole) {
  std::string folder(120, 'f'), file(150, 'n');
  std::string name = folder + "/" + file + ".txt";  // 275 bytes
  Run(BuildZip({File(name, "long")}));
  ASSERT_EQ(rec_.Begun.size(), 1u);
  EXPECT_EQ(rec_.Begun[0], Out(folder + "\\" + file + ".txt"));
  // Either it is written under its whole name or it fails to open; never a
  // shorter name.
  if (platform::FileExists(rec_.Begun[0]))
    EXPECT_EQ(testsupport::ReadFileText(rec_.Begun[0]), "long");
  else
    EXPECT_EQ(rec_.ErrorCodes(), std::vector<int>{archive::kErrOpen});
  std::vector<std::string> inFolder = platform::ListDir(outDir_);
  EXPECT_TRUE(inFolder.empty() || inFolder == std::vector<std::string>{folder + "\\"});
}

// Sizes, counts and offsets come from the archive and are not trusted.
TEST_F(UnZipExtract, BogusSizesAndOffsetsStayBounded) {
  std::string data = Pattern(1000, 7);
  TEntrySpec huge = File("huge.txt", data);
  huge.DeclaredSize = 0xFFFFFFF0;  // claims 4 GB
  TEntrySpec shared = File("shared.txt", "");
  shared.LocalOffset = 0;  // reuses huge.txt's local header and data
  shared.DeclaredSize = 10;
  shared.DeclaredCompressed = 10;
  TEntrySpec nowhere = File("nowhere.txt", "x");
  nowhere.LocalOffset = 0x7FFFFFF0;
  EXPECT_EQ(Run(BuildZip({huge, nowhere})), 1);
  EXPECT_EQ(Read("huge.txt"), data);  // what the data holds, no more
  ASSERT_EQ(rec_.Ended.size(), 1u);
  EXPECT_FALSE(rec_.Ended[0].second);
  EXPECT_EQ(rec_.ErrorCodes(), std::vector<int>{archive::kErrBadHeader});
  EXPECT_EQ(rec_.Errors[0].FileName, "nowhere.txt");

  // A second directory record over the same local header and data is dropped:
  // no archive byte is decoded twice.
  rec_ = TRecorder();
  EXPECT_EQ(Run(BuildZip({huge, shared})), 1);
  EXPECT_EQ(rec_.Begun, (std::vector<std::string>{Out("huge.txt")}));
  EXPECT_EQ(rec_.ErrorCodes(), std::vector<int>{archive::kErrBadHeader});
  EXPECT_EQ(Read("huge.txt"), data);

  // An end record claiming 65535 entries and a directory far away.
  rec_ = TRecorder();
  std::string bytes = BuildZip({File("a.txt", "a")});
  std::size_t end = bytes.size() - 22;
  for (int i : {8, 9, 10, 11, 16, 17, 18}) bytes[end + i] = '\xFF';
  EXPECT_LE(Run(bytes), 1);

  // Every truncation of a small valid archive fails cleanly.
  std::string whole = BuildZip({File("a.txt", Pattern(300, 1)), File("b/c.txt", Pattern(200, 2)), Folder("b/")});
  for (std::size_t len = 0; len < whole.size(); len += 7) {
    rec_ = TRecorder();
    int count = Run(whole.substr(0, len));
    EXPECT_LE(count, 2) << len;
    EXPECT_LE(rec_.Begun.size(), 2u) << len;
  }
}

// Randomly damaged archives (fixed seed): whatever the bytes say, nothing is
// written outside the target folder and no more entries than the archive has.
TEST_F(UnZipExtract, RandomlyDamagedArchivesStayInsideTheFolder) {
  std::string whole = BuildZip({File("a.txt", Pattern(3000, 1)), File("b/c.txt", Pattern(200, 2)), Folder("b/"),
                                File("d.txt", Pattern(70000, 3))});
  uint32_t x = 12345;
  auto next = [&] { return x = x * 1103515245u + 12345u, x >> 8; };
  for (int round = 0; round < 150; ++round) {
    std::string damaged = whole;
    for (int flips = 1 + next() % 4; flips > 0; --flips) damaged[next() % damaged.size()] = static_cast<char>(next());
    rec_ = TRecorder();
    int count = Run(damaged);
    EXPECT_LE(count, 3) << round;
    std::vector<std::string> around = platform::ListDir(tmp_.Path());
    std::sort(around.begin(), around.end());
    EXPECT_EQ(around, (std::vector<std::string>{"out\\", "test.zip"})) << round;
    testsupport::RemoveTree(outDir_);
    platform::CreateDir(outDir_);
  }
}

// An empty entry named like a folder is one, whatever its attributes: jar,
// libarchive and Node's writers set no MS-DOS folder bit (and jar deflates it, with
// a data descriptor). One that holds data stays a file that cannot be created.
TEST_F(UnZipExtract, EntriesNamedLikeFoldersWithoutTheFolderAttribute) {
  TEntrySpec jar = File("META-INF/", "");
  jar.ExternalAttributes = 0;
  jar.Method = 8;
  jar.Data = std::string("\x03\x00", 2);  // an empty Deflate stream
  jar.DeclaredSize = 0;
  jar.DataDescriptor = true;
  TEntrySpec unix = File("data/maps/", "");
  unix.Host = 3;
  unix.ExternalAttributes = 040755u << 16;
  TEntrySpec odd = File("odd/", "x");
  EXPECT_EQ(Run(BuildZip({jar, File("META-INF/MANIFEST.MF", "m"), unix, odd, File("after.txt", "x")}),
                [](TUnZip& z) { z.CreateStoredDirs = true; }),
            3);
  EXPECT_EQ(rec_.Begun, (std::vector<std::string>{Out("META-INF\\MANIFEST.MF"), Out("odd\\"), Out("after.txt")}));
  EXPECT_TRUE(platform::DirectoryExists(Out("data\\maps")));
  EXPECT_EQ(rec_.ErrorCodes(), std::vector<int>{archive::kErrOpen});
  EXPECT_EQ(rec_.Errors[0].FileName, Out("odd\\"));
  EXPECT_EQ(Read("META-INF\\MANIFEST.MF"), "m");
  EXPECT_EQ(Read("after.txt"), "x");
}

// What the machine refused, as the user reads it: the first such failure, with the
// system's message; a damaged archive is not the machine's fault.
TEST_F(UnZipExtract, LocalErrorTextSaysWhatTheMachineRefused) {
  // A file where a folder should be: the folder cannot be made, nor the file in it.
  testsupport::WriteFileText(Out("data"), "in the way");
  TEntrySpec bad = File("bad.txt", "x");
  bad.BadCrc = true;
  TUnZip z;
  WriteArchive(BuildZip({bad, File("data/a.txt", "a"), File("data/b.txt", "b"), File("ok.txt", "ok")}));
  Configure(z);
  EXPECT_EQ(z.Extract(), 4);
  const std::string& text = z.LocalErrorText();
  const std::string head = "Error opening file: " + Out("data\\a.txt") + " (";
  EXPECT_EQ(text.compare(0, head.size(), head), 0) << text;
  EXPECT_GT(text.size(), head.size() + 2) << text;  // the system said why
  EXPECT_EQ(text.back(), ')');
  EXPECT_EQ(text.find("Cannot create"), std::string::npos) << text;
  EXPECT_EQ(Read("ok.txt"), "ok");

  // Cleared by the next Extract; an archive's own damage leaves it empty.
  platform::EraseFile(Out("data"));
  WriteArchive(BuildZip({bad, File("ok.txt", "ok")}));
  EXPECT_EQ(z.Extract(), 2);
  EXPECT_EQ(z.LocalErrorText(), "");
}

TEST_F(UnZipExtract, OverwriteConfirmation) {
  std::string bytes = BuildZip({File("a.txt", "new a"), File("b.txt", "new b")});
  testsupport::WriteFileText(Out("a.txt"), "old a");

  // Without a handler the existing file is kept and the missing handler named.
  EXPECT_EQ(Run(bytes, [](TUnZip& z) { z.ConfirmOverwrites = true; }), 1);
  EXPECT_EQ(Read("a.txt"), "old a");
  EXPECT_EQ(Read("b.txt"), "new b");
  ASSERT_EQ(rec_.ErrorCodes(), std::vector<int>{archive::kErrRequiredEvent});
  EXPECT_EQ(rec_.Errors[0].ExtendedMsg, "OnFileExists");

  // A handler may give another name; it is asked again while that exists too.
  rec_ = TRecorder();
  std::vector<std::string> asked;
  EXPECT_EQ(Run(bytes,
                [&](TUnZip& z) {
                  z.ConfirmOverwrites = true;
                  z.OnFileExists = [&](TUnZip*, const std::string& name, std::string& newName,
                                       archive::TOverwriteMode& mode) {
                    asked.push_back(name);
                    EXPECT_EQ(mode, archive::omOverwrite);
                    newName = name + ".1";
                  };
                }),
            2);
  EXPECT_EQ(asked, (std::vector<std::string>{Out("a.txt"), Out("b.txt")}));
  EXPECT_EQ(Read("a.txt.1"), "new a");
  EXPECT_EQ(Read("b.txt.1"), "new b");
  EXPECT_EQ(Read("a.txt"), "old a");

  // omSkip from the handler keeps the file.
  rec_ = TRecorder();
  EXPECT_EQ(Run(bytes,
                [&](TUnZip& z) {
                  z.ConfirmOverwrites = true;
                  z.OnFileExists = [&](TUnZip*, const std::string&, std::string&, archive::TOverwriteMode& mode) {
                    mode = archive::omSkip;
                  };
                }),
            0);
  EXPECT_EQ(Read("b.txt"), "new b");

  // A read-only target is made writable and replaced.
  platform::SetAttributes(Out("a.txt"), platform::faReadOnly);
  rec_ = TRecorder();
  EXPECT_EQ(Run(bytes), 2);
  EXPECT_EQ(Read("a.txt"), "new a");
  EXPECT_TRUE(rec_.Errors.empty());
}

TEST_F(UnZipExtract, DatesAndAttributes) {
  TEntrySpec older = File("older.txt", "o");
  older.Date = (2001 - 1980) << 9 | 2 << 5 | 3;  // 2001-02-03
  older.Time = 4 << 11 | 5 << 5 | 6 / 2;         // 04:05:06
  TEntrySpec newer = File("newer.txt", "n");
  newer.Date = (2019 - 1980) << 9 | 11 << 5 | 30;  // 2019-11-30
  newer.Time = 23 << 11 | 59 << 5 | 58 / 2;        // 23:59:58
  newer.ExternalAttributes = 0x21;                 // read-only
  TEntrySpec script = File("run.sh", "#!/bin/sh\n");
  script.Host = 3;
  script.ExternalAttributes = (0100755u << 16);
  script.Date = older.Date;
  // Of Unix modes only the execute bits count, under the umask.
  std::vector<TEntrySpec> entries = {older, newer, script};
  const std::vector<std::pair<std::string, uint32_t>> modes = {
      {"shared.txt", 0100666}, {"tool", 0100777}, {"setuid", 0104755}, {"private", 0100600}};
  for (const auto& [name, mode] : modes) {
    entries.push_back(File(name, name));
    entries.back().Host = 3;
    entries.back().ExternalAttributes = mode << 16;
    entries.back().Date = older.Date;
  }
  std::string bytes = BuildZip(entries);

  ASSERT_EQ(Run(bytes), 7);
  auto when = platform::GetLastWriteTime(Out("older.txt"));
  ASSERT_TRUE(when);
  EXPECT_EQ(std::make_tuple(when->Year, when->Month, when->Day, when->Hour, when->Minute, when->Second),
            std::make_tuple(2001, 2, 3, 4, 5, 6));
  EXPECT_NE(platform::GetAttributes(Out("newer.txt")) & platform::faReadOnly, 0u);
  EXPECT_EQ(platform::GetAttributes(Out("older.txt")) & platform::faReadOnly, 0u);
  if (platform::EmulatedMachine()) {
    const uint32_t mask = platform::CreationMask();
    auto modeOf = [&](const std::string& name) {
      return static_cast<uint32_t>(std::filesystem::status(platform::HostPath(Out(name))).permissions());
    };
    EXPECT_EQ(modeOf("run.sh"), 0777u & ~mask);
    EXPECT_EQ(modeOf("shared.txt"), 0666u & ~mask);
    EXPECT_EQ(modeOf("tool"), 0777u & ~mask);
    EXPECT_EQ(modeOf("setuid"), 0777u & ~mask);
    EXPECT_EQ(modeOf("private"), 0666u & ~mask);
  }

  testsupport::RemoveTree(outDir_);
  platform::CreateDir(outDir_);
  rec_ = TRecorder();
  ASSERT_EQ(Run(bytes,
                [](TUnZip& z) {
                  z.DateAttribute = archive::daMaxFileDate;
                  z.RestoreFileAttr = false;
                }),
            7);
  when = platform::GetLastWriteTime(Out("older.txt"));
  ASSERT_TRUE(when);
  EXPECT_EQ(std::make_tuple(when->Year, when->Month, when->Day, when->Hour, when->Minute, when->Second),
            std::make_tuple(2019, 11, 30, 23, 59, 58));
  EXPECT_EQ(platform::GetAttributes(Out("newer.txt")) & platform::faReadOnly, 0u);

  testsupport::RemoveTree(outDir_);
  platform::CreateDir(outDir_);
  ASSERT_EQ(Run(bytes, [](TUnZip& z) { z.DateAttribute = archive::daSysDate; }), 7);
  when = platform::GetLastWriteTime(Out("older.txt"));
  ASSERT_TRUE(when);
  EXPECT_EQ(when->Year, platform::Now().Year);
}

TEST_F(UnZipExtract, ProgressIsMonotonicAndEndsAtOneHundred) {
  std::vector<TEntrySpec> entries;
  for (unsigned i = 0; i < 5; ++i)
    entries.push_back(File(std::string("f").append(std::to_string(i)), Pattern(20000 + 30000 * i, i)));
  Run(BuildZip(entries));
  ASSERT_FALSE(rec_.Progress.empty());
  int last = 0;
  for (const auto& [byFile, byArchive] : rec_.Progress) {
    EXPECT_LE(byFile, 100);
    EXPECT_GE(byArchive, last);
    last = byArchive;
  }
  EXPECT_EQ(rec_.Progress.back(), std::make_pair(100, 100));
  // Blocks of at most 32 KB: the largest entry (140000 bytes) takes five.
  EXPECT_GE(rec_.Progress.size(), 5u + 4u);
}

// Names in code page 437 and UTF-8 become the program's ANSI names: 1252 where the
// product is sold (the Linux port, Wine as it comes). A name the code page cannot
// hold fails its entry, named, and no two names become one.
TEST_F(UnZipExtract, OemAndUtf8NamesBecomeAnsi) {
  TEntrySpec oem = File(std::string("caf\x82.txt"), "oem");         // CP437 0x82 = e acute
  TEntrySpec utf8 = File(std::string("na\xC3\xAFve.txt"), "utf8");  // i diaeresis
  utf8.Flags = 0x800;
  TEntrySpec euro = File("prix \xE2\x82\xAC \xE2\x80\x93 liste.txt", "euro");  // from a Unix tool, unflagged
  euro.Host = 3;
  TEntrySpec japanese = File("\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt", "ja");
  japanese.Flags = 0x800;
  TEntrySpec chinese = File("\xE4\xB8\xAD\xE6\x96\x87\xE5\xAD\x97.txt", "zh");
  chinese.Flags = 0x800;
  std::string bytes = BuildZip({oem, utf8, euro, japanese, chinese, File("last.txt", "last")});
  std::string euroName, cjk;
  if (platform::UnicodeToAnsi(U"\u65E5", cjk)) GTEST_SKIP() << "this code page holds CJK names";
  ASSERT_TRUE(platform::UnicodeToAnsi(U"prix \u20AC \u2013 liste.txt", euroName));

  EXPECT_EQ(Run(bytes), 4);
  EXPECT_EQ(rec_.Begun,
            (std::vector<std::string>{Out("caf\xE9.txt"), Out("na\xEFve.txt"), Out(euroName), Out("last.txt")}));
  EXPECT_EQ(Read("caf\xE9.txt"), "oem");
  EXPECT_EQ(Read(euroName), "euro");
  EXPECT_EQ(rec_.ErrorCodes(), (std::vector<int>{archive::kErrNameCodePage, archive::kErrNameCodePage}));
  EXPECT_EQ(rec_.Errors[0].FileName, "<U+65E5><U+672C><U+8A9E>.txt");
  EXPECT_EQ(rec_.Errors[1].FileName, "<U+4E2D><U+6587><U+5B57>.txt");
  EXPECT_EQ(platform::ListDir(outDir_).size(), 4u);

  rec_ = TRecorder();
  testsupport::RemoveTree(outDir_);
  platform::CreateDir(outDir_);
  EXPECT_EQ(Run(BuildZip({oem, utf8}), [](TUnZip& z) { z.TranslateOemChar = false; }), 2);
  EXPECT_EQ(rec_.Begun[0], Out("caf\x82.txt"));
}

// The Unicode Path extra field (0x7075) names the entry when it holds the CRC-32
// of the stored name (in both headers, or in the directory alone), as Windows
// tools write it beside a code page 437 name; it is passed over when its CRC is
// another name's (the entry was renamed) or its name is no UTF-8.
TEST_F(UnZipExtract, UnicodePathFieldNamesTheEntryItBelongsTo) {
  std::string real;
  ASSERT_TRUE(platform::UnicodeToAnsi(U"Preis \u2013 5 \u20AC.txt", real));
  TEntrySpec both = File("Preis _ 5 _.txt", "both");
  both.Extra = both.LocalExtra = unziptest::UnicodePathField(both.Name, "Preis \xE2\x80\x93 5 \xE2\x82\xAC.txt");
  TEntrySpec central = File("d/caf_.txt", "central");
  central.Extra = unziptest::UnicodePathField(central.Name, "d/caf\xC3\xA9.txt");
  TEntrySpec renamed = File("renamed.txt", "renamed");
  renamed.Extra = renamed.LocalExtra = unziptest::UnicodePathField("old.txt", "old.txt");
  TEntrySpec invalid = File("invalid.txt", "invalid");
  invalid.Extra = invalid.LocalExtra = unziptest::UnicodePathField(invalid.Name, "\xFF\xFE.txt");
  EXPECT_EQ(Run(BuildZip({both, central, renamed, invalid})), 4);
  EXPECT_EQ(rec_.Begun,
            (std::vector<std::string>{Out(real), Out("d\\caf\xE9.txt"), Out("renamed.txt"), Out("invalid.txt")}));
  EXPECT_EQ(Read(real), "both");
  EXPECT_EQ(Read("d\\caf\xE9.txt"), "central");
  EXPECT_TRUE(rec_.Errors.empty());
}

}  // namespace
