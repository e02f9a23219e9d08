// A child process for the platform tests.
//   lu-child sleep MS               sleeps, then exits with 0
//   lu-child exit CODE              exits with CODE
//   lu-child write FILE ARGS...     writes its current folder and arguments to FILE,
//                                   one per line, then exits; FILE appears whole, and
//                                   only once the child has left that folder, so a
//                                   test that sees it may remove the folder
//   lu-child hold FILE READY [RELEASE]
//                                   keeps FILE open for reading and writing (others
//                                   may read it, nobody may write, move or delete
//                                   it), creates READY, and exits when RELEASE
//                                   appears, when killed, or after 60 s
//   lu-child regwrite KEY PREFIX COUNT
//                                   writes COUNT string values PREFIX0.. into the
//                                   HKEY_CURRENT_USER key KEY, one write each
//   lu-child regloop KEY            rewrites values of KEY until killed
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>

#include "platform/file_stream.h"
#include "platform/files.h"
#include "platform/system.h"
#include "settings/registry.h"

namespace {

void WriteText(const std::string& path, const std::string& text) {
  platform::TFileStream f(path, platform::TFileMode::CreateExclusive);
  f.Write(text.data(), static_cast<int64_t>(text.size()));
}

int Run(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "sleep" && argc > 2) {
    platform::SleepMs(static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)));
    return 0;
  }
  if (mode == "exit" && argc > 2) return std::atoi(argv[2]);
  if (mode == "write" && argc > 2) {
    const std::string folder = platform::GetCurrentDir();
    std::string text = folder + "\n";
    for (int i = 3; i < argc; ++i) text += std::string(argv[i]) + "\n";
    const std::string name = argv[2];
    const bool absolute = (name.size() > 1 && name[1] == ':') || (!name.empty() && name[0] == '\\');
    const std::string file = absolute ? name : folder + "\\" + name;
    WriteText(file + ".part", text);
    platform::SetCurrentDir(folder.substr(0, 3));  // the drive's root
    return platform::MoveFileTo(file + ".part", file) ? 0 : 1;
  }
  if (mode == "hold" && argc > 3) {
    platform::TFileStream held(argv[2], platform::TFileMode::OpenReadWrite);
    WriteText(argv[3], "ready");
    std::string release = argc > 4 ? argv[4] : "";
    for (int waited = 0; waited < 60000; waited += 20) {
      if (!release.empty() && platform::FileExists(release)) break;
      platform::SleepMs(20);
    }
    return 0;
  }
  if (mode == "regwrite" && argc > 4) {
    int count = std::atoi(argv[4]);
    for (int i = 0; i < count; ++i) {
      TRegistry reg;
      if (!reg.OpenKey(argv[2], true)) return 3;
      reg.WriteString(argv[3] + std::to_string(i), "v" + std::to_string(i));
    }
    return 0;
  }
  if (mode == "regloop" && argc > 2) {
    // Long values make each rewrite of the hive take a while, so a kill lands
    // inside one more often.
    std::string filler(2000, 'x');
    for (unsigned i = 0;; ++i) {
      TRegistry reg;
      if (!reg.OpenKey(argv[2], true)) return 3;
      reg.WriteString("loop" + std::to_string(i % 50), filler + std::to_string(i));
    }
  }
  std::cerr << "usage: lu-child sleep|exit|write|hold|regwrite|regloop ...\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "lu-child: " << e.what() << "\n";
    return 1;
  }
}
