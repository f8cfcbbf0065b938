// The connectivity check through Wine's MSXML and wininet against servers on loopback, and the
// version gates against versions in the real registry's two views.
#include <gtest/gtest.h>

#include <string>

#include "checks/environment_checks.h"
#include "fakes/scripted_reporter.h"
#include "platform/win32/com/com_automation.h"
#include "platform/win32/registry_win32.h"
#include "platform/win32/request_wait.h"
#include "platform/win32/winhttp_proxy.h"
#include "platform/win32/wininet_connection.h"
#include "support/loopback_http_server.h"
#include "support/registry_sandbox.h"
#include "support/runtime_values.h"

using support::ClosedLoopbackPort;
using support::LoopbackHttpServer;
using support::RegistrySandbox;

namespace {

rt::Text address(unsigned short port) {
  const std::string text = "http://127.0.0.1:" + std::to_string(port);
  return rt::Text(text.begin(), text.end());
}

class ChecksWineTest : public ::testing::Test {
 protected:
  int16_t connectivity(unsigned short site, unsigned short search) {
    checks::EnvironmentChecks checks(module, automation, connection, wait, proxies, {address(site), address(search)});
    return checks.ControllaConnessioneInternet();
  }

  errors::ErrorState state;
  fakes::ScriptedReporter reporter{state};
  win32::Win32Registry api{KEY_WOW64_32KEY};
  com::ComAutomation automation;
  win32::WininetConnectionTest connection;
  win32::MessageDispatchingWait wait;
  win32::WinHttpProxyLookup proxies;
  registry::modRegistro module{errors::Protocol{state, reporter}, api, automation};
};

TEST_F(ChecksWineTest, TheConnectivityPageDecidesWhenItsTextHoldsOk) {
  struct Case {
    const char* body;
    const char* status;
    long connectionsToTheSite;  // 1: the page decided; 2: the connection test to the site did
  };
  const Case cases[] = {
      {"ok", "200 OK", 1},
      {"<html>Connessione ok</html>", "200 OK", 1},
      {"bookmark", "200 OK", 1},
      {"ok", "500 Internal Server Error", 1},
      {"OK", "200 OK", 2},
      {"", "200 OK", 2},
  };
  ClosedLoopbackPort search;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.status) + " " + c.body);
    LoopbackHttpServer site(c.body, {c.status});
    ASSERT_NE(site.port(), 0);
    EXPECT_EQ(connectivity(site.port(), search.port()), -1);
    EXPECT_EQ(site.waitForConnections(c.connectionsToTheSite), c.connectionsToTheSite);
    Sleep(50);  // a connection more than expected would arrive now
    EXPECT_EQ(site.connections(), c.connectionsToTheSite);
    EXPECT_EQ(site.requestLines(), std::vector<std::string>{"GET /controlloconnessione HTTP/1.1"});
  }
  EXPECT_TRUE(reporter.reports.empty());
  EXPECT_FALSE(state.failurePending());
}

TEST_F(ChecksWineTest, TheSearchEngineDecidesWhenTheMakersServerIsDown) {
  ClosedLoopbackPort site;
  LoopbackHttpServer search("");
  EXPECT_EQ(connectivity(site.port(), search.port()), -1);
  EXPECT_EQ(search.waitForConnections(1), 1);
  EXPECT_TRUE(search.requestLines().empty()) << "a connection test sends no request";
}

TEST_F(ChecksWineTest, NothingListeningMeansNoConnectionAndNoReport) {
  ClosedLoopbackPort site;
  ClosedLoopbackPort search;
  EXPECT_EQ(connectivity(site.port(), search.port()), 0);
  EXPECT_TRUE(reporter.reports.empty());
  EXPECT_FALSE(state.failurePending());
}

// Wine's setTimeouts changes nothing, so the request waits until the server closes (or its
// deadline, later than this server's silence); then the connection test to the same server
// decides. On Windows the ten-second timeouts end it.
TEST_F(ChecksWineTest, ASilentServerFailsThePageAndTheConnectionTestDecides) {
  LoopbackHttpServer site("ok", {"200 OK", 20000});
  ClosedLoopbackPort search;
  EXPECT_EQ(connectivity(site.port(), search.port()), -1);
  EXPECT_EQ(site.waitForConnections(2), 2);
  EXPECT_TRUE(reporter.reports.empty());
}

class GateWineTest : public ChecksWineTest {
 protected:
  static constexpr wchar_t kTessaro[] =
      L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{E2A68D5C-555B-4C3A-8505-137A33019415}}_is1";
  static constexpr wchar_t kPerizon[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QUADRELL Perizon_is1";

  RegistrySandbox sandbox{{{HKEY_LOCAL_MACHINE, kTessaro}, {HKEY_LOCAL_MACHINE, kPerizon}}};
  checks::EnvironmentChecks checks{module, automation, connection, wait, proxies,
                                   {u"http://127.0.0.1:1", u"http://127.0.0.1:1"}};

  static void install(const wchar_t* entry, const wchar_t* version, REGSAM view) {
    ASSERT_TRUE(RegistrySandbox::setText(HKEY_LOCAL_MACHINE, entry, L"DisplayVersion", version, view));
  }
};

TEST_F(GateWineTest, TessaroReadsTheOrdinaryViewThenThe64BitView) {
  install(kTessaro, L"2.1.0.22", KEY_WOW64_32KEY);
  install(kTessaro, L"2.1.0.23", KEY_WOW64_64KEY);
  EXPECT_EQ(checks.ControllaVersioneTS(), -1) << "the ordinary view's version decides";

  RegistrySandbox::setText(HKEY_LOCAL_MACHINE, kTessaro, L"DisplayVersion", L"", KEY_WOW64_32KEY);
  EXPECT_EQ(checks.ControllaVersioneTS(), 0) << "an empty ordinary read falls back to the 64-bit view";

  install(kTessaro, L"2.0.99.99", KEY_WOW64_64KEY);
  EXPECT_EQ(checks.ControllaVersioneTS(), -1);
  EXPECT_TRUE(reporter.reports.empty());
}

TEST_F(GateWineTest, TessaroWithoutAVersionInEitherViewNeedsNoRestore) {
  EXPECT_EQ(checks.ControllaVersioneTS(), 0);
  EXPECT_TRUE(reporter.reports.empty());
}

TEST_F(GateWineTest, PerizonAppliesItsThresholdWhereTheOrdinaryViewHasTheEntry) {
  install(kPerizon, L"2.1.1", KEY_WOW64_32KEY);
  EXPECT_EQ(checks.ControllaVersionePRZN(), 0);
  install(kPerizon, L"2.1.0", KEY_WOW64_32KEY);
  EXPECT_EQ(checks.ControllaVersionePRZN(), -1);
}

TEST_F(GateWineTest, PerizonWithItsEntryOnlyInThe64BitViewAppliesItsThresholdThere) {
  install(kPerizon, L"3.0.0", KEY_WOW64_64KEY);
  EXPECT_EQ(checks.ControllaVersionePRZN(), 0);
  install(kPerizon, L"2.0.5", KEY_WOW64_64KEY);
  EXPECT_EQ(checks.ControllaVersionePRZN(), -1);
}

}  // namespace
