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

  // The request object answers `responseText` with `page`; a failing `send` when `sendFails`.
  // It is complete at the `completeAtPoll`th question, never when that is 0. Its setProxy fails
  // with `setProxyFails` when that is set, as Wine's object, which has none, fails with 438.
  void serveConnectivityPage(Variant page, int32_t sendFails = 0, int completeAtPoll = 1, int32_t setProxyFails = 0) {
    auto polls = std::make_shared<int>(0);
    automation.registerClass(checks::kServerXmlHttp60, [=](const fakes::RecordedCall& call, auto&) {
      if (call.member == u"send" && sendFails != 0) throw rt::RuntimeError({sendFails, u"", u"msxml6.dll", u"", 0});
      if (call.member == u"setProxy" && setProxyFails != 0) rt::raise(setProxyFails);
      if (call.member == u"readyState") return Variant(int32_t{++*polls == completeAtPoll ? 4 : 3});
      if (call.member == u"responseText") return page;
      return Variant();
    });
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

TEST_F(ChecksTest, ThePageIsAskedForThroughTheProxyTheUsersWindowsUsesForTheWeb) {
  using checks::Proxy;
  using checks::UserProxySettings;
  const Proxy office{u"proxy.ufficio.example:8080", u"<local>;*.ufficio.example"};
  const Proxy fromScript{u"pac-proxy.example:3128", u""};
  struct Case {
    const char* name;
    std::optional<UserProxySettings> settings;
    std::optional<Proxy> scriptAnswer;
    int32_t setProxyFails;
    std::optional<Proxy> handedOn;  // setProxy(2, servers, bypass); none: no setProxy call
    bool scriptAsked;
  };
  const Case cases[] = {
      {"settings unreadable", std::nullopt, std::nullopt, 0, std::nullopt, false},
      {"no proxy", UserProxySettings{}, std::nullopt, 0, std::nullopt, false},
      {"a proxy set by hand", UserProxySettings{false, u"", office}, std::nullopt, 0, office, false},
      {"a script that names a proxy", UserProxySettings{false, u"http://wpad.ufficio.example/proxy.pac", office},
       fromScript, 0, fromScript, true},
      {"automatic detection, DIRECT", UserProxySettings{true, u"", office}, Proxy{}, 0, std::nullopt, true},
      {"no script found: the proxy set by hand", UserProxySettings{true, u"", office}, std::nullopt, 0, office, true},
      {"no script found, nothing set by hand", UserProxySettings{true, u"", {}}, std::nullopt, 0, std::nullopt, true},
      {"a request object without setProxy", UserProxySettings{false, u"", office}, std::nullopt,
       rt::kMemberNotSupported, office, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    automation.calls.clear();
    serveConnectivityPage(Variant(u"ok"), 0, 1, c.setProxyFails);
    proxies.settings = c.settings;
    proxies.scriptAnswer = c.scriptAnswer;
    proxies.asked.clear();
    EXPECT_EQ(checks.ControllaConnessioneInternet(), -1) << "the page decided";
    EXPECT_TRUE(connection.asked.empty());

    std::vector<fakes::RecordedCall> calls = automation.callsOn(checks::kServerXmlHttp60);
    const auto setProxy = std::find_if(calls.begin(), calls.end(), [](const auto& call) { return call.member == u"setProxy"; });
    const auto send = std::find_if(calls.begin(), calls.end(), [](const auto& call) { return call.member == u"send"; });
    ASSERT_NE(send, calls.end());
    if (!c.handedOn) {
      EXPECT_EQ(setProxy, calls.end());
    } else {
      ASSERT_NE(setProxy, calls.end());
      EXPECT_LT(setProxy, send);
      EXPECT_EQ(setProxy->arguments[0], Variant(int32_t{2}));
      EXPECT_EQ(setProxy->arguments[1], Variant(c.handedOn->servers));
      EXPECT_EQ(setProxy->omitted[2], c.handedOn->bypass.empty()) << "no bypass list: none passed";
      EXPECT_EQ(setProxy->arguments[2], c.handedOn->bypass.empty() ? Variant() : Variant(c.handedOn->bypass));
    }
    ASSERT_EQ(proxies.asked.size(), c.scriptAsked ? 1u : 0u);
    if (c.scriptAsked) {
      EXPECT_EQ(proxies.asked[0].url, u"http://127.0.0.1:8001/controlloconnessione");
      EXPECT_EQ(proxies.asked[0].limit, std::chrono::seconds(10));
    }
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
