#include "platform/win32/winhttp_proxy.h"

#include <windows.h>
// Only for the declarations, from which the pointer types below are taken: nothing is imported.
#include <winhttp.h>

#include <atomic>
#include <memory>
#include <string>

#include "platform/win32/handles/handles.h"
#include "platform/win32/system_library.h"
#include "platform/win32/text_win32.h"

namespace win32 {

namespace {

constexpr wchar_t kWinHttp[] = L"winhttp.dll";
constexpr wchar_t kUserAgent[] = L"PatchQUADRELL-Windows10";

rt::Text textOf(const handles::unique_global_string& owned) { return owned ? text(owned.get()) : rt::Text(); }

// The WinHTTP functions the lookup needs, from a winhttp.dll that this holder keeps loaded.
struct WinHttpFunctions {
  handles::unique_hmodule module = loadSystemLibrary(kWinHttp);
  decltype(&WinHttpGetIEProxyConfigForCurrentUser) userSettings =
      procedure<decltype(&WinHttpGetIEProxyConfigForCurrentUser)>(module.get(), "WinHttpGetIEProxyConfigForCurrentUser");
  decltype(&WinHttpOpen) open = procedure<decltype(&WinHttpOpen)>(module.get(), "WinHttpOpen");
  decltype(&WinHttpSetTimeouts) setTimeouts = procedure<decltype(&WinHttpSetTimeouts)>(module.get(), "WinHttpSetTimeouts");
  decltype(&WinHttpGetProxyForUrl) getProxyForUrl =
      procedure<decltype(&WinHttpGetProxyForUrl)>(module.get(), "WinHttpGetProxyForUrl");
  decltype(&WinHttpCloseHandle) closeHandle = procedure<decltype(&WinHttpCloseHandle)>(module.get(), "WinHttpCloseHandle");

  // All that asking a script takes.
  bool canAskScript() const { return open && setTimeouts && getProxyForUrl && closeHandle; }
};

// A WinHTTP session, closed with WinHttpCloseHandle.
class Session {
 public:
  Session(const WinHttpFunctions& winhttp, HINTERNET handle) : winhttp_(winhttp), handle_(handle) {}
  ~Session() {
    if (handle_) winhttp_.closeHandle(handle_);
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  HINTERNET get() const { return handle_; }

 private:
  const WinHttpFunctions& winhttp_;
  HINTERNET handle_;
};

// One question for the proxy script, shared by the run that asks it and the thread that finds
// the answer. Whichever lets go of it last frees it: a thread still busy when the run stopped
// waiting ends by itself, and leaves nothing behind.
class ScriptQuestion {
 public:
  ScriptQuestion(rt::TextView forUrl, const checks::UserProxySettings& settings, DWORD limitMs)
      : url(wide(forUrl)), autoConfigUrl(wide(settings.autoConfigUrl)), autoDetect(settings.autoDetect),
        timeoutMs(limitMs) {}

  const std::wstring url;
  const std::wstring autoConfigUrl;
  const bool autoDetect;
  const DWORD timeoutMs;
  const WinHttpFunctions winhttp;

  // Written by the thread before it sets `answered`, read by the run only after that.
  std::optional<checks::Proxy> answer;
  std::atomic<bool> answered{false};

  void hold() noexcept { holders_.fetch_add(1, std::memory_order_relaxed); }
  void release() noexcept {
    if (holders_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }

 private:
  std::atomic<int> holders_{1};
};

struct Release {
  void operator()(ScriptQuestion* question) const noexcept { question->release(); }
};
using QuestionRef = std::unique_ptr<ScriptQuestion, Release>;

// What the script answers: found by automatic detection first, as Windows tries it before a
// configured script, then the one at the configured address. Each is asked on its own (Wine
// refuses the two together). The user's logon is not offered to whoever serves the script.
std::optional<checks::Proxy> answerOf(const ScriptQuestion& question) {
  const WinHttpFunctions& winhttp = question.winhttp;
  // A session that goes nowhere itself: it only fetches the script.
  const Session session(winhttp, winhttp.open(kUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                              WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session.get()) return std::nullopt;
  const int timeout = static_cast<int>(question.timeoutMs);
  winhttp.setTimeouts(session.get(), timeout, timeout, timeout, timeout);

  WINHTTP_AUTOPROXY_OPTIONS ways[2] = {};
  size_t count = 0;
  if (question.autoDetect) {
    ways[count].dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
    ways[count++].dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
  }
  if (!question.autoConfigUrl.empty()) {
    ways[count].dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
    ways[count++].lpszAutoConfigUrl = question.autoConfigUrl.c_str();
  }
  for (size_t i = 0; i < count; ++i) {
    WINHTTP_PROXY_INFO info{};
    const BOOL found = winhttp.getProxyForUrl(session.get(), question.url.c_str(), &ways[i], &info);
    // The strings are the caller's to free, whatever the answer.
    const handles::unique_global_string servers(info.lpszProxy);
    const handles::unique_global_string bypass(info.lpszProxyBypass);
    if (!found) continue;
    if (info.dwAccessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY) return checks::Proxy{};  // DIRECT
    return checks::Proxy{textOf(servers), textOf(bypass)};
  }
  return std::nullopt;
}

DWORD WINAPI answerInBackground(void* parameter) noexcept {
  const QuestionRef question(static_cast<ScriptQuestion*>(parameter));
  try {
    question->answer = answerOf(*question);
  } catch (...) {
    // No answer: the request goes as it would have gone without one.
  }
  question->answered.store(true, std::memory_order_release);
  return 0;
}

}  // namespace

std::optional<checks::UserProxySettings> WinHttpProxyLookup::userSettings() {
  const WinHttpFunctions winhttp;
  if (!winhttp.userSettings) return std::nullopt;
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
  const BOOL got = winhttp.userSettings(&config);
  // The strings are the caller's to free, whatever the answer.
  const handles::unique_global_string autoConfigUrl(config.lpszAutoConfigUrl);
  const handles::unique_global_string servers(config.lpszProxy);
  const handles::unique_global_string bypass(config.lpszProxyBypass);
  if (!got) return std::nullopt;
  return checks::UserProxySettings{config.fAutoDetect != FALSE, textOf(autoConfigUrl),
                                   {textOf(servers), textOf(bypass)}};
}

std::optional<checks::Proxy> WinHttpProxyLookup::askScript(rt::TextView url, const checks::UserProxySettings& settings,
                                                           std::chrono::milliseconds limit) {
  const QuestionRef question(new ScriptQuestion(url, settings, static_cast<DWORD>(limit.count())));
  if (!question->winhttp.canAskScript()) return std::nullopt;
  question->hold();  // the thread's share
  const handles::unique_handle worker(CreateThread(nullptr, 0, &answerInBackground, question.get(), 0, nullptr));
  if (!worker) {
    question->release();
    return std::nullopt;
  }
  if (!wait_.waitUntil([&] { return question->answered.load(std::memory_order_acquire); }, limit)) return std::nullopt;
  return question->answer;
}

}  // namespace win32
