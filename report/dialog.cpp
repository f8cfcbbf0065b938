#include "dialog.h"

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "dispatch.h"
#include "server.h"

namespace vbgreport {
namespace {

// Windows disabled for as long as this lives, enabled again afterwards: the ones given that were
// enabled when it started, and only those.
class disabled_windows {
 public:
  explicit disabled_windows(const std::vector<HWND>& windows) {
    disabled_.reserve(windows.size());
    for (HWND window : windows)
      if (IsWindowEnabled(window)) {
        disabled_.push_back(window);
        EnableWindow(window, FALSE);
      }
  }
  ~disabled_windows() {
    for (HWND window : disabled_)
      if (IsWindow(window)) EnableWindow(window, TRUE);
  }
  disabled_windows(const disabled_windows&) = delete;
  disabled_windows& operator=(const disabled_windows&) = delete;

 private:
  std::vector<HWND> disabled_;
};

// The window whose input the report blocks: the calling thread's active window, or the
// foreground window when it belongs to this thread.
HWND reportOwner() noexcept {
  if (HWND active = GetActiveWindow()) return active;
  HWND foreground = GetForegroundWindow();
  if (foreground && GetWindowThreadProcessId(foreground, nullptr) == GetCurrentThreadId()) return foreground;
  return nullptr;
}

// The visible top-level windows of this thread: without an owner, the report blocks them all.
BOOL CALLBACK addVisibleWindow(HWND window, LPARAM list) noexcept {
  try {
    if (IsWindowVisible(window)) reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
  } catch (...) {
    return FALSE;
  }
}

std::vector<HWND> threadWindows() {
  std::vector<HWND> windows;
  EnumThreadWindows(GetCurrentThreadId(), &addVisibleWindow, reinterpret_cast<LPARAM>(&windows));
  return windows;
}

constexpr WORD kIconId = 20;
constexpr WORD kDetailsId = 21;
constexpr INT_PTR kNotShown = -1;

// A dialog template built in memory: the header, then one item per control, each on a DWORD
// boundary, as DialogBoxIndirectParam reads it.
class DialogTemplate {
 public:
  DialogTemplate(DWORD style, const std::wstring& caption, WORD points, const std::wstring& face) {
    words_.reserve(256 + caption.size() + face.size());
    addLong(style);
    addLong(0);  // extended style
    words_.push_back(0);  // number of items, counted as they are added
    // x, y, cx, cy in dialog units, until the window is laid out
    for (const WORD position : {0, 0, 200, 100}) words_.push_back(position);
    words_.push_back(0);  // no menu
    words_.push_back(0);  // the standard dialog class
    addText(caption);
    words_.push_back(points);
    addText(face);
  }

  // `kind` is the predefined class atom: 0x0080 button, 0x0081 edit, 0x0082 static.
  void addItem(DWORD style, DWORD extendedStyle, WORD id, WORD kind, const wchar_t* text) {
    if (words_.size() % 2) words_.push_back(0);
    addLong(style | WS_CHILD | WS_VISIBLE);
    addLong(extendedStyle);
    for (int i = 0; i < 4; ++i) words_.push_back(0);  // laid out when shown
    words_.push_back(id);
    words_.push_back(0xFFFF);
    words_.push_back(kind);
    addText(text);
    words_.push_back(0);  // no creation data
    ++words_[kItemCount];
  }

  const DLGTEMPLATE* get() const noexcept { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

 private:
  void addLong(DWORD value) {
    words_.push_back(LOWORD(value));
    words_.push_back(HIWORD(value));
  }
  void addText(std::wstring_view text) {
    words_.insert(words_.end(), text.begin(), text.end());
    words_.push_back(0);
  }

  static constexpr size_t kItemCount = 4;  // after the two DWORD styles
  std::vector<WORD> words_;
};

// The message font, in points, as the template names it; the dialog manager makes it for the
// window's DPI. Falls back to the dialog font of old.
void messageFont(WORD* points, std::wstring* face) {
  *points = 8;
  *face = L"MS Shell Dlg";
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0) || !metrics.lfMessageFont.lfFaceName[0])
    return;
  const unique_screen_dc screen(GetDC(nullptr));
  const int dpi = screen.get() ? GetDeviceCaps(screen.get(), LOGPIXELSY) : 96;
  const LONG height = metrics.lfMessageFont.lfHeight < 0 ? -metrics.lfMessageFont.lfHeight : metrics.lfMessageFont.lfHeight;
  const int size = MulDiv(height, 72, dpi > 0 ? dpi : 96);
  if (size <= 0 || size > 72) return;
  *points = static_cast<WORD>(size);
  *face = metrics.lfMessageFont.lfFaceName;
}

RECT workAreaFor(HWND window) {
  RECT area{0, 0, 0, 0};
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  if (GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor)) return monitor.rcWork;
  if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0)) area = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  return area;
}

// The edit box wants CR LF between lines.
std::wstring withLineBreaks(const std::wstring& text) {
  std::wstring out;
  out.reserve(text.size() + text.size() / 16);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r')) out += L'\r';
    out += text[i];
  }
  return out;
}

// The report window: the details in a read-only box that scrolls, the three answers below.
// Modal like a message box: the owner (or, without one, every window of the thread) is disabled
// while it is up. Escape and the close box do nothing, as in a message box without Cancel: the
// user answers with one of the three buttons.
class ReportWindow {
 public:
  ReportWindow(const std::wstring& text, const std::wstring& caption) : text_(withLineBreaks(text)), caption_(caption) {}

  LONG show() {
    const HWND owner = reportOwner();
    WORD points = 8;
    std::wstring face;
    messageFont(&points, &face);
    DialogTemplate layout(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT, caption_, points, face);
    // Tab goes from the answers to the details and round again; the first answer, the default,
    // has the focus first, and the details show their first line.
    layout.addItem(SS_ICON, 0, kIconId, 0x0082, L"");
    layout.addItem(BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP, 0, IDABORT, 0x0080, L"&Interrompi");
    layout.addItem(BS_PUSHBUTTON | WS_TABSTOP, 0, IDRETRY, 0x0080, L"&Riprova");
    layout.addItem(BS_PUSHBUTTON | WS_TABSTOP, 0, IDIGNORE, 0x0080, L"&Ignora");
    layout.addItem(ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL | WS_TABSTOP | WS_GROUP, WS_EX_CLIENTEDGE,
                   kDetailsId, 0x0081, L"");

    owner_ = owner;
    const disabled_windows blocked(owner ? std::vector<HWND>{} : threadWindows());
    SetLastError(ERROR_SUCCESS);
    const INT_PTR answer = DialogBoxIndirectParamW(serverModule(), layout.get(), owner, &ReportWindow::procedure,
                                                   reinterpret_cast<LPARAM>(this));
    if (answer == IDABORT || answer == IDRETRY || answer == IDIGNORE) return static_cast<LONG>(answer);
    // Not shown: say why with a real failure code, never success.
    HRESULT code = failure_;
    if (SUCCEEDED(code)) {
      const DWORD error = GetLastError();
      code = error ? HRESULT_FROM_WIN32(error) : E_FAIL;
    }
    throw Failure(code, L"La finestra della segnalazione non si apre.");
  }

 private:
  static INT_PTR CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    if (message == WM_INITDIALOG) SetWindowLongPtrW(window, DWLP_USER, lParam);
    auto* self = reinterpret_cast<ReportWindow*>(GetWindowLongPtrW(window, DWLP_USER));
    if (!self) return FALSE;
    try {
      switch (message) {
        case WM_INITDIALOG: return self->start(window);
        case WM_COMMAND:
          switch (LOWORD(wParam)) {
            case IDABORT:
            case IDRETRY:
            case IDIGNORE:
              if (HIWORD(wParam) == BN_CLICKED) EndDialog(window, LOWORD(wParam));
              return TRUE;
            case IDCANCEL: return TRUE;  // Escape and the close box: no answer
          }
          return FALSE;
        case WM_CLOSE: return TRUE;
      }
    } catch (const Failure& failure) {
      self->failure_ = failure.code();
      EndDialog(window, kNotShown);
    } catch (...) {
      self->failure_ = E_UNEXPECTED;
      EndDialog(window, kNotShown);
    }
    return FALSE;
  }

  BOOL start(HWND window) {
    const HWND details = GetDlgItem(window, kDetailsId);
    SendMessageW(details, EM_SETLIMITTEXT, 0, 0);  // the report may be longer than what a user may type
    if (!SetWindowTextW(details, text_.c_str())) throw Failure(HRESULT_FROM_WIN32(GetLastError()));
    SendMessageW(details, EM_SETSEL, 0, 0);  // the report is read from its first line
    SendMessageW(details, EM_SCROLLCARET, 0, 0);
    SendDlgItemMessageW(window, kIconId, STM_SETICON, reinterpret_cast<WPARAM>(LoadIconW(nullptr, IDI_ERROR)), 0);
    EnableMenuItem(GetSystemMenu(window, FALSE), SC_CLOSE, MF_BYCOMMAND | MF_GRAYED);
    layOut(window);
    SendMessageW(window, DM_SETDEFID, IDABORT, 0);
    SetForegroundWindow(window);
    SetFocus(GetDlgItem(window, IDABORT));
    return FALSE;  // the focus is set
  }

  // Sizes come from the dialog's own font (dialog units), so they follow the window's DPI; the
  // window takes a fixed, readable width, at most two thirds of the work area of the owner's
  // monitor, and never more than the work area in either direction.
  void layOut(HWND window) const {
    const auto units = [window](int x, int y) {
      RECT box{0, 0, x, y};
      MapDialogRect(window, &box);
      return SIZE{box.right, box.bottom};
    };
    const RECT work = workAreaFor(owner_ ? owner_ : window);
    const LONG workWidth = work.right - work.left, workHeight = work.bottom - work.top;

    RECT outer{}, inner{};
    GetWindowRect(window, &outer);
    GetClientRect(window, &inner);
    const LONG frameWidth = (outer.right - outer.left) - inner.right;
    const LONG frameHeight = (outer.bottom - outer.top) - inner.bottom;

    const SIZE margin = units(7, 7), gap = units(4, 4), button = units(50, 14);
    const SIZE preferred = units(300, 8 * 20);  // about 75 characters by 20 lines
    const LONG icon = GetSystemMetrics(SM_CXICON);
    const LONG buttonsWidth = 3 * button.cx + 2 * gap.cx + 2 * margin.cx;

    LONG width = std::min<LONG>(margin.cx + icon + margin.cx + preferred.cx + margin.cx + frameWidth, workWidth * 2 / 3);
    width = std::max<LONG>(width, std::min<LONG>(buttonsWidth + frameWidth, workWidth));
    width = std::min<LONG>(width, workWidth);
    const LONG fixedHeight = frameHeight + 3 * margin.cy + button.cy;
    LONG height = std::min<LONG>(fixedHeight + std::max<LONG>(preferred.cy, icon), workHeight * 3 / 4);
    height = std::min<LONG>(std::max<LONG>(height, fixedHeight), workHeight);

    // In the middle of the work area, as a message box stands.
    LONG left = (work.left + work.right - width) / 2, top = (work.top + work.bottom - height) / 2;
    left = std::clamp<LONG>(left, work.left, work.right - width);
    top = std::clamp<LONG>(top, work.top, work.bottom - height);
    SetWindowPos(window, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);

    GetClientRect(window, &inner);
    const LONG clientWidth = inner.right, clientHeight = inner.bottom;
    const LONG buttonWidth = std::max<LONG>(1, std::min<LONG>(button.cx, (clientWidth - 2 * margin.cx - 2 * gap.cx) / 3));
    const LONG buttonTop = std::max<LONG>(0, clientHeight - margin.cy - button.cy);
    LONG buttonLeft = std::max<LONG>(0, (clientWidth - 3 * buttonWidth - 2 * gap.cx) / 2);
    for (const int id : {IDABORT, IDRETRY, IDIGNORE}) {
      SetWindowPos(GetDlgItem(window, id), nullptr, buttonLeft, buttonTop, buttonWidth, button.cy, SWP_NOZORDER | SWP_NOACTIVATE);
      buttonLeft += buttonWidth + gap.cx;
    }
    SetWindowPos(GetDlgItem(window, kIconId), nullptr, margin.cx, margin.cy, icon, icon, SWP_NOZORDER | SWP_NOACTIVATE);
    const LONG detailsLeft = margin.cx + icon + margin.cx;
    SetWindowPos(GetDlgItem(window, kDetailsId), nullptr, detailsLeft, margin.cy,
                 std::max<LONG>(0, clientWidth - detailsLeft - margin.cx), std::max<LONG>(0, buttonTop - 2 * margin.cy),
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }

  std::wstring text_;
  std::wstring caption_;
  HWND owner_ = nullptr;
  HRESULT failure_ = S_OK;
};

LONG answerFor(const std::wstring& text, const std::wstring& caption) {
  return ReportWindow(text, caption).show();  // IDABORT 3, IDRETRY 4, IDIGNORE 5
}

std::wstring textArgument(const Call& call, UINT index) {
  const unique_variant value = copyOf(call.argument(index));
  unique_variant text;
  if (FAILED(VariantChangeType(text.put(), const_cast<VARIANT*>(value.get()), 0, VT_BSTR))) call.rejectArgument(index);
  return std::wstring(V_BSTR(text.get()), SysStringLen(V_BSTR(text.get())));
}

constexpr DISPID kShowReportId = 1;
constexpr Member kDialogMembers[] = {
    {kShowReportMember, kShowReportId, MemberKind::Method, 2},
};

class CustomDialog final : public DispatchObject, public IPersist {
 public:
  CustomDialog() noexcept : DispatchObject(kDialogMembers, kDialogProgId) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID interfaceId, void** object) noexcept override {
    return DispatchObject::QueryInterface(interfaceId, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() noexcept override { return DispatchObject::AddRef(); }
  ULONG STDMETHODCALLTYPE Release() noexcept override { return DispatchObject::Release(); }

  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* classId) noexcept override {
    if (!classId) return E_POINTER;
    *classId = kDialogClassId;
    return S_OK;
  }

 protected:
  unique_variant invokeMember(const Call& call) override {
    // ShowReport is the only member.
    return longVariant(answerFor(textArgument(call, 0), textArgument(call, 1)));
  }

  IUnknown* otherInterface(REFIID interfaceId) noexcept override {
    if (interfaceId == IID_IPersist) return static_cast<IPersist*>(this);
    return nullptr;
  }
};

}  // namespace

HRESULT createDialog(REFIID interfaceId, void** object) noexcept { return createObject<CustomDialog>(interfaceId, object); }

bool isOwnDialog(IUnknown* object) noexcept {
  if (!object) return false;
  com_ptr<IPersist> persist;
  if (FAILED(object->QueryInterface(IID_IPersist, persist.put_void())) || !persist) return false;
  CLSID classId{};
  return SUCCEEDED(persist->GetClassID(&classId)) && classId == kDialogClassId;
}

}  // namespace vbgreport
