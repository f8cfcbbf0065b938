#include "checks/environment_checks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>

#include "checks/products.h"
#include "fakes/fake_automation.h"
#include "fakes/fake_proxy_lookup.h"
#include "fakes/fake_registry.h"
#include "fakes/fake_request_wait.h"
#include "fakes/fake_wmi.h"
#include "fakes/printing.h"
#include "fakes/scripted_reporter.h"

using checks::kPerizon;
using checks::kTessaro;
using registry::kHKeyLocalMachine;
using rt::Variant;

namespace {

constexpr char16_t kSite[] = u"http://127.0.0.1:8001";
constexpr char16_t kSearch[] = u"http://127.0.0.1:8002";
constexpr int32_t kCannotConnect = -2146697211;  // what a refused connection looks like

class FakeConnectionTest : public checks::ConnectionTest {
 public:
  int32_t InternetCheckConnection(rt::TextView url) override {
    asked.emplace_back(url);
    if (failures > 0) {
      --failures;
      rt::raise(rt::kFileNotFound, u"Impossibile trovare il file: wininet.dll");
    }
    return reachable.count(rt::Text(url)) ? 1 : 0;
  }
  std::set<rt::Text> reachable;
  std::vector<rt::Text> asked;
  int failures = 0;
};

class ChecksTest : public ::testing::Test {
 protected:
  ChecksTest() { serveConnectivityPage(Variant(u"ok")); }

  // What the connectivity page does for one request object: answers `responseText` with
  // `text`; a failing `send` when `sendFails`; complete at the `completeAtPoll`th question,
  // never when that is 0.
  struct Page {
    Variant text;
    int32_t sendFails = 0;
    int completeAtPoll = 1;
  };
  // Each request object opened in turn gets the next of `pages`, the last one those after it.
  // Their setProxy fails with `setProxyFails` when that is set, as Wine's object, which has
  // none, fails with 438.
  void servePages(std::vector<Page> pages, int32_t setProxyFails = 0) {
    auto opened = std::make_shared<size_t>(0);
    auto polls = std::make_shared<int>(0);
    automation.registerClass(checks::kServerXmlHttp60, [=](const fakes::RecordedCall& call, auto&) {
      if (call.member == u"open") {
        ++*opened;
        *polls = 0;
      }
      const Page& page = pages[std::min(*opened, pages.size()) - 1];
      if (call.member == u"send" && page.sendFails != 0)
        throw rt::RuntimeError({page.sendFails, u"", u"msxml6.dll", u"", 0});
      if (call.member == u"setProxy" && setProxyFails != 0) rt::raise(setProxyFails);
      if (call.member == u"readyState") return Variant(int32_t{++*polls == page.completeAtPoll ? 4 : 3});
      if (call.member == u"responseText") return page.text;
      return Variant();
    });
  }
  void serveConnectivityPage(Variant page, int32_t sendFails = 0, int completeAtPoll = 1) {
    servePages({{std::move(page), sendFails, completeAtPoll}});
  }
  bool aborted() const {
    const auto calls = automation.callsOn(checks::kServerXmlHttp60);
    return std::any_of(calls.begin(), calls.end(), [](const auto& call) { return call.member == u"abort"; });
  }

  errors::ErrorState state;
  fakes::ScriptedReporter reporter{state};
  fakes::FakeRegistry api;
  fakes::FakeAutomation automation;
  fakes::FakeWmiRegistry wmi{automation};
  FakeConnectionTest connection;
  fakes::FakeRequestWait wait;
  fakes::FakeProxyLookup proxies;
  registry::modRegistro module{errors::Protocol{state, reporter}, api, automation};
  checks::EnvironmentChecks checks{module, automation, connection, wait, proxies, {kSite, kSearch}};
};

TEST_F(ChecksTest, TheConnectivityPageDecidesWhenItsTextHoldsOk) {
  struct Case {
    Variant page;
    int32_t sendFails;
    int completeAtPoll;
    bool probe1Decides;
  };
  const Case cases[] = {
      {Variant(u"ok"), 0, 1, true},
      {Variant(u"Connessione: ok\r\n"), 0, 1, true},
      {Variant(u"bookmark"), 0, 1, true},
      {Variant(u"<h1>404 Not Found</h1>ok"), 0, 1, true},  // the status is not looked at
      {Variant(u"OK"), 0, 1, false},
      {Variant(u""), 0, 1, false},
      {Variant(u"ok"), kCannotConnect, 1, false},
      {Variant(u"ok"), 0, 3, true},    // complete just before the deadline
      {Variant(u"ok"), 0, 0, false},   // cut off at the deadline, whatever has arrived
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE("case " + std::to_string(i));
    automation.calls.clear();
    serveConnectivityPage(cases[i].page, cases[i].sendFails, cases[i].completeAtPoll);
    connection.asked.clear();
    connection.reachable = {kSite};
    EXPECT_EQ(checks.ControllaConnessioneInternet(), -1);
    EXPECT_EQ(connection.asked.empty(), cases[i].probe1Decides);
    EXPECT_EQ(aborted(), cases[i].completeAtPoll == 0) << "only a request cut off is aborted";
    EXPECT_FALSE(state.failurePending());
  }
  EXPECT_TRUE(reporter.reports.empty());
  automation.calls.clear();
  EXPECT_EQ(automation.stillHeld(), 1) << "only the request cut off outlives its call";
}

TEST_F(ChecksTest, TheRequestIsAGetWithTenSecondPhasesAndAFortySecondDeadline) {
  checks.ControllaConnessioneInternet();
  const auto calls = automation.callsOn(checks::kServerXmlHttp60);
  ASSERT_EQ(calls.size(), 5u);
  EXPECT_EQ(calls[0].member, u"open");
  EXPECT_EQ(calls[0].arguments[0], Variant(u"GET"));
  EXPECT_EQ(calls[0].arguments[1], Variant(u"http://127.0.0.1:8001/controlloconnessione"));
  EXPECT_EQ(calls[0].arguments[2], Variant::boolean(true));
  EXPECT_EQ(calls[0].omitted, (std::vector<bool>{false, false, false, true, true}));
  EXPECT_EQ(calls[1].member, u"setTimeouts");
  EXPECT_EQ(calls[1].arguments, std::vector<Variant>(4, Variant(int32_t{10000})));
  EXPECT_EQ(calls[2].member, u"send");
  EXPECT_EQ(calls[2].omitted, std::vector<bool>{true});
  EXPECT_EQ(calls[3].member, u"readyState");
  EXPECT_EQ(calls[4].member, u"responseText");
  EXPECT_EQ(calls[4].kind, rt::CallKind::PropertyGet);
  EXPECT_EQ(wait.limits, std::vector<std::chrono::milliseconds>{std::chrono::seconds(40)});
}

// Which proxy each request for the page is handed, which proxy scripts are asked and how long
// each is waited for. The clock moves only in waits: 2 s for each question to the page that
// finds it incomplete, a wait's whole limit when it runs out.
TEST_F(ChecksTest, ThePageIsAskedForThroughTheProxyTheUsersWindowsUsesForTheWeb) {
  using checks::Proxy;
  using checks::ScriptSource;
  using checks::UserProxySettings;
  using Script = fakes::FakeProxyLookup::Script;
  using Outcome = checks::ScriptAnswer::Outcome;
  using std::chrono::seconds;
  constexpr char16_t kPac[] = u"http://wpad.ufficio.example/proxy.pac";
  const Proxy office{u"proxy.ufficio.example:8080", u"<local>;*.ufficio.example"};
  const UserProxySettings detectionOnly{true, u"", {}};
  const UserProxySettings script{false, kPac, office};
  const UserProxySettings detectionAndScript{true, kPac, office};
  const auto byHand = [](rt::TextView servers, rt::TextView bypass) {
    return UserProxySettings{false, u"", {rt::Text(servers), rt::Text(bypass)}};
  };
  const Script nothingFound{};
  const Script silent{{}, 0};
  const Script direct{{Outcome::Answered, {}}};
  const Script pacProxy{{Outcome::Answered, {u"pac-proxy.example:3128;riserva.example:3128", u""}}};
  const Script wpadProxy{{Outcome::Answered, {u"wpad-proxy.example:8080", u""}}};
  const Script logOnAsked{{Outcome::LogOnRequired, {}}};
  const Page ok{Variant(u"ok")}, unreachable{Variant(u""), kCannotConnect}, endless{Variant(u"ok"), 0, 0};
  const Page firewall{Variant(u"Accesso negato")}, lateFirewall{Variant(u"Accesso negato"), 0, 3};
  constexpr char16_t kHand[] = u"proxy.ufficio.example:8080", kPacProxy[] = u"pac-proxy.example:3128";
  struct Case {
    const char* name = "";
    std::optional<UserProxySettings> settings = {};
    Script discovery = {};
    Script configured = {};
    Script configuredLoggedOn = {};
    std::vector<Page> pages = {Page{Variant(u"ok")}};  // for each request object opened in turn
    const char16_t* site = u"http://www.okran.example";
    int32_t setProxyFails = 0;
    std::vector<std::optional<rt::Text>> sent = {};         // each request sent: the proxy it was handed
    std::vector<std::pair<ScriptSource, bool>> asked = {};  // each script asked: where, with the logon
    std::vector<std::chrono::milliseconds> waits = {};      // each wait: its limit
    bool pageDecides = true;
  };
  const auto D = ScriptSource::Discovery, C = ScriptSource::ConfiguredAddress;
  const std::optional<rt::Text> none;
  const Case cases[] = {
      {.name = "settings unreadable", .sent = {none}, .waits = {seconds(40)}},
      {.name = "no proxy", .settings = UserProxySettings{}, .sent = {none}, .waits = {seconds(40)}},
      {.name = "a proxy set by hand", .settings = byHand(office.servers, office.bypass), .sent = {kHand},
       .waits = {seconds(40)}},
      {.name = "by hand, one per scheme: the http entry",
       .settings = byHand(u"ftp=c.example:21;HTTP=a.example:80;https=b.example:443;socks=d.example:1080", u""),
       .sent = {u"a.example:80"}, .waits = {seconds(40)}},
      {.name = "by hand, one per scheme without http: direct",
       .settings = byHand(u"https=b.example:443;socks=d.example:1080", u""), .sent = {none}, .waits = {seconds(40)}},
      {.name = "by hand, an entry without a scheme serves http",
       .settings = byHand(u"https=b.example:443  tutti.example:3128", u""), .sent = {u"tutti.example:3128"},
       .waits = {seconds(40)}},
      {.name = "bypassed: a leading *, whatever the case", .settings = byHand(office.servers, u"<local>; *.OKRAN.Example"),
       .sent = {none}, .waits = {seconds(40)}},
      {.name = "bypassed: <local>, a name without a dot", .settings = byHand(office.servers, office.bypass),
       .site = u"http://okran", .sent = {none}, .waits = {seconds(40)}},
      {.name = "bypassed: 10.* as WinINet reads it", .settings = byHand(office.servers, u"192.168.*;10.*"),
       .site = u"http://10.1.2.3:8001", .sent = {none}, .waits = {seconds(40)}},
      {.name = "by hand, refused by a request object without setProxy", .settings = byHand(office.servers, u""),
       .setProxyFails = rt::kMemberNotSupported, .sent = {kHand}, .waits = {seconds(40)}},
      // Automatic detection alone: the page is asked for at once, and discovery is waited for
      // only once the page has not answered "ok" directly.
      {.name = "detection alone: direct at once, discovery never waited for", .settings = detectionOnly,
       .discovery = silent, .sent = {none}, .asked = {{D, false}}, .waits = {seconds(40)}},
      {.name = "detection alone, no way out direct: once more through the first proxy discovery finds",
       .settings = detectionOnly, .discovery = pacProxy, .pages = {unreachable, ok}, .sent = {none, kPacProxy},
       .asked = {{D, false}}, .waits = {seconds(10), seconds(40)}},
      {.name = "detection alone, a firewall's page direct: once more through the proxy", .settings = detectionOnly,
       .discovery = pacProxy, .pages = {firewall, ok}, .sent = {none, kPacProxy}, .asked = {{D, false}},
       .waits = {seconds(40), seconds(10), seconds(40)}},
      {.name = "detection alone, discovery says DIRECT: the connection tests decide", .settings = detectionOnly,
       .discovery = direct, .pages = {unreachable}, .sent = {none}, .asked = {{D, false}}, .waits = {seconds(10)},
       .pageDecides = false},
      {.name = "detection alone, discovery silent: waited for until 10 s after the start", .settings = detectionOnly,
       .discovery = silent, .pages = {lateFirewall}, .sent = {none}, .asked = {{D, false}},
       .waits = {seconds(40), seconds(6)}, .pageDecides = false},
      {.name = "detection alone, the page cut off at its deadline: no time for a second request",
       .settings = detectionOnly, .discovery = pacProxy, .pages = {endless}, .sent = {none}, .asked = {{D, false}},
       .waits = {seconds(40)}, .pageDecides = false},
      {.name = "detection alone, discovery's server asks for a logon: never offered it", .settings = detectionOnly,
       .discovery = logOnAsked, .pages = {unreachable}, .sent = {none}, .asked = {{D, false}},
       .waits = {seconds(10)}, .pageDecides = false},
      {.name = "detection alone, a request object without setProxy: no second request", .settings = detectionOnly,
       .discovery = pacProxy, .pages = {unreachable, ok}, .setProxyFails = rt::kMemberNotSupported, .sent = {none},
       .asked = {{D, false}}, .waits = {seconds(10)}, .pageDecides = false},
      // A proxy script's address, or a proxy by hand beside detection: decided before the page.
      {.name = "a configured script, asked without the user's logon", .settings = script, .configured = pacProxy,
       .sent = {kPacProxy}, .asked = {{C, false}}, .waits = {seconds(10), seconds(40)}},
      {.name = "a configured script whose server asks for a logon: asked again with it", .settings = script,
       .configured = logOnAsked, .configuredLoggedOn = pacProxy, .sent = {kPacProxy},
       .asked = {{C, false}, {C, true}}, .waits = {seconds(10), seconds(10), seconds(40)}},
      {.name = "a configured script that says DIRECT", .settings = script, .configured = direct, .sent = {none},
       .asked = {{C, false}}, .waits = {seconds(10), seconds(40)}},
      {.name = "detection and a configured script: detection first", .settings = detectionAndScript,
       .discovery = wpadProxy, .configured = pacProxy, .sent = {u"wpad-proxy.example:8080"},
       .asked = {{D, false}, {C, false}}, .waits = {seconds(10), seconds(40)}},
      {.name = "detection that uses up its 10 s: the configured script still decides", .settings = detectionAndScript,
       .discovery = silent, .configured = pacProxy, .sent = {kPacProxy}, .asked = {{D, false}, {C, false}},
       .waits = {seconds(10), seconds(0), seconds(40)}},
      {.name = "no script found: the proxy set by hand", .settings = detectionAndScript, .discovery = nothingFound,
       .configured = nothingFound, .sent = {kHand}, .asked = {{D, false}, {C, false}},
       .waits = {seconds(10), seconds(10), seconds(40)}},
      {.name = "detection and a proxy by hand: detection decides first", .settings = UserProxySettings{true, u"", office},
       .discovery = direct, .sent = {none}, .asked = {{D, false}}, .waits = {seconds(10), seconds(40)}},
  };
  wait.pollTakes = seconds(2);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    automation.calls.clear();
    servePages(c.pages, c.setProxyFails);
    proxies.settings = c.settings;
    proxies.discovery = c.discovery;
    proxies.configured = c.configured;
    proxies.configuredLoggedOn = c.configuredLoggedOn;
    proxies.asked.clear();
    wait.limits.clear();
    wait.clock = {};
    connection.asked.clear();
    connection.reachable = {c.site};
    checks::EnvironmentChecks probes{module, automation, connection, wait, proxies, {c.site, kSearch}};
    EXPECT_EQ(probes.ControllaConnessioneInternet(), -1);
    EXPECT_EQ(connection.asked.empty(), c.pageDecides);

    std::vector<std::optional<rt::Text>> sent;
    std::optional<rt::Text> handed;
    for (const fakes::RecordedCall& call : automation.callsOn(checks::kServerXmlHttp60)) {
      if (call.member == u"open") handed.reset();
      if (call.member == u"send") sent.push_back(handed);
      if (call.member != u"setProxy") continue;
      EXPECT_EQ(call.arguments[0], Variant(int32_t{2}));
      EXPECT_EQ(call.omitted, (std::vector<bool>{false, false, true})) << "never a bypass list";
      handed = rt::toText(call.arguments[1]);
    }
    EXPECT_EQ(sent, c.sent);
    std::vector<std::pair<ScriptSource, bool>> asked;
    for (const checks::ScriptQuestion& question : proxies.asked) {
      asked.emplace_back(question.source, question.logOnIfChallenged);
      EXPECT_EQ(question.url, rt::Text(c.site) + u"/controlloconnessione");
      EXPECT_EQ(question.scriptAddress, question.source == C ? kPac : u"");
    }
    EXPECT_EQ(asked, c.asked);
    EXPECT_EQ(wait.limits, c.waits);
    EXPECT_FALSE(state.failurePending());
  }
  EXPECT_TRUE(reporter.reports.empty());
}

TEST_F(ChecksTest, TheForcedConnectionTestsFollowInOrder) {
  serveConnectivityPage(Variant(u"no"));
  connection.reachable = {kSearch};
  EXPECT_EQ(checks.ControllaConnessioneInternet(), -1);
  EXPECT_EQ(connection.asked, (std::vector<rt::Text>{kSite, kSearch}));

  connection.asked.clear();
  connection.reachable.clear();
  serveConnectivityPage(Variant(u"ok"), kCannotConnect);
  EXPECT_EQ(checks.ControllaConnessioneInternet(), 0);
  EXPECT_EQ(connection.asked, (std::vector<rt::Text>{kSite, kSearch}));
  EXPECT_TRUE(reporter.reports.empty()) << "no network is no failure";
  EXPECT_FALSE(state.failurePending());
}

TEST_F(ChecksTest, AFailingConnectionTestIsRetriedOnceThenPassedOn) {
  serveConnectivityPage(Variant(u"no"));
  connection.reachable = {kSite};
  connection.failures = 1;
  EXPECT_EQ(checks.ControllaConnessioneInternet(), -1);
  EXPECT_EQ(connection.asked.size(), 2u);

  connection.failures = 2;
  EXPECT_THROW(checks.ControllaConnessioneInternet(), rt::RuntimeError);

  // After a failed page request, the connection tests get no second chance.
  serveConnectivityPage(Variant(u"ok"), kCannotConnect);
  connection.failures = 1;
  EXPECT_THROW(checks.ControllaConnessioneInternet(), rt::RuntimeError);
  EXPECT_TRUE(reporter.reports.empty());
}

TEST_F(ChecksTest, BeforeTheRequestIsSentFailuresAreReportedWithTheRequestInTheSnapshot) {
  automation.registerClass(checks::kServerXmlHttp60, [](const fakes::RecordedCall& call, auto&) {
    if (call.member == u"setTimeouts") rt::raise(rt::kTypeMismatch);
    return Variant();
  });
  reporter.answer({0});
  EXPECT_EQ(checks.ControllaConnessioneInternet(), 0);
  ASSERT_EQ(reporter.reports.size(), 1u);
  const fakes::Report& report = reporter.reports[0];
  EXPECT_EQ(report.procedureName, u"ControllaConnessioneInternet");
  EXPECT_EQ(report.moduleName, u"modRegistro");
  EXPECT_EQ(report.line, 118);
  EXPECT_EQ(report.context.parameters, rt::emptyList());
  const auto& locals = report.context.locals.asArray().elements;
  ASSERT_EQ(locals.size(), 4u);
  EXPECT_EQ(locals[0], Variant(u"xmlHttp"));
  EXPECT_EQ(locals[1].kind(), rt::Kind::Object);
  EXPECT_EQ(locals[3], Variant(u"http://127.0.0.1:8001/controlloconnessione"));
}

TEST_F(ChecksTest, ARequestObjectThatCannotBeCreatedFailsTheCallerWithoutAReport) {
  automation.unregisterClass(checks::kServerXmlHttp60);
  try {
    checks.ControllaConnessioneInternet();
    FAIL() << "no failure";
  } catch (const rt::RuntimeError& failure) {
    EXPECT_EQ(failure.number(), rt::kCannotCreateObject);
  }
  EXPECT_TRUE(reporter.reports.empty());
}

class GateTest : public ChecksTest {
 protected:
  void installed32(rt::TextView entry, rt::TextView version) {
    api.seedText(kHKeyLocalMachine, entry, u"DisplayVersion", version);
  }
};

TEST_F(GateTest, TessaroNeedsTheRestoreUpTo2_1_0_22) {
  struct Case {
    const char16_t* version;
    int16_t expected;
  };
  const Case cases[] = {
      {u"2.1.0.22", -1}, {u"2.1.0.23", 0},  {u"2.0.99.99", -1}, {u"2.2.0.0", 0},       {u"3.0.0.0", 0},
      {u"1.9.9.99", -1}, {u"02.01.00.22", -1}, {u"10.0.0.0", 0}, {u"x2.1.0.30", -1}, {u"2.1.0.2 2", -1},
      {u"2.1.0.22a", -1}, {u"2.1.0.22.9", -1}, {u"2.1.0.222", 0}, {u"2.1..22", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(rt::toUtf8(c.version));
    installed32(kTessaro.installerEntry, c.version);
    EXPECT_EQ(checks.ControllaVersioneTS(), c.expected);
  }
  EXPECT_TRUE(reporter.reports.empty());
  EXPECT_EQ(wmi.reads, 0) << "a version read from the 32-bit view needs no second view";
}

TEST_F(GateTest, PerizonNeedsTheRestoreUpTo2_1_0) {
  struct Case {
    const char16_t* version;
    int16_t expected;
  };
  const Case cases[] = {{u"2.1.0", -1}, {u"2.1.1", 0}, {u"2.0.7", -1}, {u"2.1.0.5", -1}, {u"3.0.0", 0}, {u"2.2.0", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(rt::toUtf8(c.version));
    installed32(kPerizon.installerEntry, c.version);
    EXPECT_EQ(checks.ControllaVersionePRZN(), c.expected);
  }
}

TEST_F(GateTest, TheSixtyFourBitViewIsReadTwiceWhenTheOrdinaryReadFindsNothing) {
  wmi.seed(64, kTessaro.installerEntry, u"DisplayVersion", u"2.1.0.5");
  EXPECT_EQ(checks.ControllaVersioneTS(), -1);
  EXPECT_EQ(wmi.reads, 2);

  api.seedKey(kHKeyLocalMachine, kPerizon.installerEntry);
  wmi.seed(64, kPerizon.installerEntry, u"DisplayVersion", u"2.1.1");
  EXPECT_EQ(checks.ControllaVersionePRZN(), 0);
  EXPECT_EQ(wmi.reads, 4);
}

TEST_F(GateTest, NothingReadInEitherViewMeansNoRestore) {
  for (Variant missing : {Variant::null(), Variant(u"")}) {
    SCOPED_TRACE(rt::describe(missing));
    wmi.missing = missing;
    EXPECT_EQ(checks.ControllaVersioneTS(), 0);
    api.seedKey(kHKeyLocalMachine, kPerizon.installerEntry);
    EXPECT_EQ(checks.ControllaVersionePRZN(), 0);
  }
  installed32(kTessaro.installerEntry, u"");
  EXPECT_EQ(checks.ControllaVersioneTS(), 0);
  EXPECT_TRUE(reporter.reports.empty());
  EXPECT_FALSE(state.failurePending());
}

TEST_F(GateTest, PerizonWithoutAnOrdinaryEntryComparesTheSixtyFourBitVersion) {
  struct Case {
    const char16_t* version64;  // DisplayVersion of an entry in the 64-bit view only; null: no entry anywhere
    int16_t expected;
    int wmiReads;
  };
  // Without an entry WMI is not asked at all: a broken WMI cannot raise a report for a user
  // who has no Perizon.
  const Case cases[] = {{nullptr, -1, 0}, {u"", -1, 1}, {u"3.0.0", 0, 3}, {u"2.0.5", -1, 3}, {u"2.1.1", 0, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version64 ? rt::toUtf8(c.version64) : "no entry");
    if (c.version64) {
      api.seedKeyIn64BitView(kHKeyLocalMachine, kPerizon.installerEntry);
      wmi.seed(64, kPerizon.installerEntry, u"DisplayVersion", c.version64);
    }
    wmi.reads = 0;
    EXPECT_EQ(checks.ControllaVersionePRZN(), c.expected);
    EXPECT_EQ(wmi.reads, c.wmiReads);
  }
  EXPECT_EQ(api.calls(fakes::FakeRegistry::Call::Query), 0) << "no ordinary entry, no ordinary read";
  EXPECT_EQ(api.openHandles(), 0);
  EXPECT_TRUE(reporter.reports.empty());
}

TEST_F(GateTest, TooFewPartsAreReportedAndTheAnswerDecides) {
  struct Case {
    std::initializer_list<int32_t> answers;
    int16_t expected;
    size_t reports;
    bool passedOn;
  };
  const Case cases[] = {
      {{errors::kSkip}, 0, 1, false},
      {{errors::kRetry, errors::kSkip}, 0, 2, false},
      {{0}, -1, 1, false},
      {{errors::kPassOn}, 0, 1, true},
  };
  installed32(kTessaro.installerEntry, u"2.1.0");
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE("case " + std::to_string(i));
    reporter.reports.clear();
    reporter.answer(cases[i].answers);
    if (cases[i].passedOn) {
      try {
        checks.ControllaVersioneTS();
        ADD_FAILURE() << "not passed on";
      } catch (const rt::RuntimeError& failure) {
        EXPECT_EQ(failure.number(), rt::kSubscriptOutOfRange);
      }
    } else {
      EXPECT_EQ(checks.ControllaVersioneTS(), cases[i].expected);
    }
    ASSERT_EQ(reporter.reports.size(), cases[i].reports);
    const fakes::Report& report = reporter.reports[0];
    EXPECT_EQ(report.record.number, rt::kSubscriptOutOfRange);
    EXPECT_EQ(report.procedureName, u"ControllaVersioneTS");
    EXPECT_EQ(report.line, 118);
    EXPECT_EQ(report.context.locals,
              Variant::array({u"Versione", u"2.1.0", u"MiaVersione", Variant::array(rt::Kind::String, {u"2", u"1", u"0"})}));
  }

  installed32(kPerizon.installerEntry, u"1.9");
  reporter.reports.clear();
  reporter.answer({errors::kSkip});
  EXPECT_EQ(checks.ControllaVersionePRZN(), 0);
  ASSERT_EQ(reporter.reports.size(), 1u);
  EXPECT_EQ(reporter.reports[0].line, 124);
}

TEST_F(GateTest, AFailedReadBeforeTheSplitListsTheArrayAsNeverAllocated) {
  api.failNext(fakes::FakeRegistry::Call::Open, rt::kOutOfMemory);
  reporter.answer({errors::kPassOn, 0});  // regQuery_A_Key passes it on, the gate leaves
  EXPECT_EQ(checks.ControllaVersioneTS(), -1);
  ASSERT_EQ(reporter.reports.size(), 2u);
  EXPECT_EQ(reporter.reports[1].procedureName, u"ControllaVersioneTS");
  EXPECT_EQ(reporter.reports[1].line, 106);
  EXPECT_EQ(reporter.reports[1].context.locals,
            Variant::array({u"Versione", u"", u"MiaVersione", Variant::unallocatedArray(rt::Kind::String)}));
}

}  // namespace
