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
  OpenDialog(dialog.Caption);
  retry_.Proxy = true;
  retry_.Text = dialog.LMessage.Caption();
  retry_.Message = DialogChild("STATIC", retry_.Text, SS_LEFT | SS_NOPREFIX, 0);
  retry_.Labels[0] = DialogChild("STATIC", dialog.LUser.Caption(), SS_LEFT | SS_NOPREFIX, 0);
  retry_.Edits[0] = DialogChild("EDIT", "", ES_AUTOHSCROLL | WS_TABSTOP, 0, WS_EX_CLIENTEDGE);
  retry_.Labels[1] = DialogChild("STATIC", dialog.LPassword.Caption(), SS_LEFT | SS_NOPREFIX, 0);
  retry_.Edits[1] = DialogChild("EDIT", "", ES_AUTOHSCROLL | ES_PASSWORD | WS_TABSTOP, 0, WS_EX_CLIENTEDGE);
  retry_.Buttons[0] = DialogChild("BUTTON", dialog.BOk.Caption(), BS_DEFPUSHBUTTON | WS_TABSTOP, kRetryId);
  retry_.Buttons[1] = DialogChild("BUTTON", dialog.BCancel.Caption(), BS_PUSHBUTTON | WS_TABSTOP, kRetryCancelId);
  LayOutProxy(nullptr);
  const int result = RunDialog(retry_.Edits[0]);
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
  CloseDialog();
  return result;
}

void TWin32Backend::LayOutProxy(const RECT* at) {
  TGdi oldFont = std::move(retry_.Font);  // goes once the controls have the new one
  retry_.Font = MakeFont(layout::kRetry.FontHeight, retry_.Dpi);
  PlaceInDialog(retry_.Message, kMessage);
  PlaceInDialog(retry_.Labels[0], kUserLabel);
  PlaceInDialog(retry_.Edits[0], kUserEdit);
  PlaceInDialog(retry_.Labels[1], kPasswordLabel);
  PlaceInDialog(retry_.Edits[1], kPasswordEdit);
  PlaceInDialog(retry_.Buttons[0], kOk);
  PlaceInDialog(retry_.Buttons[1], kCancel);
  SizeDialog(kClient, at);
}

}  // namespace win32ui
