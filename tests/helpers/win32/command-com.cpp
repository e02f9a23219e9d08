// The older Windows family's command interpreter for tests under Wine, which has
// none: it appends its command line to the file that LU_COMMAND_LOG names, then
// runs what follows "/C" with CMD.EXE and returns its exit status.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main() {
  std::string line = GetCommandLineA();
  if (const char* log = std::getenv("LU_COMMAND_LOG")) {
    if (FILE* f = std::fopen(log, "ab")) {
      std::fprintf(f, "%s\r\n", line.c_str());
      std::fclose(f);
    }
  }
  size_t at = line.find("/C ");
  if (at == std::string::npos) at = line.find("/c ");
  if (at == std::string::npos) return 0;
  std::string command = "CMD.EXE /C " + line.substr(at + 3);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 9009;
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD status = 1;
  GetExitCodeProcess(pi.hProcess, &status);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return static_cast<int>(status);
}
