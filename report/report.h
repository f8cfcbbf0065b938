// VBGuardReport.clsVBGuardReport: collects what the utility knows about a failure and asks the
// user, through its custom dialog, what to do with it.
#pragma once

#include <windows.h>
#include <objbase.h>

namespace vbgreport {

HRESULT createReport(REFIID interfaceId, void** object) noexcept;

}  // namespace vbgreport
