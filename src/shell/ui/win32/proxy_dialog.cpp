// The proxy's question for a user name and password: a modal window over the
// main window, of the retry dialog's class, laid out at the DPI of its monitor.
#include "shell/ui/win32/win32_backend.h"

namespace win32ui {

namespace {

// In 96-DPI pixels.
constexpr layout::TBox kClient{0, 0, 360, 150};
constexpr layout::TBox kMessage{12, 10, 336, 30};
constexpr layout::TBox kUserLabel{12, 48, 110, 20};
constexpr layout::TBox kUserEdit{126, 46, 222, 22};
constexpr layout::TBox kPasswordLabel{12, 78, 110, 20};
constexpr layout::TBox kPasswordEdit{126, 76, 222, 22};
constexpr layout::TBox kOk{186, 114, 75, 25};
constexpr layout::TBox kCancel{273, 114, 75, 25};

}  // namespace

int TWin32Backend::ShowProxyLoginModal(TFProxyLogin& dialog) {
  retry_.Proxy = true;
  retry_.Wnd = CreateWindowExA(kRetryExStyle, kRetryClass, dialog.Caption.c_str(), kRetryStyle, 0, 0, 0, 0, main_,
                               nullptr, GetModuleHandleA(nullptr), nullptr);
  auto child = [&](const char* cls, const std::string& text, DWORD style, int id, DWORD exStyle = 0) {
    return CreateWindowExA(exStyle, cls, text.c_str(), style | WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, retry_.Wnd,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleA(nullptr), nullptr);
  };
  retry_.Text = dialog.LMessage.Caption();
  retry_.Message = child("STATIC", retry_.Text, SS_LEFT | SS_NOPREFIX, 0);
  retry_.Labels[0] = child("STATIC", dialog.LUser.Caption(), SS_LEFT | SS_NOPREFIX, 0);
  retry_.Edits[0] = child("EDIT", "", ES_AUTOHSCROLL | WS_TABSTOP, 0, WS_EX_CLIENTEDGE);
  retry_.Labels[1] = child("STATIC", dialog.LPassword.Caption(), SS_LEFT | SS_NOPREFIX, 0);
  retry_.Edits[1] = child("EDIT", "", ES_AUTOHSCROLL | ES_PASSWORD | WS_TABSTOP, 0, WS_EX_CLIENTEDGE);
  retry_.Buttons[0] = child("BUTTON", dialog.BOk.Caption(), BS_DEFPUSHBUTTON | WS_TABSTOP, kRetryId);
  retry_.Buttons[1] = child("BUTTON", dialog.BCancel.Caption(), BS_PUSHBUTTON | WS_TABSTOP, kRetryCancelId);
  retry_.Dpi = WindowDpi(retry_.Wnd);
  retry_.Result = 0;
  LayOutProxy(nullptr);

  EnableWindow(main_, FALSE);
  ShowWindow(retry_.Wnd, SW_SHOW);
  SetForegroundWindow(retry_.Wnd);
  SetFocus(retry_.Edits[0]);
  if (!Pump(retry_.Wnd, [this] { return retry_.Result != 0; })) {
    PostQuitMessage(0);  // WM_QUIT arrived: hand it on to the main loop
    retry_.Result = 2;
  }
  const int result = retry_.Result;
  if (result == 1) {
    auto text = [](HWND edit) {
      std::string value(static_cast<size_t>(GetWindowTextLengthA(edit)) + 1, '\0');
      value.resize(static_cast<size_t>(GetWindowTextA(edit, value.data(), static_cast<int>(value.size()))));
      return value;
    };
    dialog.EUser.SetText(text(retry_.Edits[0]));
    std::string password = text(retry_.Edits[1]);
    dialog.EPassword.SetText(password);
    password.assign(password.size(), '\0');
  }
  SetWindowTextA(retry_.Edits[1], "");
  EnableWindow(main_, TRUE);
  DestroyWindow(retry_.Wnd);
  retry_ = TRetryWindow{};
  FocusView();
  return result;
}

void TWin32Backend::LayOutProxy(const RECT* at) {
  const int dpi = retry_.Dpi;
  TGdi oldFont = std::move(retry_.Font);  // goes once the controls have the new one
  retry_.Font = MakeFont(layout::kRetry.FontHeight, dpi);
  auto place = [&](HWND c, layout::TBox box) {
    box = layout::Scale(box, dpi);
    SetWindowPos(c, nullptr, box.X, box.Y, box.W, box.H, SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageA(c, WM_SETFONT, reinterpret_cast<WPARAM>(retry_.Font.Get()), TRUE);
  };
  place(retry_.Message, kMessage);
  place(retry_.Labels[0], kUserLabel);
  place(retry_.Edits[0], kUserEdit);
  place(retry_.Labels[1], kPasswordLabel);
  place(retry_.Edits[1], kPasswordEdit);
  place(retry_.Buttons[0], kOk);
  place(retry_.Buttons[1], kCancel);

  const layout::TBox client = layout::Scale(kClient, dpi);
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

}  // namespace win32ui
