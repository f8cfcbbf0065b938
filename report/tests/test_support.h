// What the component's tests share: a small checker that names the failing case, late-bound calls
// made the way the utility makes them, and builders for the values it passes.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "../failure.h"

namespace vbgreport::test {

// ---- checking ------------------------------------------------------------------------------

inline int failures = 0;

inline std::string narrow(std::wstring_view text) {
  std::string out(WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), static_cast<int>(out.size()), nullptr, nullptr);
  return out;
}

inline void fail(const std::string& where, const std::string& what) {
  ++failures;
  std::printf("  FAILED %s: %s\n", where.c_str(), what.c_str());
}

inline void expect(bool ok, const std::string& where, const std::string& what) {
  if (!ok) fail(where, what);
}

inline std::string hex(HRESULT code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(code));
  return text;
}

inline void expectCode(HRESULT actual, HRESULT expected, const std::string& where) {
  if (actual != expected) fail(where, "got " + hex(actual) + ", expected " + hex(expected));
}

inline void expectText(const std::string& actual, const std::string& expected, const std::string& where) {
  if (actual != expected) fail(where, "\n    got      " + actual + "\n    expected " + expected);
}

inline void expectText(std::wstring_view actual, std::wstring_view expected, const std::string& where) {
  expectText(narrow(actual), narrow(expected), where);
}

// "[name]", the way a failing row is named.
inline std::string row(std::string_view name) {
  std::string named(1, '[');
  named.append(name);
  named += ']';
  return named;
}

struct TestCase {
  const char* name;
  std::function<void()> run;
};

inline int runAll(const std::vector<TestCase>& cases) {
  for (const TestCase& test : cases) {
    const int before = failures;
    std::printf("[ RUN  ] %s\n", test.name);
    try {
      test.run();
    } catch (const Failure& failure) {
      fail(test.name, "stopped by " + hex(failure.code()) + " " + narrow(failure.description()));
    } catch (const std::exception& error) {
      fail(test.name, std::string("stopped by ") + error.what());
    }
    std::printf("[ %s ] %s\n", failures == before ? " OK " : "FAIL", test.name);
    std::fflush(stdout);
  }
  std::printf("%s: %d failure(s)\n", failures ? "FAILED" : "PASSED", failures);
  return failures ? 1 : 0;
}

// ---- values --------------------------------------------------------------------------------

inline unique_variant text(std::wstring_view value) { return textVariant(value); }
inline unique_variant longValue(LONG value) { return longVariant(value); }

template <class Fill>
unique_variant made(VARTYPE type, Fill fill) {
  unique_variant value;
  VARIANT* slot = value.put();
  fill(slot);
  V_VT(slot) = type;
  return value;
}

inline unique_variant shortValue(SHORT value) { return made(VT_I2, [&](VARIANT* v) { V_I2(v) = value; }); }
inline unique_variant doubleValue(double value) { return made(VT_R8, [&](VARIANT* v) { V_R8(v) = value; }); }
inline unique_variant dateValue(DATE value) { return made(VT_DATE, [&](VARIANT* v) { V_DATE(v) = value; }); }
inline unique_variant boolValue(bool value) {
  return made(VT_BOOL, [&](VARIANT* v) { V_BOOL(v) = value ? VARIANT_TRUE : VARIANT_FALSE; });
}
inline unique_variant errorValue(SCODE value) { return made(VT_ERROR, [&](VARIANT* v) { V_ERROR(v) = value; }); }
inline unique_variant currencyValue(LONGLONG tenThousandths) {
  return made(VT_CY, [&](VARIANT* v) { V_CY(v).int64 = tenThousandths; });
}
inline unique_variant nullValue() { return made(VT_NULL, [](VARIANT*) {}); }
inline unique_variant emptyValue() { return unique_variant(); }
inline unique_variant objectValue(IDispatch* object) {
  if (object) object->AddRef();
  return made(VT_DISPATCH, [&](VARIANT* v) { V_DISPATCH(v) = object; });
}

// A Variant() array with the given elements, lowest index `lowerBound`.
inline unique_variant variantArray(std::vector<unique_variant> elements, LONG lowerBound = 0) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, lowerBound, static_cast<ULONG>(elements.size()));
  if (!array) throw Failure(E_OUTOFMEMORY);
  unique_variant owner = made(VT_ARRAY | VT_VARIANT, [&](VARIANT* v) { V_ARRAY(v) = array; });
  for (LONG i = 0; i < static_cast<LONG>(elements.size()); ++i) {
    LONG index = lowerBound + i;
    check(SafeArrayPutElement(array, &index, const_cast<VARIANT*>(elements[i].get())));
  }
  return owner;
}

// A String() array.
inline unique_variant textArray(const std::vector<std::wstring>& elements) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(elements.size()));
  if (!array) throw Failure(E_OUTOFMEMORY);
  unique_variant owner = made(VT_ARRAY | VT_BSTR, [&](VARIANT* v) { V_ARRAY(v) = array; });
  for (LONG i = 0; i < static_cast<LONG>(elements.size()); ++i) {
    const unique_bstr element = bstrOf(elements[i]);
    check(SafeArrayPutElement(array, &i, element.get()));
  }
  return owner;
}

// A String() array declared but never dimensioned.
inline unique_variant unallocatedTextArray() { return made(VT_ARRAY | VT_BSTR, [](VARIANT* v) { V_ARRAY(v) = nullptr; }); }

// A variant list of name/value pairs, as the utility sends variables.
inline unique_variant pairs(std::vector<std::pair<std::wstring, unique_variant>> entries) {
  std::vector<unique_variant> elements;
  for (auto& [name, value] : entries) {
    elements.push_back(text(name));
    elements.push_back(std::move(value));
  }
  return variantArray(std::move(elements));
}

// A by-reference argument to `target`; it owns nothing.
inline VARIANT byRef(unique_variant& target) {
  VARIANT reference;
  VariantInit(&reference);
  V_VT(&reference) = VT_BYREF | VT_VARIANT;
  V_VARIANTREF(&reference) = target.get();
  return reference;
}

// ---- late-bound calls ----------------------------------------------------------------------

struct Outcome {
  HRESULT code = E_FAIL;
  unique_variant result;
  UINT argumentError = ~0u;
  SCODE exceptionCode = 0;
  std::wstring exceptionSource;
};

struct CallOptions {
  bool namePutArgument = true;  // DISPID_PROPERTYPUT named, as every put must
  std::vector<DISPID> extraNamed;
  IID interfaceId = IID_NULL;
};

// Calls member `id` with `arguments` in the order a caller writes them; they are passed last
// first, as DISPPARAMS wants.
inline Outcome invokeId(IDispatch* object, DISPID id, WORD flags, const std::vector<VARIANT>& arguments,
                        const CallOptions& options = {}) {
  std::vector<VARIANT> reversed(arguments.rbegin(), arguments.rend());
  std::vector<DISPID> named = options.extraNamed;
  const bool put = flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF);
  if (put && options.namePutArgument) named.insert(named.begin(), DISPID_PROPERTYPUT);
  DISPPARAMS parameters{reversed.data(), named.data(), static_cast<UINT>(reversed.size()), static_cast<UINT>(named.size())};
  Outcome outcome;
  EXCEPINFO exception{};
  outcome.code = object->Invoke(id, options.interfaceId, LOCALE_USER_DEFAULT, flags, &parameters, outcome.result.put(),
                                &exception, &outcome.argumentError);
  const unique_bstr source(exception.bstrSource), description(exception.bstrDescription), help(exception.bstrHelpFile);
  outcome.exceptionCode = exception.scode;
  outcome.exceptionSource = viewOf(source.get());
  return outcome;
}

inline DISPID idOf(IDispatch* object, const wchar_t* name) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  DISPID id = DISPID_UNKNOWN;
  check(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
  return id;
}

inline Outcome invoke(IDispatch* object, const wchar_t* name, WORD flags, const std::vector<VARIANT>& arguments,
                      const CallOptions& options = {}) {
  return invokeId(object, idOf(object, name), flags, arguments, options);
}

inline void put(IDispatch* object, const wchar_t* name, const unique_variant& value, WORD flags = DISPATCH_PROPERTYPUT) {
  const Outcome outcome = invoke(object, name, flags, {*value.get()});
  if (FAILED(outcome.code)) throw Failure(outcome.code, std::wstring(L"put ") + name);
}

inline com_ptr<IDispatch> createFromProgId(const wchar_t* progId) {
  CLSID classId{};
  check(CLSIDFromProgID(progId, &classId));
  com_ptr<IDispatch> object;
  check(CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, object.put_void()));
  return object;
}

}  // namespace vbgreport::test
