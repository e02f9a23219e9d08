// Every archive of the shared test set, and the small archives made here with
// real tools (tests/data/zip), extracts to exactly the names, sizes and SHA-256
// sums their manifests list; damaged members fail the way the manifests say and
// are still counted, unsupported ones leave no file, names the code page lacks are
// refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "base/codepage.h"
#include "base/text.h"
#include "platform/files.h"
#include "platform/system.h"
#include "support/test_support.h"
#include "unit/archive/raw_zip.h"
#include "unit/archive/unzip_test_helpers.h"

namespace {

using unziptest::TRecorder;

struct TArchiveCase {
  std::string Path;      // Windows path of the archive
  std::string HostPath;  // and its host path
  std::string Name;
  std::string Password;
  std::vector<testzip::TManifestRow> Members;
};

// The archives of a test folder (a host path) with their manifest rows, in the
// manifest's order.
std::vector<TArchiveCase> Cases(const std::string& dir) {
  std::vector<TArchiveCase> cases;
  std::map<std::string, std::size_t> index;
  for (const testzip::TManifestRow& row : testzip::ReadManifest(dir + "manifest.tsv")) {
    if (!index.count(row.archive)) {
      TArchiveCase c;
      c.Name = row.archive;
      c.Path = platform::FromHostPath(dir + row.archive);
      c.HostPath = dir + row.archive;
      c.Password = row.password;
      index[c.Name] = cases.size();
      cases.push_back(c);
    }
    cases[index[row.archive]].Members.push_back(row);
  }
  return cases;
}

// A manifest's name (UTF-8, "/" separators, "./" from tar) as the program writes
// it below folder: in the ANSI code page, or (false) the name the error shows.
bool OutputName(const std::string& folder, const std::string& entry, std::string& path) {
  std::u32string unicode;
  EXPECT_TRUE(codepage::Utf8ToUnicode(entry, unicode)) << entry;
  std::string name;
  bool representable = platform::UnicodeToAnsi(unicode, name);
  if (!representable) {
    name.clear();
    for (char32_t c : unicode) {
      char code[16];
      std::snprintf(code, sizeof code, "<U+%04X>", static_cast<unsigned>(c));
      name += c < 0x80 ? std::string(1, static_cast<char>(c)) : std::string(code);
    }
  }
  std::replace(name.begin(), name.end(), '/', '\\');
  for (std::size_t at; (at = name.find("\\.\\")) != std::string::npos;) name.erase(at, 2);
  if (name.compare(0, 2, ".\\") == 0) name.erase(0, 2);
  path = representable ? folder + "\\" + name : name;
  return representable;
}

void CheckArchive(const TArchiveCase& c, bool withOnEnd) {
  SCOPED_TRACE(c.Name + (withOnEnd ? " (OnEnd assigned)" : " (no OnEnd)"));
  testsupport::TTempFolder out;
  archive::TUnZip z;
  TRecorder rec;
  rec.Attach(z, withOnEnd);
  z.FileSpec = {"*.*"};
  if (!c.Password.empty()) z.Passwords = {c.Password};
  z.SetArchiveFile(c.Path);
  ASSERT_FALSE(z.ArchiveFile().empty()) << c.Path;
  // A program stub in front begins with the MZ signature.
  EXPECT_EQ(z.ArcType(),
            testsupport::ReadFileText(c.Path).compare(0, 2, "MZ") == 0 ? archive::atZipExe : archive::atZip);
  z.SetExtractDir(out.Path());
  const std::string archiveName = z.ArchiveFile();
  int count = z.Extract();
  EXPECT_EQ(z.ArchiveFile(), archiveName);

  std::vector<std::string> expectedBegun;
  // Unsupported and encrypted entries (AES) leave no file and do not count; an
  // encrypted one is named as it is stored.
  std::set<std::string> failing, unsupported, unnamed, unopened, encrypted;
  for (const testzip::TManifestRow& m : c.Members) {
    if (m.type != "file") continue;
    std::string path;
    if (!OutputName(out.Path(), m.entry, path)) {
      EXPECT_EQ(m.expect, "name_error") << m.entry;
      unnamed.insert(path);
      continue;
    }
    expectedBegun.push_back(path);
    if (m.expect == "ok") {
      ASSERT_TRUE(platform::FileExists(path)) << path;
      std::string data = testsupport::ReadFileText(path);
      EXPECT_EQ(data.size(), m.size) << path;
      EXPECT_EQ(unziptest::Sha256Hex(data), m.sha256) << path;
    } else if (m.expect == "unsupported_method" || m.expect == "encrypted") {
      if (m.expect == "encrypted")
        encrypted.insert(path.substr(out.Path().size() + 1));
      else
        unsupported.insert(path);
      unopened.insert(path);
      EXPECT_FALSE(platform::FileExists(path)) << path;
    } else {
      failing.insert(path);  // crc_error, data_or_crc_error: written as far as it goes
      EXPECT_TRUE(platform::FileExists(path)) << path;
    }
  }
  EXPECT_EQ(count, static_cast<int>(expectedBegun.size() - unopened.size()));
  EXPECT_EQ(rec.Begun, expectedBegun);
  int counted = 0;
  for (std::size_t i = 0; i < rec.BeginCounts.size() && i < expectedBegun.size(); ++i) {
    EXPECT_EQ(rec.BeginCounts[i], counted);
    counted += !unopened.count(expectedBegun[i]);
  }

  if (withOnEnd) {
    for (const auto& [name, pass] : rec.Ended) {
      bool shouldPass = !failing.count(name) && !unsupported.count(name) && !encrypted.count(name);
      EXPECT_EQ(pass, shouldPass) << name;
    }
  }
  std::multiset<std::pair<int, std::string>> expectedErrors, errors;
  // An archive cut short before its directory says so, whatever it still holds.
  if (testzip::TRawZip(c.HostPath).Error() == "no end record")
    expectedErrors.insert({archive::kErrBadDirectory, c.Path});
  for (const std::string& name : unsupported) expectedErrors.insert({archive::kErrUnsupported, name});
  for (const std::string& name : encrypted) expectedErrors.insert({archive::kErrEncrypted, name});
  for (const std::string& name : unnamed) expectedErrors.insert({archive::kErrNameCodePage, name});
  if (!withOnEnd)
    for (const std::string& name : failing) expectedErrors.insert({archive::kErrCrc, name});
  for (const auto& e : rec.Errors) errors.insert({e.Code, e.FileName});
  EXPECT_EQ(errors, expectedErrors);
  for (const auto& e : rec.Errors) EXPECT_EQ(e.VolumeID, "0");

  // The archive's own events frame the rest.
  ASSERT_GE(rec.Events.size(), 3u);
  EXPECT_EQ(rec.Events.front(), "activate");
  EXPECT_EQ(rec.Events[rec.Events.size() - 2], "deactivate");
  EXPECT_EQ(rec.Events.back(), "elapsed");
}

}  // namespace

TEST(UnZipTestData, SharedArchivesExtractAsTheirManifestSays) {
  if (!testzip::SharedZipPresent()) GTEST_SKIP() << "no shared test set at " << testzip::SharedZipDir();
  std::vector<TArchiveCase> cases = Cases(testzip::SharedZipDir());
  ASSERT_GE(cases.size(), 30u);
  for (const TArchiveCase& c : cases) {
    CheckArchive(c, true);
    bool damaged = std::any_of(c.Members.begin(), c.Members.end(), [](const testzip::TManifestRow& m) {
      return m.expect == "crc_error" || m.expect == "data_or_crc_error";
    });
    if (damaged) CheckArchive(c, false);
  }
}

// As jar (cf, cf0), bsdtar, Info-ZIP (-fz, to a pipe, a member from standard
// input, the longest comment, data appended, a self-extractor, Unix modes), Python
// (ZIP64 local headers, Unicode Path fields), Node (yazl, archiver) and 7-Zip
// (Deflate64, UTF-8 names, AES) write them; see make.sh.
TEST(UnZipTestData, ArchivesMadeHereExtract) {
  std::vector<TArchiveCase> cases = Cases(testzip::LocalZipDir());
  ASSERT_GE(cases.size(), 20u);
  for (const TArchiveCase& c : cases) CheckArchive(c, true);
}
