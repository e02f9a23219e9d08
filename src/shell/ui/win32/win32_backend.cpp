#include "shell/ui/win32/win32_backend.h"

#include <windows.h>
#include <commctrl.h>

#include "platform/shell.h"

namespace win32ui {

const char* const kMainClass = "ORBAXLiveUpdateMain";
const char* const kViewClass = "ORBAXLiveUpdateView";
const char* const kRetryClass = "ORBAXLiveUpdateRetry";

namespace {

// One window per program: the procedures find it here.
TWin32Backend* gBackend = nullptr;

LRESULT CALLBACK MainWndProc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return gBackend->MainProc(w, m, wp, lp); }
LRESULT CALLBACK ViewWndProc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return gBackend->ViewProc(w, m, wp, lp); }
LRESULT CALLBACK RetryWndProc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return gBackend->RetryProc(w, m, wp, lp); }

}  // namespace

TWin32Backend::TWin32Backend() { gBackend = this; }

void TWin32Backend::Attach(TFMain& form) {
  form_ = &form;
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&icc);
  white_ = TGdi(CreateSolidBrush(RGB(255, 255, 255)));
  band_ = TGdi(CreateSolidBrush(kBand));

  WNDCLASSA wc{};
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hIcon = LoadIcon(nullptr, IDI_APPLICATION);
  wc.lpfnWndProc = MainWndProc;
  wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  wc.lpszClassName = kMainClass;
  RegisterClassA(&wc);
  wc.lpfnWndProc = ViewWndProc;
  wc.hIcon = nullptr;
  wc.lpszClassName = kViewClass;
  RegisterClassA(&wc);
  wc.lpfnWndProc = RetryWndProc;
  wc.lpszClassName = kRetryClass;
  RegisterClassA(&wc);

  Sync.OnQueued = [this] {
    if (main_) PostMessageA(main_, WM_APP_SYNC, 0, 0);
  };
  BuildMainWindow();
}

void TWin32Backend::SetWindowVisible(bool visible) {
  ShowWindow(main_, visible ? SW_SHOW : SW_HIDE);
  if (visible) {
    UpdateWindow(main_);
    SetForegroundWindow(main_);
    FocusView();
  }
}

void TWin32Backend::SetWindowCaption(const std::string& caption) { SetWindowTextA(main_, caption.c_str()); }

void TWin32Backend::Run() {
  if (!quit_) Pump(main_, [this] { return quit_; });
  // The loop is over: its quit message would end at once a box shown after it.
  MSG msg;
  PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
}

void TWin32Backend::Quit() {
  quit_ = true;
  if (main_) ShowWindow(main_, SW_HIDE);
  PostQuitMessage(0);
}

namespace {

// A box that time closes: the thread's timer, dispatched by the box's own loop,
// presses its OK.
BOOL CALLBACK PressOk(HWND wnd, LPARAM) {
  char cls[16] = "";
  if (GetClassNameA(wnd, cls, sizeof cls) && lstrcmpA(cls, "#32770") == 0) PostMessageA(wnd, WM_COMMAND, IDOK, 0);
  return TRUE;
}

void CALLBACK BoxTimeUp(HWND, UINT, UINT_PTR, DWORD) { EnumThreadWindows(GetCurrentThreadId(), PressOk, 0); }

void TimedMessageBox(const std::string& text, const std::string& title, UINT flags, uint32_t closeAfterMs) {
  const UINT_PTR timer = closeAfterMs ? SetTimer(nullptr, 0, closeAfterMs, BoxTimeUp) : 0;
  ::MessageBoxA(nullptr, text.c_str(), title.c_str(), flags);
  if (timer) KillTimer(nullptr, timer);
}

}  // namespace

void TWin32Backend::Notice(const std::string& text, uint32_t closeAfterMs) {
  // No window of ours is on show: on top, so it is not lost behind another program.
  TimedMessageBox(text, form_ ? form_->ApplicationTitle() : "", MB_OK | MB_ICONWARNING | MB_TOPMOST | MB_SETFOREGROUND,
                  closeAfterMs);
}

TModalResult TWin32Backend::MessageBox(const std::string& text, TMsgType type, TMsgButtons buttons) {
  HWND owner = IsWindowVisible(main_) ? main_ : nullptr;
  UINT flags = static_cast<UINT>(type) | static_cast<UINT>(buttons) | (owner ? 0 : MB_TOPMOST);
  return static_cast<TModalResult>(
      ::MessageBoxA(owner, text.c_str(), form_ ? form_->ApplicationTitle().c_str() : "", flags));
}

std::string TWin32Backend::BrowseForFolder(const std::string& title) {
  return platform::BrowseForFolder(reinterpret_cast<intptr_t>(main_), title);
}

void TWin32Backend::ControlChanged(TControl& control) {
  bool post;
  {
    std::lock_guard lock(dirtyMutex_);
    dirty_.insert(&control);
    post = !refreshPosted_;
    refreshPosted_ = true;
  }
  if (post && main_) PostMessageA(main_, WM_APP_REFRESH, 0, 0);
}

bool TWin32Backend::Pump(HWND dialog, const std::function<bool()>& done) {
  MSG msg;
  while (!done()) {
    if (GetMessageA(&msg, nullptr, 0, 0) <= 0) return false;
    if (!IsDialogMessageA(dialog, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    KeepDefaultFrame();
  }
  return true;
}

void TWin32Backend::Refresh() {
  std::set<TControl*> dirty;
  {
    std::lock_guard lock(dirtyMutex_);
    dirty.swap(dirty_);
    refreshPosted_ = false;
  }
  for (TControl* c : dirty) Apply(*c);
  // After the whole batch: a view and the controls shown with it arrive in any order.
  HWND focus = GetFocus();
  if (viewShown_ || (focus && !IsWindowVisible(focus) && IsWindowVisible(main_))) FocusView();
  viewShown_ = false;
}

void TWin32Backend::Apply(TControl& c) {
  auto it = windows_.find(&c);
  if (it == windows_.end()) return;
  HWND wnd = it->second;
  applying_ = true;
  if (auto* bar = dynamic_cast<TProgressBar*>(&c)) {
    SendMessageA(wnd, PBM_SETRANGE32, 0, bar->Max());
    SendMessageA(wnd, PBM_SETPOS, static_cast<WPARAM>(bar->Position()), 0);
  } else if (auto* edit = dynamic_cast<TEdit*>(&c)) {
    char buf[1024];
    GetWindowTextA(wnd, buf, sizeof buf);
    if (edit->Text() != buf) SetWindowTextA(wnd, edit->Text().c_str());
  } else if (auto* label = dynamic_cast<TLabel*>(&c)) {
    char buf[4096];
    GetWindowTextA(wnd, buf, sizeof buf);
    if (label->Caption() != buf) {
      SetWindowTextA(wnd, label->Caption().c_str());
      if (titles_.count(wnd)) FitTitle(wnd, label->Caption());
      // Transparent labels on a painted background need their area repainted.
      RECT rc;
      GetWindowRect(wnd, &rc);
      MapWindowPoints(nullptr, GetParent(wnd), reinterpret_cast<POINT*>(&rc), 2);
      InvalidateRect(GetParent(wnd), &rc, TRUE);
    }
    if (auto* box = dynamic_cast<TCheckBox*>(&c))
      SendMessageA(wnd, BM_SETCHECK, box->Checked() ? BST_CHECKED : BST_UNCHECKED, 0);
  }
  const bool visible = c.Visible();
  const bool shown = (GetWindowLongA(wnd, GWL_STYLE) & WS_VISIBLE) != 0;
  if (shown != visible) {
    ShowWindow(wnd, visible ? SW_SHOWNA : SW_HIDE);
    if (visible && dynamic_cast<TPanel*>(&c)) viewShown_ = true;
  }
  applying_ = false;
}

TControl* TWin32Backend::ControlOf(HWND wnd) const {
  auto it = byWindow_.find(wnd);
  return it == byWindow_.end() ? nullptr : it->second;
}

}  // namespace win32ui

std::unique_ptr<TBackend> CreateDefaultBackend() { return std::make_unique<win32ui::TWin32Backend>(); }

void ReportStartupFailure(const std::string& title, const std::string& wording, const std::string& message,
                          uint32_t closeAfterMs) {
  // No window of ours to own it: on top, so it is not lost behind another program.
  win32ui::TimedMessageBox(wording + "\r\n\r\n" + message, title, MB_OK | MB_ICONERROR | MB_TOPMOST | MB_SETFOREGROUND,
                           closeAfterMs);
}
