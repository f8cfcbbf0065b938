// IDispatch over a fixed table of members, for the component's two classes. Names resolve
// case-insensitively as in the automation languages; arguments are checked here once, so each
// class only sees calls of the right kind and count, with values it can read safely. No
// exception leaves a COM method.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <span>

#include "failure.h"
#include "server.h"

namespace vbgreport {

enum class CallKind { Get, Put, PutRef, Method };

const char* callKindName(CallKind kind) noexcept;

enum class MemberKind {
  Method,
  Property,        // a value, read and put by value
  ObjectProperty,  // an object, put by value or by reference (Set in the automation languages)
};

struct Member {
  const wchar_t* name;
  DISPID id;
  MemberKind kind;
  UINT argumentCount = 0;  // of a method; a property takes none to read and one to write
};

// One call as received. Arguments are numbered in the order the caller wrote them; DISPPARAMS
// holds them last first.
class Call {
 public:
  Call(const Member& member, CallKind kind, const DISPPARAMS& parameters, bool argumentsReadable) noexcept
      : member_(member), kind_(kind), parameters_(parameters), argumentsReadable_(argumentsReadable) {}

  const Member& member() const noexcept { return member_; }
  CallKind kind() const noexcept { return kind_; }
  // False when an argument failed checkValue: then nothing may look at the arguments.
  bool argumentsReadable() const noexcept { return argumentsReadable_; }
  UINT argumentCount() const noexcept { return parameters_.cArgs; }
  const VARIANT& argument(UINT index) const noexcept { return parameters_.rgvarg[positionOf(index)]; }
  // Where the argument sits in DISPPARAMS, as DISP_E_TYPEMISMATCH reports it.
  UINT positionOf(UINT index) const noexcept { return parameters_.cArgs - 1 - index; }
  [[noreturn]] void rejectArgument(UINT index) const { throw Failure::rejection(DISP_E_TYPEMISMATCH, positionOf(index)); }

 private:
  const Member& member_;
  CallKind kind_;
  const DISPPARAMS& parameters_;
  bool argumentsReadable_;
};

// The type of a value once a by-reference variant is followed (VT_BYREF dropped).
VARTYPE valueType(const VARIANT& value) noexcept;

class DispatchObject : public IDispatch {
 public:
  DispatchObject(const DispatchObject&) = delete;
  DispatchObject& operator=(const DispatchObject&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID interfaceId, void** object) noexcept override;
  ULONG STDMETHODCALLTYPE AddRef() noexcept override;
  ULONG STDMETHODCALLTYPE Release() noexcept override;

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) noexcept override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) noexcept override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID interfaceId, LPOLESTR* names, UINT count, LCID locale,
                                          DISPID* ids) noexcept override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID interfaceId, LCID locale, WORD flags, DISPPARAMS* parameters,
                                   VARIANT* result, EXCEPINFO* exception, UINT* argumentError) noexcept override;

 protected:
  DispatchObject(std::span<const Member> members, const wchar_t* source) noexcept
      : members_(members), source_(source) {}
  virtual ~DispatchObject() = default;

  // Carries out a checked call; throws Failure.
  virtual unique_variant invokeMember(const Call& call) = 0;
  // Told about every call to a known member, with its outcome; must not throw.
  virtual void callFinished(const Call& /*call*/, const VARIANT* /*result*/, HRESULT /*outcome*/) noexcept {}
  // Interfaces besides IUnknown and IDispatch, already cast; null when not supported.
  virtual IUnknown* otherInterface(REFIID /*interfaceId*/) noexcept { return nullptr; }

 private:
  const Member* findMember(DISPID id) const noexcept;
  static HRESULT classify(const Member& member, WORD flags, const DISPPARAMS& parameters, CallKind* kind) noexcept;

  std::atomic<ULONG> references_{1};
  std::span<const Member> members_;
  const wchar_t* source_;
  ServerReference server_;
};

// Creates an object of class T and hands out the interface asked for.
template <class T>
HRESULT createObject(REFIID interfaceId, void** object) noexcept {
  if (!object) return E_POINTER;
  *object = nullptr;
  return hresultOf([&] {
    T* created = new T();
    const HRESULT hr = created->QueryInterface(interfaceId, object);
    created->Release();
    return hr;
  });
}

}  // namespace vbgreport
