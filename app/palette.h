// The colours Form1 paints in. With High Contrast off the form keeps its own light grey-blue
// back colour, and its text, button edges and focus rectangle are fixed dark colours that read
// on it whatever the user's scheme says (a scheme with white text would otherwise put white on
// light grey-blue). With High Contrast on, the user's scheme is taken as it is.
#pragma once

#include <cstdint>

namespace app {

// A colour the way Windows hands it over: 0x00BBGGRR.
using Colour = uint32_t;

// The user's system colours that the form can take.
struct SystemColours {
  Colour window;            // COLOR_WINDOW
  Colour windowText;        // COLOR_WINDOWTEXT
  Colour buttonFace;        // COLOR_BTNFACE
  Colour buttonText;        // COLOR_BTNTEXT
  Colour grayText;          // COLOR_GRAYTEXT
  Colour buttonLight;       // COLOR_3DLIGHT
  Colour buttonHighlight;   // COLOR_BTNHIGHLIGHT
  Colour buttonShadow;      // COLOR_BTNSHADOW
  Colour buttonDarkShadow;  // COLOR_3DDKSHADOW
};

struct Palette {
  Colour windowBack;  // the window, the heading and the results box
  Colour windowText;  // the heading's and the results box's text
  Colour buttonFace;
  Colour buttonText;
  Colour disabledText;  // a disabled button's caption
  // A button's two-line edge, in the roles DrawEdge gives its colours: raised, the outer line
  // is `edgeLight` at the top and left and `edgeDarkShadow` at the bottom and right, the inner
  // one `edgeHighlight` and `edgeShadow`; pressed, the outer line is `edgeShadow` and
  // `edgeHighlight`, the inner one `edgeDarkShadow` and `edgeLight`.
  Colour edgeLight;
  Colour edgeHighlight;
  Colour edgeShadow;
  Colour edgeDarkShadow;
  Colour focus;  // the dots of the focus rectangle on the focused button

  bool operator==(const Palette&) const = default;
};

// The form's palette: its own fixed colours, or with High Contrast on the user's system colours.
Palette choosePalette(bool highContrast, const SystemColours& system);

}  // namespace app
