#include "platform/win32/com/late_bound_object.h"

#include <string>

#include "platform/win32/com/automation_error.h"
#include "platform/win32/com/floating_point_state.h"
#include "platform/win32/com/variant_conversion.h"

namespace com {

namespace {

WORD invokeFlags(rt::CallKind kind) {
  switch (kind) {
    case rt::CallKind::Method: return DISPATCH_METHOD;
    // Late-bound Basic reads a property this way, and some components (Wine's WMI objects
    // among them) answer a property read only when both flags are set.
    case rt::CallKind::PropertyGet: return DISPATCH_PROPERTYGET | DISPATCH_METHOD;
    case rt::CallKind::PropertyPut: return DISPATCH_PROPERTYPUT;
    case rt::CallKind::PropertyPutRef: return DISPATCH_PROPERTYPUTREF;
  }
  return DISPATCH_METHOD;
}

bool isPut(rt::CallKind kind) { return kind == rt::CallKind::PropertyPut || kind == rt::CallKind::PropertyPutRef; }

handles::unique_variant omittedArgument() {
  handles::unique_variant out;
  out.get()->scode = DISP_E_PARAMNOTFOUND;
  out.get()->vt = VT_ERROR;
  return out;
}

}  // namespace

DISPID LateBoundObject::memberId(rt::TextView member) const {
  std::wstring name(member.begin(), member.end());
  LPOLESTR names[] = {name.data()};
  DISPID id = DISPID_UNKNOWN;
  const FloatingPointState floatingPoint;
  const HRESULT result = dispatch_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(result)) throw automationError(result);
  return id;
}

rt::Variant LateBoundObject::invoke(rt::TextView member, rt::CallKind kind, const std::vector<rt::Argument>& arguments) {
  return fromComVariant(*invokeForVariant(member, kind, arguments).get());
}

int32_t LateBoundObject::callForLong(rt::TextView method) {
  return toAutomationLong(*invokeForVariant(method, rt::CallKind::Method, {}).get());
}

handles::unique_variant LateBoundObject::invokeForVariant(rt::TextView member, rt::CallKind kind,
                                                          const std::vector<rt::Argument>& arguments) {
  const DISPID id = memberId(member);

  // Both vectors keep their size for the whole call: the by-reference slots point into the
  // second one. Whatever the callee leaves in those slots is only freed, never read back: the
  // report hand-off relies on nothing coming back through them, and a component may leave
  // values there that the utility has no way to hold.
  const size_t count = arguments.size();
  std::vector<handles::unique_variant> passed(count);
  std::vector<handles::unique_variant> referenced(count);
  for (size_t i = 0; i < count; ++i) {
    const rt::Argument& argument = arguments[i];
    handles::unique_variant& slot = passed[count - 1 - i];
    if (argument.isOmitted()) {
      slot = omittedArgument();
    } else if (argument.isByRef()) {
      referenced[i] = toComVariant(argument.value());
      slot.get()->pvarVal = referenced[i].get();
      slot.get()->vt = VT_BYREF | VT_VARIANT;
    } else {
      slot = toComVariant(argument.value());
    }
  }

  DISPID putId = DISPID_PROPERTYPUT;
  DISPPARAMS parameters{handles::unique_variant::as_array(passed.data()), nullptr, static_cast<UINT>(count), 0};
  if (isPut(kind)) {
    parameters.rgdispidNamedArgs = &putId;
    parameters.cNamedArgs = 1;
  }

  handles::unique_variant result;
  handles::unique_excepinfo exception;
  UINT badArgument = 0;
  const FloatingPointState floatingPoint;
  const HRESULT status = dispatch_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, invokeFlags(kind), &parameters,
                                           isPut(kind) ? nullptr : result.put(), exception.put(), &badArgument);
  if (FAILED(status)) throw invocationError(status, *exception.get());
  return result;
}

rt::ObjectRef wrapDispatch(handles::com_ptr<IDispatch> dispatch) {
  if (!dispatch) return nullptr;
  return std::make_shared<LateBoundObject>(std::move(dispatch));
}

IDispatch* dispatchOf(const rt::ObjectRef& object) {
  if (!object) return nullptr;
  auto* dispatchObject = dynamic_cast<const LateBoundObject*>(object.get());
  if (!dispatchObject) rt::raise(rt::kTypeMismatch);
  return dispatchObject->dispatch();
}

IDispatch* dispatchOf(const rt::Variant& value) {
  if (value.kind() != rt::Kind::Object) rt::raise(rt::kObjectRequired);
  return dispatchOf(value.asObject());
}

}  // namespace com
