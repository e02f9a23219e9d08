// lu-unzip ARCHIVE DIR: extracts a ZIP archive the way the updater's unpack step
// does (every entry, stored folders recreated, existing files replaced) and prints
// what the extractor reports, one line per event:
//   begin <output path>
//   end <output path> CRC ok|FAILED
//   error <code> <text>: <file> [<extended message>]
// Exit status 0 when every file entry was written and passed its check (and no
// error was reported), 1 otherwise, 2 for a wrong command line.
// Host paths are accepted too (argument_path.h).
#include <cstdio>
#include <map>
#include <string>

#include "archive/unzip.h"
#include "argument_path.h"
#include "engine/steps.h"
#include "platform/system.h"

int main(int argc, char** argv) {
  platform::SetProgramArguments(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: lu-unzip ARCHIVE DIR\n");
    return 2;
  }
  const std::string archivePath = ArgumentPath(argv[1]);
  const std::string targetDir = ArgumentPath(argv[2]);

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
  engine::ConfigureUnpack(unzip, targetDir);
  int count = unzip.Extract();
  for (const auto& [name, pass] : begun)
    if (!pass) failed = true;
  std::printf("%d file(s) extracted\n", count);
  std::fflush(stdout);
  return failed ? 1 : 0;
}
