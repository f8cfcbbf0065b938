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

// The time each WinHTTP step of a script's download may take: the run waits no longer for it.
constexpr int kScriptTimeoutMs = 10000;

// One question for a proxy script, shared by the run that asks it and the thread that finds
// the answer. Whichever lets go of it last frees it: a thread still busy when the run stopped
// waiting ends by itself, and leaves nothing behind.
class ScriptQuestion {
 public:
  explicit ScriptQuestion(const checks::ScriptQuestion& question)
      : url(wide(question.url)), scriptAddress(wide(question.scriptAddress)),
        discovery(question.source == checks::ScriptSource::Discovery), logOn(question.logOnIfChallenged) {}

  const std::wstring url;
  const std::wstring scriptAddress;
  const bool discovery;
  const bool logOn;
  const WinHttpFunctions winhttp;

  // Written by the thread before it sets `answered`, read by the run only after that.
  checks::ScriptAnswer answer;
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

// What the script answers. Discovery and the configured address are asked one at a time (Wine
// refuses the two together), and a script found by discovery is never offered the user's logon.
checks::ScriptAnswer answerOf(const ScriptQuestion& question) {
  using Outcome = checks::ScriptAnswer::Outcome;
  const WinHttpFunctions& winhttp = question.winhttp;
  // A session that goes nowhere itself: it only fetches the script.
  const Session session(winhttp, winhttp.open(kUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                              WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session.get()) return {};
  winhttp.setTimeouts(session.get(), kScriptTimeoutMs, kScriptTimeoutMs, kScriptTimeoutMs, kScriptTimeoutMs);

  WINHTTP_AUTOPROXY_OPTIONS options{};
  if (question.discovery) {
    options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
    options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
  } else {
    options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
    options.lpszAutoConfigUrl = question.scriptAddress.c_str();
    options.fAutoLogonIfChallenged = question.logOn ? TRUE : FALSE;
  }
  WINHTTP_PROXY_INFO info{};
  const BOOL found = winhttp.getProxyForUrl(session.get(), question.url.c_str(), &options, &info);
  const DWORD error = found ? ERROR_SUCCESS : GetLastError();
  // The strings are the caller's to free, whatever the answer.
  const handles::unique_global_string servers(info.lpszProxy);
  const handles::unique_global_string bypass(info.lpszProxyBypass);
  if (!found) return {error == ERROR_WINHTTP_LOGIN_FAILURE ? Outcome::LogOnRequired : Outcome::NoAnswer, {}};
  if (info.dwAccessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY) return {Outcome::Answered, {}};  // DIRECT
  return {Outcome::Answered, {textOf(servers), textOf(bypass)}};
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

// The run's share of a question, and the thread that answers it. The thread goes on when this
// goes; its handle does not.
class BackgroundAnswer final : public checks::PendingAnswer {
 public:
  BackgroundAnswer(QuestionRef question, handles::unique_handle worker)
      : question_(std::move(question)), worker_(std::move(worker)) {}

  std::optional<checks::ScriptAnswer> answer() override {
    if (!question_->answered.load(std::memory_order_acquire)) return std::nullopt;
    return question_->answer;
  }

 private:
  QuestionRef question_;
  handles::unique_handle worker_;
};

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

std::unique_ptr<checks::PendingAnswer> WinHttpProxyLookup::ask(const checks::ScriptQuestion& question) {
  QuestionRef shared(new ScriptQuestion(question));
  if (!shared->winhttp.canAskScript()) return nullptr;
  shared->hold();  // the thread's share
  handles::unique_handle worker(CreateThread(nullptr, 0, &answerInBackground, shared.get(), 0, nullptr));
  if (!worker) {
    shared->release();
    return nullptr;
  }
  return std::make_unique<BackgroundAnswer>(std::move(shared), std::move(worker));
}

}  // namespace win32
