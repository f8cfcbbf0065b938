// The components the utility drives late-bound, driven through the binding exactly as the
// utility drives them: WMI's registry provider, the server HTTP request, object creation.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/win32/com/com_automation.h"
#include "platform/win32/handles/handles.h"
#include "runtime/runtime_error.h"
#include "support/loopback_http_server.h"
#include "support/runtime_values.h"

namespace {

using rt::Argument;
using rt::objectOf;
using rt::ObjectRef;
using rt::Variant;
using support::failureOf;

constexpr char16_t kServerXmlHttp[] = u"{88D96A0B-F192-11D4-A65F-0040963251E5}";

constexpr wchar_t kTestKey[] = L"Software\\PatchQuadrellAutomationTest";
constexpr char16_t kTestKeyText[] = u"Software\\PatchQuadrellAutomationTest";

// The test key in one view of HKEY_LOCAL_MACHINE (KEY_WOW64_64KEY or KEY_WOW64_32KEY) holding
// one string value; made afresh, deleted on destruction.
class SeededKey {
 public:
  SeededKey(REGSAM view, const wchar_t* valueName, const std::wstring& data) : view_(view) {
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kTestKey, view_, 0);
    handles::unique_hkey key;
    status_ = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kTestKey, 0, nullptr, 0, KEY_SET_VALUE | view_, nullptr, key.put(),
                              nullptr);
    if (status_ == ERROR_SUCCESS)
      status_ = RegSetValueExW(key.get(), valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                               static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
  }
  ~SeededKey() { RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kTestKey, view_, 0); }
  SeededKey(const SeededKey&) = delete;
  SeededKey& operator=(const SeededKey&) = delete;

  LSTATUS status() const { return status_; }

 private:
  REGSAM view_;
  LSTATUS status_;
};

// StdRegProv.GetStringValue on HKEY_LOCAL_MACHINE through the provider of `architecture`
// (32 or 64): the out-parameters object.
Variant getStringValue(rt::Automation& automation, int16_t architecture, rt::TextView subKey, rt::TextView valueName) {
  const Variant context(automation.createObject(u"WbemScripting.SWbemNamedValueSet"));
  objectOf(context).call(u"Add", {u"__ProviderArchitecture", Variant(architecture)});

  const ObjectRef locator = automation.createObject(u"Wbemscripting.SWbemLocator");
  const Variant services = locator->call(u"ConnectServer", {u"", u"root\\default", u"", u"", Argument::omitted(),
                                                            Argument::omitted(), Argument::omitted(), context});
  const Variant registry = objectOf(services).call(u"Get", {u"StdRegProv"});
  const Variant method = objectOf(objectOf(registry).get(u"Methods_")).call(u"Item", {u"GetStringValue"});
  const Variant inParameters = objectOf(method).get(u"InParameters");
  rt::AutomationObject& in = objectOf(inParameters);
  in.put(u"hDefKey", Variant(int32_t{-2147483646}));  // HKEY_LOCAL_MACHINE as a signed 32-bit value
  in.put(u"sSubKeyName", subKey);
  in.put(u"sValueName", valueName);
  return objectOf(registry).call(u"ExecMethod_", {u"GetStringValue", inParameters, Argument::omitted(), context});
}

class WmiRegistryProvider : public testing::Test {
 protected:
  com::ComAutomation automation;
};

TEST_F(WmiRegistryProvider, ReadsTheRegistryViewOfTheRequestedArchitecture) {
  const SeededKey wide(KEY_WOW64_64KEY, L"Probe", L"sixty-four");
  const SeededKey narrow(KEY_WOW64_32KEY, L"Probe", L"thirty-two");
  ASSERT_EQ(wide.status(), ERROR_SUCCESS);
  ASSERT_EQ(narrow.status(), ERROR_SUCCESS);

  const struct {
    int16_t architecture;
    Variant expected;
  } rows[] = {{64, Variant(u"sixty-four")}, {32, Variant(u"thirty-two")}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.architecture);
    const Variant out = getStringValue(automation, row.architecture, kTestKeyText, u"Probe");
    EXPECT_EQ(objectOf(out).get(u"ReturnValue"), Variant(int32_t{0}));
    EXPECT_EQ(objectOf(out).get(u"sValue"), row.expected);
  }
}

TEST_F(WmiRegistryProvider, MissingValueIsNullOnWindowsAndEmptyTextOnWine) {
  const SeededKey wide(KEY_WOW64_64KEY, L"Probe", L"sixty-four");
  ASSERT_EQ(wide.status(), ERROR_SUCCESS);

  const Variant out = getStringValue(automation, 64, kTestKeyText, u"NoSuchValue");
  const Variant value = objectOf(out).get(u"sValue");
  const Variant returnValue = objectOf(out).get(u"ReturnValue");
  std::printf("[ observed ] missing value: sValue %s, ReturnValue %s\n", rt::describe(value).c_str(),
              rt::describe(returnValue).c_str());
  EXPECT_TRUE(value.isNull() || value == Variant(u"")) << rt::describe(value);
  EXPECT_NE(returnValue, Variant(int32_t{0}));
}

class ServerXmlHttp : public testing::Test {
 protected:
  // open, setTimeouts and send, as the connectivity check makes them.
  void fetch(rt::AutomationObject& request, unsigned short port) {
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/controlloconnessione";
    request.call(u"open", {u"GET", Variant(rt::fromUtf8(url)), Variant::boolean(false), Argument::omitted(),
                           Argument::omitted()});
    const Variant tenSeconds(int16_t{10000});
    request.call(u"setTimeouts", {tenSeconds, tenSeconds, tenSeconds, tenSeconds});
    request.call(u"send", {Argument::omitted()});
  }

  com::ComAutomation automation;
};

TEST_F(ServerXmlHttp, FetchesTheConnectivityPageFromALoopbackServer) {
  support::LoopbackHttpServer server("connessione attiva");
  ASSERT_NE(server.port(), 0) << "no loopback server";

  const ObjectRef request = automation.createObject(kServerXmlHttp);
  fetch(*request, server.port());
  EXPECT_EQ(request->get(u"responseText"), Variant(u"connessione attiva"));
  EXPECT_EQ(request->get(u"status"), Variant(int32_t{200}));
  EXPECT_EQ(server.requestLines(), std::vector<std::string>{"GET /controlloconnessione HTTP/1.1"});
}

TEST_F(ServerXmlHttp, SendFailsWhenNothingListens) {
  const support::ClosedLoopbackPort closed;
  ASSERT_NE(closed.port(), 0) << "no loopback port";

  const ObjectRef request = automation.createObject(kServerXmlHttp);
  const rt::ErrorRecord failure = failureOf([&] { fetch(*request, closed.port()); });
  std::printf("[ observed ] send to a closed port: %s (%08lX)\n", testing::PrintToString(failure).c_str(),
              static_cast<unsigned long>(failure.number));
  EXPECT_NE(failure.number, 0);
}

TEST(ComAutomation, CreationFailureIsError429) {
  com::ComAutomation automation;
  const rt::TextView names[] = {u"No.Such.ProgId", u"{6D1A5C9E-0F53-4B8A-9E59-3F1C2B7A4D10}", u"{not a class}"};
  for (rt::TextView name : names) {
    SCOPED_TRACE(rt::toUtf8(name));
    EXPECT_EQ(failureOf([&] { automation.createObject(name); }),
              (rt::ErrorRecord{429, rt::errorDescription(429), rt::kProjectName, u"", 0}));
  }
}

TEST(ComAutomation, UnknownMemberOfARealObjectIsError438) {
  com::ComAutomation automation;
  const rt::TextView progIds[] = {u"WbemScripting.SWbemLocator", kServerXmlHttp};
  for (rt::TextView progId : progIds) {
    SCOPED_TRACE(rt::toUtf8(progId));
    const ObjectRef object = automation.createObject(progId);
    EXPECT_EQ(failureOf([&] { object->call(u"NoSuchMember"); }),
              (rt::ErrorRecord{438, rt::errorDescription(438), rt::kProjectName, u"", 0}));
    EXPECT_EQ(failureOf([&] { object->get(u"NoSuchProperty"); }).number, 438);
  }
}

}  // namespace
