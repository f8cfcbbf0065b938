// wine_driver: finds, reads and operates another process's windows, for the end-to-end tests
// and the demonstration.
//
// One subcommand per run, options as "--name value"; the answer is one JSON object on stdout,
// in ASCII (other characters as \u escapes), with "ok" true or false and "error" when false.
// Window handles and process ids are passed and printed as decimal numbers.
//
//   wait-window  --class C [--caption T] [--pid P] [--timeout MS]   a visible top-level window
//   describe     --hwnd H                  the window's rectangles and its controls
//   text         --hwnd H [--id N] [--timeout MS]   a window's or a control's text (WM_GETTEXT)
//   click        --hwnd H --id N [--wait MS]        BM_CLICK: posted, or sent and waited for
//                                          until it returns or a message box of the process opens
//   notify       --hwnd H --id N           the button's click notification (WM_COMMAND BN_CLICKED)
//                                          posted to H, as it arrives inside a modal loop; returns
//                                          once H's thread has dispatched it
//   key          --hwnd H --key tab|enter|escape   a key posted to the focused control
//   chars        --hwnd H --chars TEXT     characters posted to the focused control
//   click-into   --hwnd H --id N           clicks into a control until it has the focus
//   type         --hwnd H --id N --chars TEXT   clicks into a control, then types into it
//   focus        --hwnd H                  the control that has the focus in the window's thread
//   message-box  --pid P [--timeout MS]    a message box of the process: caption, text, buttons, icon
//   windows      --pid P                   the process's visible top-level windows: class, caption,
//                                          rectangle, owner, and the work area of their monitor
//   press        --hwnd H --button TEXT    clicks a button of a message box (or --id N)
//   close        --hwnd H [--how wm_close|sc_close]
//   wait-exit    --pid P [--timeout MS]    waits for the process to end and gives its exit code
//   key-security --key HKEY_CURRENT_USER\PATH --sddl S   sets the key's DACL (SDDL) as a policy or a security
//                                          product would, and gives the one it had ("before").
//                                          The server enforces it until it restarts.
//   set-sys-colors  --colors I=RRGGBB[,I=RRGGBB...]   sets system colours (SetSysColors, I a
//                                          COLOR_ index): this program's and those of the programs
//                                          started after it; "old" gives the ones they replaced
//                                          in the same form, to be set back
//   setting-change  --hwnd H --action N    sends WM_SETTINGCHANGE with wParam N (the SPI_SET...
//                                          number of the setting that changed); returns once H has
//                                          handled it
//   dpi                                    the system DPI and the primary monitor's, as a program
//                                          started now sees them
//   query-end-session  --hwnd H            sends WM_QUERYENDSESSION as at logoff, then WM_ENDSESSION
//                                          with H's answer, as when no other program refused;
//                                          "may_end" is that answer
#include <windows.h>
// needs windows.h first
#include <sddl.h>
#include <shellscalingapi.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32/handles/handles.h"

namespace {

using handles::unique_handle;
using handles::unique_screen_dc;

// A 32-bit top-down bitmap selected into a memory device context.
class Canvas {
 public:
  Canvas(int width, int height) : width_(width), height_(height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    dc_ = CreateCompatibleDC(nullptr);
    void* bits = nullptr;
    bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!dc_ || !bitmap_) {
      release();
      throw std::runtime_error("cannot make a bitmap");
    }
    bits_ = static_cast<uint32_t*>(bits);
    previous_ = SelectObject(dc_, bitmap_);
  }
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;
  ~Canvas() { release(); }

  HDC dc() const noexcept { return dc_; }
  // 0x00RRGGBB, with GDI finished drawing.
  uint32_t pixel(int x, int y) const {
    GdiFlush();
    return bits_[static_cast<size_t>(y) * width_ + x] & 0x00FFFFFF;
  }
  int width() const noexcept { return width_; }
  int height() const noexcept { return height_; }

 private:
  void release() noexcept {
    if (previous_) SelectObject(dc_, previous_);
    if (bitmap_) DeleteObject(bitmap_);
    if (dc_) DeleteDC(dc_);
    previous_ = nullptr;
    bitmap_ = nullptr;
    dc_ = nullptr;
  }

  int width_, height_;
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ previous_ = nullptr;
  uint32_t* bits_ = nullptr;
};

// ---------------------------------------------------------------------------------------------
// JSON output

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::string jsonText(std::wstring_view text) {
  std::string out = "\"";
  for (const wchar_t c : text) {
    switch (c) {
      case L'"': out += "\\\""; break;
      case L'\\': out += "\\\\"; break;
      case L'\n': out += "\\n"; break;
      case L'\r': out += "\\r"; break;
      case L'\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c > 0x7E) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
          out += escape;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

std::string jsonText(std::string_view ascii) { return jsonText(std::wstring(ascii.begin(), ascii.end())); }
std::string jsonNumber(long long value) { return std::to_string(value); }
std::string jsonBool(bool value) { return value ? "true" : "false"; }
std::string jsonWindow(HWND window) {
  return window ? std::to_string(reinterpret_cast<uintptr_t>(window)) : std::string("null");
}
std::string jsonList(const std::vector<std::string>& items) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) out += (i ? "," : "") + items[i];
  return out + "]";
}
std::string jsonRect(const RECT& r) {
  return jsonList({jsonNumber(r.left), jsonNumber(r.top), jsonNumber(r.right), jsonNumber(r.bottom)});
}

class JsonObject {
 public:
  JsonObject& add(const char* name, const std::string& value) {
    body_ += (body_.empty() ? "\"" : ",\"") + std::string(name) + "\":" + value;
    return *this;
  }
  std::string str() const { return "{" + body_ + "}"; }

 private:
  std::string body_;
};

void writeLine(const std::string& line) {
  // Bytes straight to the handle: the output is a file or a pipe, never a console here.
  const std::string text = line + "\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// ---------------------------------------------------------------------------------------------
// Options

class Options {
 public:
  Options(int argc, wchar_t** argv) {
    for (int i = 2; i < argc; ++i) {
      const std::wstring name = argv[i];
      if (name.size() < 3 || name.compare(0, 2, L"--") != 0 || i + 1 >= argc)
        throw UsageError("options are --name value pairs");
      values_[name.substr(2)] = argv[++i];
    }
  }

  std::optional<std::wstring> text(const wchar_t* name) const {
    const auto found = values_.find(name);
    if (found == values_.end()) return std::nullopt;
    return found->second;
  }
  std::wstring requiredText(const wchar_t* name) const {
    if (auto value = text(name)) return *value;
    throw UsageError("missing option --" + narrow(name));
  }
  long long number(const wchar_t* name, std::optional<long long> fallback = std::nullopt) const {
    const std::optional<std::wstring> value = text(name);
    if (!value) {
      if (fallback) return *fallback;
      throw UsageError("missing option --" + narrow(name));
    }
    wchar_t* end = nullptr;
    const long long parsed = std::wcstoll(value->c_str(), &end, 10);
    if (value->empty() || *end != L'\0') throw UsageError("--" + narrow(name) + " is not a number");
    return parsed;
  }
  HWND window(const wchar_t* name = L"hwnd") const {
    const HWND window = reinterpret_cast<HWND>(static_cast<uintptr_t>(number(name)));
    if (!IsWindow(window)) throw UsageError("no such window");
    return window;
  }

 private:
  static std::string narrow(std::wstring_view text) { return std::string(text.begin(), text.end()); }
  std::map<std::wstring, std::wstring> values_;
};

// ---------------------------------------------------------------------------------------------
// Windows of other processes

constexpr UINT kSendTimeout = 5000;
constexpr DWORD kPollInterval = 25;

std::wstring className(HWND window) {
  wchar_t name[256] = {};
  const int length = GetClassNameW(window, name, 256);
  return std::wstring(name, length > 0 ? static_cast<size_t>(length) : 0);
}

// GetWindowText does not read another process's edit control; WM_GETTEXT does.
std::optional<std::wstring> windowText(HWND window, UINT timeout = kSendTimeout) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, timeout, &length)) return std::nullopt;
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_NORMAL,
                           timeout, &copied))
    return std::nullopt;
  text.resize(copied);
  return text;
}

DWORD processOf(HWND window) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  return process;
}

std::vector<HWND> topLevelWindows() {
  std::vector<HWND> windows;
  EnumWindows(
      [](HWND window, LPARAM list) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&windows));
  return windows;
}

std::vector<HWND> childWindows(HWND parent) {
  std::vector<HWND> children;
  for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    children.push_back(child);
  return children;
}

// A process killed a moment ago may still own windows until the server has cleaned up.
bool processAlive(DWORD process) {
  const unique_handle handle(OpenProcess(SYNCHRONIZE, FALSE, process));
  return handle && WaitForSingleObject(handle.get(), 0) == WAIT_TIMEOUT;
}

HWND findTopLevel(const std::wstring& windowClass, const std::optional<std::wstring>& caption, DWORD process) {
  for (const HWND window : topLevelWindows()) {
    if (!IsWindowVisible(window) || className(window) != windowClass) continue;
    if (process ? processOf(window) != process : !processAlive(processOf(window))) continue;
    if (caption) {
      const std::optional<std::wstring> text = windowText(window);
      if (!text || *text != *caption) continue;
    }
    return window;
  }
  return nullptr;
}

HWND findMessageBox(DWORD process) { return findTopLevel(L"#32770", std::nullopt, process); }

template <class Condition>
bool waitFor(DWORD timeout, Condition condition) {
  const ULONGLONG deadline = GetTickCount64() + timeout;
  for (;;) {
    if (condition()) return true;
    if (GetTickCount64() >= deadline) return false;
    Sleep(kPollInterval);
  }
}

HWND control(HWND parent, const Options& options) {
  const HWND found = GetDlgItem(parent, static_cast<int>(options.number(L"id")));
  if (!found) throw UsageError("no control with that id");
  return found;
}

// Messages posted to a thread are handled after the messages sent to it that are already
// waiting, one posted message per turn of its loop: `posted` + 1 sends in a row return only
// once everything posted before them has been dispatched.
void waitUntilHandled(HWND window, int posted) {
  for (int i = 0; i <= posted; ++i) {
    DWORD_PTR ignored = 0;
    if (!SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, kSendTimeout, &ignored)) return;
  }
}

void postKey(HWND target, UINT key) {
  const UINT scan = MapVirtualKeyW(key, MAPVK_VK_TO_VSC);
  PostMessageW(target, WM_KEYDOWN, key, 1 | (scan << 16));
  PostMessageW(target, WM_KEYUP, key, 1 | (scan << 16) | 0xC0000000u);
}

HWND focusOf(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

std::string describeControl(HWND child, HWND parent) {
  RECT r;
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  const std::optional<std::wstring> text = windowText(child);
  return JsonObject()
      .add("hwnd", jsonWindow(child))
      .add("id", jsonNumber(GetDlgCtrlID(child)))
      .add("class", jsonText(className(child)))
      .add("text", text ? jsonText(*text) : "null")
      .add("rect", jsonList({jsonNumber(r.left), jsonNumber(r.top), jsonNumber(r.right - r.left),
                             jsonNumber(r.bottom - r.top)}))
      .add("style", jsonNumber(static_cast<DWORD>(GetWindowLongW(child, GWL_STYLE))))
      .add("exstyle", jsonNumber(static_cast<DWORD>(GetWindowLongW(child, GWL_EXSTYLE))))
      .add("visible", jsonBool(IsWindowVisible(child)))
      .add("enabled", jsonBool(IsWindowEnabled(child)))
      .str();
}

// Which of the system's message box icons the static shows, from its pixels on the screen
// compared with the same icons drawn here: icon handles cannot be read across processes.
std::optional<std::string> messageBoxIcon(HWND iconStatic) {
  RECT client;
  GetClientRect(iconStatic, &client);
  const int width = client.right, height = client.bottom;
  if (width <= 0 || height <= 0 || !IsWindowVisible(iconStatic)) return std::nullopt;
  POINT origin{0, 0};
  ClientToScreen(iconStatic, &origin);

  Canvas shown(width, height);
  {
    const unique_screen_dc screen(GetDC(nullptr));
    if (!BitBlt(shown.dc(), 0, 0, width, height, screen.get(), origin.x, origin.y, SRCCOPY)) return std::nullopt;
  }
  const uint32_t background = shown.pixel(0, 0);

  struct Candidate {
    const char* name;
    LPCWSTR icon;
  };
  const Candidate kIcons[] = {{"hand", IDI_HAND},
                                  {"question", IDI_QUESTION},
                                  {"exclamation", IDI_EXCLAMATION},
                                  {"asterisk", IDI_ASTERISK}};
  const char* best = nullptr;
  long bestDifferent = width * height;
  for (const Candidate& candidate : kIcons) {
    Canvas drawn(width, height);
    const HBRUSH brush = CreateSolidBrush(RGB(background >> 16, (background >> 8) & 0xFF, background & 0xFF));
    FillRect(drawn.dc(), &client, brush);
    DeleteObject(brush);
    DrawIconEx(drawn.dc(), 0, 0, LoadIconW(nullptr, candidate.icon), width, height, 0, nullptr, DI_NORMAL);
    long different = 0;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) different += shown.pixel(x, y) != drawn.pixel(x, y);
    if (different < bestDifferent) {
      bestDifferent = different;
      best = candidate.name;
    }
  }
  // A few pixels may differ where the box was painted over; a different icon differs widely.
  if (best && bestDifferent * 10 <= width * height) return std::string(best);
  return std::nullopt;
}

std::wstring withoutMnemonic(std::wstring text) {
  std::wstring out;
  for (const wchar_t c : text)
    if (c != L'&') out += c;
  return out;
}

// ---------------------------------------------------------------------------------------------
// Subcommands

std::string waitWindow(const Options& options) {
  const std::wstring windowClass = options.requiredText(L"class");
  const std::optional<std::wstring> caption = options.text(L"caption");
  const DWORD process = static_cast<DWORD>(options.number(L"pid", 0));
  HWND found = nullptr;
  if (!waitFor(static_cast<DWORD>(options.number(L"timeout", 20000)),
               [&] { return (found = findTopLevel(windowClass, caption, process)) != nullptr; }))
    throw std::runtime_error("timeout");
  DWORD foundProcess = 0;
  const DWORD thread = GetWindowThreadProcessId(found, &foundProcess);
  return JsonObject()
      .add("hwnd", jsonWindow(found))
      .add("pid", jsonNumber(foundProcess))
      .add("tid", jsonNumber(thread))
      .str();
}

std::string describe(const Options& options) {
  const HWND window = options.window();
  RECT frame, client;
  GetWindowRect(window, &frame);
  GetClientRect(window, &client);
  POINT origin{0, 0};
  ClientToScreen(window, &origin);
  std::vector<std::string> controls;
  for (const HWND child : childWindows(window)) controls.push_back(describeControl(child, window));
  const std::optional<std::wstring> caption = windowText(window);
  return JsonObject()
      .add("hwnd", jsonWindow(window))
      .add("class", jsonText(className(window)))
      .add("caption", caption ? jsonText(*caption) : "null")
      .add("window", jsonRect(frame))
      .add("client", jsonList({jsonNumber(client.right), jsonNumber(client.bottom)}))
      .add("client_origin", jsonList({jsonNumber(origin.x), jsonNumber(origin.y)}))
      .add("screen", jsonList({jsonNumber(GetSystemMetrics(SM_CXSCREEN)), jsonNumber(GetSystemMetrics(SM_CYSCREEN))}))
      .add("style", jsonNumber(static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE))))
      .add("exstyle", jsonNumber(static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE))))
      .add("controls", jsonList(controls))
      .str();
}

std::string text(const Options& options) {
  const HWND window = options.window();
  const HWND target = options.text(L"id") ? control(window, options) : window;
  const std::optional<std::wstring> value =
      windowText(target, static_cast<UINT>(options.number(L"timeout", kSendTimeout)));
  if (!value) throw std::runtime_error("the window did not answer");
  return JsonObject().add("text", jsonText(*value)).str();
}

struct PendingSend {
  HWND target;
  UINT timeout;
  bool answered = false;
};

DWORD WINAPI sendClick(void* parameter) {
  auto* send = static_cast<PendingSend*>(parameter);
  DWORD_PTR ignored = 0;
  send->answered = SendMessageTimeoutW(send->target, BM_CLICK, 0, 0, SMTO_NORMAL, send->timeout, &ignored) != 0;
  return 0;
}

std::string click(const Options& options) {
  const HWND window = options.window();
  const HWND button = control(window, options);
  const auto wait = static_cast<UINT>(options.number(L"wait", 0));
  if (wait == 0) {
    // Posted: whatever the click opens, the driver is free at once.
    if (!PostMessageW(button, BM_CLICK, 0, 0)) throw std::runtime_error("cannot post the click");
    return JsonObject().add("posted", jsonBool(true)).str();
  }

  // Sent from a second thread, so that a modal box the click opens is seen while the send waits.
  // A send still waiting then is abandoned with the process, so its state outlives this call.
  static PendingSend send{button, wait};
  const unique_handle sender(CreateThread(nullptr, 0, &sendClick, &send, 0, nullptr));
  if (!sender) throw std::runtime_error("cannot start the sending thread");
  const DWORD process = processOf(window);
  HWND messageBox = nullptr;
  for (;;) {
    if (WaitForSingleObject(sender.get(), kPollInterval) == WAIT_OBJECT_0) break;
    if ((messageBox = findMessageBox(process)) != nullptr) break;
  }
  return JsonObject()
      .add("completed", jsonBool(!messageBox && send.answered))
      .add("message_box", jsonWindow(messageBox))
      .str();
}

std::string notify(const Options& options) {
  const HWND window = options.window();
  const HWND button = control(window, options);
  const WPARAM command = MAKEWPARAM(static_cast<WORD>(GetDlgCtrlID(button)), BN_CLICKED);
  if (!PostMessageW(window, WM_COMMAND, command, reinterpret_cast<LPARAM>(button)))
    throw std::runtime_error("cannot post the notification");
  waitUntilHandled(window, 1);
  return JsonObject().add("window_alive", jsonBool(IsWindow(window))).str();
}

std::string windows(const Options& options) {
  const auto process = static_cast<DWORD>(options.number(L"pid"));
  std::vector<std::string> found;
  for (const HWND window : topLevelWindows()) {
    if (!IsWindowVisible(window) || processOf(window) != process) continue;
    RECT frame;
    GetWindowRect(window, &frame);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor);
    const std::optional<std::wstring> caption = windowText(window);
    found.push_back(JsonObject()
                        .add("hwnd", jsonWindow(window))
                        .add("class", jsonText(className(window)))
                        .add("caption", caption ? jsonText(*caption) : "null")
                        .add("window", jsonRect(frame))
                        .add("owner", jsonWindow(GetWindow(window, GW_OWNER)))
                        .add("work_area", jsonRect(monitor.rcWork))
                        .str());
  }
  return JsonObject().add("windows", jsonList(found)).str();
}

std::string key(const Options& options) {
  const HWND window = options.window();
  const std::wstring name = options.requiredText(L"key");
  const std::map<std::wstring, UINT> keys{{L"tab", VK_TAB}, {L"enter", VK_RETURN}, {L"escape", VK_ESCAPE}};
  const auto found = keys.find(name);
  if (found == keys.end()) throw UsageError("--key is tab, enter or escape");
  const HWND focus = focusOf(window);
  if (!focus) throw std::runtime_error("nothing has the focus");
  postKey(focus, found->second);
  waitUntilHandled(window, 2);
  return JsonObject().add("to", jsonWindow(focus)).add("window_alive", jsonBool(IsWindow(window))).str();
}

std::string postCharacters(HWND window, const std::wstring& characters) {
  const HWND focus = focusOf(window);
  if (!focus) throw std::runtime_error("nothing has the focus");
  for (const wchar_t c : characters) PostMessageW(focus, WM_CHAR, c, 1);
  waitUntilHandled(window, static_cast<int>(characters.size()));
  return JsonObject().add("to", jsonWindow(focus)).add("id", jsonNumber(GetDlgCtrlID(focus))).str();
}

std::string chars(const Options& options) {
  return postCharacters(options.window(), options.requiredText(L"chars"));
}

// Clicks into a control of `window` as a user does, until it has the focus.
void clickInto(HWND window, HWND target) {
  // A click at the control's far right puts the caret at the end of its text.
  RECT client;
  GetClientRect(target, &client);
  const LPARAM point = MAKELPARAM(client.right - 2, client.bottom / 2);
  // Under Xvfb the window's activation can arrive from the X server after the click and hand
  // the focus back to the control that had it: click again until the control keeps it.
  for (int attempt = 0; attempt < 5; ++attempt) {
    PostMessageW(target, WM_LBUTTONDOWN, MK_LBUTTON, point);
    PostMessageW(target, WM_LBUTTONUP, 0, point);
    waitUntilHandled(window, 2);
    if (waitFor(500, [&] { return focusOf(window) == target; })) break;
  }
}

std::string clickIntoControl(const Options& options) {
  const HWND window = options.window();
  const HWND target = control(window, options);
  clickInto(window, target);
  const HWND focused = focusOf(window);
  return JsonObject().add("id", focused ? jsonNumber(GetDlgCtrlID(focused)) : "null").str();
}

std::string type(const Options& options) {
  const HWND window = options.window();
  clickInto(window, control(window, options));
  return postCharacters(window, options.requiredText(L"chars"));
}

std::string focus(const Options& options) {
  const HWND window = options.window();
  const HWND focused = focusOf(window);
  JsonObject out;
  out.add("hwnd", jsonWindow(focused));
  out.add("id", focused ? jsonNumber(GetDlgCtrlID(focused)) : "null");
  out.add("class", focused ? jsonText(className(focused)) : "null");
  const std::optional<std::wstring> focusedText = focused ? windowText(focused) : std::nullopt;
  out.add("text", focusedText ? jsonText(*focusedText) : "null");
  return out.str();
}

std::string messageBox(const Options& options) {
  const auto process = static_cast<DWORD>(options.number(L"pid"));
  const auto timeout = static_cast<DWORD>(options.number(L"timeout", 20000));
  HWND box = nullptr;
  if (!waitFor(timeout, [&] { return (box = findMessageBox(process)) != nullptr; })) throw std::runtime_error("timeout");

  std::vector<std::string> buttons;
  std::wstring message;
  HWND iconStatic = nullptr;
  for (const HWND child : childWindows(box)) {
    const std::wstring kind = className(child);
    const std::wstring childText = windowText(child).value_or(L"");
    if (_wcsicmp(kind.c_str(), L"Button") == 0 && IsWindowVisible(child)) {
      buttons.push_back(JsonObject()
                            .add("id", jsonNumber(GetDlgCtrlID(child)))
                            .add("text", jsonText(withoutMnemonic(childText)))
                            .str());
    } else if (_wcsicmp(kind.c_str(), L"Static") == 0) {
      // The icon's static has no text; the message's does.
      if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
        iconStatic = child;
      else if (message.empty())
        message = childText;
    }
  }
  // The icon is compared once the box has been painted.
  std::optional<std::string> icon;
  if (iconStatic) waitFor(2000, [&] { return (icon = messageBoxIcon(iconStatic)).has_value(); });

  const std::optional<std::wstring> caption = windowText(box);
  return JsonObject()
      .add("hwnd", jsonWindow(box))
      .add("owner", jsonWindow(GetWindow(box, GW_OWNER)))
      .add("caption", caption ? jsonText(*caption) : "null")
      .add("text", jsonText(message))
      .add("buttons", jsonList(buttons))
      .add("icon", icon ? jsonText(*icon) : "null")
      .str();
}

std::string press(const Options& options) {
  const HWND box = options.window();
  HWND button = nullptr;
  if (options.text(L"id")) {
    button = control(box, options);
  } else {
    const std::wstring wanted = options.requiredText(L"button");
    for (const HWND child : childWindows(box))
      if (_wcsicmp(className(child).c_str(), L"Button") == 0 && withoutMnemonic(windowText(child).value_or(L"")) == wanted)
        button = child;
  }
  if (!button) throw std::runtime_error("no such button");
  if (!PostMessageW(button, BM_CLICK, 0, 0)) throw std::runtime_error("cannot post the click");
  return JsonObject().add("pressed", jsonWindow(button)).str();
}

std::string close(const Options& options) {
  const HWND window = options.window();
  const std::wstring how = options.text(L"how").value_or(L"wm_close");
  BOOL posted = FALSE;
  if (how == L"wm_close")
    posted = PostMessageW(window, WM_CLOSE, 0, 0);
  else if (how == L"sc_close")
    posted = PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
  else
    throw UsageError("--how is wm_close or sc_close");
  if (!posted) throw std::runtime_error("cannot post the message");
  return JsonObject().add("posted", jsonBool(true)).str();
}

std::string waitExit(const Options& options) {
  const auto process = static_cast<DWORD>(options.number(L"pid"));
  const unique_handle handle(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process));
  if (!handle) return JsonObject().add("exited", jsonBool(true)).add("exit_code", "null").str();
  const bool exited =
      WaitForSingleObject(handle.get(), static_cast<DWORD>(options.number(L"timeout", 20000))) == WAIT_OBJECT_0;
  DWORD code = 0;
  const bool known = exited && GetExitCodeProcess(handle.get(), &code);
  return JsonObject().add("exited", jsonBool(exited)).add("exit_code", known ? jsonNumber(code) : "null").str();
}

// ---------------------------------------------------------------------------------------------
// The registry as an administrator, a policy or a security product may leave it

using unique_local = handles::unique_any<handles::traits::null_is_none<HLOCAL, &LocalFree>>;

std::string keySecurity(const Options& options) {
  const std::wstring key = options.requiredText(L"key");
  constexpr std::wstring_view kCurrentUser = L"HKEY_CURRENT_USER\\";
  if (key.compare(0, kCurrentUser.size(), kCurrentUser) != 0) throw UsageError("--key starts with HKEY_CURRENT_USER\\");
  handles::unique_hkey opened;
  const LSTATUS opening = RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str() + kCurrentUser.size(), 0,
                                        READ_CONTROL | WRITE_DAC, opened.put());
  if (opening != ERROR_SUCCESS) throw std::runtime_error("cannot open the key: " + std::to_string(opening));

  DWORD size = 0;
  RegGetKeySecurity(opened.get(), DACL_SECURITY_INFORMATION, nullptr, &size);
  std::vector<BYTE> current(size);
  if (size == 0 || RegGetKeySecurity(opened.get(), DACL_SECURITY_INFORMATION, current.data(), &size) != ERROR_SUCCESS)
    throw std::runtime_error("cannot read the key's security");
  LPWSTR before = nullptr;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(current.data(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                            &before, nullptr))
    throw std::runtime_error("cannot write the key's security as SDDL");
  const unique_local beforeOwned(before);

  PSECURITY_DESCRIPTOR wanted = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(options.requiredText(L"sddl").c_str(), SDDL_REVISION_1,
                                                            &wanted, nullptr))
    throw UsageError("--sddl is no security descriptor");
  const unique_local wantedOwned(wanted);
  const LSTATUS setting = RegSetKeySecurity(opened.get(), DACL_SECURITY_INFORMATION, wanted);
  if (setting != ERROR_SUCCESS) throw std::runtime_error("cannot set the key's security: " + std::to_string(setting));
  return JsonObject().add("before", jsonText(std::wstring_view(before))).str();
}

// ---------------------------------------------------------------------------------------------
// Colour schemes

std::string hexFromColour(COLORREF colour) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "%02x%02x%02x", GetRValue(colour), GetGValue(colour), GetBValue(colour));
  return hex;
}

std::string setSysColors(const Options& options) {
  const std::wstring list = options.requiredText(L"colors");
  std::vector<int> indices;
  std::vector<COLORREF> colours;
  for (const wchar_t* at = list.c_str();;) {
    wchar_t* end = nullptr;
    const long index = std::wcstol(at, &end, 10);
    if (end == at || *end != L'=' || index < 0 || index > COLOR_MENUBAR)
      throw UsageError("--colors is a list of INDEX=RRGGBB");
    at = end + 1;
    const unsigned long rgb = std::wcstoul(at, &end, 16);
    if (end - at != 6 || (*end != L'\0' && *end != L',')) throw UsageError("a colour is RRGGBB in hex");
    indices.push_back(static_cast<int>(index));
    colours.push_back(RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF));
    if (*end == L'\0') break;
    at = end + 1;
  }
  std::string old;
  for (const int index : indices) {
    if (!old.empty()) old += ',';
    old.append(std::to_string(index)).append("=").append(hexFromColour(GetSysColor(index)));
  }
  if (!SetSysColors(static_cast<int>(indices.size()), indices.data(), colours.data()))
    throw std::runtime_error("SetSysColors failed with " + std::to_string(GetLastError()));
  return JsonObject().add("old", jsonText(old)).str();
}

std::string settingChange(const Options& options) {
  const HWND window = options.window();
  const auto action = static_cast<WPARAM>(options.number(L"action"));
  DWORD_PTR ignored = 0;
  if (!SendMessageTimeoutW(window, WM_SETTINGCHANGE, action, 0, SMTO_NORMAL, kSendTimeout, &ignored))
    throw std::runtime_error("the window did not answer");
  return JsonObject().add("window_alive", jsonBool(IsWindow(window))).str();
}

// WM_QUERYENDSESSION as Windows sends it to every top-level window at logoff, and the window's
// answer (TRUE: the session may end). Windows then tells the window with WM_ENDSESSION whether
// the session ends: here it does when the window agreed, as when every program agreed. After
// that, ending the process is the caller's to do, as it is Windows' at any moment.
std::string queryEndSession(const Options& options) {
  const HWND window = options.window();
  DWORD_PTR answer = 0;
  if (!SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, kSendTimeout, &answer))
    throw std::runtime_error("the window did not answer");
  const WPARAM ending = answer != 0 ? TRUE : FALSE;
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(window, WM_ENDSESSION, ending, ENDSESSION_LOGOFF, SMTO_NORMAL, kSendTimeout, &ignored);
  return JsonObject().add("may_end", jsonBool(answer != 0)).str();
}

// The DPI that the system and the primary monitor have for this program, which is per-monitor
// aware as TEST.exe is. Wine 10 builds the monitors' DPI anew once its server has restarted,
// when the desktop process starts: until then a program sees the one from before.
std::string dpi(const Options&) {
  UINT x = 0;
  UINT y = 0;
  const HRESULT got = GetDpiForMonitor(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), MDT_EFFECTIVE_DPI, &x, &y);
  if (FAILED(got)) throw std::runtime_error("GetDpiForMonitor failed with " + std::to_string(got));
  return JsonObject().add("system", jsonNumber(GetDpiForSystem())).add("monitor", jsonNumber(x)).str();
}

// ---------------------------------------------------------------------------------------------

using Command = std::string (*)(const Options&);

const std::map<std::wstring, Command>& commands() {
  static const std::map<std::wstring, Command> table{
      {L"wait-window", &waitWindow}, {L"describe", &describe}, {L"text", &text},
      {L"click", &click},            {L"key", &key},           {L"chars", &chars},
      {L"type", &type},              {L"focus", &focus},       {L"message-box", &messageBox},
      {L"press", &press},            {L"close", &close},       {L"wait-exit", &waitExit},
      {L"notify", &notify},          {L"windows", &windows},   {L"click-into", &clickIntoControl},
      {L"key-security", &keySecurity}, {L"set-sys-colors", &setSysColors}, {L"setting-change", &settingChange},
      {L"query-end-session", &queryEndSession}, {L"dpi", &dpi},
  };
  return table;
}

std::string failure(const std::string& message) {
  return JsonObject().add("ok", jsonBool(false)).add("error", jsonText(message)).str();
}

// Puts "ok": true in front of a command's answer.
std::string success(const std::string& answer) {
  return answer.size() > 2 ? "{\"ok\":true," + answer.substr(1) : "{\"ok\":true}";
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  try {
    if (argc < 2) throw UsageError("usage: wine_driver <command> [--option value]...");
    const auto found = commands().find(argv[1]);
    if (found == commands().end()) throw UsageError("unknown command");
    writeLine(success(found->second(Options(argc, argv))));
    return 0;
  } catch (const UsageError& error) {
    writeLine(failure(error.what()));
    return 2;
  } catch (const std::exception& error) {
    writeLine(failure(error.what()));
    return 1;
  } catch (...) {
    writeLine(failure("unexpected failure"));
    return 1;
  }
}
