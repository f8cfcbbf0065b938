// The proxy the current user's Windows uses for the web, through WinHTTP's own lookups:
// WinHttpGetIEProxyConfigForCurrentUser for the Internet Options, WinHttpGetProxyForUrl for a
// proxy script. winhttp.dll is no KnownDLL, so it is loaded from System32 when it is needed.
#pragma once

#include "checks/environment_checks.h"

namespace win32 {

class WinHttpProxyLookup final : public checks::ProxyLookup {
 public:
  // `wait` keeps the thread's messages flowing while a script is asked.
  explicit WinHttpProxyLookup(checks::RequestWait& wait) : wait_(wait) {}

  std::optional<checks::UserProxySettings> userSettings() override;
  // Runs on a thread of its own, since neither finding nor running a script has a time limit of
  // its own: the run waits for it until `limit`, and after that leaves it to end by itself.
  std::optional<checks::Proxy> askScript(rt::TextView url, const checks::UserProxySettings& settings,
                                         std::chrono::milliseconds limit) override;

 private:
  checks::RequestWait& wait_;
};

}  // namespace win32
