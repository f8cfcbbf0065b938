// Failed automation calls as runtime errors, numbered the way late-bound Basic reports them.
#pragma once

#include <windows.h>
// needs windows.h first
#include <oleauto.h>

#include "runtime/runtime_error.h"

namespace com {

// The runtime error a failing HRESULT stands for: the dispatch codes as their Basic numbers
// (438, 13, 6, 450, 449), a FACILITY_CONTROL code as the Basic number in its low 16 bits,
// anything else as the HRESULT itself with "Errore di automazione" and no source.
rt::RuntimeError automationError(HRESULT result);

// The runtime error a failed IDispatch::Invoke stands for. For DISP_E_EXCEPTION it is the
// component's own: `exception` is filled in first when the component deferred it.
rt::RuntimeError invocationError(HRESULT result, EXCEPINFO& exception);

}  // namespace com
