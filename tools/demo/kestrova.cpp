// A stand-in for the Kestrova application, for the demo and the end-to-end tests:
// it tells that it was started, and where, and leaves a note in its folder.
//
// Started with "/UPDATE" it updates itself as the application does: it copies the
// updater out of its folder (a running program cannot be replaced), starts the copy
// with "/HIDE /KILL <its own process>" and waits to be stopped by it.
#include <cstdio>
#include <string>

#include "platform/file_stream.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "platform/system.h"

namespace {

// Written under another name and renamed into place, so that whoever sees the
// note sees all of it; a note of an earlier start is replaced.
void WriteNote(const std::string& path, const std::string& text) {
  const std::string part = path + ".part";
  {
    platform::TFileStream note(part, platform::TFileMode::CreateExclusive);
    note.Write(text.data(), static_cast<int64_t>(text.size()));
  }
  platform::EraseFile(path);
  if (!platform::MoveFileTo(part, path)) throw Exception("cannot rename " + part + " to " + path);
}

int StartUpdate(const std::string& folder) {
  const std::string updater = platform::TempDir() + "\\ORBAXLiveUpdate.exe";
  if (!platform::CopyFileTo(folder + "\\ORBAXLiveUpdate.exe", updater, false)) {
    std::fprintf(stderr, "cannot copy the updater to %s\n", updater.c_str());
    return 1;
  }
  const std::string pid = std::to_string(platform::CurrentProcessId());
  WriteNote(folder + "\\kestrova-updating.txt", "pid=" + pid + "\r\nupdater=" + updater + "\r\n");
  if (!platform::StartDetached("\"" + updater + "\" /HIDE /KILL " + pid)) {
    std::fprintf(stderr, "cannot start %s\n", updater.c_str());
    return 1;
  }
  // The updater stops this process before it replaces the files.
  platform::SleepMs(180000);
  return 3;
}

}  // namespace

int main(int argc, char** argv) {
  platform::SetProgramArguments(argc, argv);
  std::string args;
  for (const std::string& a : platform::ProgramArguments()) args += (args.empty() ? "" : " ") + a;
  const std::string folder = platform::GetCurrentDir();
  std::printf("Kestrova %s started in %s\n", KESTROVA_DEMO_VERSION, folder.c_str());
  std::fflush(stdout);
  try {
    if (args == "/UPDATE") return StartUpdate(folder);
    WriteNote(folder + "\\kestrova-started.txt", std::string("version=") + KESTROVA_DEMO_VERSION +
                                                     "\r\npid=" + std::to_string(platform::CurrentProcessId()) +
                                                     "\r\nargs=" + args + "\r\n");
  } catch (const Exception& e) {
    std::fprintf(stderr, "%s\n", e.Message.c_str());
    return 1;
  }
  return 0;
}
