// Which frame the window's outer size is worked out with, as user32 tells the window's DPI
// awareness. Wine 8 knows no per-monitor v2, so the awareness is faked here.
#include <gtest/gtest.h>

#include <string>

#include "platform/win32/dpi_functions.h"

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

}  // namespace
