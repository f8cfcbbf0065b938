// The DPI functions newer than Windows 10 1507, as the DPI module finds them at run time. Apart
// from dpi.h so that a test can hand the frame's choice functions of its own.
#pragma once

#include <windows.h>
// Only for the declarations, from which the pointer types below are taken: nothing is imported.
#include <shellscalingapi.h>

#include "platform/win32/handles/handles.h"

namespace win32 {

struct DpiFunctions {
  // user32, Windows 10 1607 and later.
  decltype(&GetDpiForWindow) getDpiForWindow = nullptr;
  decltype(&AdjustWindowRectExForDpi) adjustWindowRectExForDpi = nullptr;
  decltype(&SystemParametersInfoForDpi) systemParametersInfoForDpi = nullptr;
  decltype(&GetWindowDpiAwarenessContext) getWindowDpiAwarenessContext = nullptr;
  decltype(&AreDpiAwarenessContextsEqual) areDpiAwarenessContextsEqual = nullptr;
  // shcore, Windows 8.1 and later.
  decltype(&GetDpiForMonitor) getDpiForMonitor = nullptr;
  handles::unique_hmodule shcore;
};

// adjustWindowRectForDpi (dpi.h) with the functions given.
void adjustWindowRectForDpi(const DpiFunctions& functions, HWND window, RECT& client, DWORD style, DWORD exStyle,
                            UINT dpi);

}  // namespace win32
