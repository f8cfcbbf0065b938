#include "registry/modRegistro.h"

#include <gtest/gtest.h>

#include "fakes/fake_automation.h"
#include "fakes/fake_registry.h"
#include "fakes/fake_wmi.h"
#include "fakes/printing.h"
#include "fakes/scripted_reporter.h"
#include "runtime/number_format.h"

using fakes::FakeRegistry;
using registry::kHKeyCurrentUser;
using registry::kHKeyLocalMachine;
using rt::Kind;
using rt::Variant;

namespace {

constexpr char16_t kEntry[] = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QUADRELL Perizon_is1";
constexpr char16_t kSettings[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Tessaro";

class RegistryTest : public ::testing::Test {
 protected:
  errors::ErrorState state;
  fakes::ScriptedReporter reporter{state};
  FakeRegistry api;
  fakes::FakeAutomation automation;
  registry::modRegistro module{errors::Protocol{state, reporter}, api, automation};
  rt::ScopedNumberFormat english{{u'.', u','}};

  void TearDown() override { EXPECT_EQ(api.openHandles(), 0) << "a key was left open"; }

  Variant query(rt::TextView name) { return module.regQuery_A_Key(kHKeyLocalMachine, kEntry, rt::Text(name)); }
};

TEST_F(RegistryTest, KeyExistsOnlyWhenItCanBeOpened) {
  api.seedKey(kHKeyCurrentUser, u"Software\\OKRAN\\Tessaro");
  EXPECT_EQ(module.regDoes_Key_Exist(kHKeyCurrentUser, u"Software\\OKRAN\\Tessaro"), -1);
  EXPECT_EQ(module.m_lngRetVal, registry::kErrorSuccess);

  EXPECT_EQ(module.regDoes_Key_Exist(kHKeyCurrentUser, u"Software\\OKRAN\\Perizon"), 0);
  EXPECT_EQ(module.m_lngRetVal, registry::kErrorInvalidHandle) << "the status of closing a 0 handle";
  EXPECT_EQ(api.calls(FakeRegistry::Call::Close), 2);
}

TEST_F(RegistryTest, ReadsTextUpToItsFirstNulAndDwordsAsIntegers) {
  struct Case {
    const char16_t* name;
    uint32_t type;
    std::vector<uint8_t> bytes;
    Variant expected;
  };
  const Case cases[] = {
      {u"WithNul", registry::kRegSz, FakeRegistry::utf16Bytes(u"abc"), Variant(u"abc")},
      {u"WithoutNul", registry::kRegSz, FakeRegistry::utf16Bytes(u"abc", false), Variant(u"abc")},
      {u"EmbeddedNul", registry::kRegSz, FakeRegistry::utf16Bytes(rt::TextView(u"ab\0cd", 5)), Variant(u"ab")},
      {u"ZeroBytes", registry::kRegSz, {}, Variant(u"")},
      {u"OddSize", registry::kRegSz, {'a', 0, 'b', 0, 'c', 0, 0}, Variant(u"abc")},
      {u"NonLatin", registry::kRegSz, FakeRegistry::utf16Bytes(u"C:\\Users\\Дмитрий\\Ωμέγα"),
       Variant(u"C:\\Users\\Дмитрий\\Ωμέγα")},
      {u"AllOnes", registry::kRegDword, FakeRegistry::dwordBytes(0xFFFFFFFF), Variant(int32_t{-1})},
      {u"Dword", registry::kRegDword, FakeRegistry::dwordBytes(42), Variant(int32_t{42})},
      {u"Expand", registry::kRegExpandSz, FakeRegistry::utf16Bytes(u"%TEMP%"), Variant(u"")},
      {u"Multi", registry::kRegMultiSz, FakeRegistry::utf16Bytes(u"a\0b\0", true), Variant(u"")},
      {u"Binary", registry::kRegBinary, {1, 2, 3}, Variant(u"")},
  };
  for (const Case& c : cases) api.seed(kHKeyLocalMachine, kEntry, c.name, c.type, c.bytes);
  for (const Case& c : cases) {
    SCOPED_TRACE(rt::toUtf8(c.name));
    EXPECT_EQ(query(c.name), c.expected);
  }
  EXPECT_TRUE(reporter.reports.empty());
}

TEST_F(RegistryTest, ReadsNothingFromAMissingValueOrKey) {
  api.seedKey(kHKeyLocalMachine, kEntry);
  EXPECT_EQ(query(u"DisplayVersion"), Variant(u""));
  EXPECT_EQ(module.regQuery_A_Key(kHKeyLocalMachine, u"SOFTWARE\\Nowhere", u"DisplayVersion"), Variant(u""));
  EXPECT_EQ(module.m_lngRetVal, registry::kErrorInvalidHandle);
}

TEST_F(RegistryTest, ReadsNothingWhenTheValueGrowsBetweenTheTwoQueries) {
  api.seedText(kHKeyLocalMachine, kEntry, u"Inno Setup: App Path", u"C:\\A");
  int queries = 0;
  api.before[FakeRegistry::Call::Query] = [&] {
    if (++queries == 2) api.seedText(kHKeyLocalMachine, kEntry, u"Inno Setup: App Path", u"C:\\A much longer path");
  };
  EXPECT_EQ(query(u"Inno Setup: App Path"), Variant(u""));
  EXPECT_EQ(module.m_lngRetVal, registry::kErrorSuccess) << "the close comes last";
}

TEST_F(RegistryTest, AFirstNulBeyondTheSixteenBitPositionGoesToTheHandler) {
  rt::Text longText(40000, u'x');
  api.seedText(kHKeyLocalMachine, kEntry, u"Long", longText);
  reporter.answer({0});
  EXPECT_EQ(query(u"Long"), Variant()) << "left through the handler before a result was set";
  ASSERT_EQ(reporter.reports.size(), 1u);
  const fakes::Report& report = reporter.reports[0];
  EXPECT_EQ(report.record.number, rt::kOverflow);
  EXPECT_EQ(report.procedureName, u"regQuery_A_Key");
  EXPECT_EQ(report.context.parameters,
            Variant::array({u"lngRootKey", kHKeyLocalMachine, u"strRegKeyPath", kEntry, u"strRegSubKey", u"Long"}));
  const auto& locals = report.context.locals.asArray().elements;
  ASSERT_EQ(locals.size(), 12u);
  EXPECT_EQ(locals[0], Variant(u"intPosition"));
  EXPECT_EQ(locals[1], Variant(int16_t{0}));
  EXPECT_EQ(locals[6], Variant(u"lngBufferSize"));
  EXPECT_EQ(locals[7], Variant(int32_t{80002}));
  EXPECT_EQ(locals[11], Variant(longText + u'\0'));
  EXPECT_EQ(report.context.moduleVariables, Variant::array({u"m_lngRetVal", int32_t{0}}));
}

TEST_F(RegistryTest, RunawayFailuresLeaveFalseOrEmptyAndCloseTheKey) {
  api.seedKey(kHKeyCurrentUser, u"Software\\OKRAN\\Tessaro");
  reporter.answer({7, 0});
  api.failNext(FakeRegistry::Call::Close, rt::kOutOfMemory);
  EXPECT_EQ(module.regDoes_Key_Exist(kHKeyCurrentUser, u"Software\\OKRAN\\Tessaro"), -1)
      << "the result was set before the close failed";
  api.failNext(FakeRegistry::Call::Open, rt::kOutOfMemory);
  EXPECT_EQ(module.regDoes_Key_Exist(kHKeyCurrentUser, u"Software\\OKRAN\\Tessaro"), 0);
  ASSERT_EQ(reporter.reports.size(), 2u);
  EXPECT_EQ(reporter.reports[1].context.locals, Variant::array({u"lngKeyHandle", int32_t{0}}));
}

TEST_F(RegistryTest, PassingOnGivesTheCallerTheRegistryFailure) {
  reporter.answer({errors::kPassOn});
  api.failNext(FakeRegistry::Call::Query, rt::kOutOfMemory);
  api.seedText(kHKeyLocalMachine, kEntry, u"DisplayVersion", u"2.1.0");
  EXPECT_THROW(query(u"DisplayVersion"), rt::RuntimeError);
}

TEST_F(RegistryTest, WritesTrimmedTextAndNumericTextAsDword) {
  struct Case {
    const char16_t* name;
    Variant datum;
    uint32_t type;
    std::vector<uint8_t> bytes;
  };
  const Case cases[] = {
      {u"Path", Variant(u" D:\\Apps\\Tool "), registry::kRegSz, FakeRegistry::utf16Bytes(u"D:\\Apps\\Tool")},
      {u"Empty", Variant(u""), registry::kRegSz, {0, 0}},
      {u"Spaces", Variant(u"   "), registry::kRegSz, {0, 0}},
      {u"Lingua", Variant(u"Italiano"), registry::kRegSz, FakeRegistry::utf16Bytes(u"Italiano")},
      {u"Answer", Variant(u"42"), registry::kRegDword, FakeRegistry::dwordBytes(42)},
      {u"Negative", Variant(u" -7 "), registry::kRegDword, FakeRegistry::dwordBytes(static_cast<uint32_t>(-7))},
      {u"NonLatin", Variant(u"C:\\Users\\Дмитрий"), registry::kRegSz, FakeRegistry::utf16Bytes(u"C:\\Users\\Дмитрий")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(rt::toUtf8(c.name));
    module.regCreate_Key_Value(kHKeyCurrentUser, kSettings, c.name, c.datum);
    const fakes::StoredValue* stored = api.value(kHKeyCurrentUser, kSettings, c.name);
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(stored->type, c.type);
    EXPECT_EQ(stored->bytes, c.bytes);
  }
  EXPECT_EQ(api.value(kHKeyCurrentUser, kSettings, u"Path")->bytes.size(), 26u);
  EXPECT_EQ(module.m_lngRetVal, registry::kErrorSuccess);
}

TEST_F(RegistryTest, CreatesMissingKeysAboveTheSettingsKey) {
  module.regCreate_Key_Value(kHKeyCurrentUser, u"Software\\A\\B\\C", u"Lingua", Variant(u"Italiano"));
  EXPECT_TRUE(api.hasKey(kHKeyCurrentUser, u"Software\\A"));
  EXPECT_TRUE(api.hasKey(kHKeyCurrentUser, u"Software\\A\\B\\C"));
}

TEST_F(RegistryTest, AnOverflowingDatumFailsAfterTheKeyWasCreated) {
  reporter.answer({errors::kSkip});
  module.regCreate_Key_Value(kHKeyCurrentUser, kSettings, u"Skipped", Variant(u"3000000000"));
  ASSERT_EQ(reporter.reports.size(), 1u);
  EXPECT_EQ(reporter.reports[0].record.number, rt::kOverflow);
  EXPECT_EQ(reporter.reports[0].procedureName, u"regCreate_Key_Value");
  const fakes::StoredValue* written = api.value(kHKeyCurrentUser, kSettings, u"Skipped");
  ASSERT_NE(written, nullptr) << "skipping the conversion writes the integer as it stood";
  EXPECT_EQ(written->type, registry::kRegDword);
  EXPECT_EQ(written->bytes, FakeRegistry::dwordBytes(0));

  reporter.answer({0});
  module.regCreate_Key_Value(kHKeyCurrentUser, u"Software\\Left", u"Left", Variant(u"3000000000"));
  EXPECT_TRUE(api.hasKey(kHKeyCurrentUser, u"Software\\Left"));
  EXPECT_EQ(api.value(kHKeyCurrentUser, u"Software\\Left", u"Left"), nullptr);
  EXPECT_EQ(reporter.reports[1].context.parameters,
            Variant::array({u"lngRootKey", kHKeyCurrentUser, u"strRegKeyPath", u"Software\\Left", u"strRegSubKey",
                            u"Left", u"varRegData", u"3000000000"}));
}

TEST_F(RegistryTest, AFailedCreateWritesNothingAndReportsNothing) {
  api.forcedStatus[FakeRegistry::Call::Create] = registry::kErrorAccessDenied;
  module.regCreate_Key_Value(kHKeyCurrentUser, kSettings, u"InstallPath", Variant(u"C:\\A"));
  EXPECT_FALSE(api.hasKey(kHKeyCurrentUser, kSettings));
  EXPECT_TRUE(reporter.reports.empty());
  EXPECT_EQ(module.m_lngRetVal, registry::kErrorInvalidHandle);
}

class ReadRegStrTest : public RegistryTest {
 protected:
  fakes::FakeWmiRegistry wmi{automation};
  Variant read(rt::TextView name, int16_t architecture = 64) {
    return module.ReadRegStr(Variant(kHKeyLocalMachine), Variant(kEntry), Variant(name), Variant(architecture));
  }
};

TEST_F(ReadRegStrTest, ReadsTheViewOfTheGivenArchitecture) {
  wmi.seed(64, kEntry, u"Inno Setup: Language", u"Italiano");
  wmi.seed(32, kEntry, u"Inno Setup: Language", u"English");
  wmi.seed(64, kEntry, u"Blank", u"");
  EXPECT_EQ(read(u"Inno Setup: Language"), Variant(u"Italiano"));
  EXPECT_EQ(read(u"Inno Setup: Language", 32), Variant(u"English"));
  EXPECT_EQ(read(u"Blank"), Variant(u""));
  EXPECT_EQ(read(u"Missing"), Variant::null());
  automation.calls.clear();  // the log holds the objects passed as arguments
  EXPECT_EQ(automation.stillHeld(), 0) << "an object local outlived the call";
}

TEST_F(ReadRegStrTest, MakesTheCallsOfTheProviderInOrder) {
  read(u"DisplayVersion");
  std::vector<rt::Text> members;
  for (const auto& call : automation.calls) members.push_back(call.object + u"." + call.member);
  EXPECT_EQ(members, (std::vector<rt::Text>{
                         u"WbemScripting.SWbemNamedValueSet.Add",
                         u"Wbemscripting.SWbemLocator.ConnectServer",
                         u"SWbemServices.Get",
                         u"StdRegProv.Methods_",
                         u"Methods_.Item",
                         u"GetStringValue.InParameters",
                         u"InParameters.hDefKey",
                         u"InParameters.sSubKeyName",
                         u"InParameters.sValueName",
                         u"StdRegProv.ExecMethod_",
                         u"OutParameters.sValue",
                     }));
  const auto& add = automation.calls[0];
  EXPECT_EQ(add.arguments, (std::vector<Variant>{u"__ProviderArchitecture", int16_t{64}}));
  const auto& connect = automation.calls[1];
  EXPECT_EQ(connect.omitted, (std::vector<bool>{false, false, false, false, true, true, true, false}));
  EXPECT_EQ(connect.arguments[1], Variant(u"root\\default"));
  EXPECT_EQ(connect.arguments[7].kind(), Kind::Object);
  EXPECT_EQ(automation.calls[3].arguments.size(), 0u) << "Methods_ takes no argument";
  EXPECT_EQ(automation.calls[6].arguments[0], Variant(int32_t{-2147483646}));
  EXPECT_EQ(automation.calls[9].omitted, (std::vector<bool>{false, false, true, false}));
}

TEST_F(ReadRegStrTest, WithoutWmiTheHandlerLeavesEmpty) {
  wmi.uninstallLocator();
  reporter.answer({0});
  EXPECT_EQ(read(u"DisplayVersion"), Variant());
  ASSERT_EQ(reporter.reports.size(), 1u);
  const fakes::Report& report = reporter.reports[0];
  EXPECT_EQ(report.record.number, rt::kCannotCreateObject);
  EXPECT_EQ(report.line, 107);
  EXPECT_EQ(report.context.parameters,
            Variant::array({u"RootKey", kHKeyLocalMachine, u"Key", kEntry, u"Value", u"DisplayVersion", u"RegType",
                            int16_t{64}}));
  const auto& locals = report.context.locals.asArray().elements;
  ASSERT_EQ(locals.size(), 10u);
  EXPECT_EQ(locals[1].kind(), Kind::Object) << "oCtx was created";
  EXPECT_EQ(locals[3], Variant()) << "oLocator was not";
}

}  // namespace
