#include "platform/win32/com/late_bound_object.h"

#include <gtest/gtest.h>

#include <float.h>

#include <functional>

#include "com/fake_dispatch.h"
#include "platform/win32/com/variant_conversion.h"
#include "runtime/runtime_error.h"
#include "support/allocation_count.h"
#include "support/runtime_values.h"

namespace {

using fakes::FakeDispatch;
using rt::Argument;
using rt::CallKind;
using rt::Variant;
using support::failureOf;

rt::ObjectRef wrap(FakeDispatch& fake) { return com::wrapDispatch(handles::com_ptr<IDispatch>::borrow(&fake)); }

HRESULT answerWith(VARIANT* result, handles::unique_variant value) {
  if (result) *result = value.release();
  return S_OK;
}

TEST(LateBoundObject, CallsEachKindWithItsInvokeFlags) {
  FakeDispatch fake;
  fake.define(L"Value");
  const rt::ObjectRef object = wrap(fake);
  const struct {
    CallKind kind;
    WORD flags;
    std::vector<DISPID> named;
    bool resultRequested;
  } rows[] = {
      {CallKind::Method, DISPATCH_METHOD, {}, true},
      {CallKind::PropertyGet, DISPATCH_PROPERTYGET | DISPATCH_METHOD, {}, true},
      {CallKind::PropertyPut, DISPATCH_PROPERTYPUT, {DISPID_PROPERTYPUT}, false},
      {CallKind::PropertyPutRef, DISPATCH_PROPERTYPUTREF, {DISPID_PROPERTYPUT}, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.kind));
    fake.calls.clear();
    object->invoke(u"Value", row.kind, {Variant(int32_t{5})});
    ASSERT_EQ(fake.calls.size(), 1u);
    EXPECT_EQ(fake.calls[0].flags, row.flags);
    EXPECT_EQ(fake.calls[0].namedArguments, row.named);
    EXPECT_EQ(fake.calls[0].resultRequested, row.resultRequested);
    EXPECT_EQ(fake.calls[0].arguments, std::vector<std::string>{"I4 5"});
  }
}

TEST(LateBoundObject, PassesArgumentsLastFirst) {
  FakeDispatch fake;
  fake.define(L"Go");
  wrap(fake)->call(
      u"Go", {Variant(int32_t{1}), u"two", Argument::omitted(), Variant::array({Variant(int16_t{64}), Variant(u"x")}),
              Variant::array(rt::Kind::String, {Variant(u"s")}), Variant::unallocatedArray(rt::Kind::String)});
  ASSERT_EQ(fake.calls.size(), 1u);
  EXPECT_EQ(fake.calls[0].arguments, (std::vector<std::string>{
                                         "ARRAY BSTR (null)",
                                         "ARRAY BSTR[0..0] {BSTR \"s\"}",
                                         "ARRAY VARIANT[0..1] {I2 64, BSTR \"x\"}",
                                         "ERROR 80020004",
                                         "BSTR \"two\"",
                                         "I4 1",
                                     }));
}

// SetVariables hands the error context over by reference and reads nothing back: whatever the
// component leaves in a slot, the call succeeds, the variable keeps its value and the slot is
// freed.
TEST(LateBoundObject, ReadsNothingBackFromByReferenceArguments) {
  FakeDispatch replacement("replacement");
  const struct {
    const char* name;
    std::function<void(VARIANT& slot)> leave;
  } rows[] = {
      {"text", [](VARIANT& slot) { slot = com::toComVariant(Variant(u"changed")).release(); }},
      {"object",
       [&](VARIANT& slot) {
         slot.pdispVal = handles::com_ptr<IDispatch>::borrow(&replacement).detach();
         slot.vt = VT_DISPATCH;
       }},
      {"two-dimensional array",
       [](VARIANT& slot) {
         SAFEARRAYBOUND bounds[2] = {{2, 0}, {3, 0}};
         slot.parray = SafeArrayCreate(VT_VARIANT, 2, bounds);
         slot.vt = VT_ARRAY | VT_VARIANT;
       }},
      {"array with lower bound 1",
       [](VARIANT& slot) {
         slot.parray = SafeArrayCreateVector(VT_BSTR, 1, 2);
         slot.vt = VT_ARRAY | VT_BSTR;
       }},
      {"record",
       [](VARIANT& slot) {
         slot.pvRecord = nullptr;
         slot.pRecInfo = nullptr;
         slot.vt = VT_RECORD;
       }},
      {"error value",
       [](VARIANT& slot) {
         slot.scode = E_FAIL;
         slot.vt = VT_ERROR;
       }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    FakeDispatch fake;
    // SetVariables(first, second): arguments arrive last first.
    fake.define(L"SetVariables", [&](DISPPARAMS& parameters, VARIANT*, EXCEPINFO*) {
      for (UINT i = 0; i < parameters.cArgs; ++i) {
        VARIANT& slot = *parameters.rgvarg[i].pvarVal;
        VariantClear(&slot);
        row.leave(slot);
      }
      return S_OK;
    });
    Variant first = Variant::array({Variant(u"strNome"), Variant(int32_t{5})});
    Variant second(u"Empty");
    const rt::ErrorRecord failure =
        support::failureOf([&] { wrap(fake)->call(u"SetVariables", {Argument::byRef(first), Argument::byRef(second)}); });

    EXPECT_EQ(failure.number, 0) << "the call failed";
    EXPECT_EQ(fake.calls.at(0).arguments,
              (std::vector<std::string>{"BYREF BSTR \"Empty\"", "BYREF ARRAY VARIANT[0..1] {BSTR \"strNome\", I4 5}"}));
    EXPECT_EQ(first, Variant::array({Variant(u"strNome"), Variant(int32_t{5})}));
    EXPECT_EQ(second, Variant(u"Empty"));
    EXPECT_EQ(replacement.references(), 1) << "an object left in a slot was not released";
  }
}

TEST(LateBoundObject, ConvertsResultsBack) {
  FakeDispatch fake;
  FakeDispatch child("child");
  child.define(L"Name", [](DISPPARAMS&, VARIANT* result, EXCEPINFO*) {
    return answerWith(result, com::toComVariant(Variant(u"child")));
  });
  fake.define(L"Nothing");
  fake.define(L"Text", [](DISPPARAMS&, VARIANT* result, EXCEPINFO*) {
    return answerWith(result, com::toComVariant(Variant(u"text")));
  });
  fake.define(L"List", [](DISPPARAMS&, VARIANT* result, EXCEPINFO*) {
    return answerWith(result, com::toComVariant(Variant::array({Variant(int32_t{1}), Variant::null()})));
  });
  fake.define(L"Child", [&](DISPPARAMS&, VARIANT* result, EXCEPINFO*) {
    result->pdispVal = &child;
    child.AddRef();
    result->vt = VT_DISPATCH;
    return S_OK;
  });
  {
    const rt::ObjectRef object = wrap(fake);
    EXPECT_EQ(object->call(u"Nothing"), Variant());
    EXPECT_EQ(object->get(u"Text"), Variant(u"text"));
    EXPECT_EQ(object->get(u"List"), Variant::array({Variant(int32_t{1}), Variant::null()}));
    const Variant childObject = object->get(u"Child");
    EXPECT_EQ(com::dispatchOf(childObject), static_cast<IDispatch*>(&child));
    EXPECT_EQ(rt::objectOf(childObject).get(u"Name"), Variant(u"child"));
  }
  EXPECT_EQ(child.references(), 1);
  EXPECT_EQ(fake.references(), 1);
}

// A report's answer converts as OLE Automation converts it (in the tests' English locale); an
// object gives its default value, read once.
TEST(LateBoundObject, ConvertsAnAnswerToALongAsOleAutomationDoes) {
  FakeDispatch itself("itself");
  itself.defineDefault([&](DISPPARAMS&, VARIANT* result, EXCEPINFO*) {
    result->pdispVal = &itself;
    itself.AddRef();
    result->vt = VT_DISPATCH;
    return S_OK;
  });
  FakeDispatch seven("seven");
  seven.defineDefault([](DISPPARAMS&, VARIANT* result, EXCEPINFO*) {
    return answerWith(result, com::toComVariant(Variant(u"7")));
  });
  const auto text = [](const char16_t* value) { return [=] { return com::toComVariant(Variant(value)); }; };
  const auto object = [](FakeDispatch& fake) {
    return [&fake] { return com::toComVariant(Variant(wrap(fake))); };
  };
  const struct {
    const char* name;
    std::function<handles::unique_variant()> answer;
    int32_t expected;  // the action, or the error raised
    bool raises;
  } rows[] = {
      {"&H4", text(u"&H4"), 4, false},
      {"blanks around", text(u" 5 "), 5, false},
      {"in brackets", text(u"(4)"), -4, false},
      {"5.5 rounds to even", text(u"5.5"), 6, false},
      {"4.5 rounds to even", text(u"4.5"), 4, false},
      {"exponent", text(u"1e1"), 10, false},
      {"a double", [] { return com::toComVariant(Variant(5.0)); }, 5, false},
      {"no number", text(u"abc"), rt::kTypeMismatch, true},
      {"Null", [] { return com::toComVariant(Variant::null()); }, rt::kTypeMismatch, true},
      {"too large", [] { return com::toComVariant(Variant(1e12)); }, rt::kOverflow, true},
      {"an object whose value is 7", object(seven), 7, false},
      {"an object whose value is itself", object(itself), rt::kTypeMismatch, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    FakeDispatch report;
    report.define(L"ReportError", [&](DISPPARAMS&, VARIANT* result, EXCEPINFO*) { return answerWith(result, row.answer()); });
    int32_t action = 0;
    const rt::ErrorRecord failure = failureOf([&] { action = wrap(report)->callForLong(u"ReportError"); });
    EXPECT_EQ(row.raises ? failure.number : action, row.expected);
    EXPECT_EQ(report.references(), 1);
  }
  EXPECT_EQ(itself.references(), 1);
  EXPECT_EQ(seven.references(), 1);
}

HRESULT WINAPI fillInLater(EXCEPINFO* exception) {
  exception->scode = static_cast<SCODE>(0x80041002);
  exception->bstrDescription = SysAllocString(L"Deferred");
  exception->bstrSource = SysAllocString(L"Filler");
  return S_OK;
}

TEST(LateBoundObject, ReportsFailuresAsLateBoundBasicDoes) {
  const rt::Text project = rt::kProjectName;
  const rt::Text automationError = u"Errore di automazione";
  struct Exception {
    SCODE scode;
    WORD wCode;
    const wchar_t* description;
    const wchar_t* source;
    const wchar_t* helpFile;
    DWORD helpContext;
    bool deferred;
  };
  const struct {
    const char* name;
    const wchar_t* member;  // L"Missing" is not defined on the fake
    HRESULT status;
    Exception exception;
    rt::ErrorRecord expected;
  } rows[] = {
      {"unknown name", L"Missing", S_OK, {}, {438, rt::errorDescription(438), project, u"", 0}},
      {"member not found", L"Call", DISP_E_MEMBERNOTFOUND, {}, {438, rt::errorDescription(438), project, u"", 0}},
      {"type mismatch", L"Call", DISP_E_TYPEMISMATCH, {}, {13, u"Tipo non corrispondente", project, u"", 0}},
      {"overflow", L"Call", DISP_E_OVERFLOW, {}, {6, u"Overflow", project, u"", 0}},
      {"argument count",
       L"Call",
       DISP_E_BADPARAMCOUNT,
       {},
       {450, u"Numero di argomenti errato o assegnazione di proprietà non valida", project, u"", 0}},
      {"argument not optional",
       L"Call",
       DISP_E_PARAMNOTOPTIONAL,
       {},
       {449, u"Argomento non facoltativo", project, u"", 0}},
      {"other HRESULT", L"Call", E_FAIL, {}, {static_cast<int32_t>(0x80004005), automationError, u"", u"", 0}},
      {"Basic error as HRESULT",
       L"Call",
       static_cast<HRESULT>(0x800A01AD),
       {},
       {429, rt::errorDescription(429), project, u"", 0}},
      {"component error",
       L"Call",
       DISP_E_EXCEPTION,
       {static_cast<SCODE>(0x80041002), 0, L"Not found", L"SWbemServicesEx", L"wmi.chm", 12, false},
       {static_cast<int32_t>(0x80041002), u"Not found", u"SWbemServicesEx", u"wmi.chm", 12}},
      {"component error by wCode",
       L"Call",
       DISP_E_EXCEPTION,
       {0, 1001, L"Custom", L"Report", nullptr, 0, false},
       {1001, u"Custom", u"Report", u"", 0}},
      {"Basic error without description",
       L"Call",
       DISP_E_EXCEPTION,
       {static_cast<SCODE>(0x800A0005), 0, nullptr, L"Component", nullptr, 0, false},
       {5, u"Chiamata di routine o argomento non validi", u"Component", u"", 0}},
      {"component error without description",
       L"Call",
       DISP_E_EXCEPTION,
       {static_cast<SCODE>(0x80040001), 0, nullptr, nullptr, nullptr, 0, false},
       {static_cast<int32_t>(0x80040001), automationError, u"", u"", 0}},
      {"deferred fill-in",
       L"Call",
       DISP_E_EXCEPTION,
       {0, 0, nullptr, nullptr, nullptr, 0, true},
       {static_cast<int32_t>(0x80041002), u"Deferred", u"Filler", u"", 0}},
      {"exception without number", L"Call", DISP_E_EXCEPTION, {}, {440, automationError, u"", u"", 0}},
  };
  support::AllocationCount allocations;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    FakeDispatch fake;
    fake.define(L"Call", [&](DISPPARAMS&, VARIANT*, EXCEPINFO* exception) {
      if (row.status == DISP_E_EXCEPTION) {
        exception->scode = row.exception.scode;
        exception->wCode = row.exception.wCode;
        exception->bstrDescription = row.exception.description ? SysAllocString(row.exception.description) : nullptr;
        exception->bstrSource = row.exception.source ? SysAllocString(row.exception.source) : nullptr;
        exception->bstrHelpFile = row.exception.helpFile ? SysAllocString(row.exception.helpFile) : nullptr;
        exception->dwHelpContext = row.exception.helpContext;
        exception->pfnDeferredFillIn = row.exception.deferred ? &fillInLater : nullptr;
      }
      return row.status;
    });
    const rt::ErrorRecord record = failureOf(
        [&] { wrap(fake)->call(rt::Text(row.member, row.member + wcslen(row.member)), {Variant(u"argument")}); });
    EXPECT_EQ(record, row.expected);
    EXPECT_EQ(fake.references(), 1);
  }
  if (allocations.active()) {
    EXPECT_EQ(allocations.outstanding(), 0) << "EXCEPINFO strings or arguments left behind";
  }
}

TEST(LateBoundObject, ReleasesEveryStringArrayAndReference) {
  support::AllocationCount allocations;
  if (!allocations.active()) GTEST_SKIP() << "no malloc spy on this platform";
  FakeDispatch fake;
  FakeDispatch argument("argument");
  fake.define(L"Echo", [](DISPPARAMS& parameters, VARIANT* result, EXCEPINFO*) {
    return VariantCopyInd(result, &parameters.rgvarg[parameters.cArgs - 1]);
  });
  fake.define(L"Replace", [](DISPPARAMS& parameters, VARIANT*, EXCEPINFO*) {
    VARIANT& target = *parameters.rgvarg[0].pvarVal;
    VariantClear(&target);
    target = com::toComVariant(Variant::array(rt::Kind::String, {Variant(u"new")})).release();
    return S_OK;
  });
  {
    const rt::ObjectRef object = wrap(fake);
    const rt::ObjectRef other = wrap(argument);
    const Variant values[] = {
        Variant(u"text"),
        Variant::array({Variant(u"a"), Variant::array(rt::Kind::String, {Variant(u"b")}), Variant(other)}),
        Variant::unallocatedArray(rt::Kind::String),
        Variant(other),
    };
    // Objects come back as new wrappers of the same interface: compare what COM sees.
    for (const Variant& value : values)
      EXPECT_EQ(fakes::render(*com::toComVariant(object->call(u"Echo", {value})).get()),
                fakes::render(*com::toComVariant(value).get()));
    Variant variable(u"old");
    object->call(u"Replace", {Argument::byRef(variable)});
    EXPECT_EQ(variable, Variant(u"old"));
  }
  EXPECT_EQ(allocations.outstanding(), 0);
  EXPECT_EQ(fake.references(), 1);
  EXPECT_EQ(argument.references(), 1);
}

// A component that unmasks every floating-point exception and rounds toward zero as it answers,
// successfully or not: the utility's next division by zero would end the process.
TEST(LateBoundObject, PutsBackTheFloatingPointStateAComponentChanged) {
  const unsigned before = _controlfp(0, 0);
  for (const HRESULT answer : {S_OK, E_FAIL}) {
    SCOPED_TRACE(answer);
    FakeDispatch fake;
    fake.define(L"Report", [answer](DISPPARAMS&, VARIANT*, EXCEPINFO*) {
      _controlfp(_RC_CHOP, _MCW_RC);
      _controlfp(0, _MCW_EM);
      return answer;
    });
    try {
      wrap(fake)->call(u"Report", {});
    } catch (const rt::RuntimeError&) {
    }
    const unsigned after = _controlfp(0, 0);
    _controlfp(before, _MCW_EM | _MCW_RC);  // the next cases need it, should this one fail
    EXPECT_EQ(after, before) << "exceptions masked and rounding to nearest again";
  }
}

TEST(LateBoundObject, HandsItsInterfaceToOtherWindowsCode) {
  FakeDispatch fake;
  const rt::ObjectRef object = wrap(fake);
  EXPECT_EQ(fake.references(), 2);
  EXPECT_EQ(com::dispatchOf(object), static_cast<IDispatch*>(&fake));
  EXPECT_EQ(com::dispatchOf(Variant::nothing()), nullptr);
  EXPECT_EQ(com::wrapDispatch(nullptr), nullptr);
  EXPECT_EQ(failureOf([] { com::dispatchOf(Variant(int32_t{1})); }).number, rt::kObjectRequired);
}

}  // namespace
