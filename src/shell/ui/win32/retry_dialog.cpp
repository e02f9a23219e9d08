// The retry dialog: a modal window of its own over the main window, laid out at
// the DPI of the monitor it is on.
#include "shell/ui/win32/win32_backend.h"

namespace win32ui {

LRESULT TWin32Backend::RetryProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_COMMAND:
      // Only the buttons answer, to a click or Space: Enter and Escape do nothing,
      // as the retry dialog has neither a default nor a cancel button; the proxy's
      // question takes them as OK and Cancel.
      if (HIWORD(wp) == BN_CLICKED) {
        const int id = LOWORD(wp);
        if (id == kRetryId || (retry_.Proxy && id == IDOK)) retry_.Result = 1;
        if (id == kRetryCancelId || (retry_.Proxy && id == IDCANCEL)) retry_.Result = 2;
      }
      return 0;
    case WM_CLOSE:
      retry_.Result = 2;  // the close box answers like Cancel
      return 0;
    case WM_DPICHANGED:
      retry_.Dpi = HIWORD(wp);
      if (retry_.Proxy)
        LayOutProxy(reinterpret_cast<const RECT*>(lp));
      else
        LayOutRetry(reinterpret_cast<const RECT*>(lp));
      return 0;
    default: return DefWindowProcA(wnd, msg, wp, lp);
  }
}

void TWin32Backend::OpenDialog(const std::string& caption) {
  retry_.Wnd = CreateWindowExA(kRetryExStyle, kRetryClass, caption.c_str(), kRetryStyle, 0, 0, 0, 0, main_, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
  retry_.Dpi = WindowDpi(retry_.Wnd);
  retry_.Result = 0;
}

HWND TWin32Backend::DialogChild(const char* cls, const std::string& text, DWORD style, int id, DWORD exStyle) {
  return CreateWindowExA(exStyle, cls, text.c_str(), style | WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, retry_.Wnd,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleA(nullptr), nullptr);
}

int TWin32Backend::RunDialog(HWND focus) {
  EnableWindow(main_, FALSE);
  ShowWindow(retry_.Wnd, SW_SHOW);
  SetForegroundWindow(retry_.Wnd);
  SetFocus(focus);
  if (!Pump(retry_.Wnd, [this] { return retry_.Result != 0; })) {
    PostQuitMessage(0);  // WM_QUIT arrived: hand it on to the main loop
    retry_.Result = 2;
  }
  return retry_.Result;
}

void TWin32Backend::CloseDialog() {
  EnableWindow(main_, TRUE);
  DestroyWindow(retry_.Wnd);
  retry_ = TRetryWindow{};
  FocusView();
}

void TWin32Backend::PlaceInDialog(HWND control, layout::TBox box) {
  box = layout::Scale(box, retry_.Dpi);
  SetWindowPos(control, nullptr, box.X, box.Y, box.W, box.H, SWP_NOZORDER | SWP_NOACTIVATE);
  SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(retry_.Font.Get()), TRUE);
}

void TWin32Backend::SizeDialog(layout::TBox client, const RECT* at) {
  const int dpi = retry_.Dpi;
  client = layout::Scale(client, dpi);
  const SIZE size = OuterSize(client.W, client.H, kRetryStyle, kRetryExStyle, dpi);
  POINT to{(GetSystemMetrics(SM_CXSCREEN) - size.cx) / 2, (GetSystemMetrics(SM_CYSCREEN) - size.cy) / 2};
  if (at) {
    to = {at->left, at->top};
  } else if (IsWindowVisible(main_)) {
    RECT owner;
    GetWindowRect(main_, &owner);
    to = {(owner.left + owner.right - size.cx) / 2, (owner.top + owner.bottom - size.cy) / 2};
  }
  SetWindowPos(retry_.Wnd, nullptr, to.x, to.y, size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(retry_.Wnd, nullptr, TRUE);
}

int TWin32Backend::ShowRetryModal(TFRetry& dialog) {
  OpenDialog(dialog.Caption);
  auto child = [this](const char* cls, const std::string& text, DWORD style, int id, DWORD exStyle = 0) {
    return DialogChild(cls, text, style, id, exStyle);
  };
  // The message, the list, the buttons. Neither button is the default or the
  // cancel button.
  retry_.Text = dialog.LRetryMessage.Caption();
  retry_.Message = child("STATIC", retry_.Text, SS_LEFT | SS_NOPREFIX, 0);
  retry_.List =
      child("LISTBOX", "", WS_VSCROLL | LBS_NOINTEGRALHEIGHT | LBS_HASSTRINGS | WS_TABSTOP, 0, WS_EX_CLIENTEDGE);
  for (const std::string& line : dialog.LBRetry)
    SendMessageA(retry_.List, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
  retry_.Buttons[0] = child("BUTTON", dialog.BRetry.Caption(), BS_PUSHBUTTON | WS_TABSTOP, kRetryId);
  retry_.Buttons[1] = child("BUTTON", dialog.BCancel.Caption(), BS_PUSHBUTTON | WS_TABSTOP, kRetryCancelId);
  LayOutRetry(nullptr);
  const int result = RunDialog(retry_.Buttons[0]);
  CloseDialog();
  return result;
}

void TWin32Backend::LayOutRetry(const RECT* at) {
  const layout::TRetryLayout& design = layout::kRetry;
  const int dpi = retry_.Dpi;
  TGdi oldFont = std::move(retry_.Font);  // goes once the controls have the new one
  retry_.Font = MakeFont(design.FontHeight, dpi);

  // A longer message (the French one takes three lines) makes its band taller
  // rather than being cut off; the list and the buttons move down.
  int extra = 0;
  if (HDC dc = GetDC(retry_.Wnd)) {
    HGDIOBJ old = SelectObject(dc, retry_.Font.Get());
    RECT text{0, 0, layout::Scale(design.Message, dpi).W, 0};
    DrawTextA(dc, retry_.Text.c_str(), static_cast<int>(retry_.Text.size()), &text,
              DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(dc, old);
    ReleaseDC(retry_.Wnd, dc);
    const int needed = (text.bottom * 96 + dpi - 1) / dpi + 1;
    if (needed > design.Message.H) extra = needed - design.Message.H;
  }
  auto place = [this](HWND c, layout::TBox box) { PlaceInDialog(c, box); };
  auto below = [extra](layout::TBox box) {
    box.Y += extra;
    return box;
  };
  layout::TBox message = design.Message;
  message.H += extra;
  place(retry_.Message, message);
  place(retry_.List, below(design.List));
  place(retry_.Buttons[0], below(design.Retry));
  place(retry_.Buttons[1], below(design.Cancel));

  layout::TBox client = design.Client;
  client.H += extra;
  SizeDialog(client, at);
}

}  // namespace win32ui
