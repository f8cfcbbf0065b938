#include "platform/win32/com/com_automation.h"

#include <string>

#include "platform/win32/com/floating_point_state.h"
#include "platform/win32/com/late_bound_object.h"
#include "platform/win32/handles/handles.h"
#include "runtime/runtime_error.h"

namespace com {

namespace {

bool isClassIdentifier(rt::TextView name) { return name.size() > 2 && name.front() == u'{' && name.back() == u'}'; }

}  // namespace

rt::ObjectRef ComAutomation::createObject(rt::TextView progId) {
  const std::wstring name(progId.begin(), progId.end());
  CLSID classId{};
  const HRESULT found =
      isClassIdentifier(progId) ? CLSIDFromString(name.c_str(), &classId) : CLSIDFromProgID(name.c_str(), &classId);
  if (FAILED(found)) rt::raise(rt::kCannotCreateObject);

  handles::com_ptr<IDispatch> object;
  const FloatingPointState floatingPoint;  // the component's DLL may be loaded now
  if (FAILED(CoCreateInstance(classId, nullptr, CLSCTX_SERVER, IID_IDispatch, object.put_void())) || !object)
    rt::raise(rt::kCannotCreateObject);
  return wrapDispatch(std::move(object));
}

}  // namespace com
