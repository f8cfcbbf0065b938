#include "platform/win32/window_placement.h"

#include <algorithm>

namespace win32 {

namespace {

int pixels(int twips, UINT dpi) { return MulDiv(twips, static_cast<int>(dpi), 1440); }

// A monitor's rectangle and its work area (the monitor less the taskbar), in screen coordinates;
// the primary screen's where Windows tells neither.
struct MonitorArea {
  RECT whole;
  RECT work;
};

MonitorArea areaOf(const DpiFunctions& functions, HMONITOR monitor) {
  MONITORINFO info{};
  info.cbSize = sizeof info;
  if (monitor && functions.getMonitorInfo(monitor, &info)) return {info.rcMonitor, info.rcWork};
  const RECT screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  return {screen, screen};
}

// The DPI the form is laid out at: the window's own, unless the form would then be larger than
// the work area (200 % on a 1366 x 768 screen, say). Then the largest that fits, so that the
// caption and both buttons stay on the screen; never less than 100 %, where the form is as
// designed.
UINT layoutDpiThatFits(const DpiFunctions& functions, HWND window, const FormOutline& form, UINT dpi,
                       const RECT& workArea) {
  RECT frame{0, 0, 0, 0};
  adjustWindowRectForDpi(functions, window, frame, form.style, form.exStyle, dpi);
  const auto fitting = [](LONG room, int twips) {
    return room > 0 ? static_cast<UINT>(static_cast<long long>(room) * 1440 / twips) : 0u;
  };
  const UINT widest = fitting((workArea.right - workArea.left) - (frame.right - frame.left), form.clientWidth);
  const UINT tallest = fitting((workArea.bottom - workArea.top) - (frame.bottom - frame.top), form.clientHeight);
  const UINT fits = std::min({dpi, widest, tallest});
  return std::max(fits, std::min(dpi, static_cast<UINT>(USER_DEFAULT_SCREEN_DPI)));
}

// The window's size for the form laid out at `layoutDpi`, with the frame of `dpi`.
SIZE windowSize(const DpiFunctions& functions, HWND window, const FormOutline& form, UINT dpi, UINT layoutDpi) {
  RECT frame{0, 0, pixels(form.clientWidth, layoutDpi), pixels(form.clientHeight, layoutDpi)};
  adjustWindowRectForDpi(functions, window, frame, form.style, form.exStyle, dpi);
  return SIZE{frame.right - frame.left, frame.bottom - frame.top};
}

// `start` moved, if need be, so that `length` from it lies between `low` and `high`; when it is
// longer, it starts at `low`.
int keptWithin(int start, int length, LONG low, LONG high) {
  return std::max(static_cast<int>(low), std::min(start, static_cast<int>(high) - length));
}

}  // namespace

UINT placeOnPrimaryMonitor(const DpiFunctions& functions, HWND window, const FormOutline& form) noexcept {
  const HMONITOR monitor = functions.monitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
  const MonitorArea area = areaOf(functions, monitor);
  // Onto that monitor first. CreateWindowEx may have put the window on another one: the monitor
  // the utility was started from (a position in STARTUPINFO, a shortcut on a second screen), of
  // another scale. A per-monitor aware window has the DPI of the monitor it lies on, so it is
  // asked for its DPI only once it lies on this one.
  functions.setWindowPos(window, nullptr, area.work.left, area.work.top, area.work.right - area.work.left,
                         area.work.bottom - area.work.top, SWP_NOZORDER | SWP_NOACTIVATE);
  const UINT dpi = dpiOnMonitor(functions, window, monitor);
  const UINT layoutDpi = layoutDpiThatFits(functions, window, form, dpi, area.work);
  const SIZE size = windowSize(functions, window, form, dpi, layoutDpi);
  // Centred on the monitor, then moved into its work area if the taskbar would cover a part.
  const int left = keptWithin((area.whole.left + area.whole.right - size.cx) / 2, size.cx, area.work.left,
                              area.work.right);
  const int top = keptWithin((area.whole.top + area.whole.bottom - size.cy) / 2, size.cy, area.work.top,
                             area.work.bottom);
  functions.setWindowPos(window, nullptr, left, top, size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
  return layoutDpi;
}

UINT placeAtNewDpi(const DpiFunctions& functions, HWND window, const FormOutline& form, UINT dpi,
                   const RECT& suggested) noexcept {
  const RECT workArea = areaOf(functions, functions.monitorFromRect(&suggested, MONITOR_DEFAULTTONEAREST)).work;
  const UINT layoutDpi = layoutDpiThatFits(functions, window, form, dpi, workArea);
  const SIZE size = windowSize(functions, window, form, dpi, layoutDpi);
  functions.setWindowPos(window, nullptr, suggested.left, suggested.top, size.cx, size.cy,
                         SWP_NOZORDER | SWP_NOACTIVATE);
  return layoutDpi;
}

}  // namespace win32
