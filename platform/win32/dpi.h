// The window's DPI and the metrics that depend on it, on every Windows 10 release. The
// per-window DPI functions of user32 arrived with 1607 and are looked up at run time; on 1507
// (per-monitor aware through the manifest's "true/pm") the DPI is the monitor's, from shcore,
// and the frame and the message font are the system's.
#pragma once

#include <windows.h>

namespace win32 {

// The non-client metrics (the message font among them) at `dpi`; false when there are none.
bool nonClientMetricsForDpi(NONCLIENTMETRICSW& metrics, UINT dpi);

}  // namespace win32
