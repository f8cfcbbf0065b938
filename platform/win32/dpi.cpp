#include "platform/win32/dpi.h"

#include "platform/win32/dpi_functions.h"
#include "platform/win32/system_library.h"

#ifdef PATCH_TEST_HOOKS
#include <cwchar>
#endif

namespace win32 {

namespace {

// How much of the newer API the test build pretends is missing: "1507" takes away user32's
// per-window functions, as on Windows 10 1507; "screen" takes away shcore's as well.
enum class Fallback { None, Release1507, Screen };

Fallback forcedFallback() {
#ifdef PATCH_TEST_HOOKS
  wchar_t value[16] = {};
  if (GetEnvironmentVariableW(L"PATCH_DPI_FALLBACK", value, 16) > 0) {
    if (std::wcscmp(value, L"1507") == 0) return Fallback::Release1507;
    if (std::wcscmp(value, L"screen") == 0) return Fallback::Screen;
  }
#endif
  return Fallback::None;
}

DpiFunctions lookUp() {
  DpiFunctions functions;
  const Fallback fallback = forcedFallback();
  if (fallback == Fallback::None) {
    // user32 is among the program's imports, so it is already loaded.
    const HMODULE user32 = GetModuleHandleW(L"user32.dll");
    functions.getDpiForWindow = procedure<decltype(functions.getDpiForWindow)>(user32, "GetDpiForWindow");
    functions.adjustWindowRectExForDpi =
        procedure<decltype(functions.adjustWindowRectExForDpi)>(user32, "AdjustWindowRectExForDpi");
    functions.systemParametersInfoForDpi =
        procedure<decltype(functions.systemParametersInfoForDpi)>(user32, "SystemParametersInfoForDpi");
    functions.getWindowDpiAwarenessContext =
        procedure<decltype(functions.getWindowDpiAwarenessContext)>(user32, "GetWindowDpiAwarenessContext");
    functions.areDpiAwarenessContextsEqual =
        procedure<decltype(functions.areDpiAwarenessContextsEqual)>(user32, "AreDpiAwarenessContextsEqual");
  }
  // The monitor's DPI is needed only where the window's cannot be asked for.
  if (!functions.getDpiForWindow && fallback != Fallback::Screen) {
    functions.shcore = loadSystemLibrary(L"shcore.dll");
    functions.getDpiForMonitor =
        procedure<decltype(functions.getDpiForMonitor)>(functions.shcore.get(), "GetDpiForMonitor");
  }
  return functions;
}

// The DPI of the screen as a whole, which is the system DPI.
UINT screenDpi() {
  const handles::unique_screen_dc screen(GetDC(nullptr));
  const int dpi = screen ? GetDeviceCaps(screen.get(), LOGPIXELSX) : 0;
  return dpi > 0 ? static_cast<UINT>(dpi) : USER_DEFAULT_SCREEN_DPI;
}

}  // namespace

const DpiFunctions& dpiFunctions() {
  static const DpiFunctions functions = lookUp();
  return functions;
}

UINT dpiOnMonitor(const DpiFunctions& functions, HWND window, HMONITOR monitor) {
  if (functions.getDpiForWindow) {
    if (const UINT dpi = functions.getDpiForWindow(window)) return dpi;
  }
  if (functions.getDpiForMonitor && monitor) {
    UINT x = 0;
    UINT y = 0;
    if (SUCCEEDED(functions.getDpiForMonitor(monitor, MDT_EFFECTIVE_DPI, &x, &y)) && x > 0) return x;
  }
  return screenDpi();
}

void adjustWindowRectForDpi(const DpiFunctions& functions, HWND window, RECT& client, DWORD style, DWORD exStyle,
                            UINT dpi) {
  // Windows scales a window's frame with its DPI only when the window runs per-monitor v2, which
  // 1703 brought. A per-monitor v1 window (1607 reads the manifest's second choice) and one made
  // per-monitor aware by "true/pm" (1507, 1511) have their frame drawn at the system DPI,
  // whatever the monitor's: AdjustWindowRectEx gives that one.
  const bool frameAtWindowDpi =
      functions.adjustWindowRectExForDpi && functions.getWindowDpiAwarenessContext &&
      functions.areDpiAwarenessContextsEqual &&
      functions.areDpiAwarenessContextsEqual(functions.getWindowDpiAwarenessContext(window),
                                             DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
  if (frameAtWindowDpi && functions.adjustWindowRectExForDpi(&client, style, FALSE, exStyle, dpi)) return;
  AdjustWindowRectEx(&client, style, FALSE, exStyle);
}

bool nonClientMetricsForDpi(NONCLIENTMETRICSW& metrics, UINT dpi) {
  metrics = NONCLIENTMETRICSW{};
  metrics.cbSize = sizeof metrics;
  const DpiFunctions& functions = dpiFunctions();
  if (functions.systemParametersInfoForDpi &&
      functions.systemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi))
    return true;
  if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) return false;
  // The system's metrics are at the system DPI: the message font is scaled to the window's.
  const UINT systemDpi = screenDpi();
  if (dpi != systemDpi)
    metrics.lfMessageFont.lfHeight =
        MulDiv(metrics.lfMessageFont.lfHeight, static_cast<int>(dpi), static_cast<int>(systemDpi));
  return true;
}

}  // namespace win32
