// An in-process IDispatch that records what each call put in DISPPARAMS and answers through
// functions the test gives it, plus a readable rendering of VARIANTs to compare against.
#pragma once

#include <windows.h>
// needs windows.h first
#include <oleauto.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "platform/win32/handles/handles.h"

namespace fakes {

std::string render(const VARIANT& value);

inline std::string narrow(const wchar_t* text, size_t length) {
  std::string out;
  for (size_t i = 0; i < length; ++i) {
    const wchar_t c = text[i];
    if (c == 0)
      out += "\\0";
    else if (c < 0x80)
      out += static_cast<char>(c);
    else
      out += "\\u" + std::to_string(static_cast<unsigned>(c));
  }
  return out;
}

class FakeDispatch final : public IDispatch {
 public:
  struct Call {
    std::string member;
    WORD flags = 0;
    std::vector<std::string> arguments;  // as DISPPARAMS holds them: the last argument first
    std::vector<DISPID> namedArguments;
    bool resultRequested = false;
  };
  // Answers one call: may set *result, change by-reference arguments, fill *exception.
  using Answer = std::function<HRESULT(DISPPARAMS& parameters, VARIANT* result, EXCEPINFO* exception)>;

  // The test holds the first reference; the object never deletes itself, so a surplus Release
  // shows as a count below 1 instead of a crash.
  explicit FakeDispatch(std::string name = "fake", bool answersDispatch = true)
      : name_(std::move(name)), answersDispatch_(answersDispatch) {}

  // A member the object answers to; DISPIDs are given in order from 1.
  void define(const std::wstring& member, Answer answer = {}) { members_.push_back({member, std::move(answer)}); }
  // The default value (DISPID_VALUE), read by no name.
  void defineDefault(Answer answer) { defaultValue_ = {L"(default)", std::move(answer)}; }

  const std::string& name() const { return name_; }
  LONG references() const { return references_; }
  std::vector<Call> calls;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (iid == IID_IUnknown || (answersDispatch_ && iid == IID_IDispatch)) {
      *object = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
  ULONG STDMETHODCALLTYPE Release() override { return InterlockedDecrement(&references_); }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    *info = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (count != 1) return E_INVALIDARG;
    for (size_t i = 0; i < members_.size(); ++i) {
      if (members_[i].name == names[0]) {
        ids[0] = static_cast<DISPID>(i + 1);
        return S_OK;
      }
    }
    ids[0] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* parameters, VARIANT* result,
                                   EXCEPINFO* exception, UINT*) override {
    if (id == DISPID_VALUE && !defaultValue_.answer) return DISP_E_MEMBERNOTFOUND;
    if (id != DISPID_VALUE && (id < 1 || static_cast<size_t>(id) > members_.size())) return DISP_E_MEMBERNOTFOUND;
    const Member& member = id == DISPID_VALUE ? defaultValue_ : members_[id - 1];
    Call call{narrow(member.name.c_str(), member.name.size()), flags, {}, {}, result != nullptr};
    for (UINT i = 0; i < parameters->cArgs; ++i) call.arguments.push_back(render(parameters->rgvarg[i]));
    call.namedArguments.assign(parameters->rgdispidNamedArgs, parameters->rgdispidNamedArgs + parameters->cNamedArgs);
    calls.push_back(call);
    return member.answer ? member.answer(*parameters, result, exception) : S_OK;
  }

 private:
  struct Member {
    std::wstring name;
    Answer answer;
  };
  std::string name_;
  bool answersDispatch_;
  LONG references_ = 1;
  std::vector<Member> members_;
  Member defaultValue_;
};

inline std::string typeName(VARTYPE type) {
  switch (type) {
    case VT_EMPTY: return "EMPTY";
    case VT_NULL: return "NULL";
    case VT_I2: return "I2";
    case VT_I4: return "I4";
    case VT_R8: return "R8";
    case VT_DATE: return "DATE";
    case VT_BSTR: return "BSTR";
    case VT_DISPATCH: return "DISPATCH";
    case VT_ERROR: return "ERROR";
    case VT_BOOL: return "BOOL";
    case VT_VARIANT: return "VARIANT";
    case VT_UNKNOWN: return "UNKNOWN";
    default: return "VT" + std::to_string(type);
  }
}

// "I4 5", "BSTR \"a\\0b\"", "ERROR 80020004", "BYREF I4 5", "DISPATCH fake", "DISPATCH null",
// "ARRAY VARIANT[0..1] {I4 1, BSTR \"a\"}", "ARRAY BSTR (null)".
inline std::string render(const VARIANT& value) {
  char number[64];
  if (value.vt == (VT_BYREF | VT_VARIANT)) return "BYREF " + render(*value.pvarVal);
  if (value.vt & VT_ARRAY) {
    const VARTYPE elementType = value.vt & VT_TYPEMASK;
    std::string out = "ARRAY " + typeName(elementType);
    if (!value.parray) return out + " (null)";
    if (SafeArrayGetDim(value.parray) != 1) return out + " (dimensions)";
    LONG lower = 0, upper = 0;
    SafeArrayGetLBound(value.parray, 1, &lower);
    SafeArrayGetUBound(value.parray, 1, &upper);
    out += "[" + std::to_string(lower) + ".." + std::to_string(upper) + "] {";
    for (LONG i = lower; i <= upper; ++i) {
      handles::unique_variant element;
      if (elementType == VT_VARIANT) {
        SafeArrayGetElement(value.parray, &i, element.get());
      } else {
        SafeArrayGetElement(value.parray, &i, &element.get()->llVal);
        element.get()->vt = elementType;
      }
      out += (i > lower ? ", " : "") + render(*element.get());
    }
    return out + "}";
  }
  switch (value.vt) {
    case VT_EMPTY:
    case VT_NULL: return typeName(value.vt);
    case VT_I2: return "I2 " + std::to_string(value.iVal);
    case VT_I4: return "I4 " + std::to_string(value.lVal);
    case VT_R8:
    case VT_DATE:
      std::snprintf(number, sizeof number, " %.17g", value.vt == VT_R8 ? value.dblVal : value.date);
      return typeName(value.vt) + number;
    case VT_BOOL: return "BOOL " + std::to_string(value.boolVal);
    case VT_ERROR:
      std::snprintf(number, sizeof number, "ERROR %08lX", static_cast<unsigned long>(value.scode));
      return number;
    case VT_BSTR: return "BSTR \"" + narrow(value.bstrVal, SysStringLen(value.bstrVal)) + "\"";
    case VT_DISPATCH:
    case VT_UNKNOWN: {
      if (!value.punkVal) return typeName(value.vt) + " null";
      auto* fake = dynamic_cast<FakeDispatch*>(static_cast<IDispatch*>(value.pdispVal));
      return typeName(value.vt) + " " + (fake ? fake->name() : "?");
    }
    default: return typeName(value.vt);
  }
}

}  // namespace fakes
