// The environment checks of modRegistro: whether the Internet can be reached, and whether each
// product's installed version still needs the restore.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "registry/modRegistro.h"
#include "runtime/automation.h"

namespace checks {

// The forced connection test of the platform: non-zero when a connection to the server of
// `url` can be made.
class ConnectionTest {
 public:
  virtual ~ConnectionTest() = default;
  virtual int32_t InternetCheckConnection(rt::TextView url) = 0;
};

// Waiting for an asynchronous request on the user-interface thread. The run stays synchronous
// for the user: only what the request itself needs (posted and sent messages) is dispatched, so
// that clicks and keys wait in the queue as they would during a blocking call.
class RequestWait {
 public:
  virtual ~RequestWait() = default;
  // Asks `done` between messages until it answers true (then true), or until `limit` has passed
  // (then false), however many messages keep arriving.
  virtual bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) = 0;
  // The time now, on the clock that the limits are measured by.
  virtual std::chrono::steady_clock::time_point now() = 0;
};

// A proxy for a request: a list of servers (with their ports, or one per scheme, as Windows
// writes them) and the hosts reached without it ("<local>" among them); no servers: direct.
struct Proxy {
  rt::Text servers;
  rt::Text bypass;
};

// The proxy settings of the current user's Windows, as its Internet Options give them.
struct UserProxySettings {
  bool autoDetect = false;   // "Rileva automaticamente impostazioni"
  rt::Text autoConfigUrl;    // the proxy script's address; empty: none
  Proxy fixed;               // the proxy server set by hand; no servers: none
};

// Where a proxy script comes from.
enum class ScriptSource {
  Discovery,          // found by automatic detection (WPAD: DHCP, then DNS)
  ConfiguredAddress,  // at the address the user's settings name
};

// One question for a proxy script: which proxy the request for `url` goes through.
struct ScriptQuestion {
  rt::Text url;
  ScriptSource source = ScriptSource::Discovery;
  rt::Text scriptAddress;          // the configured address; empty for discovery
  bool logOnIfChallenged = false;  // the user's logon offered to a script server that asks for one
};

// What asking a proxy script gave.
struct ScriptAnswer {
  enum class Outcome {
    Answered,       // the script's answer is `proxy`; no servers: DIRECT
    LogOnRequired,  // the script's server asked for a logon, and none was offered
    NoAnswer,       // no script found, fetched or run
  };
  Outcome outcome = Outcome::NoAnswer;
  Proxy proxy;
};

// A question for a proxy script that is being answered in the background.
class PendingAnswer {
 public:
  virtual ~PendingAnswer() = default;
  // The answer once there is one; nothing while the script is still being found, fetched or run.
  virtual std::optional<ScriptAnswer> answer() = 0;
};

// The platform's proxy lookup for the connectivity page's request.
class ProxyLookup {
 public:
  virtual ~ProxyLookup() = default;
  // The current user's settings; nothing when they cannot be read.
  virtual std::optional<UserProxySettings> userSettings() = 0;
  // Starts answering `question` in the background; nothing when that cannot be started.
  // Neither finding nor running a script has a time limit of its own: whoever asks decides how
  // long to wait for it, and a question no longer waited for ends by itself.
  virtual std::unique_ptr<PendingAnswer> ask(const ScriptQuestion& question) = 0;
};

// Where the connectivity probes go: the maker's web server (probe 1 adds the path of its
// connectivity page) and a public search engine's home page. Plain HTTP.
struct ProbeAddresses {
  rt::Text site;
  rt::Text search;
};

// The MSXML 6.0 server HTTP request class.
inline constexpr char16_t kServerXmlHttp60[] = u"{88D96A0B-F192-11D4-A65F-0040963251E5}";

class EnvironmentChecks {
 public:
  EnvironmentChecks(registry::modRegistro& registry, rt::Automation& automation, ConnectionTest& connection,
                    RequestWait& wait, ProxyLookup& proxies, ProbeAddresses probes);

  // True (-1) as soon as one probe succeeds: the connectivity page answers with "ok" in its
  // text, or a connection to the maker's server, or to the search engine, can be made.
  int16_t ControllaConnessioneInternet();

  // True (-1) when the installed version is at most the product's threshold: the restore is needed.
  int16_t ControllaVersioneTS();
  int16_t ControllaVersionePRZN();

 private:
  rt::Text readView64(rt::TextView entry);
  void giveUp(const rt::ObjectRef& request);
  void awaitPage(const rt::ObjectRef& request, std::chrono::steady_clock::time_point deadline);

  registry::modRegistro& registry_;
  rt::Automation& automation_;
  ConnectionTest& connection_;
  RequestWait& wait_;
  ProxyLookup& proxies_;
  ProbeAddresses probes_;
  std::vector<rt::ObjectRef> requestsGivenUp_;  // aborted when cut off, released when the utility ends
};

}  // namespace checks
