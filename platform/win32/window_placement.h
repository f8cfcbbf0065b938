// Where the form goes on the screen and the DPI its twips are laid out at: centred on the primary
// monitor and inside its work area, at the DPI the window has there, scaled down as a whole
// where the form would not fit that work area.
#pragma once

#include <windows.h>

#include "platform/win32/dpi_functions.h"

namespace win32 {

// What the window's size is worked out from: the client area in twips and the window's styles.
struct FormOutline {
  int clientWidth;
  int clientHeight;
  DWORD style;
  DWORD exStyle;
};

// Moves the hidden `window` onto the primary monitor, then sizes and centres it there for the DPI
// it has on that monitor. Gives the DPI to lay the form out at, once, after the move.
UINT placeOnPrimaryMonitor(const DpiFunctions& functions, HWND window, const FormOutline& form) noexcept;

// The window has moved to a monitor of `dpi` (WM_DPICHANGED): it goes where Windows suggests, at
// the size for `dpi` that fits that monitor's work area. Gives the DPI to lay the form out at.
UINT placeAtNewDpi(const DpiFunctions& functions, HWND window, const FormOutline& form, UINT dpi,
                   const RECT& suggested) noexcept;

}  // namespace win32
