// The user's proxy settings and a proxy script's answer, as a test sets them; by default the
// settings cannot be read, so no proxy is used.
#pragma once

#include <vector>

#include "checks/environment_checks.h"

namespace fakes {

class FakeProxyLookup : public checks::ProxyLookup {
 public:
  std::optional<checks::UserProxySettings> userSettings() override { return settings; }
  std::optional<checks::Proxy> askScript(rt::TextView url, const checks::UserProxySettings&,
                                         std::chrono::milliseconds limit) override {
    asked.push_back({rt::Text(url), limit});
    return scriptAnswer;
  }

  std::optional<checks::UserProxySettings> settings;
  std::optional<checks::Proxy> scriptAnswer;  // none: no script could be found, fetched or run
  struct Question {
    rt::Text url;
    std::chrono::milliseconds limit;
  };
  std::vector<Question> asked;
};

}  // namespace fakes
