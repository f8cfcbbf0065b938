// The proxy the current user's Windows uses for the web, through WinHTTP's own lookups:
// WinHttpGetIEProxyConfigForCurrentUser for the Internet Options, WinHttpGetProxyForUrl for a
// proxy script. winhttp.dll is no KnownDLL, so it is loaded from System32 when it is needed.
#pragma once

#include "checks/environment_checks.h"

namespace win32 {

class WinHttpProxyLookup final : public checks::ProxyLookup {
 public:
  std::optional<checks::UserProxySettings> userSettings() override;
  // Each question runs on a thread of its own, since neither finding nor running a script has
  // a time limit of its own: the run waits for it as long as it chooses, and after that leaves
  // it to end by itself.
  std::unique_ptr<checks::PendingAnswer> ask(const checks::ScriptQuestion& question) override;
};

}  // namespace win32
