// The keyboard, as in a dialog: the focus on the first control of the view on
// show, Enter for the view's default button, the default frame on that button only.
#include "shell/ui/win32/win32_backend.h"

namespace win32ui {

void TWin32Backend::FocusView() {
  if (!IsWindowVisible(main_) || retry_.Wnd) return;
  lastFocus_ = nullptr;  // the view's default button changes with the view
  for (const TViewWindow& v : views_) {
    if (!IsWindowVisible(v.Wnd)) continue;
    // Children enumerate in creation order, which is the tab order.
    for (HWND c = GetWindow(v.Wnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
      const LONG style = GetWindowLongA(c, GWL_STYLE);
      if ((style & WS_TABSTOP) && IsWindowVisible(c) && IsWindowEnabled(c)) {
        SetFocus(c);
        KeepDefaultFrame();
        return;
      }
    }
  }
  SetFocus(main_);
  KeepDefaultFrame();
}

HWND TWin32Backend::DefaultButton() const {
  if (retry_.Wnd) return nullptr;
  for (const auto& [control, wnd] : windows_) {
    auto* button = dynamic_cast<TButton*>(control);
    if (button && button->Default && IsWindowVisible(wnd) && IsWindowEnabled(wnd)) return wnd;
  }
  return nullptr;
}

void TWin32Backend::KeepDefaultFrame() {
  HWND focus = GetFocus();
  if (focus == lastFocus_) return;
  lastFocus_ = focus;
  const HWND target = DefaultButton();
  auto mark = [&](HWND button) {
    const LONG type = GetWindowLongA(button, GWL_STYLE) & BS_TYPEMASK;
    const LONG wanted = button == target ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
    if (type != wanted) SendMessageA(button, BM_SETSTYLE, static_cast<WPARAM>(wanted), TRUE);
  };
  if (retry_.Wnd) {
    for (HWND b : retry_.Buttons) mark(b);
    return;
  }
  for (const auto& [control, wnd] : windows_)
    if (dynamic_cast<TButton*>(control)) mark(wnd);
}

void TWin32Backend::Press(HWND button) {
  auto* b = dynamic_cast<TButton*>(ControlOf(button));
  // A hidden button may still hold the focus for a moment; it presses nothing.
  if (b && IsWindowVisible(button) && IsWindowEnabled(button)) b->Click();
}

}  // namespace win32ui
