// The proxy that the current user's Windows takes for the web, decided for one request of the
// connectivity check as WinHTTP documents it: a script found by automatic detection first, then
// the script at the configured address, then the proxy set by hand.
#pragma once

#include <chrono>
#include <memory>
#include <optional>

#include "checks/environment_checks.h"

namespace checks {

class UsersProxy {
 public:
  // Reads the user's settings and starts asking their scripts, each in the background and each
  // within 10 seconds of this moment. Nothing read, nothing started: the request goes direct.
  UsersProxy(ProxyLookup& lookup, RequestWait& wait, rt::TextView url) noexcept;
  ~UsersProxy();
  UsersProxy(const UsersProxy&) = delete;
  UsersProxy& operator=(const UsersProxy&) = delete;

  // The proxy server ("host:port") that the request is first sent through; nothing: direct.
  // Where the settings name a proxy script's address or a proxy by hand for the request, the
  // scripts are waited for (10 seconds at most). Automatic detection alone is not: a user
  // without a proxy, Windows' default, has the request sent at once.
  std::optional<rt::Text> forFirstRequest() noexcept;

  // Whether a first request sent direct may be sent once more, should discovery find a proxy.
  bool mayRetry() const noexcept { return discoveryDecidesLater_; }

  // After a first request sent direct did not answer "ok": the proxy server that discovery
  // finds for it, waited for until discovery's 10 seconds are over or `deadline`, whichever
  // comes first; nothing when discovery finds none, says DIRECT, or has not answered by then.
  std::optional<rt::Text> forRetry(std::chrono::steady_clock::time_point deadline) noexcept;

 private:
  struct Script;
  std::optional<ScriptAnswer> settle(Script& script, std::chrono::steady_clock::time_point until) noexcept;
  std::optional<rt::Text> serverFor(const Proxy& proxy) const;

  ProxyLookup& lookup_;
  RequestWait& wait_;
  rt::Text url_;
  rt::Text host_;
  std::optional<UserProxySettings> settings_;
  std::unique_ptr<Script> discovery_;
  std::unique_ptr<Script> configured_;
  bool discoveryDecidesLater_ = false;
};

}  // namespace checks
