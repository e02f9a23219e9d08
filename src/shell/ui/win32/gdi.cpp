#include "shell/ui/win32/gdi.h"

#include "shell/ui/win32/layout.h"

namespace win32ui {

namespace {

// Entry points of later systems than the program supports, taken when present.
template <typename Fn>
Fn User32Function(const char* name) {
  FARPROC f = GetProcAddress(GetModuleHandleA("user32.dll"), name);
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(f));
}

}  // namespace

int WindowDpi(HWND wnd) {
  using TGetDpiForWindow = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = User32Function<TGetDpiForWindow>("GetDpiForWindow");
  if (getDpiForWindow && wnd)
    if (UINT dpi = getDpiForWindow(wnd)) return static_cast<int>(dpi);
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

SIZE OuterSize(int width, int height, DWORD style, DWORD exStyle, int dpi) {
  using TAdjustForDpi = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
  static const auto adjustForDpi = User32Function<TAdjustForDpi>("AdjustWindowRectExForDpi");
  RECT r{0, 0, width, height};
  // The frame and caption at the window's DPI, which is not the system's on
  // another monitor.
  if (!adjustForDpi || !adjustForDpi(&r, style, FALSE, exStyle, static_cast<UINT>(dpi)))
    AdjustWindowRectEx(&r, style, FALSE, exStyle);
  return {r.right - r.left, r.bottom - r.top};
}

TGdi MakeFont(int height96, int dpi, bool bold) {
  // A negative height asks for the character height, as the design values give it.
  return TGdi(CreateFontA(-layout::Scale(height96, dpi), 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET,
                          0, 0, 0, 0, "Microsoft Sans Serif"));
}

}  // namespace win32ui
