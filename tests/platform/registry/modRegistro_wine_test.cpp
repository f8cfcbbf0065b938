// The registry layer and the view reader against Wine's real registry and WMI provider, with
// the test build's registry view (the 32-bit one) as the ordinary view.
#include <gtest/gtest.h>

#include "fakes/scripted_reporter.h"
#include "platform/win32/com/com_automation.h"
#include "platform/win32/registry_win32.h"
#include "registry/modRegistro.h"
#include "support/registry_sandbox.h"
#include "support/runtime_values.h"

using registry::kHKeyCurrentUser;
using registry::kHKeyLocalMachine;
using rt::Variant;
using support::RegistrySandbox;

namespace {

const std::wstring kEntry = L"SOFTWARE\\PatchQUADRELLTest\\Uninstall\\Entry_is1";
const std::wstring kSettings = L"Software\\PatchQUADRELLTest\\Settings";

rt::Text text(const std::wstring& wide) { return rt::Text(wide.begin(), wide.end()); }

class RegistryWineTest : public ::testing::Test {
 protected:
  RegistrySandbox sandbox{{{HKEY_LOCAL_MACHINE, L"SOFTWARE\\PatchQUADRELLTest"},
                           {HKEY_CURRENT_USER, L"Software\\PatchQUADRELLTest"}}};
  errors::ErrorState state;
  fakes::ScriptedReporter reporter{state};
  win32::Win32Registry api{KEY_WOW64_32KEY};
  com::ComAutomation automation;
  registry::modRegistro module{errors::Protocol{state, reporter}, api, automation};

  Variant query(const wchar_t* name) { return module.regQuery_A_Key(kHKeyLocalMachine, text(kEntry), text(name)); }
  Variant readView(const wchar_t* name, int16_t architecture) {
    return module.ReadRegStr(Variant(kHKeyLocalMachine), Variant(text(kEntry)), Variant(text(name)),
                             Variant(architecture));
  }
};

TEST_F(RegistryWineTest, AValueOnlyInThe64BitViewIsFoundOnlyThroughWmi) {
  ASSERT_TRUE(RegistrySandbox::setText(HKEY_LOCAL_MACHINE, kEntry, L"Inno Setup: App Path", L"C:\\Program Files\\T",
                                       KEY_WOW64_64KEY));
  EXPECT_EQ(query(L"Inno Setup: App Path"), Variant(u"")) << "the ordinary view must not see it";
  EXPECT_EQ(readView(L"Inno Setup: App Path", 64), Variant(u"C:\\Program Files\\T"));
  const Variant in32 = readView(L"Inno Setup: App Path", 32);
  // Windows leaves Null for a missing value; Wine's provider an empty text.
  EXPECT_TRUE(in32 == Variant::null() || in32 == Variant(u"")) << rt::describe(in32);
  EXPECT_TRUE(reporter.reports.empty());
}

TEST_F(RegistryWineTest, ReadsEachTypeAsStored) {
  const DWORD allOnes = 0xFFFFFFFF;
  const wchar_t noNul[] = {L'a', L'b', L'c'};
  const wchar_t embedded[] = L"ab\0cd";
  const wchar_t multi[] = L"a\0b\0";
  ASSERT_TRUE(RegistrySandbox::set(HKEY_LOCAL_MACHINE, kEntry, L"Dword", REG_DWORD, &allOnes, 4, KEY_WOW64_32KEY));
  ASSERT_TRUE(RegistrySandbox::set(HKEY_LOCAL_MACHINE, kEntry, L"NoNul", REG_SZ, noNul, sizeof noNul, KEY_WOW64_32KEY));
  ASSERT_TRUE(
      RegistrySandbox::set(HKEY_LOCAL_MACHINE, kEntry, L"Embedded", REG_SZ, embedded, sizeof embedded, KEY_WOW64_32KEY));
  ASSERT_TRUE(RegistrySandbox::set(HKEY_LOCAL_MACHINE, kEntry, L"Empty", REG_SZ, L"", 0, KEY_WOW64_32KEY));
  ASSERT_TRUE(RegistrySandbox::set(HKEY_LOCAL_MACHINE, kEntry, L"Expand", REG_EXPAND_SZ, L"%TEMP%", 14, KEY_WOW64_32KEY));
  ASSERT_TRUE(RegistrySandbox::set(HKEY_LOCAL_MACHINE, kEntry, L"Multi", REG_MULTI_SZ, multi, sizeof multi, KEY_WOW64_32KEY));

  const std::pair<const wchar_t*, Variant> cases[] = {
      {L"Dword", Variant(int32_t{-1})}, {L"NoNul", Variant(u"abc")}, {L"Embedded", Variant(u"ab")},
      {L"Empty", Variant(u"")},         {L"Expand", Variant(u"")},   {L"Multi", Variant(u"")},
      {L"Missing", Variant(u"")},
  };
  for (const auto& [name, expected] : cases) {
    SCOPED_TRACE(rt::toUtf8(text(name)));
    EXPECT_EQ(query(name), expected);
  }
  EXPECT_EQ(module.regQuery_A_Key(kHKeyLocalMachine, u"SOFTWARE\\PatchQUADRELLTest\\Nowhere", u"x"), Variant(u""));
  EXPECT_EQ(module.m_lngRetVal, ERROR_INVALID_HANDLE) << "the status of closing a 0 handle";
}

TEST_F(RegistryWineTest, NonLatinTextSurvivesAReadAndAWrite) {
  const std::wstring folder = L"C:\\Users\\Дмитрий\\Ωμέγα\\應用";
  ASSERT_TRUE(RegistrySandbox::setText(HKEY_LOCAL_MACHINE, kEntry, L"Inno Setup: App Path", folder, KEY_WOW64_32KEY));
  const Variant read = query(L"Inno Setup: App Path");
  EXPECT_EQ(read, Variant(text(folder)));

  module.regCreate_Key_Value(kHKeyCurrentUser, text(kSettings), u"InstallPath", read);
  const RegistrySandbox::Stored stored = RegistrySandbox::get(HKEY_CURRENT_USER, kSettings, L"InstallPath", 0);
  ASSERT_TRUE(stored.exists);
  EXPECT_EQ(stored.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(stored.bytes.data())), folder);
}

TEST_F(RegistryWineTest, WritesWhatTheRegistryThenHolds) {
  const std::wstring deep = kSettings + L"\\Deeper\\Still";
  module.regCreate_Key_Value(kHKeyCurrentUser, text(deep), u"Path", Variant(u" D:\\Apps\\Tool "));
  module.regCreate_Key_Value(kHKeyCurrentUser, text(deep), u"Number", Variant(u"42"));
  module.regCreate_Key_Value(kHKeyCurrentUser, text(deep), u"Nothing", Variant(u""));
  EXPECT_EQ(module.m_lngRetVal, ERROR_SUCCESS);

  const auto path = RegistrySandbox::get(HKEY_CURRENT_USER, deep, L"Path", 0);
  EXPECT_EQ(path.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(path.bytes.size(), 26u);
  EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(path.bytes.data())), L"D:\\Apps\\Tool");
  const auto number = RegistrySandbox::get(HKEY_CURRENT_USER, deep, L"Number", 0);
  EXPECT_EQ(number.type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(number.bytes, (std::vector<BYTE>{42, 0, 0, 0}));
  const auto nothing = RegistrySandbox::get(HKEY_CURRENT_USER, deep, L"Nothing", 0);
  EXPECT_EQ(nothing.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(nothing.bytes.size(), 2u);
}

TEST_F(RegistryWineTest, KeysExistOnlyInTheOrdinaryView) {
  ASSERT_TRUE(RegistrySandbox::createKey(HKEY_LOCAL_MACHINE, kEntry, KEY_WOW64_32KEY));
  ASSERT_TRUE(RegistrySandbox::createKey(HKEY_LOCAL_MACHINE, kEntry + L"64", KEY_WOW64_64KEY));
  EXPECT_EQ(module.regDoes_Key_Exist(kHKeyLocalMachine, text(kEntry)), -1);
  EXPECT_EQ(module.regDoes_Key_Exist(kHKeyLocalMachine, text(kEntry + L"64")), 0);
  EXPECT_EQ(module.m_lngRetVal, ERROR_INVALID_HANDLE);
}

// Without the locator's class the view reader fails where it creates it, and leaving through
// the handler gives Empty.
TEST_F(RegistryWineTest, WithoutWmiTheHandlerLeavesEmpty) {
  const std::wstring progId = L"Software\\Classes\\WbemScripting.SWbemLocator\\CLSID";
  const RegistrySandbox::Stored clsid = RegistrySandbox::get(HKEY_LOCAL_MACHINE, progId, nullptr, KEY_WOW64_64KEY);
  ASSERT_TRUE(clsid.exists) << "the prefix has no WMI locator to hide";
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, progId.c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &key), ERROR_SUCCESS);
  RegDeleteValueW(key, nullptr);

  reporter.answer({0});
  const Variant result = readView(L"DisplayVersion", 64);

  RegSetValueExW(key, nullptr, 0, clsid.type, clsid.bytes.data(), static_cast<DWORD>(clsid.bytes.size()));
  RegCloseKey(key);

  EXPECT_EQ(result, Variant());
  ASSERT_EQ(reporter.reports.size(), 1u);
  EXPECT_EQ(reporter.reports[0].record.number, rt::kCannotCreateObject);
  EXPECT_EQ(reporter.reports[0].procedureName, u"ReadRegStr");
  EXPECT_EQ(reporter.reports[0].line, 107);
}

}  // namespace
