// A COM object driven through IDispatch, the way a late-bound Basic caller drives it.
#pragma once

#include "platform/win32/handles/handles.h"
#include "runtime/automation.h"

namespace com {

class LateBoundObject final : public rt::AutomationObject {
 public:
  explicit LateBoundObject(handles::com_ptr<IDispatch> dispatch) : dispatch_(std::move(dispatch)) {}

  // Resolves `member` by name, then calls it: arguments last-first in DISPPARAMS, omitted ones
  // as DISP_E_PARAMNOTFOUND, by-reference ones through a VARIANT of ours that is freed after
  // the call, not read back; puts name their value DISPID_PROPERTYPUT.
  rt::Variant invoke(rt::TextView member, rt::CallKind kind, const std::vector<rt::Argument>& arguments) override;
  // The method's result converted by VariantChangeTypeEx, as toAutomationLong says.
  int32_t callForLong(rt::TextView method) override;

  // The interface itself, borrowed: valid while this object lives.
  IDispatch* dispatch() const { return dispatch_.get(); }

 private:
  DISPID memberId(rt::TextView member) const;
  // The call as invoke makes it; its result as the component returned it.
  handles::unique_variant invokeForVariant(rt::TextView member, rt::CallKind kind,
                                           const std::vector<rt::Argument>& arguments);

  handles::com_ptr<IDispatch> dispatch_;
};

// `dispatch` as an object reference for the portable code; Nothing when it is null.
rt::ObjectRef wrapDispatch(handles::com_ptr<IDispatch> dispatch);

// The IDispatch behind an object reference, borrowed (valid while `object` lives); null for
// Nothing. Raises 13 for an object that is not a COM object, which COM cannot be handed.
IDispatch* dispatchOf(const rt::ObjectRef& object);

// The same for a variant, which must hold an object reference (raises 424 otherwise).
IDispatch* dispatchOf(const rt::Variant& value);

}  // namespace com
