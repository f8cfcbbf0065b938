#include "platform/win32/com/com_handles.h"

#include "platform/win32/com/automation_error.h"

namespace com {

ComApartment::ComApartment() {
  // S_FALSE (already initialised on this thread) still takes a reference to give back.
  const HRESULT result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  if (FAILED(result)) throw automationError(result);
  initialised_ = true;
}

}  // namespace com
