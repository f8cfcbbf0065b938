#include "app/Form1.h"

#include <gtest/gtest.h>

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
using fakes::FakeRegistry;
using registry::kHKeyCurrentUser;
using registry::kHKeyLocalMachine;
using rt::Variant;

namespace {

// Where the settings land, written out here: a slip in the product table still fails a test.
constexpr char16_t kTessaroSettings[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Tessaro";
constexpr char16_t kPerizonSettings[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Perizon";

const rt::Text kTessaroDone = u"Il ripristino del Software QUADRELL Tessaro è andato a buon fine.\r\n";
const rt::Text kPerizonDone = u"Il ripristino del Software QUADRELL Perizon è andato a buon fine.\r\n";
const rt::Text kTessaroNotNeeded = u"Il ripristino del Software QUADRELL Tessaro non è stato necessario.\r\n";
const rt::Text kPerizonNotNeeded = u"Il ripristino del Software QUADRELL Perizon non è stato necessario.\r\n";
const rt::Text kTessaroProblem =
    u"E' stato rilevato un problema durante il ripristino del Software QUADRELL Tessaro, si è pregati di ritentare o "
    u"procedere con la reinstallazione.\r\n";
const rt::Text kPerizonProblem =
    u"E' stato rilevato un problema durante il ripristino del Software QUADRELL Perizon, si è pregati di ritentare o "
    u"procedere con la reinstallazione.\r\n";

class FakeWindow : public app::Form1Window {
 public:
  rt::Text lblText() override { return lbl; }
  void setLblText(const rt::Text& text) override { lbl = text; }
  void Unload() override { ++unloads; }
  void showCriticalMessage(const rt::Text& text, const rt::Text& caption) override {
    messages.push_back({text, caption});
    busyDuringMessage = busy;
  }
  void setBusy(bool value) override { busy = value; }

  rt::Text lbl;
  int unloads = 0;
  bool busy = false;
  bool busyDuringMessage = false;
  std::vector<std::pair<rt::Text, rt::Text>> messages;
};

class NoConnection : public checks::ConnectionTest {
 public:
  int32_t InternetCheckConnection(rt::TextView) override { return 0; }
};

class RestoreTest : public ::testing::Test {
 public:
  RestoreTest() {
    connectivityPage(u"ok");
    // Both products installed in versions that need the restore, with their configuration keys.
    api.seedText(kHKeyLocalMachine, kTessaro.installerEntry, u"DisplayVersion", u"2.1.0.5");
    api.seedText(kHKeyLocalMachine, kTessaro.installerEntry, u"Inno Setup: App Path",
                 u"C:\\Program Files (x86)\\Tessaro");
    api.seedText(kHKeyLocalMachine, kPerizon.installerEntry, u"DisplayVersion", u"2.0.1");
    api.seedText(kHKeyLocalMachine, kPerizon.installerEntry, u"Inno Setup: Language", u"Italiano");
    api.seedKey(kHKeyCurrentUser, kTessaro.configurationKey);
    api.seedKey(kHKeyCurrentUser, kPerizon.configurationKey);
  }

  void connectivityPage(rt::TextView page) {
    automation.registerClass(checks::kServerXmlHttp60, [page = rt::Text(page)](const fakes::RecordedCall& call, auto&) {
      if (call.member == u"readyState") return Variant(int32_t{4});
      return call.member == u"responseText" ? Variant(page) : Variant();
    });
  }
  rt::Text written(rt::TextView key, rt::TextView name) {
    const fakes::StoredValue* value = api.value(kHKeyCurrentUser, key, name);
    if (value == nullptr) return u"(none)";
    rt::Text text;
    for (size_t i = 0; i + 1 < value->bytes.size(); i += 2)
      text += static_cast<char16_t>(value->bytes[i] | value->bytes[i + 1] << 8);
    if (!text.empty() && text.back() == u'\0') text.pop_back();
    return text;
  }

  errors::ErrorState state;
  fakes::ScriptedReporter reporter{state};
  FakeRegistry api;
  fakes::FakeAutomation automation;
  fakes::FakeWmiRegistry wmi{automation};
  NoConnection connection;
  fakes::FakeRequestWait wait;
  fakes::FakeProxyLookup proxies;
  registry::modRegistro modRegistro{errors::Protocol{state, reporter}, api, automation};
  checks::EnvironmentChecks checks{modRegistro, automation, connection, wait, proxies,
                                   {u"http://127.0.0.1:1", u"http://127.0.0.1:2"}};
  FakeWindow window;
  app::Form1 form{errors::Protocol{state, reporter}, window, modRegistro, checks};
};

TEST_F(RestoreTest, CopiesBothSettingsAndListsTwoSuccessLines) {
  form.cmdOk_Click();
  EXPECT_EQ(window.lbl, kTessaroDone + kPerizonDone);
  EXPECT_EQ(written(kTessaroSettings, u"InstallPath"), u"C:\\Program Files (x86)\\Tessaro");
  EXPECT_EQ(written(kPerizonSettings, u"Lingua"), u"Italiano");
  EXPECT_EQ(wmi.reads, 0) << "the ordinary view held both values";
  EXPECT_EQ(window.unloads, 0);
  EXPECT_FALSE(window.busy);
  EXPECT_TRUE(reporter.reports.empty());
  EXPECT_EQ(api.openHandles(), 0);
}

TEST_F(RestoreTest, WithoutAConnectionSaysSoAndEndsWithoutTouchingTheRegistry) {
  connectivityPage(u"nothing here");
  window.lbl = u"earlier lines\r\n";
  form.cmdOk_Click();
  ASSERT_EQ(window.messages.size(), 1u);
  EXPECT_EQ(window.messages[0].first, u"Non è stata rilevata nessuna connessione Internet");
  EXPECT_EQ(window.messages[0].second, u"PatchQUADRELL-Windows10");
  EXPECT_FALSE(window.busyDuringMessage) << "the arrow comes back before the message";
  EXPECT_EQ(window.unloads, 1);
  EXPECT_EQ(window.lbl, u"earlier lines\r\n");
  EXPECT_EQ(api.calls(FakeRegistry::Call::Open) + api.calls(FakeRegistry::Call::Create), 0);
}

TEST_F(RestoreTest, OutcomeLinesFollowTheGatesAndTheConfigurationKeys) {
  struct Case {
    const char* name;
    std::function<void(RestoreTest&)> arrange;
    rt::Text lines;
  };
  const Case cases[] = {
      {"both not needed",
       [](RestoreTest& t) {
         t.api.seedText(kHKeyLocalMachine, kTessaro.installerEntry, u"DisplayVersion", u"2.1.0.23");
         t.api.seedText(kHKeyLocalMachine, kPerizon.installerEntry, u"DisplayVersion", u"2.1.1");
       },
       kTessaroNotNeeded + kPerizonNotNeeded},
      {"no configuration keys",
       [](RestoreTest& t) {
         t.api = FakeRegistry();
         t.api.seedText(kHKeyLocalMachine, kTessaro.installerEntry, u"DisplayVersion", u"2.1.0.5");
         t.api.seedText(kHKeyLocalMachine, kPerizon.installerEntry, u"DisplayVersion", u"2.0.1");
       },
       u""},
      {"only the Limited keys",
       [](RestoreTest& t) {
         t.api = FakeRegistry();
         t.api.seedText(kHKeyLocalMachine, kTessaro.installerEntry, u"DisplayVersion", u"2.1.0.5");
         t.api.seedText(kHKeyLocalMachine, kTessaro.installerEntry, u"Inno Setup: App Path", u"C:\\T");
         t.api.seedText(kHKeyLocalMachine, kPerizon.installerEntry, u"DisplayVersion", u"2.0.1");
         t.api.seedText(kHKeyLocalMachine, kPerizon.installerEntry, u"Inno Setup: Language", u"Deutsch");
         t.api.seedKey(kHKeyCurrentUser, kTessaro.limitedConfigurationKey);
         t.api.seedKey(kHKeyCurrentUser, kPerizon.limitedConfigurationKey);
       },
       kTessaroDone + kPerizonDone},
      {"Tessaro needs no restore, Perizon has no keys",
       [](RestoreTest& t) {
         t.api = FakeRegistry();
         t.api.seedText(kHKeyLocalMachine, kTessaro.installerEntry, u"DisplayVersion", u"3.0.0.0");
         t.api.seedText(kHKeyLocalMachine, kPerizon.installerEntry, u"DisplayVersion", u"2.0.1");
       },
       kTessaroNotNeeded},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.arrange(*this);
    form.cmdOk_Click();
    EXPECT_EQ(window.lbl, c.lines);
    EXPECT_TRUE(reporter.reports.empty());
  }
}

TEST_F(RestoreTest, TheSixtyFourBitViewIsReadOnlyWhenTheOrdinaryViewHasNothing) {
  api.seedText(kHKeyLocalMachine, kTessaro.installerEntry, u"Inno Setup: App Path", u"");
  wmi.seed(64, kTessaro.installerEntry, u"Inno Setup: App Path", u"C:\\Program Files\\Tessaro");
  form.cmdOk_Click();
  EXPECT_EQ(wmi.reads, 1);
  EXPECT_EQ(written(kTessaroSettings, u"InstallPath"), u"C:\\Program Files\\Tessaro");
  EXPECT_EQ(window.lbl, kTessaroDone + kPerizonDone);
  EXPECT_TRUE(api.hasKey(kHKeyCurrentUser, kTessaroSettings)) << "the settings key is created";
}

TEST_F(RestoreTest, ASettingFoundInNeitherViewIsAProblemAndIsNotWritten) {
  for (Variant missing : {Variant::null(), Variant(u"")}) {
    SCOPED_TRACE(rt::describe(missing));
    api = FakeRegistry();
    api.seedText(kHKeyLocalMachine, kTessaro.installerEntry, u"DisplayVersion", u"2.1.0.5");
    api.seedText(kHKeyLocalMachine, kPerizon.installerEntry, u"DisplayVersion", u"2.0.1");
    api.seedText(kHKeyLocalMachine, kPerizon.installerEntry, u"Inno Setup: Language", u"   ");
    api.seedKey(kHKeyCurrentUser, kTessaro.configurationKey);
    api.seedKey(kHKeyCurrentUser, kPerizon.configurationKey);
    wmi.missing = missing;
    form.cmdOk_Click();
    EXPECT_EQ(window.lbl, kTessaroProblem + kPerizonProblem);
    EXPECT_FALSE(api.hasKey(kHKeyCurrentUser, kTessaroSettings));
    EXPECT_FALSE(api.hasKey(kHKeyCurrentUser, kPerizonSettings));
    EXPECT_FALSE(state.failurePending());
  }
}

TEST_F(RestoreTest, AFailurePassedOnByTheTessaroWriteSpoilsOnlyTheTessaroLine) {
  api.failNext(FakeRegistry::Call::Create, rt::kOutOfMemory);
  reporter.answer({errors::kPassOn});
  form.cmdOk_Click();
  EXPECT_EQ(window.lbl, kTessaroProblem + kPerizonDone);
  ASSERT_EQ(reporter.reports.size(), 1u);
  EXPECT_EQ(reporter.reports[0].procedureName, u"regCreate_Key_Value");
  EXPECT_EQ(written(kPerizonSettings, u"Lingua"), u"Italiano");
  EXPECT_FALSE(state.failurePending());
}

TEST_F(RestoreTest, AWriteThatDidNotStoreTheValueIsAProblemForThatProductOnly) {
  struct Case {
    const char* name;
    std::function<void(RestoreTest&)> arrange;
    size_t reports;
  };
  const Case cases[] = {
      {"the set refused", [](RestoreTest& t) { t.api.forcedStatus[FakeRegistry::Call::Set] = registry::kErrorAccessDenied; }, 0},
      {"the create refused",
       [](RestoreTest& t) { t.api.forcedStatus[FakeRegistry::Call::Create] = registry::kErrorAccessDenied; }, 0},
      {"left through its handler before the set",
       [](RestoreTest& t) {
         t.api.failNext(FakeRegistry::Call::Create, rt::kOutOfMemory);
         t.reporter.answer({0});
       },
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    api.seedKey(kHKeyCurrentUser, kTessaroSettings);
    c.arrange(*this);
    form.cmdOk_Click();
    EXPECT_EQ(window.lbl, kTessaroProblem + kPerizonDone);
    EXPECT_EQ(written(kTessaroSettings, u"InstallPath"), u"(none)");
    EXPECT_EQ(written(kPerizonSettings, u"Lingua"), u"Italiano");
    EXPECT_EQ(reporter.reports.size(), c.reports) << "a registry status is no runtime error";
    EXPECT_FALSE(state.failurePending());
    reporter.reports.clear();
  }
}

TEST_F(RestoreTest, AFailureTheWriteResolvesKeepsTheSuccessLine) {
  api.failNext(FakeRegistry::Call::Create, rt::kOutOfMemory);
  reporter.answer({errors::kRetry});
  form.cmdOk_Click();
  EXPECT_EQ(window.lbl, kTessaroDone + kPerizonDone);
  EXPECT_EQ(written(kTessaroSettings, u"InstallPath"), u"C:\\Program Files (x86)\\Tessaro");
}

TEST_F(RestoreTest, AVersionWithTooFewPartsFollowsTheAnswer) {
  api.seedText(kHKeyLocalMachine, kTessaro.installerEntry, u"DisplayVersion", u"2.1.0");
  struct Case {
    std::initializer_list<int32_t> answers;
    rt::Text lines;
  };
  const Case cases[] = {
      {{errors::kSkip}, kTessaroNotNeeded + kPerizonDone},
      {{errors::kRetry, errors::kSkip}, kTessaroNotNeeded + kPerizonDone},
      // Passed on, the failure enters the branch written first: the restore runs.
      {{errors::kPassOn}, kTessaroDone + kPerizonDone},
  };
  for (const Case& c : cases) {
    reporter.answer(c.answers);
    form.cmdOk_Click();
    EXPECT_EQ(window.lbl, c.lines);
  }
}

TEST_F(RestoreTest, ASecondRunReplacesTheLinesOnlyAtTheEnd) {
  form.cmdOk_Click();
  api.seedText(kHKeyLocalMachine, kTessaro.installerEntry, u"DisplayVersion", u"2.1.0.23");
  rt::Text seenDuringRun;
  api.before[FakeRegistry::Call::Open] = [&] { seenDuringRun = window.lbl; };
  form.cmdOk_Click();
  EXPECT_EQ(seenDuringRun, kTessaroDone + kPerizonDone);
  EXPECT_EQ(window.lbl, kTessaroNotNeeded + kPerizonDone);
}

TEST_F(RestoreTest, ChiudiUnloadsTheWindow) {
  form.cmdAnnulla_Click();
  EXPECT_EQ(window.unloads, 1);
}

}  // namespace
