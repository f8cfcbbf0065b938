#include "platform/win32/form1_window.h"

#include <algorithm>
#include <string>

#include "errors/uncaught.h"
#include "platform/win32/dpi.h"
#include "platform/win32/system_colours.h"
#include "platform/win32/text_win32.h"
#include "platform/win32/window_placement.h"

namespace win32 {

namespace {

constexpr wchar_t kWindowClass[] = L"PatchQUADRELLForm1";
constexpr wchar_t kCaption[] = L"Ripristina Prodotti";
constexpr wchar_t kHeading[] =
    L"Ripristino prodotti QUADRELL (solo per utenti in possesso di Sistema Operativo Microsoft Windows 10):";

constexpr int kApplicationIcon = 1;

// Control identifiers: never IDOK (1) or IDCANCEL (2), which the dialog manager sends for Enter
// and Escape.
constexpr int kText1Id = 100;
constexpr int kLblId = 101;
constexpr int kCmdOkId = 102;
constexpr int kCmdAnnullaId = 103;

constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kWindowExStyle = 0;

// Positions and sizes in twips: left, top, width, height.
struct Twips {
  int left, top, width, height;
};
constexpr int kClientWidth = 12180;
constexpr int kClientHeight = 1890;
constexpr Twips kText1Place{0, 0, 12135, 285};
constexpr Twips kLblPlace{0, 360, 12135, 1050};
constexpr Twips kCmdOkPlace{9960, 1440, 1005, 375};
constexpr Twips kCmdAnnullaPlace{11160, 1440, 1005, 375};

constexpr FormOutline kForm{kClientWidth, kClientHeight, kWindowStyle, kWindowExStyle};

int pixels(int twips, UINT dpi) { return MulDiv(twips, static_cast<int>(dpi), 1440); }

// A font of `hundredthsOfPoint` / 100 points at `dpi`.
HFONT makeFont(const wchar_t* face, int hundredthsOfPoint, bool bold, UINT dpi) {
  LOGFONTW font{};
  font.lfHeight = -MulDiv(hundredthsOfPoint, static_cast<int>(dpi), 7200);
  font.lfWeight = bold ? FW_BOLD : FW_NORMAL;
  font.lfCharSet = DEFAULT_CHARSET;
  font.lfQuality = CLEARTYPE_QUALITY;
  lstrcpynW(font.lfFaceName, face, LF_FACESIZE);
  return CreateFontIndirectW(&font);
}

// The platform's window font (the message font) at `dpi`.
HFONT makeWindowFont(UINT dpi) {
  NONCLIENTMETRICSW metrics;
  if (!nonClientMetricsForDpi(metrics, dpi)) return makeFont(L"Segoe UI", 900, false, dpi);
  return CreateFontIndirectW(&metrics.lfMessageFont);
}

// A rectangle filled with one colour, through a brush of its own.
void fill(HDC dc, const RECT& area, app::Colour colour) {
  const handles::unique_hbrush brush(CreateSolidBrush(colour));
  if (brush) FillRect(dc, &area, brush.get());
}

// One line of a button's edge, one pixel wide, along the inside of `bounds`: the top and left
// sides in `topLeft`, the bottom and right ones, their far corners included, in `bottomRight`.
void edgeLine(HDC dc, const RECT& bounds, app::Colour topLeft, app::Colour bottomRight) {
  fill(dc, RECT{bounds.left, bounds.top, bounds.right - 1, bounds.top + 1}, topLeft);
  fill(dc, RECT{bounds.left, bounds.top, bounds.left + 1, bounds.bottom - 1}, topLeft);
  fill(dc, RECT{bounds.left, bounds.bottom - 1, bounds.right, bounds.bottom}, bottomRight);
  fill(dc, RECT{bounds.right - 1, bounds.top, bounds.right, bounds.bottom}, bottomRight);
}

// A button's edge, raised or pressed, as DrawEdge draws EDGE_RAISED and EDGE_SUNKEN, but in the
// palette's colours rather than always the system's.
void buttonEdge(HDC dc, const RECT& bounds, bool pressed, const app::Palette& palette) {
  RECT inner = bounds;
  InflateRect(&inner, -1, -1);
  if (pressed) {
    edgeLine(dc, bounds, palette.edgeShadow, palette.edgeHighlight);
    edgeLine(dc, inner, palette.edgeDarkShadow, palette.edgeLight);
  } else {
    edgeLine(dc, bounds, palette.edgeLight, palette.edgeDarkShadow);
    edgeLine(dc, inner, palette.edgeHighlight, palette.edgeShadow);
  }
}

// The dotted focus rectangle, every other pixel, as DrawFocusRect draws it, but in `colour`
// rather than inverting what lies beneath.
void focusRectangle(HDC dc, const RECT& area, app::Colour colour) {
  const LOGBRUSH solid{BS_SOLID, colour, 0};
  const handles::unique_hpen dots(ExtCreatePen(PS_COSMETIC | PS_ALTERNATE, 1, &solid, 0, nullptr));
  if (!dots) return;
  const HGDIOBJ previousPen = SelectObject(dc, dots.get());
  const POINT corners[] = {{area.left, area.top},
                           {area.right - 1, area.top},
                           {area.right - 1, area.bottom - 1},
                           {area.left, area.bottom - 1},
                           {area.left, area.top}};
  Polyline(dc, corners, static_cast<int>(std::size(corners)));
  SelectObject(dc, previousPen);
}

void place(HWND control, const Twips& twips, UINT dpi) {
  MoveWindow(control, pixels(twips.left, dpi), pixels(twips.top, dpi), pixels(twips.width, dpi),
             pixels(twips.height, dpi), TRUE);
}

// The edit control's own window procedure, behind the results box.
WNDPROC editProcedure = nullptr;

// The results box answers the dialog manager as a box that wants its arrow keys and characters
// (to select and copy its text) and nothing else. The multi-line edit control would otherwise
// take the question for a sign that it sits in a dialog and switch to its dialog mode, in which
// Escape closes the window and Tab asks the window, which is no dialog, for the next control.
// So Tab, Escape and Enter stay with the dialog manager, as for every other control.
LRESULT CALLBACK resultsBoxProcedure(HWND box, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  if (message == WM_GETDLGCODE) return DLGC_WANTARROWS | DLGC_WANTCHARS | DLGC_HASSETSEL;
  return CallWindowProcW(editProcedure, box, message, wParam, lParam);
}

}  // namespace

MainWindow::MainWindow(HINSTANCE instance) : instance_(instance) { chooseColours(); }

MainWindow::~MainWindow() {
  if (window_) DestroyWindow(window_);
}

bool MainWindow::create(app::Form1& form, int showCommand) {
  form_ = &form;

  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &MainWindow::windowProcedure;
  windowClass.hInstance = instance_;
  windowClass.hIcon = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(kApplicationIcon), IMAGE_ICON,
                                                    0, 0, LR_DEFAULTSIZE | LR_SHARED));
  windowClass.hIconSm = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(kApplicationIcon), IMAGE_ICON,
                                                      GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                                                      LR_SHARED));
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  // No class brush: WM_ERASEBKGND erases with the palette's brush, which is made anew when the
  // scheme changes, and a class brush would outlive the window.
  windowClass.hbrBackground = nullptr;
  windowClass.lpszClassName = kWindowClass;
  if (!RegisterClassExW(&windowClass)) return false;

  // Created hidden, then placed, and laid out once for the DPI it has where it is shown. A
  // WM_DPICHANGED that comes during the move (the window was created on a monitor of another
  // scale) lays nothing out: the DPI it tells is the one the window has once moved, which the
  // layout below uses.
  window_ = CreateWindowExW(kWindowExStyle, kWindowClass, kCaption, kWindowStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                            CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance_, this);
  if (!window_) return false;
  createControls();
  placing_ = true;
  const UINT layoutDpi = placeOnPrimaryMonitor(dpiFunctions(), window_, kForm);
  placing_ = false;
  layout(layoutDpi);

  ShowWindow(window_, showCommand);
  UpdateWindow(window_);
  SetFocus(cmdAnnulla_);
  return true;
}

void MainWindow::createControls() {
  // Created in tab order, "Chiudi" first: the dialog manager tabs through them in this order.
  auto control = [&](const wchar_t* className, const wchar_t* text, DWORD style, DWORD exStyle, int id) {
    return CreateWindowExW(exStyle, className, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, window_,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
  };
  cmdAnnulla_ = control(L"BUTTON", L"Chiudi", BS_OWNERDRAW | WS_TABSTOP, 0, kCmdAnnullaId);
  cmdOk_ = control(L"BUTTON", L"Ok", BS_OWNERDRAW | WS_TABSTOP, 0, kCmdOkId);
  lbl_ = control(L"EDIT", L"", ES_MULTILINE | ES_READONLY, WS_EX_CLIENTEDGE, kLblId);
  if (lbl_)
    editProcedure = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(lbl_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&resultsBoxProcedure)));
  text1_ = control(L"EDIT", kHeading, ES_CENTER | ES_AUTOHSCROLL, 0, kText1Id);
}

void MainWindow::layout(UINT dpi) {
  headingFont_.reset(makeFont(L"Tahoma", 975, true, dpi));
  resultsFont_.reset(makeFont(L"Tahoma", 825, false, dpi));
  buttonFont_.reset(makeWindowFont(dpi));
  SendMessageW(text1_, WM_SETFONT, reinterpret_cast<WPARAM>(headingFont_.get()), TRUE);
  SendMessageW(lbl_, WM_SETFONT, reinterpret_cast<WPARAM>(resultsFont_.get()), TRUE);
  SendMessageW(cmdOk_, WM_SETFONT, reinterpret_cast<WPARAM>(buttonFont_.get()), TRUE);
  SendMessageW(cmdAnnulla_, WM_SETFONT, reinterpret_cast<WPARAM>(buttonFont_.get()), TRUE);
  place(text1_, kText1Place, dpi);
  place(lbl_, kLblPlace, dpi);
  place(cmdOk_, kCmdOkPlace, dpi);
  place(cmdAnnulla_, kCmdAnnullaPlace, dpi);
}

int MainWindow::runMessageLoop() {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (window_ && IsDialogMessageW(window_, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return exitCode_;
}

rt::Text MainWindow::lblText() {
  if (!lbl_) return u"";
  const int length = GetWindowTextLengthW(lbl_);
  std::wstring buffer(static_cast<size_t>(length) + 1, L'\0');
  buffer.resize(static_cast<size_t>(GetWindowTextW(lbl_, buffer.data(), length + 1)));
  return text(buffer);
}

void MainWindow::setLblText(const rt::Text& value) {
  if (lbl_) SetWindowTextW(lbl_, wide(value).c_str());
}

void MainWindow::Unload() {
  if (window_) DestroyWindow(window_);
}

void MainWindow::showCriticalMessage(const rt::Text& message, const rt::Text& caption) {
  MessageBoxW(window_, wide(message).c_str(), wide(caption).c_str(), MB_OK | MB_ICONERROR);
}

void MainWindow::setBusy(bool busy) {
  busy_ = busy;
  // The run blocks the message loop, so the cursor is set now rather than on WM_SETCURSOR.
  SetCursor(LoadCursorW(nullptr, busy ? IDC_WAIT : IDC_ARROW));
}

void MainWindow::raiseEvent(void (app::Form1::*procedure)()) {
  if (eventRunning_) {
    if (procedure == &app::Form1::cmdAnnulla_Click) closeWhenIdle_ = true;
    return;
  }
  eventRunning_ = true;
  errors::runEventProcedure([&] { (form_->*procedure)(); },
                            [&](const rt::Text& message) { endWithRuntimeError(message); });
  eventRunning_ = false;
  if (closeWhenIdle_) {
    closeWhenIdle_ = false;
    Unload();
  }
}

void MainWindow::endWithRuntimeError(const rt::Text& message) {
  MessageBoxW(window_, wide(message).c_str(), wide(app::kAppTitle).c_str(), MB_OK | MB_ICONERROR);
  exitCode_ = 1;
  if (window_) {
    DestroyWindow(window_);
  } else {
    PostQuitMessage(exitCode_);
  }
}

void MainWindow::chooseColours() {
  palette_ = currentPalette();
  backBrush_.reset(CreateSolidBrush(palette_.windowBack));
}

void MainWindow::schemeChanged() {
  chooseColours();
  // The edit controls keep colours of their own (their selection, their edge) until told.
  for (const HWND control : {text1_, lbl_, cmdOk_, cmdAnnulla_})
    if (control) SendMessageW(control, WM_SYSCOLORCHANGE, 0, 0);
  // Painted now, controls and frame included, rather than whenever the queue empties.
  RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

void MainWindow::drawButton(const DRAWITEMSTRUCT& item) const {
  HDC dc = item.hDC;
  RECT bounds = item.rcItem;
  const bool pressed = item.itemState & ODS_SELECTED;
  fill(dc, bounds, palette_.buttonFace);
  buttonEdge(dc, bounds, pressed, palette_);

  wchar_t caption[64] = {};
  GetWindowTextW(item.hwndItem, caption, static_cast<int>(std::size(caption)));
  RECT textArea = bounds;
  if (pressed) OffsetRect(&textArea, 1, 1);
  const HGDIOBJ previousFont = SelectObject(dc, buttonFont_.get());
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, item.itemState & ODS_DISABLED ? palette_.disabledText : palette_.buttonText);
  DrawTextW(dc, caption, -1, &textArea, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  SelectObject(dc, previousFont);

  if (item.itemState & ODS_FOCUS) {
    RECT focus = bounds;
    InflateRect(&focus, -4, -4);
    focusRectangle(dc, focus, palette_.focus);
  }
}

LRESULT CALLBACK MainWindow::windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->window_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self) return DefWindowProcW(window, message, wParam, lParam);
  try {
    return self->handle(window, message, wParam, lParam);
  } catch (...) {
    // Event procedures catch their own failures; nothing else here is expected to throw.
    return DefWindowProcW(window, message, wParam, lParam);
  }
}

LRESULT MainWindow::handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      if (HIWORD(wParam) == BN_CLICKED && id == kCmdOkId) {
        raiseEvent(&app::Form1::cmdOk_Click);
      } else if (HIWORD(wParam) == BN_CLICKED && id == kCmdAnnullaId) {
        raiseEvent(&app::Form1::cmdAnnulla_Click);
      } else if (id == IDOK) {
        // Enter: the dialog manager's "default button" is whichever button has the focus.
        const HWND focus = GetFocus();
        if (focus == cmdOk_ || focus == cmdAnnulla_) SendMessageW(focus, BM_CLICK, 0, 0);
      }
      // IDCANCEL (Escape) does nothing: there is no cancel button.
      return 0;
    }
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC: {
      const HDC dc = reinterpret_cast<HDC>(wParam);
      SetBkColor(dc, palette_.windowBack);
      SetTextColor(dc, palette_.windowText);
      return reinterpret_cast<LRESULT>(backBrush_.get());
    }
    case WM_ERASEBKGND: {
      RECT client;
      GetClientRect(window, &client);
      FillRect(reinterpret_cast<HDC>(wParam), &client, backBrush_.get());
      return TRUE;
    }
    case WM_SYSCOLORCHANGE:
      schemeChanged();
      return 0;
    case WM_SETTINGCHANGE:
      // High Contrast turned on or off: Windows sends this with the setting's number.
      if (wParam == SPI_SETHIGHCONTRAST) schemeChanged();
      break;
    case WM_DRAWITEM:
      drawButton(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_CLOSE:
      if (eventRunning_) {
        closeWhenIdle_ = true;
        return 0;
      }
      break;
    case WM_QUERYENDSESSION:
      // The session may always end, during a run too: each setting is one registry value set in
      // one call, so a run cut short leaves each product as it was or restored, and the next run
      // restores what is left. Holding the logoff would only make the user wait for the network
      // or for a box nobody answers.
      return TRUE;
    case WM_SETCURSOR:
      if (busy_) {
        SetCursor(LoadCursorW(nullptr, IDC_WAIT));
        return TRUE;
      }
      break;
    case WM_ACTIVATE:
      // Give the focus back to the control that had it when the window is activated again.
      if (LOWORD(wParam) == WA_INACTIVE) {
        focusBeforeDeactivation_ = GetFocus();
      } else if (focusBeforeDeactivation_ && IsChild(window_, focusBeforeDeactivation_)) {
        SetFocus(focusBeforeDeactivation_);
        return 0;
      }
      break;
    case WM_DPICHANGED:
      // Moved to a monitor of another DPI: Windows suggests where the window goes; its size is
      // worked out again, so that it also fits that monitor.
      if (!placing_)
        layout(placeAtNewDpi(dpiFunctions(), window, kForm, HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam)));
      return 0;
    case WM_DESTROY:
      window_ = nullptr;
      text1_ = lbl_ = cmdOk_ = cmdAnnulla_ = nullptr;
      PostQuitMessage(exitCode_);
      return 0;
    case WM_NCDESTROY:
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      break;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace win32
