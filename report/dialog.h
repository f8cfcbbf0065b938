// myVBGDialog.myCustomDialog: shows a report and answers with the button pressed.
#pragma once

#include <windows.h>
#include <objbase.h>

#include "classes.h"

namespace vbgreport {

HRESULT createDialog(REFIID interfaceId, void** object) noexcept;

// Whether `object` is a dialog object of this server (it tells its class through IPersist).
bool isOwnDialog(IUnknown* object) noexcept;

// The dialog's one member: ShowReport(Text, Caption) As Long.
inline constexpr wchar_t kShowReportMember[] = L"ShowReport";

}  // namespace vbgreport
