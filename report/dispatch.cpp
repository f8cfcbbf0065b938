#include "dispatch.h"

#include <cwchar>
#include <new>
#include <string>

#include "arrays.h"

namespace vbgreport {

const char* callKindName(CallKind kind) noexcept {
  switch (kind) {
    case CallKind::Get: return "get";
    case CallKind::Put: return "put";
    case CallKind::PutRef: return "putref";
    case CallKind::Method: return "method";
  }
  return "method";
}

VARTYPE valueType(const VARIANT& value) noexcept { return V_VT(&referencedValue(value)) & ~VT_BYREF; }

HRESULT DispatchObject::QueryInterface(REFIID interfaceId, void** object) noexcept {
  if (!object) return E_POINTER;
  IUnknown* found = nullptr;
  if (interfaceId == IID_IUnknown || interfaceId == IID_IDispatch)
    found = static_cast<IDispatch*>(this);
  else
    found = otherInterface(interfaceId);
  *object = found;
  if (!found) return E_NOINTERFACE;
  found->AddRef();
  return S_OK;
}

ULONG DispatchObject::AddRef() noexcept { return ++references_; }

ULONG DispatchObject::Release() noexcept {
  const ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

// Without a type library there is no type information to give.
HRESULT DispatchObject::GetTypeInfoCount(UINT* count) noexcept {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT DispatchObject::GetTypeInfo(UINT, LCID, ITypeInfo** info) noexcept {
  if (!info) return E_POINTER;
  *info = nullptr;
  return DISP_E_BADINDEX;
}

HRESULT DispatchObject::GetIDsOfNames(REFIID interfaceId, LPOLESTR* names, UINT count, LCID, DISPID* ids) noexcept {
  if (interfaceId != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  if (!names || !ids) return E_POINTER;
  if (count == 0) return S_OK;
  // Members take no named arguments, so any parameter name is unknown.
  for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  HRESULT hr = count > 1 ? DISP_E_UNKNOWNNAME : S_OK;
  if (!names[0]) return DISP_E_UNKNOWNNAME;
  for (const Member& member : members_) {
    if (CompareStringOrdinal(names[0], -1, member.name, -1, TRUE) == CSTR_EQUAL) {
      ids[0] = member.id;
      return hr;
    }
  }
  return DISP_E_UNKNOWNNAME;
}

const Member* DispatchObject::findMember(DISPID id) const noexcept {
  for (const Member& member : members_)
    if (member.id == id) return &member;
  return nullptr;
}

HRESULT DispatchObject::classify(const Member& member, WORD flags, const DISPPARAMS& parameters,
                                 CallKind* kind) noexcept {
  const bool put = flags & DISPATCH_PROPERTYPUT;
  const bool putRef = flags & DISPATCH_PROPERTYPUTREF;
  // The kind is set even for a call refused below, so that the refusal can be told about.
  if (member.kind == MemberKind::Method) {
    *kind = put ? CallKind::Put : putRef ? CallKind::PutRef : CallKind::Method;
    if (!(flags & DISPATCH_METHOD) || put || putRef) return DISP_E_MEMBERNOTFOUND;
    if (parameters.cNamedArgs != 0) return DISP_E_NONAMEDARGS;
    if (parameters.cArgs != member.argumentCount) return DISP_E_BADPARAMCOUNT;
    return S_OK;
  }
  if (put || putRef) {
    *kind = putRef ? CallKind::PutRef : CallKind::Put;
    // An object property takes either flag; a value property only a put by value.
    if (!put && member.kind != MemberKind::ObjectProperty) return DISP_E_MEMBERNOTFOUND;
    if (parameters.cArgs != 1) return DISP_E_BADPARAMCOUNT;
    if (parameters.cNamedArgs != 1 || !parameters.rgdispidNamedArgs || parameters.rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
      return DISP_E_PARAMNOTFOUND;
    return S_OK;
  }
  *kind = (flags & DISPATCH_PROPERTYGET) ? CallKind::Get : CallKind::Method;
  if (*kind != CallKind::Get) return DISP_E_MEMBERNOTFOUND;
  if (parameters.cNamedArgs != 0) return DISP_E_NONAMEDARGS;
  if (parameters.cArgs != 0) return DISP_E_BADPARAMCOUNT;
  return S_OK;
}

namespace {

void describeException(EXCEPINFO* exception, const wchar_t* source, const Failure& failure) noexcept {
  *exception = EXCEPINFO{};
  exception->scode = failure.code();
  exception->bstrSource = SysAllocString(source);
  const std::wstring& description = failure.description();
  if (!description.empty()) {
    exception->bstrDescription = SysAllocStringLen(description.data(), static_cast<UINT>(description.size()));
  } else {
    wchar_t text[80];
    swprintf(text, 80, L"Errore 0x%08lX nel componente di segnalazione.", static_cast<unsigned long>(failure.code()));
    exception->bstrDescription = SysAllocString(text);
  }
}

}  // namespace

HRESULT DispatchObject::Invoke(DISPID id, REFIID interfaceId, LCID, WORD flags, DISPPARAMS* parameters,
                               VARIANT* result, EXCEPINFO* exception, UINT* argumentError) noexcept {
  if (interfaceId != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  DISPPARAMS none{};
  if (!parameters) parameters = &none;  // some callers pass nothing for a call without arguments
  if (parameters->cArgs && !parameters->rgvarg) return E_INVALIDARG;
  const Member* member = findMember(id);
  if (!member) return DISP_E_MEMBERNOTFOUND;

  // Every argument is looked at before anything reads it, the log included: a value whose label
  // lies about what is there is refused whole.
  HRESULT refusal = S_OK;
  UINT refused = 0;
  for (UINT position = 0; position < parameters->cArgs && SUCCEEDED(refusal); ++position) {
    refusal = checkValue(parameters->rgvarg[position]);
    refused = position;
  }

  CallKind kind = CallKind::Method;
  HRESULT hr = classify(*member, flags, *parameters, &kind);
  if (SUCCEEDED(hr) && FAILED(refusal)) {
    hr = refusal;
    if (argumentError) *argumentError = refused;
  }
  const Call call(*member, kind, *parameters, SUCCEEDED(refusal));
  unique_variant value;
  if (SUCCEEDED(hr)) {
    try {
      value = invokeMember(call);
    } catch (const Failure& failure) {
      hr = failure.code();
      if (failure.isRejection()) {
        if (argumentError && failure.argument() != Failure::kNoArgument) *argumentError = failure.argument();
      } else if (exception) {
        // Anything else went wrong inside the component: the caller learns what and where.
        describeException(exception, source_, failure);
        hr = DISP_E_EXCEPTION;
      }
    } catch (const std::bad_alloc&) {
      hr = E_OUTOFMEMORY;
    } catch (...) {
      hr = E_UNEXPECTED;
    }
  }
  const bool answers = SUCCEEDED(hr) && V_VT(value.get()) != VT_EMPTY;
  callFinished(call, answers ? value.get() : nullptr, hr);
  if (SUCCEEDED(hr) && result) *result = value.release();
  return hr;
}

}  // namespace vbgreport
