// Hostile archives against TUnZip, beyond the extraction tests' own cases (names
// leaving the folder, long names, a bogus stored size, a shared local header and
// cuts every 7 bytes of a stored archive are in tests/unit/archive): every cut of
// an archive with one entry of each method family, records pointing outside the
// file, sizes of 4 GB declared for every method, directory records overlapping
// one another's data, end records inside the data, and names with NUL bytes or
// over-long single segments.
//
// Each must end cleanly: no entry passes its check unless it holds exactly the
// right bytes, and nothing is written outside the target folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "archive/unzip.h"
#include "platform/files.h"
#include "support/test_support.h"
#include "unit/archive/unzip_test_helpers.h"

namespace {

using archive::TUnZip;
using unziptest::TEntrySpec;
using unziptest::TRecorder;

uint32_t Get32(const std::string& s, std::size_t at) {
  return static_cast<uint8_t>(s[at]) | (static_cast<uint8_t>(s[at + 1]) << 8) |
         (static_cast<uint8_t>(s[at + 2]) << 16) | (static_cast<uint32_t>(static_cast<uint8_t>(s[at + 3])) << 24);
}
uint16_t Get16(const std::string& s, std::size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(s[at]) | (static_cast<uint8_t>(s[at + 1]) << 8));
}
void Set32(std::string& s, std::size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
void Set16(std::string& s, std::size_t at, uint32_t v) {
  s[at] = static_cast<char>(v & 0xFF);
  s[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}

// Positions of the records of an archive without a comment.
struct TLayout {
  std::size_t End = 0;               // the end record
  std::vector<std::size_t> Central;  // each central record
  std::vector<std::size_t> Local;    // each entry's local header
};
TLayout LayoutOf(const std::string& zip) {
  TLayout l;
  l.End = zip.size() - 22;
  std::size_t pos = Get32(zip, l.End + 16);
  for (int i = 0; i < Get16(zip, l.End + 10); ++i) {
    l.Central.push_back(pos);
    l.Local.push_back(Get32(zip, pos + 42));
    pos += 46 + Get16(zip, pos + 28) + Get16(zip, pos + 30) + Get16(zip, pos + 32);
  }
  return l;
}

// An archive with one entry each of Shrink, Reduce (factor 4), Implode (8 KB, 3
// trees) and Deflate (50000 bytes each), a folder entry and a stored file in it.
std::string SmallMethods() {
  return testsupport::ReadFileText(
      platform::FromHostPath(std::string(LU_SOURCE_DIR) + "/tests/fuzz/corpus/unzip/small_methods.zip"));
}

// A target folder two levels below a temporary folder, so a write beside or above
// it shows.
class UnZipHostile : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(platform::ForceDirectories(tmp_ / "a\\out"));
    archive_ = tmp_ / "a\\in.zip";
    out_ = tmp_ / "a\\out";
  }

  // Extracts bytes into a fresh target folder; files maps each written output
  // (relative name) to its content.
  int Run(const std::string& bytes, std::map<std::string, std::string>* files = nullptr) {
    testsupport::RemoveTree(out_);
    EXPECT_TRUE(platform::CreateDir(out_));
    platform::EraseFile(archive_);
    testsupport::WriteFileText(archive_, bytes);
    rec_ = TRecorder();
    TUnZip z;
    rec_.Attach(z);
    z.FileSpec = {"*.*"};
    z.SetArchiveFile(archive_);
    z.SetExtractDir(out_);
    int count = z.Extract();
    EXPECT_EQ(platform::ListDir(tmp_.Path()), std::vector<std::string>{"a\\"});
    EXPECT_EQ(platform::ListDir(tmp_ / "a"), (std::vector<std::string>{"out\\", "in.zip"}));
    for (const auto& [path, pass] : rec_.Ended) EXPECT_EQ(path.compare(0, out_.size() + 1, out_ + "\\"), 0) << path;
    if (files) {
      files->clear();
      Collect(out_, "", *files);
    }
    return count;
  }

  void Collect(const std::string& folder, const std::string& prefix, std::map<std::string, std::string>& files) {
    for (const std::string& name : platform::ListDir(folder)) {
      if (name.back() == '\\')
        Collect(folder + "\\" + name.substr(0, name.size() - 1), prefix + name, files);
      else
        files[prefix + name] = testsupport::ReadFileText(folder + "\\" + name);
    }
  }

  // The content of a passed entry's output.
  std::string PassedContent(const std::string& path) { return testsupport::ReadFileText(path); }

  testsupport::TTempFolder tmp_;
  std::string archive_, out_;
  TRecorder rec_;
};

TEST_F(UnZipHostile, EveryCutOfAnArchiveOfEveryMethodEndsCleanly) {
  const std::string whole = SmallMethods();
  std::map<std::string, std::string> reference;
  ASSERT_EQ(Run(whole, &reference), 5);
  ASSERT_EQ(reference.size(), 5u);
  for (const auto& [path, pass] : rec_.Ended) EXPECT_TRUE(pass) << path;

  for (std::size_t len = 0; len < whole.size(); ++len) {
    std::map<std::string, std::string> files;
    int count = Run(whole.substr(0, len), &files);
    ASSERT_LE(count, 5) << len;
    // A cut archive never passes for a whole one, whatever it still holds.
    ASSERT_FALSE(rec_.Errors.empty()) << len;
    // Whatever was written is a start of the right content, and a passed entry
    // is all of it.
    for (const auto& [name, content] : files) {
      ASSERT_TRUE(reference.count(name)) << len << " " << name;
      const std::string& right = reference[name];
      ASSERT_LE(content.size(), right.size()) << len << " " << name;
      ASSERT_EQ(content, right.substr(0, content.size())) << len << " " << name;
    }
    for (const auto& [path, pass] : rec_.Ended) {
      if (!pass || path.back() == '\\') continue;
      std::string name = path.substr(out_.size() + 1);
      ASSERT_TRUE(files.count(name)) << len << " " << path;
      ASSERT_EQ(files[name], reference[name]) << len << " " << path;
    }
  }
}

// Fields of the end, central and local records bent to point past the end of the
// file, or to claim more than it holds. Each shows as a failure; a damaged central
// directory refuses the whole archive.
TEST_F(UnZipHostile, RecordsPointingOutsideTheFile) {
  const std::string whole = SmallMethods();
  const TLayout l = LayoutOf(whole);
  std::map<std::string, std::string> reference;
  ASSERT_EQ(Run(whole, &reference), 5);

  struct TCase {
    const char* what;
    std::function<void(std::string&)> bend;
    bool refused = false;  // the directory is damaged: nothing at all is extracted
  };
  const std::size_t c1 = l.Central[1], lh1 = l.Local[1];
  const std::vector<TCase> cases = {
      {"directory offset past the end", [&](std::string& z) { Set32(z, l.End + 16, 0xFFFFFFF0); }},
      {"directory offset at the end", [&](std::string& z) { Set32(z, l.End + 16, static_cast<uint32_t>(z.size())); }},
      {"directory size larger than the file", [&](std::string& z) { Set32(z, l.End + 12, 0x7FFFFFFF); }},
      {"both offset and size wrong",
       [&](std::string& z) {
         Set32(z, l.End + 12, 0xFFFFFFFF);
         Set32(z, l.End + 16, 0xFFFFFFFF);
       }},
      {"comment running past the end", [&](std::string& z) { Set16(z, l.End + 20, 0xFFFF); }, true},
      {"65535 entries claimed",
       [&](std::string& z) {
         Set16(z, l.End + 8, 0xFFFF);
         Set16(z, l.End + 10, 0xFFFF);
       },
       true},
      {"one entry fewer claimed", [&](std::string& z) { Set16(z, l.End + 10, Get16(z, l.End + 10) - 1); }, true},
      {"a record's signature broken", [&](std::string& z) { z[c1 + 1] = 'X'; }, true},
      {"an extra field running past its record",
       [&](std::string& z) {
         // Four bytes of extra field after the first record's name, whose one
         // field claims 255; the directory (and the end record after it) grow by four.
         std::string extra("\x55\x54\xFF\x00", 4);
         std::size_t at = l.Central[0];
         std::size_t nameEnd = at + 46 + Get16(z, at + 28);
         z.insert(nameEnd, extra);
         Set16(z, at + 30, 4);
         Set32(z, l.End + 4 + 12, Get32(z, l.End + 4 + 12) + 4);
       },
       true},
      {"central name running past the end", [&](std::string& z) { Set16(z, c1 + 28, 0xFFFF); }, true},
      {"central extra field running past the end", [&](std::string& z) { Set16(z, c1 + 30, 0xFFFF); }, true},
      {"central comment running past the end", [&](std::string& z) { Set16(z, c1 + 32, 0xFFFF); }, true},
      {"local header offset past the end", [&](std::string& z) { Set32(z, c1 + 42, 0xFFFFFFF0); }},
      {"ZIP64 offset without its extra field", [&](std::string& z) { Set32(z, c1 + 42, 0xFFFFFFFF); }, true},
      {"local header offset inside the directory", [&](std::string& z) { Set32(z, c1 + 42, Get32(z, l.End + 16)); }},
      {"local name running past the end", [&](std::string& z) { Set16(z, lh1 + 26, 0xFFFF); }},
      {"local extra field moving the data past the end", [&](std::string& z) { Set16(z, lh1 + 28, 0xFFFF); }},
      {"compressed size of 4 GB", [&](std::string& z) { Set32(z, c1 + 20, 0xFFFFFFFE); }},
  };
  for (const TCase& c : cases) {
    std::string bent = whole;
    c.bend(bent);
    std::map<std::string, std::string> files;
    int count = Run(bent, &files);
    EXPECT_LE(count, 5) << c.what;
    bool failed = !rec_.Errors.empty();
    for (const auto& [path, pass] : rec_.Ended) failed = failed || !pass;
    EXPECT_TRUE(failed) << c.what;
    if (c.refused) {
      EXPECT_EQ(rec_.ErrorCodes(), std::vector<int>{archive::kErrBadDirectory}) << c.what;
      EXPECT_TRUE(rec_.Begun.empty()) << c.what;
      EXPECT_TRUE(files.empty()) << c.what;
    }
    for (const auto& [path, pass] : rec_.Ended) {
      if (!pass || path.back() == '\\') continue;
      std::string name = path.substr(out_.size() + 1);
      EXPECT_EQ(files[name], reference[name]) << c.what << ": " << path;
    }
  }
}

// An entry of any method that claims 4 GB gets what its data decodes to, no
// more, and fails its check; the others are untouched.
TEST_F(UnZipHostile, FourGigabytesDeclaredForAFewBytes) {
  const std::string whole = SmallMethods();
  const TLayout l = LayoutOf(whole);
  std::map<std::string, std::string> reference;
  ASSERT_EQ(Run(whole, &reference), 5);
  const std::vector<std::string> names = {"shrunk.dat", "reduced4.dat",  "imploded.dat", "deflated.dat",
                                          "",           "sub/stored.txt"};
  for (std::size_t i : {0u, 1u, 2u, 3u, 5u}) {
    std::string bent = whole;
    Set32(bent, l.Central[i] + 24, 0xFFFFFFFE);  // 0xFFFFFFFF would say "see the ZIP64 field"
    std::map<std::string, std::string> files;
    EXPECT_EQ(Run(bent, &files), 5) << names[i];
    EXPECT_EQ(files, reference) << names[i];
    int failed = 0;
    for (const auto& [path, pass] : rec_.Ended) failed += !pass;
    EXPECT_EQ(failed, 1) << names[i];
  }
}

// The compression-bomb shape: many directory records over one small deflated
// entry (98 bytes that inflate to 50000), and records whose local headers lie
// inside another entry's data. Each archive byte is decoded for one entry at
// most, so the output is bounded by what the archive really holds: here 50000
// bytes, not 200 times as many.
TEST_F(UnZipHostile, OverlappingEntriesAreDecodedOnce) {
  const std::string whole = SmallMethods();
  const TLayout l = LayoutOf(whole);
  const std::size_t deflated = l.Central[3];
  const std::string record = whole.substr(deflated, 46 + Get16(whole, deflated + 28));
  std::string bomb = whole.substr(0, Get32(whole, l.End + 16));
  std::string central;
  for (int i = 0; i < 200; ++i) {
    std::string r = record;
    // Different names in the directory; the local header names the output.
    std::string name = "copy" + std::to_string(1000 + i) + ".dat";
    Set16(r, 28, static_cast<uint32_t>(name.size()));
    central += r.substr(0, 46) + name;
  }
  std::string end = whole.substr(l.End, 22);
  Set16(end, 8, 200);
  Set16(end, 10, 200);
  Set32(end, 12, static_cast<uint32_t>(central.size()));
  std::map<std::string, std::string> files;
  EXPECT_EQ(Run(bomb + central + end, &files), 1);
  EXPECT_EQ(rec_.Begun.size(), 1u);
  EXPECT_EQ(rec_.ErrorCount(archive::kErrBadHeader), 199);
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files.begin()->second.size(), 50000u);

  // An entry whose local header and data lie inside another stored entry's data
  // (the overlapping construction): whichever the directory lists first is
  // extracted, the other is dropped.
  TEntrySpec inner;
  inner.Name = "inner.txt";
  inner.Data = std::string(3000, 'i');
  const std::string innerZip = unziptest::BuildZip({inner});
  TEntrySpec outer;
  outer.Name = "outer.txt";
  outer.Data = innerZip.substr(0, 30 + inner.Name.size() + inner.Data.size());
  inner.LocalOffset = 30 + static_cast<int64_t>(outer.Name.size());
  for (bool innerFirst : {false, true}) {
    // Only the outer entry writes a local header; the inner one points into it.
    std::map<std::string, std::string> nested;
    EXPECT_EQ(Run(innerFirst ? unziptest::BuildZip({inner, outer}) : unziptest::BuildZip({outer, inner}), &nested), 1);
    EXPECT_EQ(rec_.ErrorCount(archive::kErrBadHeader), 1);
    ASSERT_EQ(nested.size(), 1u);
    if (innerFirst)
      EXPECT_EQ(nested["inner.txt"], inner.Data);
    else
      EXPECT_EQ(nested["outer.txt"], outer.Data);
  }

  // A directory record whose data runs into the next entry's local header: the
  // next entry is dropped.
  std::string over = whole;
  Set32(over, l.Central[0] + 20, static_cast<uint32_t>(l.Local[1] - l.Local[0]));
  std::map<std::string, std::string> overFiles;
  EXPECT_EQ(Run(over, &overFiles), 4);
  EXPECT_EQ(rec_.ErrorCount(archive::kErrBadHeader), 1);
  EXPECT_EQ(overFiles.count("reduced4.dat"), 0u);
}

// An end record inside an entry's data (a stored archive) or in what was appended
// after the archive is never taken for the archive's own: appended, the archive is
// read as it is; cut before its directory, its local headers are read and it fails
// as a whole, and the stored archive's entry never appears.
TEST_F(UnZipHostile, EndRecordsInTheDataAreNotTheArchives) {
  TEntrySpec inner;
  inner.Name = "inner.txt";
  inner.Data = "inner";
  const std::string innerZip = unziptest::BuildZip({inner});
  TEntrySpec nested;
  nested.Name = "nested.zip";
  nested.Data = innerZip;
  TEntrySpec after;
  after.Name = "after.txt";
  after.Data = "after";
  const std::string whole = unziptest::BuildZip({nested, after});
  const std::size_t directory = Get32(whole, whole.size() - 22 + 16);
  const std::map<std::string, std::string> expected = {{"nested.zip", innerZip}, {"after.txt", "after"}};
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"archive appended", whole + std::string(1000, 'x') + innerZip},
      {"cut before its directory", whole.substr(0, directory)},
      {"cut inside its directory", whole.substr(0, directory + 10)},
  };
  for (const auto& [what, bytes] : cases) {
    std::map<std::string, std::string> files;
    Run(bytes, &files);
    EXPECT_EQ(files, expected) << what;
    EXPECT_EQ(rec_.ErrorCodes(),
              what == cases[0].first ? std::vector<int>{} : std::vector<int>{archive::kErrBadDirectory})
        << what;
  }
}

// Names the operating system cannot take as they are: a NUL inside (the part
// before it must not become a path of its own elsewhere), a single segment of
// 300 bytes, a name of 65535 bytes.
TEST_F(UnZipHostile, NamesWithNulBytesAndOverlongSegments) {
  std::vector<TEntrySpec> entries;
  for (const std::string& name : {std::string("..\0/escape1.txt", 15), std::string("a/..\0/../escape2.txt", 21),
                                  std::string("x.txt\0/../../escape3.txt", 24), std::string(300, 'n'),
                                  std::string(65535, 'm'), std::string("sub/") + std::string(256, 'p')}) {
    TEntrySpec e;
    e.Name = name;
    e.Data = "evil";
    entries.push_back(e);
  }
  TEntrySpec fine;
  fine.Name = "fine.txt";
  fine.Data = "fine";
  entries.push_back(fine);
  std::map<std::string, std::string> files;
  int count = Run(unziptest::BuildZip(entries), &files);
  EXPECT_LE(count, 4);
  // A name cut short at its NUL would be another file than the one announced.
  EXPECT_EQ(rec_.ErrorCount(archive::kErrUnsafeName), 3);
  EXPECT_EQ(files["fine.txt"], "fine");
  // Whatever else was written lies below the target (Run checks beside and above).
  for (const auto& [name, content] : files) EXPECT_TRUE(content == "evil" || name == "fine.txt") << name;
}

}  // namespace
