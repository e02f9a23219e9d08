#include <windows.h>

#include <io.h>
#include <cstdio>

#include "platform/console.h"

namespace platform {

namespace {
void (*gInterrupt)() = nullptr;
BOOL WINAPI OnCtrl(DWORD type) {
  if (type == CTRL_C_EVENT && gInterrupt) {
    gInterrupt();
    return TRUE;
  }
  return FALSE;
}
}  // namespace

bool StdinIsTerminal() { return _isatty(_fileno(stdin)) != 0; }
bool StdoutIsTerminal() { return _isatty(_fileno(stdout)) != 0; }

void SetInterruptHandler(void (*handler)()) {
  gInterrupt = handler;
  SetConsoleCtrlHandler(OnCtrl, TRUE);
}

bool ReadConsoleLine(std::string& line, bool& interrupted) {
  line.clear();
  interrupted = false;
  for (;;) {
    int c = std::fgetc(stdin);
    if (c == EOF) return !line.empty();
    if (c == '\n') {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return true;
    }
    line += static_cast<char>(c);
  }
}

}  // namespace platform
