// Fuzz entry point for TUnZip: the input is a whole archive file. It is written to
// a temporary file and extracted with the unpack step's settings (every entry,
// stored folders, a password list and a password handler so encrypted entries are
// decoded too) into a fresh folder three levels below a private root.
//
// What must hold whatever the archive: no memory fault, Extract returns (never
// throws), its count is no more than the file entries it announced, every output
// path it announces lies inside the target folder, and nothing appears anywhere
// else under the root: not next to the target, not above it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/unzip.h"
#include "fuzz/decoder_targets.h"
#include "platform/file_stream.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "support/tree.h"

namespace fuzz {

using testsupport::RemoveTree;

class TUnZipFuzzRoot {
 public:
  TUnZipFuzzRoot() {
    root_ = platform::TempDir() + "lu-fuzz-unzip-" + std::to_string(platform::CurrentProcessId());
    RemoveTree(root_);
    platform::ForceDirectories(root_ + "\\a\\b");
  }
  ~TUnZipFuzzRoot() { RemoveTree(root_); }
  const std::string& Root() const { return root_; }

 private:
  std::string root_;
};

inline bool Listed(const std::string& folder, const std::vector<std::string>& expected) {
  return platform::ListDir(folder) == expected;
}

inline int RunUnZip(const uint8_t* data, std::size_t size) {
  static TUnZipFuzzRoot root;  // one per process, removed at exit
  const std::string b = root.Root() + "\\a\\b";
  const std::string archivePath = b + "\\in.zip";
  const std::string outDir = b + "\\out";
  RemoveTree(outDir);
  platform::CreateDir(outDir);
  {
    platform::TFileStream file(archivePath, platform::TFileMode::CreateExclusive);
    if (size > 0) file.Write(data, static_cast<int64_t>(size));
  }

  archive::TUnZip unzip;
  unzip.SetArchiveFile(archivePath);
  unzip.SetExtractDir(outDir);
  unzip.FileSpec = {"*.*"};
  unzip.Passwords = {"secret"};
  int begun = 0;
  unzip.OnBegin = [&](archive::TUnZip*, const std::string& name, int, bool&) {
    ++begun;
    Check(name.compare(0, outDir.size() + 1, outDir + "\\") == 0, "output path outside the target folder");
  };
  int asked = 0;
  unzip.OnGetPassword = [&](archive::TUnZip*, const std::string&, std::string& password, bool& tryAgain) {
    password = "fuzz";
    tryAgain = ++asked < 2;
  };
  unzip.OnCorruptZipHeader = [](archive::TUnZip*, archive::TZipHeaderState, bool& cancel) { cancel = false; };
  int count = unzip.Extract();
  Check(count >= 0 && count <= begun, "more entries counted than announced");

  // Nothing may appear anywhere but in the target folder.
  Check(Listed(b, {"out\\", "in.zip"}), "a file next to the target folder");
  Check(Listed(root.Root() + "\\a", {"b\\"}), "a file above the target folder");
  Check(Listed(root.Root(), {"a\\"}), "a file two levels above the target folder");
  return 0;
}

}  // namespace fuzz
