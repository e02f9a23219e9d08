// What the end-to-end tests ask Windows itself, under Wine: the windows of a running
// program (driven with the mouse through xdotool under a virtual display), and
// short path names.
//   lu-win32 find CLASS TEXT    prints the screen centre "x y" of a visible control
//                               with the text TEXT in a visible top-level window of
//                               the class CLASS; exits with 1 when there is none
//   lu-win32 texts CLASS        prints the texts of the visible controls of that
//                               window, one per line, list box items indented
//   lu-win32 focus CLASS        prints the text of the control of that window that
//                               has the keyboard focus; exits with 1 when none has
//                               it, with 3 when the one that has it is hidden
//   lu-win32 short PATH         prints GetShortPathNameA's answer for PATH
//   lu-win32 swap NAME SOURCE REPORT
//                               an attacker of the same user: writes REPORT.ready,
//                               then watches TEMP for a run folder (ORBAXLU-*)
//                               holding NAME and a folder (its package checked,
//                               the unpack begun), then tries to move SOURCE over
//                               NAME and to write SOURCE's bytes into NAME in
//                               place; writes "found", "move CODE", "write CODE"
//                               (0 for success) to REPORT; gives up after 120 s
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// GetWindowText does not ask another process's edit controls for their text;
// the message does.
std::string TextOf(HWND wnd) {
  char buffer[4096] = {};
  DWORD_PTR n = 0;
  if (!SendMessageTimeoutA(wnd, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 5000,
                           &n))
    return "";
  return std::string(buffer, n < sizeof buffer ? static_cast<size_t>(n) : 0);
}

std::string ClassOf(HWND wnd) {
  char buffer[256];
  int n = GetClassNameA(wnd, buffer, sizeof buffer);
  return std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0);
}

BOOL CALLBACK CollectWindow(HWND wnd, LPARAM param) {
  reinterpret_cast<std::vector<HWND>*>(param)->push_back(wnd);
  return TRUE;
}

// A control counts as visible only when it and every parent are.
std::vector<HWND> VisibleControls(HWND top) {
  std::vector<HWND> all;
  EnumChildWindows(top, CollectWindow, reinterpret_cast<LPARAM>(&all));
  std::vector<HWND> visible;
  for (HWND wnd : all)
    if (IsWindowVisible(wnd)) visible.push_back(wnd);
  return visible;
}

HWND TopWindow(const std::string& cls) {
  HWND wnd = nullptr;
  while ((wnd = FindWindowExA(nullptr, wnd, cls.c_str(), nullptr)) != nullptr)
    if (IsWindowVisible(wnd)) return wnd;
  return nullptr;
}

// A run folder below TEMP with name in it and a folder beside it; "" when none.
std::string CheckedRunFolder(const std::string& temp, const std::string& name) {
  WIN32_FIND_DATAA run;
  HANDLE runs = FindFirstFileA((temp + "ORBAXLU-*").c_str(), &run);
  if (runs == INVALID_HANDLE_VALUE) return "";
  std::string found;
  do {
    const std::string folder = temp + run.cFileName;
    if (!(run.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        GetFileAttributesA((folder + "\\" + name).c_str()) == INVALID_FILE_ATTRIBUTES)
      continue;
    WIN32_FIND_DATAA entry;
    HANDLE entries = FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (entries == INVALID_HANDLE_VALUE) continue;
    do {
      const std::string n = entry.cFileName;
      if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && n != "." && n != "..") found = folder;
    } while (found.empty() && FindNextFileA(entries, &entry));
    FindClose(entries);
  } while (found.empty() && FindNextFileA(runs, &run));
  FindClose(runs);
  return found;
}

int Swap(const std::string& name, const std::string& source, const std::string& report) {
  if (FILE* ready = std::fopen((report + ".ready").c_str(), "w")) std::fclose(ready);
  char temp[MAX_PATH + 1] = {};
  GetTempPathA(sizeof temp, temp);
  std::string folder;
  for (DWORD start = GetTickCount(); folder.empty() && GetTickCount() - start < 120000; Sleep(1))
    folder = CheckedRunFolder(temp, name);
  if (folder.empty()) return 1;
  const std::string target = folder + "\\" + name;
  std::string bytes;
  if (FILE* f = std::fopen(source.c_str(), "rb")) {
    char block[4096];
    for (size_t n; (n = std::fread(block, 1, sizeof block, f)) > 0;) bytes.append(block, n);
    std::fclose(f);
  }
  const DWORD moved = MoveFileExA(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : GetLastError();
  DWORD written = 0;
  HANDLE h = CreateFileA(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    written = GetLastError();
  } else {
    DWORD done = 0;
    if (!WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr)) written = GetLastError();
    CloseHandle(h);
  }
  FILE* out = std::fopen(report.c_str(), "w");
  if (!out) return 1;
  std::fprintf(out, "found\nmove %lu\nwrite %lu\n", moved, written);
  std::fclose(out);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "swap") return Swap(argv[2], argv[3], argv[4]);
  std::string mode = argc > 2 ? argv[1] : "";
  HWND top = argc > 2 ? TopWindow(argv[2]) : nullptr;
  if (mode == "find" && argc > 3) {
    if (!top) return 1;
    for (HWND wnd : VisibleControls(top)) {
      if (TextOf(wnd) != argv[3]) continue;
      RECT r;
      GetWindowRect(wnd, &r);
      std::printf("%ld %ld\n", (r.left + r.right) / 2, (r.top + r.bottom) / 2);
      return 0;
    }
    return 1;
  }
  if (mode == "texts") {
    if (!top) return 1;
    std::printf("%s\n", TextOf(top).c_str());
    for (HWND wnd : VisibleControls(top)) {
      std::printf("%s\n", TextOf(wnd).c_str());
      if (ClassOf(wnd) == "ListBox") {
        LRESULT count = SendMessageA(wnd, LB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
          // Asked in UTF-16: Wine hands another process's list items over in that form.
          wchar_t item[1024] = {};
          char narrow[2048] = {};
          if (SendMessageW(wnd, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0) < 1024)
            SendMessageW(wnd, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(item));
          WideCharToMultiByte(CP_ACP, 0, item, -1, narrow, sizeof narrow, nullptr, nullptr);
          std::printf("  %s\n", narrow);
        }
      }
    }
    return 0;
  }
  if (mode == "focus") {
    if (!top) return 1;
    // The focus belongs to the window's thread; another process asks that thread.
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(top, nullptr), &info) || !info.hwndFocus) return 1;
    std::printf("%s\n", TextOf(info.hwndFocus).c_str());
    return IsWindowVisible(info.hwndFocus) ? 0 : 3;
  }
  if (mode == "short") {
    char buffer[MAX_PATH + 1] = {};
    DWORD n = GetShortPathNameA(argv[2], buffer, sizeof buffer);
    if (n == 0 || n >= sizeof buffer) return 1;
    std::printf("%s\n", buffer);
    return 0;
  }
  std::fprintf(stderr,
               "usage: lu-win32 find CLASS TEXT | texts CLASS | focus CLASS | short PATH | swap NAME SOURCE REPORT\n");
  return 2;
}
