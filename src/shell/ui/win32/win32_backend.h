// The real window: the control model rendered with Win32 windows and common
// controls, placed by the layout table at the DPI of the monitor it is on.
// main_window.cpp builds and paints the window, focus.cpp holds the keyboard's
// rules, retry_dialog.cpp the modal retry question, proxy_dialog.cpp the proxy's
// question for credentials, win32_backend.cpp the rest.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "shell/backend.h"
#include "shell/form_main.h"
#include "shell/retry_form.h"
#include "shell/ui/win32/gdi.h"
#include "shell/ui/win32/layout.h"
#include "shell/ui/win32/resample.h"

namespace win32ui {

constexpr UINT WM_APP_REFRESH = WM_APP + 1;  // controls changed off the window's thread
constexpr UINT WM_APP_SYNC = WM_APP + 2;     // a synchronised call is waiting
constexpr UINT_PTR kTimerMonitor = 1;
// The retry dialog's buttons: other than IDOK and IDCANCEL, which Enter and Escape
// send whatever has the focus.
constexpr int kRetryId = 1001;
constexpr int kRetryCancelId = 1002;
constexpr COLORREF kNavy = RGB(0, 0, 128);
constexpr COLORREF kBand = RGB(0, 29, 97);
// Fixed single border, system menu and minimise box only.
constexpr DWORD kMainStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr DWORD kRetryStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
constexpr DWORD kRetryExStyle = WS_EX_DLGMODALFRAME;

extern const char* const kMainClass;
extern const char* const kViewClass;
extern const char* const kRetryClass;

class TWin32Backend : public TBackend {
 public:
  TWin32Backend();

  void Attach(TFMain& form) override;
  void SetWindowVisible(bool visible) override;
  void SetWindowCaption(const std::string& caption) override;
  void Run() override;
  void Quit() override;
  TModalResult MessageBox(const std::string& text, TMsgType type, TMsgButtons buttons) override;
  void Notice(const std::string& text, uint32_t closeAfterMs) override;
  std::string BrowseForFolder(const std::string& title) override;
  int ShowRetryModal(TFRetry& dialog) override;
  int ShowProxyLoginModal(TFProxyLogin& dialog) override;
  // From any thread: coalesced into one posted message.
  void ControlChanged(TControl& control) override;

  LRESULT MainProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT ViewProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp);
  // A view's background: the finish view's band and white, the others' header
  // and bottom edges.
  void EraseView(HWND wnd, HDC dc);
  LRESULT RetryProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp);

 private:
  // A window made from a row of the layout table.
  struct TPlaced {
    HWND Wnd;
    TControl* Control;
    layout::TRole Role;
    layout::TBox Box;
  };
  struct TViewWindow {
    HWND Wnd;
    bool Finish;
  };
  // The retry dialog while it is open.
  struct TRetryWindow {
    HWND Wnd = nullptr;
    HWND Message = nullptr;
    HWND List = nullptr;
    HWND Buttons[2] = {};
    // The proxy's question in the same window class: two labels and two fields
    // in place of the list.
    bool Proxy = false;
    HWND Labels[2] = {};
    HWND Edits[2] = {};
    std::string Text;  // the message, measured again at every DPI
    TGdi Font;
    int Dpi = 96;
    int Result = 0;
  };

  // main_window.cpp
  void BuildMainWindow();
  HWND MakeControl(const layout::TPlace& place, HWND view, bool finish);
  // Fonts, pictures and every control at dpi_; the window keeps its place.
  void LayOut();
  // The title font's largest size at which the text fits the label.
  void FitTitle(HWND wnd, const std::string& text);

  // win32_backend.cpp
  void Refresh();
  void Apply(TControl& c);
  // Runs messages, the dialog keys going to `dialog`, until done() or WM_QUIT
  // (false then).
  bool Pump(HWND dialog, const std::function<bool()>& done);
  TControl* ControlOf(HWND wnd) const;

  // focus.cpp
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

  // retry_dialog.cpp
  // The dialog's controls and size at retry_.Dpi; at `at` when given (the place
  // the system suggests on a DPI change), else centred over the main window.
  void LayOutRetry(const RECT* at);
  // What the retry dialog and the proxy's question share: the window (into
  // retry_), its children, the modal loop until an answer (2 when the program is
  // ending; the window stays for its fields to be read), its end, a control
  // placed at retry_.Dpi with the dialog's font, and the window sized for a client
  // area at `at` or centred over the main window.
  void OpenDialog(const std::string& caption);
  HWND DialogChild(const char* cls, const std::string& text, DWORD style, int id, DWORD exStyle = 0);
  int RunDialog(HWND focus);
  void CloseDialog();
  void PlaceInDialog(HWND control, layout::TBox box);
  void SizeDialog(layout::TBox client, const RECT* at);
  // proxy_dialog.cpp: the same for the proxy's question.
  void LayOutProxy(const RECT* at);

  TFMain* form_ = nullptr;
  HWND main_ = nullptr;
  int dpi_ = 96;
  bool quit_ = false;
  bool applying_ = false;
  std::vector<TViewWindow> views_;
  std::vector<TPlaced> placed_;
  std::map<TControl*, HWND> windows_;
  std::map<HWND, TControl*> byWindow_;
  std::set<HWND> titles_;   // navy title labels
  std::set<HWND> onWhite_;  // labels and check boxes drawn on white
  std::set<HWND> onBand_;   // pictures on the finish view's dark band
  std::mutex dirtyMutex_;
  std::set<TControl*> dirty_;
  bool refreshPosted_ = false;
  TGdi font_;
  std::map<int, TGdi> titleFonts_;  // by height in 96-DPI pixels, at dpi_
  TGdi white_, band_;
  std::map<std::string, picture::TPixels> pictures_;  // by resource, as drawn
  std::map<HWND, TGdi> bitmaps_;                      // each picture's, at dpi_
  // The keyboard: the focus last seen, the control that had it when another
  // window became active, and whether a view came on show.
  HWND lastFocus_ = nullptr;
  HWND savedFocus_ = nullptr;
  bool viewShown_ = false;
  TRetryWindow retry_;
};

}  // namespace win32ui
