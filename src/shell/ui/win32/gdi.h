// The GDI side of the window: an owner for GDI objects, and the fonts and window
// sizes of a given DPI.
#pragma once

#include <windows.h>

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

namespace win32ui {

// Owns a GDI object; move-only.
class TGdi {
 public:
  TGdi() = default;
  explicit TGdi(HGDIOBJ h) : h_(h) {}
  TGdi(TGdi&& o) noexcept : h_(o.h_) { o.h_ = nullptr; }
  TGdi& operator=(TGdi&& o) noexcept {
    if (this != &o) {
      Reset();
      h_ = o.h_;
      o.h_ = nullptr;
    }
    return *this;
  }
  TGdi(const TGdi&) = delete;
  TGdi& operator=(const TGdi&) = delete;
  ~TGdi() { Reset(); }
  void Reset() {
    if (h_) DeleteObject(h_);
    h_ = nullptr;
  }
  HGDIOBJ Get() const { return h_; }

 private:
  HGDIOBJ h_ = nullptr;
};

// The DPI a window is shown at: the window's own where the system tells it (the
// monitor's, for a per-monitor aware program), else the screen's.
int WindowDpi(HWND wnd);

// The outer size of a window whose client area is width x height at the DPI.
SIZE OuterSize(int width, int height, DWORD style, DWORD exStyle, int dpi);

// The window's font at a character height given in 96-DPI pixels. The outline
// form of MS Sans Serif, which follows any DPI where the bitmap face has a few
// sizes only.
TGdi MakeFont(int height96, int dpi, bool bold = false);

}  // namespace win32ui
