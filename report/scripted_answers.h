// ReportError's answers scripted through VBGUARD_REPORT_ANSWERS (test builds only): a
// comma-separated list, one entry for each report the process makes, in order. Past its end
// every answer is 0.
//
//   4              the number, as a VT_I4
//   text:&H4       that text, as a BSTR
//   hr:0x800A0000  ReportError fails with that HRESULT, returned as it is
//   self           an object whose default value (DISPID_VALUE) is the object itself
#pragma once

#include <optional>

#include "failure.h"

namespace vbgreport {

// What the next report answers, as ReportError returns it; nothing when no script is set.
// Throws the failure an "hr:" entry names.
std::optional<unique_variant> nextScriptedAnswer();

}  // namespace vbgreport
