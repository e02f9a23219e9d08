// A stand-in for the Kestrova application, for the demo and the end-to-end tests:
// it tells that it was started, and where, and leaves a note in its folder.
#include <cstdio>
#include <string>

#include "platform/platform.h"

int main(int argc, char** argv) {
  platform::SetProgramArguments(argc, argv);
  std::string args;
  for (const std::string& a : platform::ProgramArguments()) args += (args.empty() ? "" : " ") + a;
  const std::string folder = platform::GetCurrentDir();
  std::printf("Kestrova %s started in %s\n", KESTROVA_DEMO_VERSION, folder.c_str());
  std::fflush(stdout);
  try {
    platform::TFileStream note(folder + "\\kestrova-started.txt", platform::FileMode::CreateExclusive);
    const std::string text = std::string("version=") + KESTROVA_DEMO_VERSION + "\r\npid=" +
                             std::to_string(platform::CurrentProcessId()) + "\r\nargs=" + args + "\r\n";
    note.Write(text.data(), static_cast<int64_t>(text.size()));
  } catch (const Exception& e) {
    std::fprintf(stderr, "%s\n", e.Message.c_str());
    return 1;
  }
  return 0;
}
