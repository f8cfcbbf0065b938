#include "checks/users_proxy.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace checks {

namespace {

using Clock = std::chrono::steady_clock;

// Each proxy script is waited for at most the time of one of the request's phases, counted
// from the start of the lookup. Discovery and the configured script are asked side by side, so
// neither uses up the other's time, and the longest wait before the page is asked for is this.
constexpr std::chrono::seconds kScriptLimit{10};

char16_t lowerCase(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; }

bool equalIgnoringCase(rt::TextView a, rt::TextView b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) { return lowerCase(x) == lowerCase(y); });
}

// The entries of a server or bypass list: Windows separates them by semicolons or white space.
std::vector<rt::TextView> entriesOf(rt::TextView list) {
  std::vector<rt::TextView> entries;
  size_t start = 0;
  for (size_t i = 0; i <= list.size(); ++i) {
    if (i < list.size() && list[i] != u';' && list[i] != u' ' && list[i] != u'\t' && list[i] != u'\r' &&
        list[i] != u'\n')
      continue;
    if (i > start) entries.push_back(list.substr(start, i - start));
    start = i + 1;
  }
  return entries;
}

// The host of "http://host[:port][/path]", an IPv6 address with its brackets.
rt::TextView hostOf(rt::TextView url) {
  const size_t scheme = url.find(u"://");
  rt::TextView rest = scheme == rt::TextView::npos ? url : url.substr(scheme + 3);
  rest = rest.substr(0, rest.find_first_of(u"/?#"));
  if (!rest.empty() && rest.front() == u'[') return rest.substr(0, rest.find(u']') + 1);
  return rest.substr(0, rest.find(u':'));
}

// Whether `text` fits `pattern`, in which each "*" stands for any run of characters; case is
// ignored. WinINet reads the bypass list of the Internet Options so: "*.example.com", "10.*",
// "*int*". (WinHTTP itself takes a "*" only at the left.)
bool fits(rt::TextView pattern, rt::TextView text) {
  size_t p = 0, t = 0, star = rt::TextView::npos, resume = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == u'*') {
      star = p++;
      resume = t;
    } else if (p < pattern.size() && lowerCase(pattern[p]) == lowerCase(text[t])) {
      ++p;
      ++t;
    } else if (star != rt::TextView::npos) {
      p = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

// Whether the bypass list sends a request for `host` direct. "<local>" stands for every name
// without a dot, the intranet's.
bool bypassed(rt::TextView bypass, rt::TextView host) {
  for (rt::TextView entry : entriesOf(bypass)) {
    if (equalIgnoringCase(entry, u"<local>")) {
      if (host.find(u'.') == rt::TextView::npos) return true;
    } else if (fits(entry, host)) {
      return true;
    }
  }
  return false;
}

// The server of a list that plain HTTP goes through: its "http=" entry, else its first entry
// that names no scheme ("http=a:80;https=b:443;ftp=c:21;socks=d:1080" gives "a:80", a
// script's "a:80;b:80" gives "a:80"); nothing when there is neither. The request object, like
// WinHTTP, would use only the first server of a list anyway, and fail over to none of the
// others.
std::optional<rt::Text> httpServerOf(rt::TextView servers) {
  std::optional<rt::Text> withoutScheme;
  for (rt::TextView entry : entriesOf(servers)) {
    const size_t equals = entry.find(u'=');
    if (equals == rt::TextView::npos) {
      if (!withoutScheme) withoutScheme = rt::Text(entry);
    } else if (equalIgnoringCase(entry.substr(0, equals), u"http") && equals + 1 < entry.size()) {
      return rt::Text(entry.substr(equals + 1));
    }
  }
  return withoutScheme;
}

}  // namespace

// A script asked in the background, and what it has answered so far.
struct UsersProxy::Script {
  ScriptQuestion question;
  Clock::time_point bound;
  std::unique_ptr<PendingAnswer> pending;
  std::optional<ScriptAnswer> answer;

  void ask(ProxyLookup& lookup) {
    answer.reset();
    pending.reset();
    try {
      pending = lookup.ask(question);
    } catch (...) {
    }
    if (!pending) answer = ScriptAnswer{};
  }
};

UsersProxy::UsersProxy(ProxyLookup& lookup, RequestWait& wait, rt::TextView url) noexcept
    : lookup_(lookup), wait_(wait) {
  try {
    url_ = rt::Text(url);
    host_ = rt::Text(hostOf(url));
    settings_ = lookup_.userSettings();
    if (!settings_) return;
    const Clock::time_point bound = wait_.now() + kScriptLimit;
    const auto start = [&](ScriptSource source, rt::TextView address) {
      auto script = std::make_unique<Script>(Script{{url_, source, rt::Text(address), false}, bound, nullptr, {}});
      script->ask(lookup_);
      return script;
    };
    if (settings_->autoDetect) discovery_ = start(ScriptSource::Discovery, u"");
    if (!settings_->autoConfigUrl.empty()) configured_ = start(ScriptSource::ConfiguredAddress, settings_->autoConfigUrl);
    discoveryDecidesLater_ = discovery_ && !configured_ && !serverFor(settings_->fixed);
  } catch (...) {
    settings_.reset();
    discovery_.reset();
    configured_.reset();
    discoveryDecidesLater_ = false;
  }
}

UsersProxy::~UsersProxy() = default;

std::optional<ScriptAnswer> UsersProxy::settle(Script& script, Clock::time_point until) noexcept {
  try {
    until = std::min(until, script.bound);
    for (;;) {
      if (!script.answer) {
        const auto left = std::max(std::chrono::duration_cast<std::chrono::milliseconds>(until - wait_.now()),
                                   std::chrono::milliseconds::zero());
        wait_.waitUntil(
            [&] {
              if (!script.answer) script.answer = script.pending->answer();
              return script.answer.has_value();
            },
            left);
        if (!script.answer) return std::nullopt;
      }
      // Microsoft's advice: ask without the user's logon first, and again with it only when the
      // script's server asked for one. Only for the address an administrator configured: a
      // script found by discovery comes from whoever answers for WPAD on the network.
      if (script.answer->outcome == ScriptAnswer::Outcome::LogOnRequired &&
          script.question.source == ScriptSource::ConfiguredAddress && !script.question.logOnIfChallenged) {
        script.question.logOnIfChallenged = true;
        script.ask(lookup_);
        continue;
      }
      return script.answer;
    }
  } catch (...) {
    return std::nullopt;
  }
}

std::optional<rt::Text> UsersProxy::serverFor(const Proxy& proxy) const {
  if (bypassed(proxy.bypass, host_)) return std::nullopt;
  return httpServerOf(proxy.servers);
}

std::optional<rt::Text> UsersProxy::forFirstRequest() noexcept {
  try {
    if (!settings_ || discoveryDecidesLater_) return std::nullopt;
    for (Script* script : {discovery_.get(), configured_.get()}) {
      if (!script) continue;
      const std::optional<ScriptAnswer> answer = settle(*script, Clock::time_point::max());
      if (answer && answer->outcome == ScriptAnswer::Outcome::Answered) return serverFor(answer->proxy);
    }
    return serverFor(settings_->fixed);
  } catch (...) {
    return std::nullopt;
  }
}

std::optional<rt::Text> UsersProxy::forRetry(Clock::time_point deadline) noexcept {
  try {
    if (!discoveryDecidesLater_ || wait_.now() >= deadline) return std::nullopt;
    const std::optional<ScriptAnswer> answer = settle(*discovery_, deadline);
    if (answer && answer->outcome == ScriptAnswer::Outcome::Answered) return serverFor(answer->proxy);
    return std::nullopt;
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace checks
