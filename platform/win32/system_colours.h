// The form's palette from the user's scheme as it is at the moment of asking: whether High
// Contrast is on, and the system colours.
#pragma once

#include "app/palette.h"

namespace win32 {

// Asked again each time the scheme may have changed: nothing is remembered.
app::Palette currentPalette();

}  // namespace win32
