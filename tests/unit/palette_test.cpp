#include "app/palette.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <ostream>

namespace app {

void PrintTo(const Palette& p, std::ostream* os) {
  *os << std::hex << "{back " << p.windowBack << ", text " << p.windowText << ", face " << p.buttonFace
      << ", button text " << p.buttonText << ", disabled " << p.disabledText << ", edges " << p.edgeLight << " "
      << p.edgeHighlight << " " << p.edgeShadow << " " << p.edgeDarkShadow << ", focus " << p.focus << "}";
}

}  // namespace app

namespace {

using app::Colour;
using app::Palette;
using app::SystemColours;

// WCAG 2's relative luminance of a 0x00BBGGRR colour, and the contrast ratio of two colours.
double luminance(Colour colour) {
  const auto linear = [](Colour channel) {
    const double c = static_cast<double>(channel & 0xFF) / 255.0;
    return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * linear(colour) + 0.7152 * linear(colour >> 8) + 0.0722 * linear(colour >> 16);
}

double contrast(Colour a, Colour b) {
  const double lighter = std::max(luminance(a), luminance(b));
  const double darker = std::min(luminance(a), luminance(b));
  return (lighter + 0.05) / (darker + 0.05);
}

constexpr Colour kFormBack = 0x00DAD4CD;

// window, window text, button face, button text, grey text, 3-D light, highlight, shadow, dark shadow
constexpr SystemColours kWindows10Default{0xFFFFFF, 0x000000, 0xF0F0F0, 0x000000, 0x6D6D6D,
                                          0xE3E3E3, 0xFFFFFF, 0xA0A0A0, 0x696969};
constexpr SystemColours kHighContrastBlack{0x000000, 0xFFFFFF, 0x000000, 0xFFFFFF, 0x3FF23F,
                                           0xFFFFFF, 0xFFFFFF, 0x808080, 0x000000};
// A scheme of the user's own, every colour different, as WM_SYSCOLORCHANGE would bring it.
constexpr SystemColours kChangedScheme{0x101010, 0x00FFFF, 0x202020, 0xFFFF00, 0x00FF00,
                                       0x404040, 0x505050, 0x606060, 0x707070};

TEST(Palette, HighContrastTakesTheSchemeOtherwiseFixedColoursReadOnTheBackColour) {
  struct Case {
    const char* name;
    bool highContrast;
    SystemColours system;
    std::optional<Palette> scheme;  // with High Contrast on: the scheme's colours, each in its role
  };
  const Case cases[] = {
      {"default scheme", false, kWindows10Default, std::nullopt},
      {"High Contrast Black's colours with High Contrast off", false, kHighContrastBlack, std::nullopt},
      {"High Contrast Black", true, kHighContrastBlack,
       Palette{0x000000, 0xFFFFFF, 0x000000, 0xFFFFFF, 0x3FF23F, 0xFFFFFF, 0xFFFFFF, 0x808080, 0x000000, 0xFFFFFF}},
      {"High Contrast on, colours changed while open", true, kChangedScheme,
       Palette{0x101010, 0x00FFFF, 0x202020, 0xFFFF00, 0x00FF00, 0x404040, 0x505050, 0x606060, 0x707070, 0xFFFF00}},
  };
  const Palette fixed = app::choosePalette(false, kWindows10Default);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Palette palette = app::choosePalette(c.highContrast, c.system);
    if (c.scheme) {
      EXPECT_EQ(palette, *c.scheme);
      continue;
    }
    // The same fixed colours whatever the scheme says.
    EXPECT_EQ(palette, fixed);
    EXPECT_EQ(palette.windowBack, kFormBack);
    EXPECT_EQ(palette.buttonFace, kFormBack);
    for (const Colour text : {palette.windowText, palette.buttonText, palette.disabledText})
      EXPECT_GE(contrast(text, kFormBack), 4.5) << std::hex << text;
    for (const Colour line :
         {palette.edgeLight, palette.edgeHighlight, palette.edgeShadow, palette.edgeDarkShadow, palette.focus})
      EXPECT_GE(contrast(line, kFormBack), 3.0) << std::hex << line;
  }
}

}  // namespace
