// Processes: stopping the running application, the batch file's commands, starting
// the installed application.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// A process opened for terminate-and-wait. Closes its handle when destroyed.
class TProcessHandle {
 public:
  TProcessHandle() = default;
  explicit TProcessHandle(intptr_t raw, uint32_t pid) : raw_(raw), pid_(pid) {}
  TProcessHandle(TProcessHandle&& other) noexcept;
  TProcessHandle& operator=(TProcessHandle&& other) noexcept;
  TProcessHandle(const TProcessHandle&) = delete;
  TProcessHandle& operator=(const TProcessHandle&) = delete;
  ~TProcessHandle();
  bool Valid() const { return raw_ != 0; }
  intptr_t Raw() const { return raw_; }
  uint32_t Pid() const { return pid_; }

 private:
  intptr_t raw_ = 0;
  uint32_t pid_ = 0;
};

// An invalid handle when there is no such process or no access to it.
TProcessHandle OpenProcessForTerminate(uint32_t pid);
bool TerminateProcessWith(TProcessHandle& process, uint32_t exitCode);
enum class TWaitResult { Ended, TimedOut, Failed };
TWaitResult WaitForProcess(TProcessHandle& process, uint32_t milliseconds);

// Runs a whole command line with a hidden window and waits without limit.
// Returns false when the process could not be created (nothing was waited for).
// The Linux port runs "CMD.EXE /C rest" and "COMMAND.COM /C rest" as
// /bin/sh -c rest; other command lines are split the Windows way and their program
// is looked up in the current folder, then on PATH.
bool RunHiddenAndWait(const std::string& commandLine);
// Starts a whole command line with a normally shown window, without waiting.
// Returns false when the process could not be created.
bool StartDetached(const std::string& commandLine);
// Starts a command line and returns its process for tests and tools; the invalid
// handle on failure.
TProcessHandle StartProcess(const std::string& commandLine, bool hidden);
uint32_t CurrentProcessId();

}  // namespace platform
