// The call log: one JSON line per call received by a report object, appended and written
// through at once so a test reads it while the caller still runs.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

#include "dispatch.h"

namespace vbgreport {

// {"vt": "VT_I4", "value": 5}, with "text" for dates, "bounds" for arrays and "allocated": false
// for an array never allocated.
void appendJsonValue(std::string& out, const VARIANT& value);

// Appends the line for `call` to the log file, when one is named; never throws.
void logCall(long instance, const Call& call, const VARIANT* result, HRESULT outcome) noexcept;

}  // namespace vbgreport
