// Every archive of the shared test set, and the small archives made here with
// Info-ZIP and 7-Zip (tests/data/zip), extracts to exactly the names, sizes and
// SHA-256 sums their manifests list; damaged and unsupported members fail the way
// the manifests say and are still counted.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>

#include "base/text.h"
#include "platform/platform.h"
#include "support/test_support.h"
#include "unzip_test_helpers.h"

namespace {

using unziptest::TRecorder;

std::vector<std::vector<std::string>> ReadTsv(const std::string& path) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(testsupport::ReadFileText(path));
  std::string line;
  bool header = true;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (header || line.empty()) {
      header = false;
      continue;
    }
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
      std::size_t tab = line.find('\t', start);
      fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    rows.push_back(fields);
  }
  return rows;
}

struct TMember {
  std::string Entry, Type, Expect, Sha256, Password;
  uint64_t Size = 0;
};

struct TArchiveCase {
  std::string Path;  // Windows path of the archive
  std::string Name;
  bool HasStub = false;
  std::string Password;  // for the archives made here with a password
  std::vector<TMember> Members;
};

// The shared set: archives.tsv (archive, bytes, sha256, entries, methods,
// stub_bytes, ...) and manifest.tsv (archive, entry, type, method, method_name,
// gp_flags, size, compressed_size, crc32, sha256, dos_mtime, expect, ...).
std::vector<TArchiveCase> SharedCases() {
  std::vector<TArchiveCase> cases;
  std::map<std::string, std::size_t> index;
  for (const auto& row : ReadTsv(testsupport::SharedTestData("testdata/zip/archives.tsv"))) {
    if (row.size() < 6) continue;
    TArchiveCase c;
    c.Name = row[0];
    c.Path = testsupport::SharedTestData("testdata/zip/" + row[0]);
    c.HasStub = row[5] != "0" && row[5] != "-";
    index[c.Name] = cases.size();
    cases.push_back(c);
  }
  for (const auto& row : ReadTsv(testsupport::SharedTestData("testdata/zip/manifest.tsv"))) {
    if (row.size() < 12 || !index.count(row[0])) continue;
    TMember m;
    m.Entry = row[1];
    m.Type = row[2];
    m.Size = std::stoull(row[6]);
    m.Sha256 = row[9];
    m.Expect = row[11];
    cases[index[row[0]]].Members.push_back(m);
  }
  return cases;
}

// The archives made here: tests/data/zip/manifest.tsv (archive, entry, type,
// size, sha256, expect, password).
std::vector<TArchiveCase> LocalCases() {
  std::vector<TArchiveCase> cases;
  std::map<std::string, std::size_t> index;
  const std::string dir = platform::FromHostPath(std::string(LU_SOURCE_DIR) + "/tests/data/zip") + "\\";
  for (const auto& row : ReadTsv(dir + "manifest.tsv")) {
    if (row.size() < 7) continue;
    if (!index.count(row[0])) {
      TArchiveCase c;
      c.Name = row[0];
      c.Path = dir + row[0];
      c.Password = row[6] == "-" ? "" : row[6];
      index[c.Name] = cases.size();
      cases.push_back(c);
    }
    TMember m;
    m.Entry = row[1];
    m.Type = row[2];
    m.Size = std::stoull(row[3]);
    m.Sha256 = row[4];
    m.Expect = row[5];
    cases[index[row[0]]].Members.push_back(m);
  }
  return cases;
}

std::string OutputName(const std::string& folder, const std::string& entry) {
  std::string name = entry;
  std::replace(name.begin(), name.end(), '/', '\\');
  return folder + "\\" + name;
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
  EXPECT_EQ(z.ArcType(), c.HasStub ? archive::atZipExe : archive::atZip);
  z.SetExtractDir(out.Path());
  const std::string archiveName = z.ArchiveFile();
  int count = z.Extract();
  EXPECT_EQ(z.ArchiveFile(), archiveName);

  std::vector<std::string> expectedBegun;
  std::set<std::string> failing, unsupported;
  for (const TMember& m : c.Members) {
    if (m.Type != "file") continue;
    std::string path = OutputName(out.Path(), m.Entry);
    expectedBegun.push_back(path);
    if (m.Expect == "ok") {
      ASSERT_TRUE(platform::FileExists(path)) << path;
      std::string data = testsupport::ReadFileText(path);
      EXPECT_EQ(data.size(), m.Size) << path;
      EXPECT_EQ(unziptest::Sha256Hex(data), m.Sha256) << path;
    } else if (m.Expect == "unsupported_method") {
      unsupported.insert(path);
      EXPECT_TRUE(platform::FileExists(path)) << path;
      EXPECT_EQ(testsupport::ReadFileText(path), "") << path;
    } else {
      failing.insert(path);  // crc_error, data_or_crc_error: written as far as it goes
      EXPECT_TRUE(platform::FileExists(path)) << path;
    }
  }
  EXPECT_EQ(count, static_cast<int>(expectedBegun.size()));
  EXPECT_EQ(rec.Begun, expectedBegun);
  for (std::size_t i = 0; i < rec.BeginCounts.size(); ++i) EXPECT_EQ(rec.BeginCounts[i], static_cast<int>(i));

  if (withOnEnd) {
    for (const auto& [name, pass] : rec.Ended) {
      bool shouldPass = !failing.count(name) && !unsupported.count(name);
      EXPECT_EQ(pass, shouldPass) << name;
    }
  }
  std::multiset<std::pair<int, std::string>> expectedErrors, errors;
  for (const std::string& name : unsupported) expectedErrors.insert({archive::E_UNSUPPORTED, name});
  if (!withOnEnd)
    for (const std::string& name : failing) expectedErrors.insert({archive::E_CRCERROR, name});
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
  std::vector<TArchiveCase> cases = SharedCases();
  ASSERT_GE(cases.size(), 30u);
  for (const TArchiveCase& c : cases) {
    CheckArchive(c, true);
    bool damaged = std::any_of(c.Members.begin(), c.Members.end(), [](const TMember& m) {
      return m.Expect == "crc_error" || m.Expect == "data_or_crc_error";
    });
    if (damaged) CheckArchive(c, false);
  }
}

TEST(UnZipTestData, ArchivesMadeHereWithZipAnd7zExtract) {
  std::vector<TArchiveCase> cases = LocalCases();
  ASSERT_GE(cases.size(), 5u);
  for (const TArchiveCase& c : cases) CheckArchive(c, true);
}
