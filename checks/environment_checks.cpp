#include "checks/environment_checks.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "checks/products.h"
#include "checks/users_proxy.h"
#include "errors/procedure.h"
#include "runtime/conversions.h"

namespace checks {

using errors::Body;
using errors::goTo;
using errors::If;
using errors::leave;
using errors::nextStatement;
using errors::OnErrorGoTo;
using registry::kHKeyLocalMachine;
using rt::nameValueList;
using rt::Variant;

namespace {

constexpr char16_t kDisplayVersion[] = u"DisplayVersion";
constexpr int16_t kView64 = 64;

// The connectivity page's request: four phases of ten seconds each (name resolution,
// connection, sending, receiving). The phases' timeouts bound each packet, not the whole
// answer, so the request as a whole is cut off when the four have passed: a page that never
// ends, or that trickles a byte at a time, cannot hold the run.
constexpr int32_t kPhaseTimeoutMs = 10000;
constexpr std::chrono::milliseconds kRequestDeadline{4 * kPhaseTimeoutMs};
constexpr int32_t kReadyStateComplete = 4;
// What a request cut off at its deadline fails with: WinINet's "operation timed out".
constexpr int32_t kRequestTimedOut = static_cast<int32_t>(0x80072EE2u);

// setProxy's first argument: use the proxy server given.
constexpr int32_t kSetProxy = 2;

// Windows' server request object goes out through WinHTTP, which ignores the user's Internet
// Options: behind an office proxy it would find no way out, and the run would say there is no
// Internet. So it is handed the proxy server that the user's Windows uses for the web, and no
// bypass list: that was decided for this request already, and a form that WinHTTP refuses
// must not make setProxy fail. Best effort: a request object without setProxy (Wine's follows
// the Internet Options by itself), or one that refuses it, is left as it was; nothing is
// reported and no failure is left pending. True when the request took the proxy.
bool goThroughProxy(rt::AutomationObject& request, const std::optional<rt::Text>& server) noexcept {
  if (!server) return false;
  try {
    request.call(u"setProxy", {Variant(kSetProxy), *server, rt::Argument::omitted()});
    return true;
  } catch (...) {
    return false;
  }
}

// Any answer that says "ok" counts, whatever its status.
bool pageSaysOk(rt::AutomationObject& request) {
  return rt::findText(rt::toText(request.get(u"responseText")), u"ok") > 0;
}

// The request object is created the first time anything touches it, the snapshot included.
class CreatedOnFirstUse {
 public:
  CreatedOnFirstUse(rt::Automation& automation, rt::TextView classId) : automation_(automation), classId_(classId) {}

  rt::AutomationObject* operator->() { return reference().get(); }
  const rt::ObjectRef& reference() {
    if (!object_) object_ = automation_.createObject(classId_);
    return object_;
  }
  // From now on the variable holds `other`, as after a second Set.
  void replace(rt::ObjectRef other) { object_ = std::move(other); }

 private:
  rt::Automation& automation_;
  rt::TextView classId_;
  rt::ObjectRef object_;
};

// Each part of a version reads as its leading number: "2 2" is 22, "22a" is 22, letters are 0.
double part(const Variant& parts, int32_t index) { return rt::leadingNumber(rt::toText(rt::element(parts, index))); }

// (p0, p1, p2, p3) at most the product's threshold (t0, t1, t2, t3), or (p0, p1, p2) where it has
// three parts: then c7 to c10 take no part. Every part compared is read before anything is decided.
bool atMostThreshold(const Variant& parts, const Product& product) {
  double p[4] = {};
  for (int i = 0; i < product.thresholdParts; ++i) p[i] = part(parts, i);
  const int* t = product.threshold;
  const bool c1 = p[0] <= t[0], c2 = p[0] != t[0], c3 = p[1] <= t[1], c4 = p[0] != t[0], c5 = p[1] != t[1],
             c6 = p[2] <= t[2], c7 = p[0] != t[0], c8 = p[1] != t[1], c9 = p[2] != t[2], c10 = p[3] <= t[3];
  return (c1 && (c2 || c3)) && (c4 || c5 || c6) && (product.thresholdParts == 3 || c7 || c8 || c9 || c10);
}

}  // namespace

EnvironmentChecks::EnvironmentChecks(registry::modRegistro& registry, rt::Automation& automation,
                                     ConnectionTest& connection, RequestWait& wait, ProxyLookup& proxies,
                                     ProbeAddresses probes)
    : registry_(registry),
      automation_(automation),
      connection_(connection),
      wait_(wait),
      proxies_(proxies),
      probes_(std::move(probes)) {}

// A 64-bit view read counts as nothing read when it gives "" or no value at all (Null).
rt::Text EnvironmentChecks::readView64(rt::TextView entry) {
  const Variant version = registry_.ReadRegStr(Variant(kHKeyLocalMachine), Variant(entry), Variant(kDisplayVersion),
                                               Variant(kView64));
  return version.isNull() ? rt::Text() : rt::toText(version);
}

// The request is aborted and kept until the utility ends. An abort may not end a download in
// flight: Wine's MSXML goes on receiving, and calls into the request object when the download
// ends, so a request released now would be called after it is gone. An abort that fails
// changes nothing: the probe has failed either way, with the failure that ended the wait.
void EnvironmentChecks::giveUp(const rt::ObjectRef& request) {
  requestsGivenUp_.push_back(request);
  try {
    request->call(u"abort", {});
  } catch (...) {
  }
}

// Sends the request and waits for its whole answer until `deadline`. Fails when the request
// fails, and when the deadline cuts it off.
void EnvironmentChecks::awaitPage(const rt::ObjectRef& request, std::chrono::steady_clock::time_point deadline) {
  request->call(u"send", {rt::Argument::omitted()});
  bool complete = false;
  try {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - wait_.now());
    complete = wait_.waitUntil([&] { return rt::toLong(request->get(u"readyState")) == kReadyStateComplete; },
                               std::max(left, std::chrono::milliseconds::zero()));
  } catch (...) {
    // A request left running would go on receiving into memory until its server stops.
    giveUp(request);
    throw;
  }
  if (!complete) {
    giveUp(request);
    rt::raise(kRequestTimedOut, u"Timeout dell'operazione");
  }
}

int16_t EnvironmentChecks::ControllaConnessioneInternet() {
  int16_t result = rt::kFalse;
  CreatedOnFirstUse xmlHttp(automation_, kServerXmlHttp60);
  rt::Text strIndirizzo;

  errors::Procedure procedure(
      registry_.protocol(), registry_, u"ControllaConnessioneInternet", rt::emptyList,
      [&] { return nameValueList({{u"xmlHttp", xmlHttp.reference()}, {u"strIndirizzo", strIndirizzo}}); });
  const auto omitted = rt::Argument::omitted();
  const Variant timeout(kPhaseTimeoutMs);
  procedure.run(Body{
      {102, [&] { result = rt::kFalse; }},
      {109, [&] { strIndirizzo = probes_.site + u"/controlloconnessione"; }},
      // Asynchronous, so that the whole request can be given a deadline (122).
      {114, [&] { xmlHttp->call(u"open", {u"GET", strIndirizzo, Variant::boolean(true), omitted, omitted}); }},
      {118, [&] { xmlHttp->call(u"setTimeouts", {timeout, timeout, timeout, timeout}); }},
      // No answer from the connectivity page is no failure: the forced connection tests decide.
      {120, OnErrorGoTo{130}},
      // Returns when the answer is complete, or fails: also when the deadline cuts it off. The
      // deadline holds for the page as a whole, a second request through a proxy included.
      {122, [&] {
         UsersProxy usersProxy(proxies_, wait_, strIndirizzo);
         goThroughProxy(*xmlHttp.reference(), usersProxy.forFirstRequest());
         const auto deadline = wait_.now() + kRequestDeadline;
         if (!usersProxy.mayRetry()) {
           awaitPage(xmlHttp.reference(), deadline);
           return;
         }
         // Sent direct while discovery still looks for a proxy: a request that does not answer
         // "ok" is sent once more through the proxy that discovery finds, if it finds one.
         std::exception_ptr directFailure;
         try {
           awaitPage(xmlHttp.reference(), deadline);
           if (pageSaysOk(*xmlHttp.reference())) return;
         } catch (...) {
           directFailure = std::current_exception();
         }
         if (const std::optional<rt::Text> server = usersProxy.forRetry(deadline)) {
           rt::ObjectRef second;
           try {
             second = automation_.createObject(kServerXmlHttp60);
             second->call(u"open", {u"GET", strIndirizzo, Variant::boolean(true), omitted, omitted});
             second->call(u"setTimeouts", {timeout, timeout, timeout, timeout});
           } catch (...) {
             second.reset();
           }
           if (second && goThroughProxy(*second, server)) {
             xmlHttp.replace(second);
             awaitPage(second, deadline);
             return;
           }
         }
         if (directFailure) std::rethrow_exception(directFailure);
       }},
      {124, If{[&] { return pageSaysOk(*xmlHttp.reference()); }, goTo(126), goTo(130)}},
      {126, [&] { result = rt::kTrue; }, leave},
      {130, If{[&] { return connection_.InternetCheckConnection(probes_.site) != 0; }, goTo(132), goTo(135)}},
      {132, [&] { result = rt::kTrue; }, leave},
      {135, If{[&] { return connection_.InternetCheckConnection(probes_.search) != 0; }, goTo(137), leave}},
      {137, [&] { result = rt::kTrue; }, leave},
  });
  return result;
}

// In the gates a skipped statement, a test included, goes on with the next number whatever the
// test would have decided: so too few version parts skipped end at "not needed".
int16_t EnvironmentChecks::ControllaVersioneTS() {
  int16_t result = rt::kFalse;
  rt::Text Versione;
  Variant MiaVersione = Variant::unallocatedArray(rt::Kind::String);

  errors::Procedure procedure(
      registry_.protocol(), registry_, u"ControllaVersioneTS", rt::emptyList,
      [&] { return nameValueList({{u"Versione", Versione}, {u"MiaVersione", MiaVersione}}); });
  procedure.run(Body{
      {100, [&] { result = rt::kTrue; }},
      {105, [&] { Versione = u""; }},
      {106, [&] {
         Versione = rt::toText(registry_.regQuery_A_Key(kHKeyLocalMachine, kTessaro.installerEntry, kDisplayVersion));
       }},
      {107, If{[&] { return Versione != u""; }, goTo(115), nextStatement, nextStatement}},
      {108, If{[&] { return readView64(kTessaro.installerEntry) == u""; }, goTo(115), nextStatement, nextStatement}},
      // The 64-bit view is read a second time to store what the first read found.
      {109, [&] { Versione = readView64(kTessaro.installerEntry); }},
      {115, If{[&] { return Versione == u""; }, goTo(122), nextStatement, nextStatement}},
      {116, [&] { MiaVersione = rt::split(Versione, u"."); }},
      {118, If{[&] { return atMostThreshold(MiaVersione, kTessaro); }, leave, nextStatement, nextStatement}},
      {119, [&] { result = rt::kFalse; }, leave},
      {122, [&] { result = rt::kFalse; }, leave},
  });
  return result;
}

int16_t EnvironmentChecks::ControllaVersionePRZN() {
  int16_t result = rt::kFalse;
  rt::Text Versione;
  Variant MiaVersione = Variant::unallocatedArray(rt::Kind::String);

  errors::Procedure procedure(
      registry_.protocol(), registry_, u"ControllaVersionePRZN", rt::emptyList,
      [&] { return nameValueList({{u"Versione", Versione}, {u"MiaVersione", MiaVersione}}); });
  procedure.run(Body{
      {100, [&] { result = rt::kTrue; }},
      {105, [&] { Versione = u""; }},
      // Without an installer entry, the restore is taken as needed. The entry counts when the
      // ordinary registry calls can open it, or when the 64-bit view holds it with a version: a
      // 64-bit install, whose setting the restore reads from there too, is compared like any
      // other. WMI is asked only about an entry that is there, so that a user without Perizon
      // never sees a report over a broken WMI.
      {107, If{[&] {
                 return registry_.regDoes_Key_Exist(kHKeyLocalMachine, kPerizon.installerEntry) != rt::kTrue &&
                        !(registry_.keyExistsIn64BitView(kHKeyLocalMachine, kPerizon.installerEntry) &&
                          readView64(kPerizon.installerEntry) != u"");
               },
               goTo(131), nextStatement, nextStatement}},
      {110, [&] {
         Versione = rt::toText(registry_.regQuery_A_Key(kHKeyLocalMachine, kPerizon.installerEntry, kDisplayVersion));
       }},
      {111, If{[&] { return Versione != u""; }, goTo(121), nextStatement, nextStatement}},
      {112, If{[&] { return readView64(kPerizon.installerEntry) == u""; }, goTo(121), nextStatement, nextStatement}},
      {113, [&] { Versione = readView64(kPerizon.installerEntry); }},
      {121, If{[&] { return Versione == u""; }, goTo(128), nextStatement, nextStatement}},
      {122, [&] { MiaVersione = rt::split(Versione, u"."); }},
      {124, If{[&] { return atMostThreshold(MiaVersione, kPerizon); }, leave, nextStatement, nextStatement}},
      {125, [&] { result = rt::kFalse; }, leave},
      {128, [&] { result = rt::kFalse; }, leave},
      {131, [&] { result = rt::kTrue; }, leave},
  });
  return result;
}

}  // namespace checks
