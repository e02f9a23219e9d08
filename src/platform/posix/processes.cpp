// Processes. A process is held through a pidfd where the kernel has them, so a
// recycled process id never makes us kill or wait for a stranger. Command lines are
// Windows command lines: "CMD.EXE /C rest" runs rest in the POSIX shell, anything
// else is split as Windows programs split their command line; either way the host
// gets them in UTF-8, as it gets names.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <fstream>

#include "base/text.h"
#include "platform/posix/posix_internal.h"
#include "platform/processes.h"
#include "platform/system.h"

#ifndef SYS_pidfd_open
#define SYS_pidfd_open 434
#endif
#ifndef SYS_pidfd_send_signal
#define SYS_pidfd_send_signal 424
#endif

namespace platform {

using namespace posix;

namespace {

// raw_ of a handle: the pidfd + 1, or kByPid where the kernel has no pidfds.
constexpr intptr_t kByPid = -1;

int PidFd(const TProcessHandle& h) { return h.Raw() > 0 ? static_cast<int>(h.Raw() - 1) : -1; }

// The state letter of /proc/<pid>/stat ('Z' for a zombie), 0 when unknown.
char ProcState(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(in, line)) return 0;
  size_t close = line.rfind(')');
  if (close == std::string::npos || close + 2 >= line.size()) return 0;
  return line[close + 2];
}

// Collects our own child's exit status if it has ended; harmless for others.
void Reap(pid_t pid) {
  int status;
  while (waitpid(pid, &status, WNOHANG) < 0 && errno == EINTR) {
  }
}

bool Ended(pid_t pid) {
  int status;
  pid_t r = waitpid(pid, &status, WNOHANG);
  if (r == pid) return true;
  if (kill(pid, 0) != 0 && errno == ESRCH) return true;
  return ProcState(pid) == 'Z' && r < 0;  // someone else's zombie has ended
}

bool IsProgram(const std::string& host) {
  struct stat st;
  return stat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(host.c_str(), X_OK) == 0;
}

// Finds the program of a command line. A name with a folder is mapped like any
// path; a bare name is looked for in the current folder, then along PATH. The Linux
// port's programs have no ".exe": a name ending in it is also tried without.
std::string FindProgram(const std::string& name) {
  std::vector<std::string> names = {name};
  if (name.size() > 4 && text::EndsText(".EXE", name)) names.push_back(name.substr(0, name.size() - 4));
  bool hasFolder = name.find_first_of("\\/:") != std::string::npos;
  for (const auto& candidate : names) {
    if (hasFolder) {
      std::string host = MapPath(candidate);
      if (!host.empty() && IsProgram(host)) return host;
      continue;
    }
    std::string here = MapPath(candidate);
    if (!here.empty() && IsProgram(here)) return here;
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
      size_t end = dirs.find(':', start);
      if (end == std::string::npos) end = dirs.size();
      std::string dir = dirs.substr(start, end - start);
      if (!dir.empty() && IsProgram(dir + "/" + HostText(candidate))) return dir + "/" + HostText(candidate);
      start = end + 1;
    }
  }
  return std::string();
}

struct Command {
  std::string program;  // host path
  std::vector<std::string> args;
};

bool ParseCommand(const std::string& commandLine, Command& cmd) {
  std::string line = commandLine;
  size_t b = line.find_first_not_of(" \t");
  line = b == std::string::npos ? std::string() : line.substr(b);
  for (const char* interpreter : {"CMD.EXE /C", "COMMAND.COM /C"}) {
    std::string prefix = interpreter;
    if (text::StartsText(prefix, line) &&
        (line.size() == prefix.size() || line[prefix.size()] == ' ' || line[prefix.size()] == '\t')) {
      std::string rest = line.size() > prefix.size() ? line.substr(prefix.size() + 1) : std::string();
      cmd.program = "/bin/sh";
      cmd.args = {"sh", "-c", HostText(rest)};
      return true;
    }
  }
  std::vector<std::string> args = SplitCommandLine(line);
  if (args.empty() || args[0].empty()) return Fail(kErrorFileNotFound);
  cmd.program = FindProgram(args[0]);
  if (cmd.program.empty()) return Fail(kErrorFileNotFound);
  for (const auto& arg : args) cmd.args.push_back(HostText(arg));
  return true;
}

// The child's side of Spawn: only async-signal-safe calls. An exec failure's errno
// goes back through the pipe.
[[noreturn]] void RunChild(const char* program, char* const* argv, int nullFd, int report, bool detached) {
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  if (nullFd >= 0) {
    dup2(nullFd, 0);
    dup2(nullFd, 1);
    dup2(nullFd, 2);
  }
  if (detached) {
    setsid();
    pid_t grandchild = fork();
    if (grandchild < 0) {
      int err = errno;
      (void)!write(report, &err, sizeof err);
      _exit(127);
    }
    if (grandchild > 0) _exit(0);
  }
  execv(program, argv);
  int err = errno;
  (void)!write(report, &err, sizeof err);
  _exit(127);
}

// Waits for a child of ours to end and collects its status.
void WaitForChild(pid_t pid) {
  int status;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

// Starts the command and reports an exec failure through a close-on-exec pipe.
// detached: the program becomes a grandchild in its own session, so nobody has to
// collect its exit status. Returns the child's pid, or -1 with the last error set.
pid_t Spawn(const Command& cmd, bool hidden, bool detached) {
  std::vector<char*> argv;
  for (const auto& a : cmd.args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int nullFd = -1;
  // A hidden program has no console: it must neither read the user's input nor
  // draw over the text front end.
  if (hidden && (nullFd = OpenCloexec("/dev/null", O_RDWR)) < 0) return FailErrno(), -1;
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) {
    FailErrno();
    if (nullFd >= 0) close(nullFd);
    return -1;
  }
  const pid_t pid = fork();
  if (pid == 0) RunChild(cmd.program.c_str(), argv.data(), nullFd, pipeFds[1], detached);
  close(pipeFds[1]);
  if (nullFd >= 0) close(nullFd);
  if (pid < 0) {
    FailErrno();
    close(pipeFds[0]);
    return -1;
  }
  if (detached) WaitForChild(pid);
  int err = 0;
  ssize_t n;
  do {
    n = read(pipeFds[0], &err, sizeof err);
  } while (n < 0 && errno == EINTR);
  close(pipeFds[0]);
  if (n <= 0) return pid;
  if (!detached) WaitForChild(pid);
  SetError(err == ENOEXEC ? kErrorBadFormat : ErrnoToError(err, cmd.program));
  return -1;
}

TProcessHandle HandleFor(pid_t pid) {
  int fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (fd >= 0) {
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    return TProcessHandle(static_cast<intptr_t>(fd) + 1, static_cast<uint32_t>(pid));
  }
  if (errno == ENOSYS) return TProcessHandle(kByPid, static_cast<uint32_t>(pid));
  FailErrno();
  return TProcessHandle();
}

}  // namespace

TProcessHandle::TProcessHandle(TProcessHandle&& other) noexcept : raw_(other.raw_), pid_(other.pid_) {
  other.raw_ = 0;
  other.pid_ = 0;
}

TProcessHandle& TProcessHandle::operator=(TProcessHandle&& other) noexcept {
  if (this != &other) {
    this->~TProcessHandle();
    raw_ = other.raw_;
    pid_ = other.pid_;
    other.raw_ = 0;
    other.pid_ = 0;
  }
  return *this;
}

TProcessHandle::~TProcessHandle() {
  if (raw_ == 0) return;
  if (raw_ > 0) close(static_cast<int>(raw_ - 1));
  Reap(static_cast<pid_t>(pid_));
  raw_ = 0;
}

TProcessHandle OpenProcessForTerminate(uint32_t pid) {
  if (pid == 0 || pid > static_cast<uint32_t>(INT_MAX)) {
    Fail(kErrorInvalidParameter);
    return TProcessHandle();
  }
  pid_t p = static_cast<pid_t>(pid);
  if (kill(p, 0) != 0) {
    Fail(errno == EPERM ? kErrorAccessDenied : kErrorInvalidParameter);
    return TProcessHandle();
  }
  if (ProcState(p) == 'Z') {
    // It has ended already; only its exit status is left to collect.
    Reap(p);
    Fail(kErrorInvalidParameter);
    return TProcessHandle();
  }
  TProcessHandle h = HandleFor(p);
  if (!h.Valid() && LastError() == ErrnoToError(ESRCH)) SetError(kErrorInvalidParameter);
  return h;
}

bool TerminateProcessWith(TProcessHandle& process, uint32_t exitCode) {
  // SIGKILL cannot carry an exit code; the process ends as killed.
  if (!process.Valid()) return Fail(kErrorInvalidHandle);
  int fd = PidFd(process);
  int r = fd >= 0 ? static_cast<int>(syscall(SYS_pidfd_send_signal, fd, SIGKILL, nullptr, 0))
                  : kill(static_cast<pid_t>(process.Pid()), SIGKILL);
  if (r == 0) return true;
  if (errno == ESRCH) return true;  // ended meanwhile: what was wanted has happened
  return FailErrno();
}

TWaitResult WaitForProcess(TProcessHandle& process, uint32_t milliseconds) {
  if (!process.Valid()) {
    Fail(kErrorInvalidHandle);
    return TWaitResult::Failed;
  }
  pid_t pid = static_cast<pid_t>(process.Pid());
  const bool infinite = milliseconds == 0xFFFFFFFFu;
  uint32_t start = TickCount();
  int fd = PidFd(process);
  for (;;) {
    uint32_t elapsed = TickCount() - start;
    uint32_t left = infinite ? 1000u : (elapsed >= milliseconds ? 0u : milliseconds - elapsed);
    if (fd >= 0) {
      struct pollfd pfd = {fd, POLLIN, 0};
      int r = poll(&pfd, 1, static_cast<int>(std::min<uint32_t>(left, 1000u)));
      if (r > 0) {
        Reap(pid);
        return TWaitResult::Ended;
      }
      if (r < 0 && errno != EINTR) {
        FailErrno();
        return TWaitResult::Failed;
      }
    } else {
      if (Ended(pid)) return TWaitResult::Ended;
      if (left > 0) SleepMs(std::min<uint32_t>(left, 10u));
    }
    if (!infinite && TickCount() - start >= milliseconds) {
      if (fd < 0 && Ended(pid)) return TWaitResult::Ended;
      SetError(kErrorTimeout);
      return TWaitResult::TimedOut;
    }
  }
}

bool RunHiddenAndWait(const std::string& commandLine) {
  Command cmd;
  if (!ParseCommand(commandLine, cmd)) return false;
  pid_t pid = Spawn(cmd, true, false);
  if (pid < 0) return false;
  int status;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return true;
}

bool StartDetached(const std::string& commandLine) {
  Command cmd;
  if (!ParseCommand(commandLine, cmd)) return false;
  return Spawn(cmd, false, true) > 0;
}

TProcessHandle StartProcess(const std::string& commandLine, bool hidden) {
  Command cmd;
  if (!ParseCommand(commandLine, cmd)) return TProcessHandle();
  pid_t pid = Spawn(cmd, hidden, false);
  if (pid < 0) return TProcessHandle();
  TProcessHandle h = HandleFor(pid);
  if (!h.Valid()) {
    // Without a handle nobody could wait for it; do not leave it running unseen.
    kill(pid, SIGKILL);
    int status;
    waitpid(pid, &status, 0);
  }
  return h;
}

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

bool RequestRestart() {
  Command cmd;
  cmd.program = FindProgram("systemctl");
  if (cmd.program.empty()) return Fail(kErrorFileNotFound);
  cmd.args = {"systemctl", "reboot"};
  pid_t pid = Spawn(cmd, true, false);
  if (pid < 0) return false;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  return Fail(kErrorPrivilegeNotHeld);
}

}  // namespace platform
