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

}  // namespace

int main(int argc, char** argv) {
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
  std::fprintf(stderr, "usage: lu-win32 find CLASS TEXT | texts CLASS | focus CLASS | short PATH\n");
  return 2;
}
