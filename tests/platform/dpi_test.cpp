// Which frame the window's outer size is worked out with, as user32 tells the window's DPI
// awareness, and where the form goes and at which DPI it is laid out, among monitors of different
// scales. Wine 8 knows no per-monitor v2 and has one monitor, so both are faked here, and so is
// the window that is placed among those monitors.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/win32/dpi_functions.h"
#include "platform/win32/window_placement.h"

namespace {

DPI_AWARENESS_CONTEXT answeredAwareness = nullptr;
int framesAtWindowDpi = 0;

DPI_AWARENESS_CONTEXT WINAPI windowAwareness(HWND) { return answeredAwareness; }
BOOL WINAPI sameAwareness(DPI_AWARENESS_CONTEXT a, DPI_AWARENESS_CONTEXT b) { return a == b; }
BOOL WINAPI frameAtDpi(LPRECT rect, DWORD, BOOL, DWORD, UINT dpi) {
  ++framesAtWindowDpi;
  rect->right += static_cast<LONG>(dpi);  // a frame no real call gives
  return TRUE;
}

TEST(WindowFrame, IsWorkedOutAtTheWindowsDpiOnlyWherePerMonitorV2ScalesIt) {
  struct Case {
    const char* release;
    DPI_AWARENESS_CONTEXT awareness;  // what the window runs as
    bool perWindowFunctions;          // user32 has them (1607 and later)
    bool atWindowDpi;
  };
  const Case cases[] = {
      {"1703 and later", DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2, true, true},
      {"1607: per-monitor v1", DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE, true, false},
      {"system aware", DPI_AWARENESS_CONTEXT_SYSTEM_AWARE, true, false},
      {"1507 and 1511", nullptr, false, false},
  };
  constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
  RECT system{0, 0, 812, 126};
  ASSERT_TRUE(AdjustWindowRectEx(&system, kStyle, FALSE, 0));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.release);
    win32::DpiFunctions functions;
    if (c.perWindowFunctions) {
      functions.adjustWindowRectExForDpi = &frameAtDpi;
      functions.getWindowDpiAwarenessContext = &windowAwareness;
      functions.areDpiAwarenessContextsEqual = &sameAwareness;
    }
    answeredAwareness = c.awareness;
    framesAtWindowDpi = 0;
    RECT frame{0, 0, 812, 126};
    win32::adjustWindowRectForDpi(functions, nullptr, frame, kStyle, 0, 144);
    EXPECT_EQ(framesAtWindowDpi, c.atWindowDpi ? 1 : 0);
    if (!c.atWindowDpi) {
      EXPECT_TRUE(EqualRect(&frame, &system)) << "the system's frame, as AdjustWindowRectEx gives it";
    }
  }
}

// Monitors as Windows describes them, the primary first (its top left is the screen's origin).
struct Monitor {
  RECT whole;
  RECT work;
  UINT dpi;
};
std::vector<Monitor> monitors;

HMONITOR handleOf(size_t index) { return reinterpret_cast<HMONITOR>(static_cast<std::uintptr_t>(index + 1)); }
const Monitor* monitorOf(HMONITOR handle) {
  const size_t index = static_cast<size_t>(reinterpret_cast<std::uintptr_t>(handle)) - 1;
  return index < monitors.size() ? &monitors[index] : nullptr;
}

// The monitor with the largest part of `area`, as MonitorFromRect chooses; the primary if none.
HMONITOR mostOf(const RECT& area) {
  size_t best = 0;
  long long bestArea = 0;
  for (size_t i = 0; i < monitors.size(); ++i) {
    RECT common;
    if (!IntersectRect(&common, &area, &monitors[i].whole)) continue;
    const long long size = static_cast<long long>(common.right - common.left) * (common.bottom - common.top);
    if (size > bestArea) {
      best = i;
      bestArea = size;
    }
  }
  return handleOf(best);
}

HMONITOR WINAPI monitorFromPoint(POINT point, DWORD) { return mostOf(RECT{point.x, point.y, point.x + 1, point.y + 1}); }
HMONITOR WINAPI monitorFromRect(LPCRECT area, DWORD) { return mostOf(*area); }
BOOL WINAPI monitorInfo(HMONITOR handle, LPMONITORINFO info) {
  const Monitor* monitor = monitorOf(handle);
  if (!monitor) return FALSE;
  info->rcMonitor = monitor->whole;
  info->rcWork = monitor->work;
  info->dwFlags = monitor == &monitors.front() ? MONITORINFOF_PRIMARY : 0;
  return TRUE;
}
HRESULT WINAPI monitorDpi(HMONITOR handle, MONITOR_DPI_TYPE, UINT* x, UINT* y) {
  const Monitor* monitor = monitorOf(handle);
  if (!monitor) return E_INVALIDARG;
  *x = *y = monitor->dpi;
  return S_OK;
}
// The window, where it was last put.
RECT windowArea{};
BOOL WINAPI moveWindow(HWND, HWND, int left, int top, int width, int height, UINT) {
  windowArea = RECT{left, top, left + width, top + height};
  return TRUE;
}
// A per-monitor aware window has the DPI of the monitor that holds the largest part of it.
UINT WINAPI windowDpi(HWND) { return monitorOf(mostOf(windowArea))->dpi; }

TEST(FormPlacement, IsCentredOnThePrimaryMonitorAndLaidOutAtTheDpiItHasThere) {
  enum class Lookup { PerWindow, MonitorOnly, Neither };
  struct Case {
    const char* situation;
    std::vector<Monitor> monitors;
    POINT createdAt;  // where CreateWindowEx put the window: STARTUPINFO's position, say
    Lookup lookup;
    UINT layoutDpi;
  };
  constexpr UINT kSystemDpi = 0;
  constexpr UINT kAsLargeAsFits = 1;  // less than the primary's, more than 100 %
  const Monitor primary100{{0, 0, 1920, 1080}, {0, 0, 1920, 1040}, 96};
  const Monitor right150{{1920, 0, 3840, 1080}, {1920, 0, 3840, 1040}, 144};
  const Monitor primary150{{0, 0, 2560, 1440}, {0, 0, 2560, 1400}, 144};
  const Monitor left100{{-1920, 0, 0, 1080}, {-1920, 0, 0, 1040}, 96};
  const Monitor small200{{0, 0, 1024, 768}, {0, 0, 1024, 728}, 192};
  const Case cases[] = {
      {"1607 and later, started on a 150 % monitor beside a 100 % primary", {primary100, right150}, {2000, 100},
       Lookup::PerWindow, 96},
      {"1607 and later, started on a 100 % monitor beside a 150 % primary", {primary150, left100}, {-1800, 100},
       Lookup::PerWindow, 144},
      {"1507 and 1511, started on a 150 % monitor: the primary's DPI from shcore", {primary100, right150},
       {2000, 100}, Lookup::MonitorOnly, 96},
      {"neither function: the system DPI", {primary150, left100}, {-1800, 100}, Lookup::Neither, kSystemDpi},
      {"200 % on a 1024 x 768 primary, started on a 150 % monitor", {small200, right150}, {2000, 100},
       Lookup::PerWindow, kAsLargeAsFits},
  };
  constexpr win32::FormOutline kForm{12180, 1890, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, 0};
  const handles::unique_screen_dc screen(GetDC(nullptr));
  const UINT systemDpi = static_cast<UINT>(GetDeviceCaps(screen.get(), LOGPIXELSX));
  RECT frame{0, 0, 0, 0};  // the system's, as no per-monitor v2 window here has another
  ASSERT_TRUE(AdjustWindowRectEx(&frame, kForm.style, FALSE, kForm.exStyle));
  const HWND window = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x1234));

  for (const Case& c : cases) {
    SCOPED_TRACE(c.situation);
    monitors = c.monitors;
    win32::DpiFunctions functions;
    functions.monitorFromPoint = &monitorFromPoint;
    functions.monitorFromRect = &monitorFromRect;
    functions.getMonitorInfo = &monitorInfo;
    functions.setWindowPos = &moveWindow;
    if (c.lookup == Lookup::PerWindow) functions.getDpiForWindow = &windowDpi;
    if (c.lookup != Lookup::Neither) functions.getDpiForMonitor = &monitorDpi;
    windowArea = RECT{c.createdAt.x, c.createdAt.y, c.createdAt.x + 640, c.createdAt.y + 480};

    const UINT layoutDpi = win32::placeOnPrimaryMonitor(functions, window, kForm);
    if (c.layoutDpi == kAsLargeAsFits) {
      EXPECT_LT(layoutDpi, monitors.front().dpi);
      EXPECT_GT(layoutDpi, 96u);
    } else {
      EXPECT_EQ(layoutDpi, c.layoutDpi == kSystemDpi ? systemDpi : c.layoutDpi);
    }
    const RECT placed = windowArea;
    EXPECT_EQ((placed.right - placed.left) - (frame.right - frame.left),
              MulDiv(kForm.clientWidth, static_cast<int>(layoutDpi), 1440));
    EXPECT_EQ((placed.bottom - placed.top) - (frame.bottom - frame.top),
              MulDiv(kForm.clientHeight, static_cast<int>(layoutDpi), 1440));
    const RECT& work = monitors.front().work;
    EXPECT_TRUE(placed.left >= work.left && placed.right <= work.right && placed.top >= work.top &&
                placed.bottom <= work.bottom)
        << placed.left << "," << placed.top << " " << placed.right << "," << placed.bottom;
    const RECT& whole = monitors.front().whole;
    EXPECT_LE(std::abs((placed.left + placed.right) - (whole.left + whole.right)), 1);
    EXPECT_LE(std::abs((placed.top + placed.bottom) - (whole.top + whole.bottom)), 1);
  }
}

}  // namespace
