// lu-unzip ARCHIVE DIR: extracts a ZIP archive the way the updater's unpack step
// does (every entry, stored folders recreated, existing files replaced) and prints
// what the extractor reports, one line per event:
//   begin <output path>
//   end <output path> CRC ok|FAILED
//   error <code> <text>: <file> [<extended message>]
// Exit status 0 when every file entry was written and passed its check (and no
// error was reported), 1 otherwise, 2 for a wrong command line.
// Host paths are accepted on the Linux port and turned into their Windows form.
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "archive/unzip.h"
#include "platform/files.h"
#include "platform/system.h"

namespace {

// A drive-letter or rooted Windows path is taken as it is; anything else is a
// host path, made absolute and given its Windows form.
std::string ToWindowsPath(const std::string& arg) {
  bool windowsForm = (arg.size() >= 2 && arg[1] == ':') || (!arg.empty() && arg[0] == '\\');
  if (windowsForm) return arg;
  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::absolute(arg, ec);
  return platform::FromHostPath(ec ? arg : absolute.string());
}

}  // namespace

int main(int argc, char** argv) {
  platform::SetProgramArguments(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: lu-unzip ARCHIVE DIR\n");
    return 2;
  }
  const std::string archivePath = ToWindowsPath(argv[1]);
  const std::string targetDir = ToWindowsPath(argv[2]);

  archive::TUnZip unzip;
  bool failed = false;
  std::map<std::string, bool> begun;  // output path -> check passed

  unzip.OnBegin = [&](archive::TUnZip*, const std::string& fileName, int, bool&) {
    std::printf("begin %s\n", fileName.c_str());
    begun[fileName] = false;
  };
  unzip.OnEnd = [&](archive::TUnZip*, const std::string& fileName, bool pass) {
    std::printf("end %s CRC %s\n", fileName.c_str(), pass ? "ok" : "FAILED");
    if (pass) {
      auto it = begun.find(fileName);
      if (it != begun.end()) it->second = true;
    } else {
      failed = true;
    }
  };
  unzip.OnError = [&](archive::TUnZip*, const std::string& fileName, const std::string& extended, const std::string&,
                      int code) {
    std::printf("error %d %s: %s%s%s\n", code, archive::UnZipErrorText(code).c_str(),
                fileName.empty() ? archivePath.c_str() : fileName.c_str(), extended.empty() ? "" : " ",
                extended.c_str());
    failed = true;
  };

  unzip.SetArchiveFile(archivePath);
  unzip.ConfirmOverwrites = false;
  unzip.RecurseDirs = true;
  unzip.FileSpec.clear();
  unzip.FileSpec.push_back("*.*");
  unzip.SetExtractDir(targetDir);
  int count = unzip.Extract();
  for (const auto& [name, pass] : begun)
    if (!pass) failed = true;
  std::printf("%d file(s) extracted\n", count);
  std::fflush(stdout);
  return failed ? 1 : 0;
}
