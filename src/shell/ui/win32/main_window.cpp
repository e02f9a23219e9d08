// The main window: its views and controls made from the layout table, laid out and
// painted at the DPI of the monitor it is on.
#include <windows.h>
#include <commctrl.h>

#include "platform/system.h"
#include "shell/ui/win32/bitmap.h"
#include "shell/ui/win32/win32_backend.h"

namespace win32ui {

using layout::TRole;

void TWin32Backend::BuildMainWindow() {
  TFMain& f = *form_;
  // Made before its size is known: the DPI is the monitor's it lands on.
  main_ =
      CreateWindowExA(0, kMainClass, "", kMainStyle, 0, 0, 0, 0, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  SetTimer(main_, kTimerMonitor, f.TimerMonitorThread.Interval, nullptr);
  for (const layout::TView& view : layout::kViews) {
    // A control parent: Tab moves through the controls of the view on show.
    HWND wnd = CreateWindowExA(WS_EX_CONTROLPARENT, kViewClass, "", WS_CHILD | WS_CLIPCHILDREN, 0, 0, 0, 0, main_,
                               nullptr, GetModuleHandleA(nullptr), nullptr);
    TControl& panel = view.Panel(f);
    windows_[&panel] = wnd;
    byWindow_[wnd] = &panel;
    views_.push_back({wnd, view.Finish});
    // Children enumerate in creation order, which is the tab order.
    for (const layout::TPlace& place : view.Places) {
      TControl& control = place.Control(f);
      HWND c = MakeControl(place, wnd, view.Finish);
      windows_[&control] = c;
      byWindow_[c] = &control;
      placed_.push_back({c, &control, place.Role, place.Box});
    }
  }

  dpi_ = WindowDpi(main_);
  LayOut();
  const layout::TBox client = layout::Scale(layout::kClient, dpi_);
  const SIZE size = OuterSize(client.W, client.H, kMainStyle, 0, dpi_);
  SetWindowPos(main_, nullptr, (GetSystemMetrics(SM_CXSCREEN) - size.cx) / 2,
               (GetSystemMetrics(SM_CYSCREEN) - size.cy) / 2, size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
  for (auto& [control, wnd] : windows_) Apply(*control);
}

HWND TWin32Backend::MakeControl(const layout::TPlace& place, HWND view, bool finish) {
  const char* cls = "STATIC";
  DWORD style = WS_CHILD, exStyle = 0;
  switch (place.Role) {
    case TRole::Title:
    case TRole::Text:
    case TRole::Message: style |= SS_LEFT | SS_NOPREFIX; break;
    case TRole::Edit:
      cls = "EDIT";
      style |= ES_AUTOHSCROLL | WS_TABSTOP;
      exStyle = WS_EX_CLIENTEDGE;
      break;
    case TRole::Button: cls = "BUTTON", style |= BS_PUSHBUTTON | WS_TABSTOP; break;
    case TRole::DefaultButton: cls = "BUTTON", style |= BS_DEFPUSHBUTTON | WS_TABSTOP; break;
    case TRole::CheckBox: cls = "BUTTON", style |= BS_AUTOCHECKBOX | WS_TABSTOP; break;
    case TRole::Bar: cls = PROGRESS_CLASSA; break;
    case TRole::Picture: style |= SS_BITMAP; break;
  }
  HWND wnd = CreateWindowExA(exStyle, cls, "", style, 0, 0, 0, 0, view, nullptr, GetModuleHandleA(nullptr), nullptr);
  switch (place.Role) {
    case TRole::Title:
      titles_.insert(wnd);
      onWhite_.insert(wnd);
      break;
    case TRole::Message:
    case TRole::CheckBox: onWhite_.insert(wnd); break;
    case TRole::Picture:
      if (finish) onBand_.insert(wnd);
      if (auto* image = dynamic_cast<TImage*>(&place.Control(*form_)); image && !pictures_.count(image->Resource))
        if (auto bytes = platform::EmbeddedResource(image->Resource))
          if (auto pixels = DecodeBmp(*bytes)) pictures_[image->Resource] = std::move(*pixels);
      break;
    default: break;
  }
  return wnd;
}

void TWin32Backend::LayOut() {
  // The old font and pictures go once no control uses them.
  TGdi oldFont = std::move(font_);
  std::map<int, TGdi> oldTitleFonts;
  oldTitleFonts.swap(titleFonts_);
  std::map<HWND, TGdi> oldBitmaps;
  oldBitmaps.swap(bitmaps_);
  font_ = MakeFont(layout::kFontHeight, dpi_);

  const layout::TBox client = layout::Scale(layout::kClient, dpi_);
  for (const TViewWindow& v : views_) SetWindowPos(v.Wnd, nullptr, 0, 0, client.W, client.H, SWP_NOZORDER);
  for (const TPlaced& p : placed_) {
    const layout::TBox box = layout::Scale(p.Box, dpi_);
    if (auto* image = dynamic_cast<TImage*>(p.Control)) {
      auto it = pictures_.find(image->Resource);
      if (it != pictures_.end())
        if (HBITMAP bmp = MakeBitmap(it->second, box.W, box.H)) {
          bitmaps_[p.Wnd] = TGdi(bmp);
          SendMessageA(p.Wnd, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bmp));
        }
    } else if (p.Role != TRole::Title) {
      SendMessageA(p.Wnd, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), FALSE);
    }
    // After the picture: a bitmap control takes its picture's size.
    SetWindowPos(p.Wnd, nullptr, box.X, box.Y, box.W, box.H, SWP_NOZORDER | SWP_NOACTIVATE);
    if (auto* label = dynamic_cast<TLabel*>(p.Control); label && p.Role == TRole::Title)
      FitTitle(p.Wnd, label->Caption());
  }
  InvalidateRect(main_, nullptr, TRUE);
}

void TWin32Backend::FitTitle(HWND wnd, const std::string& text) {
  RECT rc;
  GetClientRect(wnd, &rc);
  HDC dc = GetDC(wnd);
  for (int height = layout::kTitleFontHeight; height >= layout::kTitleSmallestFontHeight; --height) {
    TGdi& font = titleFonts_[height];
    if (!font.Get()) font = MakeFont(height, dpi_, true);
    HGDIOBJ old = SelectObject(dc, font.Get());
    SIZE size{};
    GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, old);
    if (size.cx <= rc.right || height == layout::kTitleSmallestFontHeight) {
      SendMessageA(wnd, WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()), TRUE);
      break;
    }
  }
  ReleaseDC(wnd, dc);
}

LRESULT TWin32Backend::MainProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_APP_REFRESH: Refresh(); return 0;
    case WM_APP_SYNC: Sync.Drain(); return 0;
    case WM_TIMER:
      if (wp == kTimerMonitor) form_->TimerMonitorThread.Fire();
      return 0;
    case WM_CLOSE:
      form_->Close();  // the form's close request decides
      return 0;
    case WM_ERASEBKGND: return 1;
    case WM_DPICHANGED: {
      // Moved to a monitor of another DPI: the size the system suggests, and
      // everything inside laid out anew.
      dpi_ = HIWORD(wp);
      const RECT* at = reinterpret_cast<const RECT*>(lp);
      SetWindowPos(wnd, nullptr, at->left, at->top, at->right - at->left, at->bottom - at->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      LayOut();
      return 0;
    }
    case WM_COMMAND:
      // Only the dialog keys (IsDialogMessage in the loop) send commands here: Enter,
      // whatever control it names, and Escape's IDCANCEL, which is no key of ours.
      if (LOWORD(wp) != IDCANCEL) {
        if (HWND button = DefaultButton()) Press(button);
      }
      return 0;
    case WM_ACTIVATE:
      // As a dialog does: the focus leaves with the window and comes back to the
      // same control, not to the window itself.
      if (LOWORD(wp) == WA_INACTIVE) {
        HWND focus = GetFocus();
        savedFocus_ = focus && IsChild(main_, focus) ? focus : nullptr;
        return 0;
      }
      if (HIWORD(wp) || retry_.Wnd) return DefWindowProcA(wnd, msg, wp, lp);  // minimised, or the dialog has it
      if (savedFocus_ && IsWindowVisible(savedFocus_))
        SetFocus(savedFocus_);
      else
        FocusView();
      return 0;
    default: return DefWindowProcA(wnd, msg, wp, lp);
  }
}

void TWin32Backend::EraseView(HWND wnd, HDC dc) {
  RECT rc;
  GetClientRect(wnd, &rc);
  FillRect(dc, &rc, GetSysColorBrush(COLOR_BTNFACE));
  bool finish = false;
  for (const TViewWindow& v : views_)
    if (v.Wnd == wnd) finish = v.Finish;
  auto S = [this](int v) { return layout::Scale(v, dpi_); };
  if (finish) {
    RECT band{0, 0, S(layout::kFinishBand), rc.bottom};
    FillRect(dc, &band, static_cast<HBRUSH>(band_.Get()));
    RECT white{S(layout::kFinishBand), 0, rc.right, rc.bottom};
    FillRect(dc, &white, static_cast<HBRUSH>(white_.Get()));
    return;
  }
  RECT header{0, 0, rc.right, S(layout::kHeaderHeight)};
  FillRect(dc, &header, static_cast<HBRUSH>(white_.Get()));
  RECT line{0, S(layout::kHeaderHeight), rc.right, S(layout::kHeaderHeight) + 2};
  DrawEdge(dc, &line, EDGE_ETCHED, BF_TOP);
  RECT bottom{0, rc.bottom - S(layout::kBottomHeight), rc.right, rc.bottom};
  DrawEdge(dc, &bottom, EDGE_ETCHED, BF_TOP);
}

LRESULT TWin32Backend::ViewProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_ERASEBKGND: EraseView(wnd, reinterpret_cast<HDC>(wp)); return 1;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
      HWND child = reinterpret_cast<HWND>(lp);
      HDC dc = reinterpret_cast<HDC>(wp);
      if (onBand_.count(child)) {
        SetBkColor(dc, kBand);
        return reinterpret_cast<LRESULT>(band_.Get());
      }
      if (onWhite_.count(child)) {
        SetBkColor(dc, RGB(255, 255, 255));
        if (titles_.count(child)) SetTextColor(dc, kNavy);
        return reinterpret_cast<LRESULT>(white_.Get());
      }
      return DefWindowProcA(wnd, msg, wp, lp);
    }
    case WM_COMMAND: {
      HWND child = reinterpret_cast<HWND>(lp);
      TControl* c = ControlOf(child);
      if (!c || applying_) return 0;
      if (HIWORD(wp) == BN_CLICKED) {
        if (auto* box = dynamic_cast<TCheckBox*>(c)) {
          box->SetChecked(SendMessageA(child, BM_GETCHECK, 0, 0) == BST_CHECKED);
        } else {
          Press(child);
        }
      } else if (HIWORD(wp) == EN_CHANGE) {
        if (auto* e = dynamic_cast<TEdit*>(c)) {
          char buf[1024];
          GetWindowTextA(child, buf, sizeof buf);
          applying_ = true;
          e->SetText(buf);
          applying_ = false;
        }
      }
      return 0;
    }
    default: return DefWindowProcA(wnd, msg, wp, lp);
  }
}

}  // namespace win32ui
