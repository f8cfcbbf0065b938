#include "platform/win32/system_colours.h"

#include <windows.h>

namespace win32 {

namespace {

bool highContrastOn() {
#ifdef PATCH_TEST_HOOKS
  // The test build can be told that High Contrast is on, which Wine never reports: a REG_DWORD
  // HighContrastOn of 1 under HKCU\Software\PatchQUADRELL-Test. Read on every call, so that a
  // test can turn it on while the window is open.
  DWORD forced = 0;
  DWORD size = sizeof forced;
  if (RegGetValueW(HKEY_CURRENT_USER, L"Software\\PatchQUADRELL-Test", L"HighContrastOn", RRF_RT_REG_DWORD, nullptr,
                   &forced, &size) == ERROR_SUCCESS &&
      forced == 1)
    return true;
#endif
  HIGHCONTRASTW state{};
  state.cbSize = sizeof state;
  return SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof state, &state, 0) &&
         (state.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

}  // namespace

app::Palette currentPalette() {
  const app::SystemColours system{
      .window = GetSysColor(COLOR_WINDOW),
      .windowText = GetSysColor(COLOR_WINDOWTEXT),
      .buttonFace = GetSysColor(COLOR_BTNFACE),
      .buttonText = GetSysColor(COLOR_BTNTEXT),
      .grayText = GetSysColor(COLOR_GRAYTEXT),
      .buttonLight = GetSysColor(COLOR_3DLIGHT),
      .buttonHighlight = GetSysColor(COLOR_BTNHIGHLIGHT),
      .buttonShadow = GetSysColor(COLOR_BTNSHADOW),
      .buttonDarkShadow = GetSysColor(COLOR_3DDKSHADOW),
  };
  return app::choosePalette(highContrastOn(), system);
}

}  // namespace win32
