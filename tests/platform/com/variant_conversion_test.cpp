#include "platform/win32/com/variant_conversion.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "com/fake_dispatch.h"
#include "platform/win32/com/late_bound_object.h"
#include "runtime/runtime_error.h"
#include "support/runtime_values.h"

namespace {

using handles::unique_variant;
using rt::Kind;
using rt::Variant;

// A raw VARIANT with one field set; the type is written last, as the binding does.
#define RAW(type, field, value)  \
  [] {                           \
    handles::unique_variant made;          \
    made.get()->field = (value); \
    made.get()->vt = (type);     \
    return made;                 \
  }

handles::unique_variant safeArrayOf(VARTYPE type, SAFEARRAY* array) {
  handles::unique_variant raw;
  raw.get()->parray = array;
  raw.get()->vt = VT_ARRAY | type;
  return raw;
}

handles::unique_variant bstrArray(std::initializer_list<const wchar_t*> texts, LONG lowerBound = 0) {
  SAFEARRAYBOUND bound{static_cast<ULONG>(texts.size()), lowerBound};
  SAFEARRAY* array = SafeArrayCreate(VT_BSTR, 1, &bound);
  LONG index = lowerBound;
  for (const wchar_t* text : texts) {
    handles::unique_bstr element(SysAllocString(text));
    SafeArrayPutElement(array, &index, element.get());
    ++index;
  }
  return safeArrayOf(VT_BSTR, array);
}

class ForeignObject : public rt::AutomationObject {
 public:
  Variant invoke(rt::TextView, rt::CallKind, const std::vector<rt::Argument>&) override { return {}; }
};

TEST(ValueToVariant, GivesEachKindItsAutomationType) {
  fakes::FakeDispatch fake("target");
  const rt::ObjectRef target = com::wrapDispatch(handles::com_ptr<IDispatch>::borrow(&fake));
  const struct {
    const char* name;
    Variant value;
    std::string expected;
  } rows[] = {
      {"Empty", Variant(), "EMPTY"},
      {"Null", Variant::null(), "NULL"},
      {"Integer", Variant(int16_t{-7}), "I2 -7"},
      {"Long", Variant(int32_t{-2147483646}), "I4 -2147483646"},
      {"Double", Variant(2.5), "R8 2.5"},
      {"Date", Variant(rt::OleDate{45000.25}), "DATE 45000.25"},
      {"True", Variant::boolean(true), "BOOL -1"},
      {"False", Variant::boolean(false), "BOOL 0"},
      {"String with NUL", Variant(rt::Text(u"a\0b", 3)), "BSTR \"a\\0b\""},
      {"empty String", Variant(u""), "BSTR \"\""},
      {"Object", Variant(target), "DISPATCH target"},
      {"Nothing", Variant::nothing(), "DISPATCH null"},
      {"Variant array", Variant::array({Variant(int32_t{1}), Variant(u"a"), Variant::null()}),
       "ARRAY VARIANT[0..2] {I4 1, BSTR \"a\", NULL}"},
      {"String array", Variant::array(Kind::String, {Variant(u"x"), Variant(u"")}),
       "ARRAY BSTR[0..1] {BSTR \"x\", BSTR \"\"}"},
      {"Long array", Variant::array(Kind::Long, {Variant(int32_t{3})}), "ARRAY I4[0..0] {I4 3}"},
      {"Object array", Variant::array(Kind::Object, {Variant(target), Variant::nothing()}),
       "ARRAY DISPATCH[0..1] {DISPATCH target, DISPATCH null}"},
      {"array without elements", Variant::array({}), "ARRAY VARIANT[0..-1] {}"},
      {"array in an array", Variant::array({Variant::array(Kind::String, {Variant(u"in")})}),
       "ARRAY VARIANT[0..0] {ARRAY BSTR[0..0] {BSTR \"in\"}}"},
      {"unallocated String array", Variant::unallocatedArray(Kind::String), "ARRAY BSTR (null)"},
      {"unallocated Variant array", Variant::unallocatedArray(Kind::Any), "ARRAY VARIANT (null)"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(fakes::render(*com::toComVariant(row.value).get()), row.expected);
  }
}

TEST(ValueToVariant, RefusesWhatCannotCrossToCom) {
  const struct {
    const char* name;
    Variant value;
  } rows[] = {
      {"object that is not a COM object", Variant(rt::ObjectRef(std::make_shared<ForeignObject>()))},
      {"String array holding a Long", Variant::array(Kind::String, {Variant(int32_t{1})})},
      {"array of Null", Variant::array(Kind::Null, {})},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    try {
      com::toComVariant(row.value);
      ADD_FAILURE() << "converted";
    } catch (const rt::RuntimeError& failure) {
      EXPECT_EQ(failure.number(), rt::kTypeMismatch);
    }
  }
}

TEST(VariantToValue, ReadsEveryAutomationTypeTheUtilityMeets) {
  DECIMAL twoAndAHalf;
  VarDecFromR8(2.5, &twoAndAHalf);
  LONG referenced = 42;
  const handles::unique_bstr innerText(SysAllocString(L"inner"));
  VARIANT inner;  // read through a reference only; innerText owns its string
  inner.vt = VT_BSTR;
  inner.bstrVal = innerText.get();

  const struct {
    const char* name;
    std::function<handles::unique_variant()> raw;
    std::string expected;
  } rows[] = {
      {"EMPTY", RAW(VT_EMPTY, llVal, 0), "Empty"},
      {"NULL", RAW(VT_NULL, llVal, 0), "Null"},
      {"I1", RAW(VT_I1, cVal, static_cast<CHAR>(-5)), "Integer -5"},
      {"UI1", RAW(VT_UI1, bVal, 200), "Integer 200"},
      {"I2", RAW(VT_I2, iVal, -32768), "Integer -32768"},
      {"UI2", RAW(VT_UI2, uiVal, 65535), "Long 65535"},
      {"I4", RAW(VT_I4, lVal, -2147483646), "Long -2147483646"},
      {"INT", RAW(VT_INT, intVal, 9), "Long 9"},
      {"UI4 small", RAW(VT_UI4, ulVal, 7), "Long 7"},
      {"UI4 large", RAW(VT_UI4, ulVal, 3000000000u), "Double 3000000000"},
      {"UINT large", RAW(VT_UINT, uintVal, 4294967295u), "Double 4294967295"},
      {"I8 small", RAW(VT_I8, llVal, -5), "Long -5"},
      {"I8 large", RAW(VT_I8, llVal, -5000000000LL), "Double -5000000000"},
      {"UI8 large", RAW(VT_UI8, ullVal, 2147483648ULL), "Double 2147483648"},
      {"R4", RAW(VT_R4, fltVal, 1.5f), "Double 1.5"},
      {"R8", RAW(VT_R8, dblVal, -0.25), "Double -0.25"},
      {"CY", RAW(VT_CY, cyVal.int64, 12345), "Double 1.2344999999999999"},
      {"DECIMAL",
       [&] {
         handles::unique_variant raw;
         raw.get()->decVal = twoAndAHalf;
         raw.get()->vt = VT_DECIMAL;
         return raw;
       },
       "Double 2.5"},
      {"DATE", RAW(VT_DATE, date, 45000.5), "Date 45000.5"},
      {"BOOL true", RAW(VT_BOOL, boolVal, VARIANT_TRUE), "Boolean True"},
      {"BOOL false", RAW(VT_BOOL, boolVal, VARIANT_FALSE), "Boolean False"},
      {"null BSTR", RAW(VT_BSTR, bstrVal, nullptr), "String \"\""},
      {"null DISPATCH", RAW(VT_DISPATCH, pdispVal, nullptr), "Object Nothing"},
      {"null UNKNOWN", RAW(VT_UNKNOWN, punkVal, nullptr), "Object Nothing"},
      {"BYREF I4",
       [&] {
         handles::unique_variant raw;
         raw.get()->plVal = &referenced;
         raw.get()->vt = VT_BYREF | VT_I4;
         return raw;
       },
       "Long 42"},
      {"BYREF VARIANT",
       [&] {
         handles::unique_variant raw;
         raw.get()->pvarVal = &inner;
         raw.get()->vt = VT_BYREF | VT_VARIANT;
         return raw;
       },
       "String \"inner\""},
      {"BSTR array",
       [] {
         return bstrArray({L"a", L"b"});
       },
       "Array of String [String \"a\", String \"b\"]"},
      {"empty BSTR array", [] { return bstrArray({}); }, "Array of String []"},
      {"unallocated I4 array", [] { return safeArrayOf(VT_I4, nullptr); }, "Array of Long (unallocated)"},
      {"UI1 array", [] { return safeArrayOf(VT_UI1, SafeArrayCreateVector(VT_UI1, 0, 2)); },
       "Array of Integer [Integer 0, Integer 0]"},
      {"VARIANT array",
       [] {
         handles::unique_variant raw = safeArrayOf(VT_VARIANT, SafeArrayCreateVector(VT_VARIANT, 0, 2));
         LONG index = 1;
         handles::unique_variant element = RAW(VT_R8, dblVal, 0.5)();
         SafeArrayPutElement(raw.get()->parray, &index, element.get());
         return raw;
       },
       "Array of Variant [Empty, Double 0.5]"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(rt::describe(com::fromComVariant(*row.raw().get())), row.expected);
  }
}

// An array descriptor laid out by hand, as a careless or hostile component might hand one
// over; SafeArrayGetVartype finds the stored type just before it. Never destroyed.
struct HandMadeArray {
  DWORD padding = 0;
  DWORD storedType;
  SAFEARRAY array;
  LONG data[4] = {};

  HandMadeArray(VARTYPE type, USHORT features, ULONG elementSize, ULONG count) : storedType(type), array{} {
    array.cDims = 1;
    array.fFeatures = static_cast<USHORT>(FADF_HAVEVARTYPE | features);
    array.cbElements = elementSize;
    array.pvData = data;
    array.rgsabound[0] = {count, 0};
  }
};

// A VARIANT that only points at `array`: nothing to free.
VARIANT borrowedArray(VARTYPE label, SAFEARRAY* array) {
  VARIANT value;
  value.parray = array;
  value.vt = VT_ARRAY | label;
  return value;
}

// A component's value is converted or refused with 13; it never takes the process down, whatever
// it claims to be.
TEST(VariantToValue, RefusesWhatTheUtilityCannotHold) {
  fakes::FakeDispatch unknownOnly("unknown only", false);
  const auto convert = [](const VARIANT& value) { return com::fromComVariant(value); };
  const auto owned = [](const std::function<handles::unique_variant()>& make) { return com::fromComVariant(*make().get()); };
  const struct {
    const char* name;
    std::function<Variant()> convert;
  } rows[] = {
      {"UNKNOWN without IDispatch",
       [&] {
         handles::unique_variant raw;
         raw.get()->punkVal = &unknownOnly;
         unknownOnly.AddRef();
         raw.get()->vt = VT_UNKNOWN;
         return com::fromComVariant(*raw.get());
       }},
      {"ERROR", [&] { return owned(RAW(VT_ERROR, scode, DISP_E_PARAMNOTFOUND)); }},
      {"VECTOR flag", [&] { return owned(RAW(VT_VECTOR | VT_I4, lVal, 1)); }},
      {"array with lower bound 1", [&] { return owned([] { return bstrArray({L"a"}, 1); }); }},
      {"two-dimensional array",
       [&] {
         SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
         return owned([&] { return safeArrayOf(VT_VARIANT, SafeArrayCreate(VT_VARIANT, 2, bounds)); });
       }},
      {"sixty-dimensional array",
       [&] {
         std::vector<SAFEARRAYBOUND> bounds(60, SAFEARRAYBOUND{1, 0});
         return owned([&] { return safeArrayOf(VT_I4, SafeArrayCreate(VT_I4, 60, bounds.data())); });
       }},
      {"null reference",
       [&] {
         VARIANT value;
         value.plVal = nullptr;
         value.vt = VT_BYREF | VT_I4;
         return convert(value);
       }},
      {"null reference to a VARIANT",
       [&] {
         VARIANT value;
         value.pvarVal = nullptr;
         value.vt = VT_BYREF | VT_VARIANT;
         return convert(value);
       }},
      {"reference to a reference",
       [&] {
         LONG number = 1;
         VARIANT inner;
         inner.plVal = &number;
         inner.vt = VT_BYREF | VT_I4;
         VARIANT value;
         value.pvarVal = &inner;
         value.vt = VT_BYREF | VT_VARIANT;
         return convert(value);
       }},
      {"reference to itself",
       [&] {
         VARIANT value;
         value.pvarVal = &value;
         value.vt = VT_BYREF | VT_VARIANT;
         return convert(value);
       }},
      {"texts labelled as an I4 array", [&] { return owned([] { return safeArrayOf(VT_I4, bstrArray({L"a"}).release().parray); }); }},
      {"numbers labelled as a BSTR array",
       [&] { return owned([] { return safeArrayOf(VT_BSTR, SafeArrayCreateVector(VT_I4, 0, 2)); }); }},
      {"element size other than the type's",
       [&] {
         HandMadeArray made(VT_I4, 0, 2, 2);
         return convert(borrowedArray(VT_I4, &made.array));
       }},
      {"BSTR array without the BSTR feature",
       [&] {
         HandMadeArray made(VT_BSTR, 0, sizeof(BSTR), 1);
         return convert(borrowedArray(VT_BSTR, &made.array));
       }},
      {"two billion elements claimed",
       [&] {
         HandMadeArray made(VT_I4, 0, 4, 0x7fffffff);
         return convert(borrowedArray(VT_I4, &made.array));
       }},
      {"more elements than the utility takes",
       [&] { return owned([] { return safeArrayOf(VT_UI1, SafeArrayCreateVector(VT_UI1, 0, (1 << 20) + 1)); }); }},
      {"arrays nested 17 deep",
       [&] {
         Variant nested = Variant::array({});
         for (int depth = 1; depth < 17; ++depth) nested = Variant::array({nested});
         return owned([&] { return com::toComVariant(nested); });
       }},
      {"array that holds itself",
       [&] {
         handles::unique_safearray array(SafeArrayCreateVector(VT_VARIANT, 0, 1));
         LONG index = 0;
         VARIANT* element = nullptr;
         SafeArrayPtrOfIndex(array.get(), &index, reinterpret_cast<void**>(&element));
         element->parray = array.get();
         element->vt = VT_ARRAY | VT_VARIANT;
         // Unlinked before the array is destroyed, or destroying it would never end.
         const std::unique_ptr<VARIANT, void (*)(VARIANT*)> unlink(element, [](VARIANT* e) { e->vt = VT_EMPTY; });
         return convert(borrowedArray(VT_VARIANT, array.get()));
       }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    try {
      row.convert();
      ADD_FAILURE() << "converted";
    } catch (const rt::RuntimeError& failure) {
      EXPECT_EQ(failure.number(), rt::kTypeMismatch);
    }
  }
  EXPECT_EQ(unknownOnly.references(), 1);
}

TEST(VariantToValue, UnknownThatAnswersDispatchBecomesThatObject) {
  fakes::FakeDispatch fake;
  {
    handles::unique_variant raw;
    raw.get()->punkVal = handles::com_ptr<IUnknown>::borrow(&fake).detach();
    raw.get()->vt = VT_UNKNOWN;
    const Variant object = com::fromComVariant(*raw.get());
    EXPECT_EQ(com::dispatchOf(object), static_cast<IDispatch*>(&fake));
  }
  EXPECT_EQ(fake.references(), 1);
}

}  // namespace
