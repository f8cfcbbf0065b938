// The two classes this server provides, as the utility finds them: by programmatic identifier.
#pragma once

#include <windows.h>
#include <objbase.h>

namespace vbgreport {

// {FB834E3C-6D32-4FFA-A4C1-1D5DCAB7872B}
inline constexpr CLSID kReportClassId = {
    0xfb834e3c, 0x6d32, 0x4ffa, {0xa4, 0xc1, 0x1d, 0x5d, 0xca, 0xb7, 0x87, 0x2b}};
// {F4DF700D-F00C-4F68-B353-D8E84E5E1B5C}
inline constexpr CLSID kDialogClassId = {
    0xf4df700d, 0xf00c, 0x4f68, {0xb3, 0x53, 0xd8, 0xe8, 0x4e, 0x5e, 0x1b, 0x5c}};

inline constexpr wchar_t kReportProgId[] = L"VBGuardReport.clsVBGuardReport";
inline constexpr wchar_t kDialogProgId[] = L"myVBGDialog.myCustomDialog";

}  // namespace vbgreport
