// The real window: the control model rendered with Win32 windows and common
// controls, laid out from the design values (120 dots per inch for the main
// window, 96 for the retry dialog) scaled to the screen.
#include <windows.h>
#include <commctrl.h>
// The back end has a method of this name; the Win32 macro would rename it.
#undef MessageBox

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/shell.h"
#include "platform/system.h"
#include "shell/backend.h"
#include "shell/form_main.h"
#include "shell/retry_form.h"

namespace {

constexpr UINT WM_APP_REFRESH = WM_APP + 1;  // controls changed off the window's thread
constexpr UINT WM_APP_SYNC = WM_APP + 2;     // a synchronised call is waiting
constexpr UINT_PTR kTimerMonitor = 1;
constexpr UINT_PTR kTimerCheck = 2;
// The retry dialog's buttons: other than IDOK and IDCANCEL, which Enter and Escape
// send whatever has the focus.
constexpr int kRetryId = 1001;
constexpr int kRetryCancelId = 1002;
constexpr COLORREF kNavy = RGB(0, 0, 128);
constexpr COLORREF kBand = RGB(0, 29, 97);
constexpr int kHeaderHeight = 62;
constexpr int kBottomHeight = 50;
constexpr int kFinishBand = 150;

const char* const kMainClass = "ORBAXLiveUpdateMain";
const char* const kViewClass = "ORBAXLiveUpdateView";
const char* const kRetryClass = "ORBAXLiveUpdateRetry";

// Owns a GDI object.
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

// A bitmap from the bytes of an embedded BMP file.
HBITMAP BitmapFromBmp(const std::string& bytes) {
  if (bytes.size() < sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)) return nullptr;
  const auto* file = reinterpret_cast<const BITMAPFILEHEADER*>(bytes.data());
  const auto* info = reinterpret_cast<const BITMAPINFO*>(bytes.data() + sizeof(BITMAPFILEHEADER));
  if (file->bfType != 0x4D42 || file->bfOffBits >= bytes.size()) return nullptr;
  HDC screen = GetDC(nullptr);
  HBITMAP bmp =
      CreateDIBitmap(screen, &info->bmiHeader, CBM_INIT, bytes.data() + file->bfOffBits, info, DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  return bmp;
}

SIZE BitmapSize(HBITMAP bmp) {
  BITMAP b{};
  GetObject(bmp, sizeof b, &b);
  return {b.bmWidth, b.bmHeight};
}

struct TView {
  TPanel* Panel = nullptr;
  HWND Wnd = nullptr;
  bool Finish = false;  // the finish view paints its left band
  bool HasBottom = true;
};

class TWin32Backend;
TWin32Backend* gBackend = nullptr;

class TWin32Backend : public TBackend {
 public:
  TWin32Backend() { gBackend = this; }

  void Attach(TFMain& form) override;
  void SetWindowVisible(bool visible) override {
    ShowWindow(main_, visible ? SW_SHOW : SW_HIDE);
    if (visible) {
      UpdateWindow(main_);
      SetForegroundWindow(main_);
      FocusView();
    }
  }
  void SetWindowCaption(const std::string& caption) override { SetWindowTextA(main_, caption.c_str()); }
  void Run() override;
  void Quit() override {
    quit_ = true;
    if (main_) ShowWindow(main_, SW_HIDE);
    PostQuitMessage(0);
  }
  TModalResult MessageBox(const std::string& text, TMsgType type, TMsgButtons buttons) override {
    HWND owner = IsWindowVisible(main_) ? main_ : nullptr;
    UINT flags = static_cast<UINT>(type) | static_cast<UINT>(buttons) | (owner ? 0 : MB_TOPMOST);
    return static_cast<TModalResult>(
        ::MessageBoxA(owner, text.c_str(), form_ ? form_->ApplicationTitle().c_str() : "", flags));
  }
  std::string BrowseForFolder(const std::string& title) override {
    return platform::BrowseForFolder(reinterpret_cast<intptr_t>(main_), title);
  }
  int ShowRetryModal(TFRetry& dialog) override;

  // From any thread: coalesced into one posted message.
  void ControlChanged(TControl& control) override {
    bool post;
    {
      std::lock_guard lock(dirtyMutex_);
      dirty_.insert(&control);
      post = !refreshPosted_;
      refreshPosted_ = true;
    }
    if (post && main_) PostMessageA(main_, WM_APP_REFRESH, 0, 0);
  }

  LRESULT MainProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT ViewProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT RetryProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp);

 private:
  int S(int v) const { return MulDiv(v, dpi_, 120); }  // main window design units
  HWND Create(const char* cls, const char* text, DWORD style, HWND parent, int x, int y, int w, int h,
              TControl* control, DWORD exStyle = 0);
  void BuildMainWindow();
  void Refresh();
  void Apply(TControl& c);
  // The keyboard focus to the first control of the view on show that takes it
  // (the window itself when none does), never a hidden one.
  void FocusView();
  // The button Enter presses, whichever control has the focus: the default button
  // of the view on show (none on the progress view, none in the retry dialog).
  HWND DefaultButton() const;
  // Only the default button wears the default frame. The dialog keys hand the
  // frame to a push button that Tab reaches; here it goes back once focus moved.
  void KeepDefaultFrame();
  // A button pressed from the keyboard or the mouse, when it can be seen.
  void Press(HWND button);
  // A long title (some languages) gets a smaller font rather than being cut off.
  void FitTitle(HWND wnd, const std::string& text) {
    RECT rc;
    GetClientRect(wnd, &rc);
    HDC dc = GetDC(wnd);
    for (int px = 23; px >= 12; --px) {
      TGdi& font = titleFonts_[px];
      if (!font.Get())
        font = TGdi(CreateFontA(-S(px), 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "MS Sans Serif"));
      HGDIOBJ old = SelectObject(dc, font.Get());
      SIZE size{};
      GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
      SelectObject(dc, old);
      if (size.cx <= rc.right || px == 12) {
        SendMessageA(wnd, WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()), TRUE);
        break;
      }
    }
    ReleaseDC(wnd, dc);
  }
  TControl* ControlOf(HWND wnd) {
    auto it = byWindow_.find(wnd);
    return it == byWindow_.end() ? nullptr : it->second;
  }

  TFMain* form_ = nullptr;
  HWND main_ = nullptr;
  int dpi_ = 96;
  bool quit_ = false;
  bool applying_ = false;
  std::vector<TView> views_;
  std::map<TControl*, HWND> windows_;
  std::map<HWND, TControl*> byWindow_;
  std::set<HWND> titles_;   // navy title labels
  std::set<HWND> onWhite_;  // labels and check boxes drawn on white
  std::set<HWND> onBand_;   // pictures on the finish view's dark band
  std::mutex dirtyMutex_;
  std::set<TControl*> dirty_;
  bool refreshPosted_ = false;
  TGdi font_, titleFont_;
  std::map<int, TGdi> titleFonts_;
  TGdi white_, band_;
  std::vector<TGdi> bitmaps_;
  // The keyboard: the focus last seen, the control that had it when another
  // window became active, and whether a view came on show.
  HWND lastFocus_ = nullptr;
  HWND savedFocus_ = nullptr;
  bool viewShown_ = false;
  // The retry dialog while it is open.
  int retryResult_ = 0;
  HWND retry_ = nullptr;
  HWND retryButtons_[2] = {};
};

LRESULT CALLBACK MainWndProc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return gBackend->MainProc(w, m, wp, lp); }
LRESULT CALLBACK ViewWndProc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return gBackend->ViewProc(w, m, wp, lp); }
LRESULT CALLBACK RetryWndProc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return gBackend->RetryProc(w, m, wp, lp); }

void TWin32Backend::Attach(TFMain& form) {
  form_ = &form;
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&icc);
  HDC screen = GetDC(nullptr);
  dpi_ = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  // "MS Sans Serif" 14 pixels and the 23-pixel titles, at the design's 120 dpi.
  font_ = TGdi(CreateFontA(-S(14), 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "MS Sans Serif"));
  titleFont_ = TGdi(CreateFontA(-S(23), 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "MS Sans Serif"));
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

HWND TWin32Backend::Create(const char* cls, const char* text, DWORD style, HWND parent, int x, int y, int w, int h,
                           TControl* control, DWORD exStyle) {
  HWND wnd = CreateWindowExA(exStyle, cls, text, style | WS_CHILD, S(x), S(y), S(w), S(h), parent, nullptr,
                             GetModuleHandleA(nullptr), nullptr);
  SendMessageA(wnd, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), FALSE);
  if (control) {
    windows_[control] = wnd;
    byWindow_[wnd] = control;
  }
  return wnd;
}

void TWin32Backend::BuildMainWindow() {
  TFMain& f = *form_;
  // Fixed single border, system menu and minimise box only.
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
  RECT r{0, 0, S(554), S(338)};
  AdjustWindowRect(&r, style, FALSE);
  const int w = r.right - r.left, h = r.bottom - r.top;
  const int x = (GetSystemMetrics(SM_CXSCREEN) - w) / 2, y = (GetSystemMetrics(SM_CYSCREEN) - h) / 2;
  main_ = CreateWindowExA(0, kMainClass, "", style, x, y, w, h, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  SetTimer(main_, kTimerMonitor, f.TimerMonitorThread.Interval, nullptr);
  SetTimer(main_, kTimerCheck, f.TimerCheckDownload.Interval, nullptr);

  auto view = [&](TPanel& panel, bool finish, bool bottom) {
    // A control parent: Tab moves through the controls of the view on show.
    HWND wnd = CreateWindowExA(WS_EX_CONTROLPARENT, kViewClass, "", WS_CHILD | WS_CLIPCHILDREN, 0, 0, S(554), S(338),
                               main_, nullptr, GetModuleHandleA(nullptr), nullptr);
    windows_[&panel] = wnd;
    byWindow_[wnd] = &panel;
    views_.push_back({&panel, wnd, finish, bottom});
    return wnd;
  };
  auto image = [&](TImage& img, HWND parent, int right, int top, bool band) {
    HBITMAP bmp = nullptr;
    if (auto bytes = platform::EmbeddedResource(img.Resource)) bmp = BitmapFromBmp(*bytes);
    SIZE sz = bmp ? BitmapSize(bmp) : SIZE{0, 0};
    if (bmp && band && sz.cx != S(kFinishBand)) {
      // The band's picture takes the band's width at this screen's scale.
      const int h = MulDiv(sz.cy, S(kFinishBand), sz.cx);
      bmp = static_cast<HBITMAP>(CopyImage(bmp, IMAGE_BITMAP, S(kFinishBand), h, LR_COPYDELETEORG));
      sz = bmp ? BitmapSize(bmp) : SIZE{0, 0};
    }
    // Pictures keep their pixels; the header picture sits at the right edge.
    HWND wnd = CreateWindowExA(0, "STATIC", "", WS_CHILD | SS_BITMAP, right < 0 ? S(554) - sz.cx + right : right, top,
                               sz.cx, sz.cy, parent, nullptr, GetModuleHandleA(nullptr), nullptr);
    if (bmp) {
      bitmaps_.emplace_back(bmp);
      SendMessageA(wnd, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bmp));
    }
    windows_[&img] = wnd;
    byWindow_[wnd] = &img;
    if (band) onBand_.insert(wnd);
    return wnd;
  };
  auto title = [&](TLabel& label, HWND parent, int x) {
    // Up to the brand picture (136 pixels and a margin) on the header's right.
    const int width = x > 100 ? 554 - x - 16 : 554 - x - MulDiv(136 + 16, 120, dpi_);
    HWND wnd = Create("STATIC", "", SS_LEFT | SS_NOPREFIX, parent, x, 16, width, 34, &label);
    SendMessageA(wnd, WM_SETFONT, reinterpret_cast<WPARAM>(titleFont_.Get()), FALSE);
    titles_.insert(wnd);
    onWhite_.insert(wnd);
    return wnd;
  };
  const DWORD button = BS_PUSHBUTTON | WS_TABSTOP;
  const DWORD defButton = BS_DEFPUSHBUTTON | WS_TABSTOP;
  const int by = 338 - kBottomHeight + 11;  // buttons in the bottom band

  // Folder view.
  HWND v = view(f.PanelSelectFolder, false, true);
  title(f.SFLabelTop, v, 16);
  image(f.SFImageDRV, v, -S(8), S(11), false);
  image(f.SFImageLV, v, -S(8), S(11), false);
  Create("STATIC", "", SS_LEFT | SS_NOPREFIX, v, 24, 96, 500, 18, &f.SFLabelFolder);
  Create("EDIT", "", ES_AUTOHSCROLL | WS_TABSTOP, v, 24, 118, 400, 24, &f.EFolder, WS_EX_CLIENTEDGE);
  Create("BUTTON", "", button, v, 434, 117, 96, 27, &f.BChangeFolder);
  Create("BUTTON", "", defButton, v, 554 - 16 - 96, by, 96, 29, &f.BInstall);

  // Progress view.
  v = view(f.PanelSetup, false, true);
  title(f.LabelTop, v, 16);
  image(f.DRVImageTopRight, v, -S(8), S(11), false);
  image(f.LVImageTopRight, v, -S(8), S(11), false);
  Create("STATIC", "", SS_LEFT | SS_NOPREFIX, v, 24, 88, 500, 18, &f.LabelOverall);
  Create(PROGRESS_CLASSA, "", 0, v, 24, 110, 506, 20, &f.PBOverall);
  Create("STATIC", "", SS_LEFT | SS_NOPREFIX, v, 24, 156, 500, 18, &f.LabelPending);
  Create(PROGRESS_CLASSA, "", 0, v, 24, 178, 506, 20, &f.PBPending);

  // Finish view: the dark band with the picture, the white area with the outcome.
  v = view(f.PanelFinish, true, false);
  image(f.FDRVImageLeft, v, 0, 0, true);
  image(f.FLVImageLeft, v, 0, 0, true);
  title(f.FLabelTop, v, kFinishBand + 20);
  HWND msg = Create("STATIC", "", SS_LEFT | SS_NOPREFIX, v, kFinishBand + 20, 64, 554 - kFinishBand - 40, 170,
                    &f.FLabelMessage);
  onWhite_.insert(msg);
  HWND cb = Create("BUTTON", "", BS_AUTOCHECKBOX | WS_TABSTOP, v, kFinishBand + 20, 244, 360, 22, &f.CBCreateDesktop);
  onWhite_.insert(cb);
  cb = Create("BUTTON", "", BS_AUTOCHECKBOX | WS_TABSTOP, v, kFinishBand + 20, 244, 360, 22, &f.CBRestart);
  onWhite_.insert(cb);
  Create("BUTTON", "", defButton, v, 554 - 16 - 96, by, 96, 29, &f.FBOk);

  // Uninstall view.
  v = view(f.PanelUninstall, false, true);
  title(f.UninstallLabelTop, v, 16);
  image(f.PUDRVImage, v, -S(8), S(11), false);
  image(f.PULVImage, v, -S(8), S(11), false);
  Create("STATIC", "", SS_LEFT | SS_NOPREFIX, v, 24, 92, 506, 120, &f.LabelUninstall);
  Create("BUTTON", "", button, v, 554 - 16 - 96 - 10 - 96, by, 96, 29, &f.BUninstall);
  Create("BUTTON", "", defButton, v, 554 - 16 - 96, by, 96, 29, &f.BCancel);

  for (auto& [control, wnd] : windows_) Apply(*control);
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

void TWin32Backend::FocusView() {
  if (!IsWindowVisible(main_) || retry_) return;
  lastFocus_ = nullptr;  // the view's default button changes with the view
  for (const TView& v : views_) {
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
  if (retry_) return nullptr;
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
  if (retry_) {
    for (HWND b : retryButtons_) mark(b);
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

void TWin32Backend::Run() {
  if (quit_) return;
  MSG msg;
  while (!quit_ && GetMessageA(&msg, nullptr, 0, 0) > 0) {
    if (!IsDialogMessageA(main_, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    KeepDefaultFrame();
  }
}

LRESULT TWin32Backend::MainProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_APP_REFRESH: Refresh(); return 0;
    case WM_APP_SYNC: Sync.Drain(); return 0;
    case WM_TIMER:
      if (wp == kTimerMonitor) form_->TimerMonitorThread.Fire();
      if (wp == kTimerCheck) form_->TimerCheckDownload.Fire();
      return 0;
    case WM_CLOSE:
      form_->Close();  // the form's close request decides
      return 0;
    case WM_ERASEBKGND: return 1;
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
      if (HIWORD(wp) || retry_) return DefWindowProcA(wnd, msg, wp, lp);  // minimised, or the dialog has it
      if (savedFocus_ && IsWindowVisible(savedFocus_))
        SetFocus(savedFocus_);
      else
        FocusView();
      return 0;
    default: return DefWindowProcA(wnd, msg, wp, lp);
  }
}

LRESULT TWin32Backend::ViewProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_ERASEBKGND: {
      HDC dc = reinterpret_cast<HDC>(wp);
      RECT rc;
      GetClientRect(wnd, &rc);
      FillRect(dc, &rc, GetSysColorBrush(COLOR_BTNFACE));
      bool finish = false, bottom = true;
      for (const TView& v : views_)
        if (v.Wnd == wnd) finish = v.Finish, bottom = v.HasBottom;
      if (finish) {
        RECT band{0, 0, S(kFinishBand), rc.bottom};
        FillRect(dc, &band, static_cast<HBRUSH>(band_.Get()));
        RECT white{S(kFinishBand), 0, rc.right, rc.bottom - (bottom ? S(kBottomHeight) : 0)};
        FillRect(dc, &white, static_cast<HBRUSH>(white_.Get()));
      } else {
        RECT header{0, 0, rc.right, S(kHeaderHeight)};
        FillRect(dc, &header, static_cast<HBRUSH>(white_.Get()));
        RECT line{0, S(kHeaderHeight), rc.right, S(kHeaderHeight) + 2};
        DrawEdge(dc, &line, EDGE_ETCHED, BF_TOP);
      }
      if (bottom) {
        RECT line{0, rc.bottom - S(kBottomHeight), rc.right, rc.bottom};
        DrawEdge(dc, &line, EDGE_ETCHED, BF_TOP);
      }
      return 1;
    }
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

// The retry dialog, at 96 dots per inch.
LRESULT TWin32Backend::RetryProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_COMMAND:
      // Only the buttons answer, to a click or Space: Enter and Escape do nothing,
      // as the dialog has neither a default nor a cancel button.
      if (HIWORD(wp) == BN_CLICKED) {
        const int id = LOWORD(wp);
        if (id == kRetryId) retryResult_ = 1;
        if (id == kRetryCancelId) retryResult_ = 2;
      }
      return 0;
    case WM_CLOSE:
      retryResult_ = 2;  // the close box answers like Cancel
      return 0;
    default: return DefWindowProcA(wnd, msg, wp, lp);
  }
}

int TWin32Backend::ShowRetryModal(TFRetry& dialog) {
  auto D = [this](int v) { return MulDiv(v, dpi_, 96); };
  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
  TGdi font(CreateFontA(-D(11), 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "MS Sans Serif"));
  // A longer message (the French one takes three lines) makes the message panel
  // taller rather than being cut off; the list and the buttons move down.
  int extra = 0;
  if (HDC dc = GetDC(nullptr)) {
    HGDIOBJ old = SelectObject(dc, font.Get());
    RECT text{0, 0, D(452), 0};
    const std::string& message = dialog.LRetryMessage.Caption();
    DrawTextA(dc, message.c_str(), static_cast<int>(message.size()), &text, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    const int needed = MulDiv(text.bottom - text.top, 96, dpi_) + 1;
    if (needed > 29) extra = needed - 29;
  }
  RECT r{0, 0, D(456), D(279 + extra)};
  AdjustWindowRectEx(&r, style, FALSE, WS_EX_DLGMODALFRAME);
  const int w = r.right - r.left, h = r.bottom - r.top;
  RECT owner;
  GetWindowRect(main_, &owner);
  int x = (owner.left + owner.right - w) / 2, y = (owner.top + owner.bottom - h) / 2;
  if (!IsWindowVisible(main_)) {
    x = (GetSystemMetrics(SM_CXSCREEN) - w) / 2;
    y = (GetSystemMetrics(SM_CYSCREEN) - h) / 2;
  }
  retry_ = CreateWindowExA(WS_EX_DLGMODALFRAME, kRetryClass, dialog.Caption.c_str(), style, x, y, w, h, main_, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
  auto child = [&](const char* cls, const std::string& text, DWORD st, int cx, int cy, int cw, int ch, int id,
                   DWORD ex = 0) {
    HWND c = CreateWindowExA(ex, cls, text.c_str(), st | WS_CHILD | WS_VISIBLE, D(cx), D(cy), D(cw), D(ch), retry_,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleA(nullptr), nullptr);
    SendMessageA(c, WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()), FALSE);
    return c;
  };
  // Panel2 (33 high, border 2) with the message; the list; Panel1 (41 high) with
  // the buttons. Neither button is the default or the cancel button.
  child("STATIC", dialog.LRetryMessage.Caption(), SS_LEFT | SS_NOPREFIX, 2, 2, 452, 29 + extra, 0);
  HWND list = child("LISTBOX", "", WS_VSCROLL | LBS_NOINTEGRALHEIGHT | LBS_HASSTRINGS | WS_TABSTOP, 0, 33 + extra, 456,
                    205, 0, WS_EX_CLIENTEDGE);
  for (const std::string& line : dialog.LBRetry)
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
  retryButtons_[0] =
      child("BUTTON", dialog.BRetry.Caption(), BS_PUSHBUTTON | WS_TABSTOP, 280, 238 + extra + 8, 75, 25, kRetryId);
  retryButtons_[1] = child("BUTTON", dialog.BCancel.Caption(), BS_PUSHBUTTON | WS_TABSTOP, 368, 238 + extra + 8, 75, 25,
                           kRetryCancelId);

  retryResult_ = 0;
  EnableWindow(main_, FALSE);
  ShowWindow(retry_, SW_SHOW);
  SetForegroundWindow(retry_);
  SetFocus(retryButtons_[0]);
  MSG msg;
  while (retryResult_ == 0 && GetMessageA(&msg, nullptr, 0, 0) > 0) {
    if (!IsDialogMessageA(retry_, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    KeepDefaultFrame();
  }
  if (retryResult_ == 0) {  // WM_QUIT arrived: hand it on to the main loop
    PostQuitMessage(0);
    retryResult_ = 2;
  }
  EnableWindow(main_, TRUE);
  DestroyWindow(retry_);
  retry_ = nullptr;
  retryButtons_[0] = retryButtons_[1] = nullptr;
  FocusView();
  return retryResult_;
}

}  // namespace

std::unique_ptr<TBackend> CreateDefaultBackend() { return std::make_unique<TWin32Backend>(); }

void ReportStartupFailure(const std::string& title, const std::string& wording, const std::string& message) {
  const std::string text = wording + "\r\n\r\n" + message;
  // No window of ours to own it: on top, so it is not lost behind another program.
  ::MessageBoxA(nullptr, text.c_str(), title.c_str(), MB_OK | MB_ICONERROR | MB_TOPMOST | MB_SETFOREGROUND);
}
