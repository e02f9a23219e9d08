#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdio>

#include "platform/console.h"

namespace platform {

namespace {
void (*gInterrupt)() = nullptr;
void OnSigint(int) {
  if (gInterrupt) gInterrupt();
}
}  // namespace

bool StdinIsTerminal() { return isatty(STDIN_FILENO) == 1; }
bool StdoutIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

void SetInterruptHandler(void (*handler)()) {
  gInterrupt = handler;
  struct sigaction sa {};
  sa.sa_handler = OnSigint;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no restart: a waiting read returns so the question can be asked
  sigaction(SIGINT, &sa, nullptr);
}

bool ReadConsoleLine(std::string& line, bool& interrupted) {
  line.clear();
  interrupted = false;
  for (;;) {
    char c;
    ssize_t n = read(STDIN_FILENO, &c, 1);
    if (n == 1) {
      if (c == '\n') {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return true;
      }
      line += c;
      continue;
    }
    if (n < 0 && errno == EINTR) {
      interrupted = true;
      return false;
    }
    return !line.empty();
  }
}

}  // namespace platform
