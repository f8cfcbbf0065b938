// The DPI functions newer than Windows 10 1507, as the DPI module finds them at run time, and the
// monitor and window functions that the window's placement calls. Apart from dpi.h so that a
// test can hand functions of its own: the frame's choice, and monitors of different scales,
// which Wine's one monitor cannot show.
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
  // user32 of every release.
  decltype(&MonitorFromPoint) monitorFromPoint = &MonitorFromPoint;
  decltype(&MonitorFromRect) monitorFromRect = &MonitorFromRect;
  decltype(&GetMonitorInfoW) getMonitorInfo = &GetMonitorInfoW;
  decltype(&SetWindowPos) setWindowPos = &SetWindowPos;
};

// The functions as this Windows has them, looked up once.
const DpiFunctions& dpiFunctions();

// The window rectangle that gives `client` as the client area of `window` at `dpi`, with the
// frame Windows draws for it: at `dpi` where Windows scales the frame with the window's DPI
// (per-monitor v2, 1703 and later), at the system DPI otherwise (per-monitor v1 on 1607, "true/pm"
// on 1507 and 1511).
void adjustWindowRectForDpi(const DpiFunctions& functions, HWND window, RECT& client, DWORD style, DWORD exStyle,
                            UINT dpi);

// The DPI of `window`, which lies on `monitor`: the window's own where user32 tells it (1607 and
// later), else the monitor's from shcore (1507, 1511), else the system DPI.
UINT dpiOnMonitor(const DpiFunctions& functions, HWND window, HMONITOR monitor);

}  // namespace win32
