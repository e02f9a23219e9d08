// Processes: open by identifier, terminate, wait, create from a command line.
#include <windows.h>

#include <utility>

#include "platform/processes.h"
#include "platform/win32/win32_handles.h"

namespace platform {

using win32::THandle;

TProcessHandle::TProcessHandle(TProcessHandle&& other) noexcept
    : raw_(std::exchange(other.raw_, 0)), pid_(std::exchange(other.pid_, 0)) {}

TProcessHandle& TProcessHandle::operator=(TProcessHandle&& other) noexcept {
  if (this != &other) {
    if (raw_ != 0) ::CloseHandle(reinterpret_cast<HANDLE>(raw_));
    raw_ = std::exchange(other.raw_, 0);
    pid_ = std::exchange(other.pid_, 0);
  }
  return *this;
}

TProcessHandle::~TProcessHandle() {
  if (raw_ != 0) ::CloseHandle(reinterpret_cast<HANDLE>(raw_));
}

TProcessHandle OpenProcessForTerminate(uint32_t pid) {
  HANDLE h = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE,  // terminate it, then wait for its end
                           FALSE,                            // not inherited by our children
                           pid);
  if (h == nullptr) return TProcessHandle();
  // A process that has ended lingers as long as anyone (its parent, the system)
  // holds a handle to it, and terminating it then fails with "access denied".
  // It is not running, so it counts as no process at all.
  if (::WaitForSingleObject(h, 0) == WAIT_OBJECT_0) {
    ::CloseHandle(h);
    ::SetLastError(ERROR_INVALID_PARAMETER);  // what OpenProcess says for a missing process
    return TProcessHandle();
  }
  return TProcessHandle(reinterpret_cast<intptr_t>(h), pid);
}

bool TerminateProcessWith(TProcessHandle& process, uint32_t exitCode) {
  if (!process.Valid()) return false;
  HANDLE h = reinterpret_cast<HANDLE>(process.Raw());
  if (::TerminateProcess(h, exitCode)) return true;
  // It may have ended by itself since it was opened: that is what was wanted.
  DWORD code = ::GetLastError();
  if (::WaitForSingleObject(h, 0) == WAIT_OBJECT_0) return true;
  ::SetLastError(code);
  return false;
}

TWaitResult WaitForProcess(TProcessHandle& process, uint32_t milliseconds) {
  if (!process.Valid()) return TWaitResult::Failed;
  switch (::WaitForSingleObject(reinterpret_cast<HANDLE>(process.Raw()), milliseconds)) {
    case WAIT_OBJECT_0: return TWaitResult::Ended;
    case WAIT_TIMEOUT: return TWaitResult::TimedOut;
    default: return TWaitResult::Failed;
  }
}

namespace {

// Creates a process from a whole command line; the system splits off and
// searches for the program itself (current folder, then PATH, ".exe" added).
bool Create(const std::string& commandLine, WORD showWindow, PROCESS_INFORMATION& info) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;  // honour wShowWindow below
  startup.wShowWindow = showWindow;
  // CreateProcessA may write into the command line, so it gets its own copy.
  std::string line = commandLine;
  line.push_back('\0');
  info = PROCESS_INFORMATION{};
  return ::CreateProcessA(nullptr,                        // no program name: the first token of the line is the program
                          line.data(), nullptr, nullptr,  // default security for the process and its thread
                          FALSE,                          // inherits none of our handles
                          0,                              // no creation flags
                          nullptr,                        // our environment
                          nullptr,                        // our current folder
                          &startup, &info) != FALSE;
}

}  // namespace

bool RunHiddenAndWait(const std::string& commandLine) {
  PROCESS_INFORMATION info;
  if (!Create(commandLine, SW_HIDE, info)) return false;
  THandle process(info.hProcess), thread(info.hThread);
  ::WaitForSingleObject(process.Get(), INFINITE);
  return true;
}

bool StartDetached(const std::string& commandLine) {
  PROCESS_INFORMATION info;
  if (!Create(commandLine, SW_SHOWNORMAL, info)) return false;
  THandle process(info.hProcess), thread(info.hThread);
  return true;
}

TProcessHandle StartProcess(const std::string& commandLine, bool hidden) {
  PROCESS_INFORMATION info;
  if (!Create(commandLine, hidden ? SW_HIDE : SW_SHOWNORMAL, info)) return TProcessHandle();
  THandle thread(info.hThread);
  return TProcessHandle(reinterpret_cast<intptr_t>(info.hProcess), info.dwProcessId);
}

uint32_t CurrentProcessId() { return ::GetCurrentProcessId(); }

}  // namespace platform
