#include "app/palette.h"

namespace app {

namespace {

constexpr Colour kBackColour = 0x00DAD4CD;    // red 205, green 212, blue 218
constexpr Colour kBlack = 0x00000000;         // 14:1 on the back colour
constexpr Colour kDisabledGrey = 0x00505050;  // 5.4:1, still text that reads
constexpr Colour kEdgeGrey = 0x00707070;      // 3.3:1, the least a button's outline needs
constexpr Colour kEdgeDarkGrey = 0x00404040;  // 6.9:1, the side the button's shadow falls on

}  // namespace

Palette choosePalette(bool highContrast, const SystemColours& system) {
  if (highContrast) {
    // Text on its own background only, as the scheme pairs them: window text on the window,
    // button text on the button face.
    return Palette{
        .windowBack = system.window,
        .windowText = system.windowText,
        .buttonFace = system.buttonFace,
        .buttonText = system.buttonText,
        .disabledText = system.grayText,
        .edgeLight = system.buttonLight,
        .edgeHighlight = system.buttonHighlight,
        .edgeShadow = system.buttonShadow,
        .edgeDarkShadow = system.buttonDarkShadow,
        .focus = system.buttonText,
    };
  }
  // A light top-left edge would not stand out from the light back colour, so every line of
  // the edge is a grey dark enough to; the darker one marks the side away from the light,
  // bottom-right when raised and top-left when pressed.
  return Palette{
      .windowBack = kBackColour,
      .windowText = kBlack,
      .buttonFace = kBackColour,
      .buttonText = kBlack,
      .disabledText = kDisabledGrey,
      .edgeLight = kEdgeGrey,
      .edgeHighlight = kEdgeGrey,
      .edgeShadow = kEdgeGrey,
      .edgeDarkShadow = kEdgeDarkGrey,
      .focus = kBlack,
  };
}

}  // namespace app
