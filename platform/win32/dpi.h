// The window's DPI and the metrics that depend on it, on every Windows 10 release. The
// per-window DPI functions of user32 arrived with 1607 and are looked up at run time; on 1507
// (per-monitor aware through the manifest's "true/pm") the DPI is the monitor's, from shcore,
// and the frame and the message font are the system's.
#pragma once

#include <windows.h>

namespace win32 {

// The DPI the window is laid out at.
UINT dpiForWindow(HWND window);

// The window rectangle that gives `client` as the client area of `window` at `dpi`, with the
// frame Windows draws for it: at `dpi` where Windows scales the frame with the window's DPI
// (per-monitor v2, 1703 and later), at the system DPI otherwise (per-monitor v1 on 1607, "true/pm"
// on 1507 and 1511).
void adjustWindowRectForDpi(HWND window, RECT& client, DWORD style, DWORD exStyle, UINT dpi);

// The non-client metrics (the message font among them) at `dpi`; false when there are none.
bool nonClientMetricsForDpi(NONCLIENTMETRICSW& metrics, UINT dpi);

}  // namespace win32
