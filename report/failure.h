// The component's one error type, and the few ways it makes and reads strings and VARIANTs.
// Failures are thrown as Failure and turned back into an HRESULT at the COM edge. The owners
// themselves are the ones TEST.exe uses as well.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <exception>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "platform/win32/handles/handles.h"

namespace vbgreport {

using handles::com_ptr;
using handles::unique_bstr;
using handles::unique_hfile;
using handles::unique_hkey;
using handles::unique_screen_dc;
using handles::unique_variant;

// A failed Windows or COM call, carrying its code and what it means to the user. A rejection is
// a call refused for its own arguments: it goes back to the caller as the bare dispatch error,
// with `argument` the DISPPARAMS index of the argument at fault when there is one.
class Failure : public std::exception {
 public:
  explicit Failure(HRESULT code, std::wstring description = {}) : code_(code), description_(std::move(description)) {}

  static constexpr UINT kNoArgument = ~0u;

  static Failure rejection(HRESULT code, UINT argument = kNoArgument) {
    Failure failure(code);
    failure.rejection_ = true;
    failure.argument_ = argument;
    return failure;
  }

  HRESULT code() const noexcept { return code_; }
  const std::wstring& description() const noexcept { return description_; }
  bool isRejection() const noexcept { return rejection_; }
  UINT argument() const noexcept { return argument_; }
  const char* what() const noexcept override { return "VBGuardReport failure"; }

 private:
  HRESULT code_;
  std::wstring description_;
  bool rejection_ = false;
  UINT argument_ = kNoArgument;
};

// Runs `body` at the COM edge, where nothing may be thrown: its own HRESULT, a Failure's code,
// E_OUTOFMEMORY when memory ran out, E_UNEXPECTED for anything else.
template <class Body>
HRESULT hresultOf(Body&& body) noexcept {
  try {
    return body();
  } catch (const Failure& failure) {
    return failure.code();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

inline void check(HRESULT hr) {
  if (FAILED(hr)) throw Failure(hr);
}

inline void checkStatus(LSTATUS status) {
  if (status != ERROR_SUCCESS) throw Failure(HRESULT_FROM_WIN32(status));
}

// A BSTR holding `text`.
inline unique_bstr bstrOf(std::wstring_view text) {
  unique_bstr copy(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
  if (!copy) throw Failure(E_OUTOFMEMORY);
  return copy;
}

// The text of a BSTR; a null BSTR is the empty string.
inline std::wstring_view viewOf(BSTR text) noexcept { return {text ? text : L"", SysStringLen(text)}; }

// A deep copy of `source` that follows a by-reference value to what it refers to.
inline unique_variant copyOf(const VARIANT& source) {
  unique_variant copy;
  check(VariantCopyInd(copy.get(), const_cast<VARIANT*>(&source)));
  return copy;
}

inline unique_variant textVariant(std::wstring_view text) {
  unique_variant value;
  V_BSTR(value.get()) = bstrOf(text).release();
  V_VT(value.get()) = VT_BSTR;
  return value;
}

inline unique_variant longVariant(LONG number) noexcept {
  unique_variant value;
  V_I4(value.get()) = number;
  V_VT(value.get()) = VT_I4;
  return value;
}

}  // namespace vbgreport
