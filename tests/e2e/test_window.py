"""The window as the user meets it: what it shows, where, its colours, and what the keyboard and
closing do."""

import collections
import dataclasses
import struct
import subprocess
import time

import pytest

from winekit.registry import PERIZON, PRODUCTS, TESSARO
from winekit.utility import (APP_TITLE, CAPTION, CMD_ANNULLA, CMD_OK, DPI_FUNCTIONS, HEADING, LBL, RUN_TIMEOUT_MS,
                             TEXT1)

# Window and edit styles read back from the controls.
WS_TABSTOP, WS_THICKFRAME, WS_MINIMIZEBOX, WS_MAXIMIZEBOX = 0x00010000, 0x00040000, 0x00020000, 0x00010000
WS_CAPTION, WS_SYSMENU = 0x00C00000, 0x00080000
ES_MULTILINE, ES_READONLY = 0x0004, 0x0800
BS_TYPEMASK, BS_OWNERDRAW = 0x000F, 0x000B

TWIPS_PER_PIXEL = 15  # at 96 DPI

# id, class, left, top, width, height in twips
FORM = [
    (TEXT1, "Edit", 0, 0, 12135, 285),
    (LBL, "Edit", 0, 360, 12135, 1050),
    (CMD_OK, "Button", 9960, 1440, 1005, 375),
    (CMD_ANNULLA, "Button", 11160, 1440, 1005, 375),
]


def controls_by_id(window):
    return {control["id"]: control for control in window["controls"]}


def test_start_shows_the_heading_and_an_empty_results_box(start_utility, screenshot):
    utility = start_utility()
    window = utility.describe()
    controls = controls_by_id(window)

    assert window["caption"] == CAPTION
    assert sorted(controls) == [TEXT1, LBL, CMD_OK, CMD_ANNULLA]
    assert controls[TEXT1]["text"] == HEADING
    assert controls[LBL]["text"] == ""
    assert controls[CMD_OK]["text"] == "Ok"
    assert controls[CMD_ANNULLA]["text"] == "Chiudi"

    # The heading is editable and out of the tab order; the results box is read-only.
    assert not controls[TEXT1]["style"] & (ES_READONLY | ES_MULTILINE | WS_TABSTOP)
    assert controls[LBL]["style"] & ES_MULTILINE and controls[LBL]["style"] & ES_READONLY
    assert not controls[LBL]["style"] & WS_TABSTOP
    for button in (CMD_OK, CMD_ANNULLA):
        assert controls[button]["style"] & BS_TYPEMASK == BS_OWNERDRAW, button
        assert controls[button]["style"] & WS_TABSTOP, button

    # Fixed border, a close box, no minimise or maximise.
    assert window["style"] & WS_CAPTION == WS_CAPTION and window["style"] & WS_SYSMENU
    assert not window["style"] & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX)
    screenshot(utility)


# The test build can take away the DPI functions that Windows 10 1507 lacks (user32's
# per-window ones) or all of them (shcore's per-monitor one too): the layout stays the same.
@pytest.mark.parametrize("dpi_functions", ["all", "as_on_1507", "none"])
def test_layout_follows_the_form_in_twips_at_96_dpi(start_utility, dpi_functions):
    window = start_utility(env=DPI_FUNCTIONS[dpi_functions]).describe()
    controls = controls_by_id(window)

    mismatches = []
    for control_id, kind, *twips in FORM:
        expected = [value / TWIPS_PER_PIXEL for value in twips]
        found = controls[control_id]
        if found["class"] != kind or any(abs(f - e) > 1 for f, e in zip(found["rect"], expected)):
            mismatches.append(f"[{control_id}] {found['class']} {found['rect']}, expected {kind} {expected}")
    assert not mismatches

    assert window["client"] == [812, 126]
    left, top, right, bottom = window["window"]
    screen_width, screen_height = window["screen"]
    assert abs(left - (screen_width - (right - left)) / 2) <= 1
    assert abs(top - (screen_height - (bottom - top)) / 2) <= 1


def test_focus_starts_on_chiudi_and_tab_moves_only_between_the_buttons(start_utility):
    utility = start_utility()
    assert utility.focus() == CMD_ANNULLA
    seen = []
    for _ in range(4):
        utility.key("tab")
        seen.append(utility.focus())
    assert seen == [CMD_OK, CMD_ANNULLA, CMD_OK, CMD_ANNULLA]


@pytest.mark.parametrize("how", ["chiudi", "enter_at_start", "wm_close", "sc_close"])
def test_closing_ends_the_process_with_exit_code_0(start_utility, how):
    utility = start_utility()
    if how == "chiudi":
        utility.click_chiudi()
    elif how == "enter_at_start":
        utility.key("enter")  # "Chiudi" has the focus
    else:
        utility.close(how)
    assert utility.wait_exit() == 0


def test_enter_clicks_ok_once_tab_gave_it_the_focus(start_utility, network):
    # Nothing answers on the probe addresses: the run says so in a message box. Under Wine a
    # refused connection never completes the asynchronous page request, so the box comes once
    # the request's 40 seconds are over.
    utility = start_utility()
    utility.key("tab")
    utility.key("enter")
    box = utility.message_box(timeout_ms=RUN_TIMEOUT_MS)
    assert box["caption"] == APP_TITLE
    utility.press(box, "OK")
    assert utility.wait_exit() == 0


# Focus on Chiudi at start, or in the results box after a click into it: there, the multi-line
# edit control must not take Escape for closing its dialog, nor keep Tab to itself.
@pytest.mark.parametrize("focus_place", ["chiudi_at_start", "results_box"])
def test_escape_does_nothing(start_utility, focus_place):
    utility = start_utility()
    if focus_place == "results_box":
        assert utility.click_into(LBL) == LBL
    utility.key("escape")  # returns once the key has been handled
    assert utility.running()
    assert utility.focus() == (LBL if focus_place == "results_box" else CMD_ANNULLA)
    assert utility.results() == ""
    utility.key("tab")
    assert utility.focus() == (CMD_ANNULLA if focus_place == "results_box" else CMD_OK)


def test_text_typed_into_the_heading_changes_nothing_else(start_utility, registry, connected):
    utility = start_utility()
    answer = utility.type_into(TEXT1, "abc è")
    assert answer["id"] == TEXT1
    assert utility.heading() == HEADING + "abc è"
    assert utility.results() == ""
    assert utility.running()
    assert connected.requests == []
    assert registry.settings() == {product: None for product in PRODUCTS}


# System colour indices (GetSysColor) and Windows' High Contrast Black scheme, as RRGGBB.
COLOR_WINDOW, COLOR_WINDOWTEXT, COLOR_BTNFACE, COLOR_BTNSHADOW, COLOR_GRAYTEXT, COLOR_BTNTEXT = 5, 8, 15, 16, 17, 18
COLOR_BTNHIGHLIGHT, COLOR_3DDKSHADOW, COLOR_3DLIGHT = 20, 21, 22
HIGH_CONTRAST_BLACK = {COLOR_WINDOW: "000000", COLOR_WINDOWTEXT: "ffffff", COLOR_BTNFACE: "000000",
                       COLOR_BTNTEXT: "ffffff", COLOR_GRAYTEXT: "3ff23f", COLOR_3DLIGHT: "ffffff",
                       COLOR_BTNHIGHLIGHT: "ffffff", COLOR_BTNSHADOW: "808080", COLOR_3DDKSHADOW: "000000"}
SPI_SETHIGHCONTRAST = 0x0043
FORM_BACK = (205, 212, 218)
# How far inside each control its text is looked for: the results box's sunken edge and the
# buttons' edges and focus rectangle are no text.
TEXT_INSET = {TEXT1: 0, LBL: 2, CMD_OK: 5, CMD_ANNULLA: 5}


def rgb(hex_colour):
    return tuple(bytes.fromhex(hex_colour))


def luminance(colour):
    """WCAG 2's relative luminance of an (red, green, blue) colour."""
    def linear(channel):
        c = channel / 255
        return c / 12.92 if c <= 0.03928 else ((c + 0.055) / 1.055) ** 2.4
    red, green, blue = map(linear, colour)
    return 0.2126 * red + 0.7152 * green + 0.0722 * blue


def contrast(a, b):
    darker, lighter = sorted((luminance(a), luminance(b)))
    return (lighter + 0.05) / (darker + 0.05)


class Picture:
    """A screenshot's pixels as (red, green, blue), read with ImageMagick."""

    def __init__(self, path):
        self.width, self.height = struct.unpack(">II", path.read_bytes()[16:24])  # the PNG's header
        self._rgb = subprocess.run(["convert", str(path), "-depth", "8", "rgb:-"], stdin=subprocess.DEVNULL,
                                   capture_output=True, check=True, timeout=60).stdout

    def pixel(self, x, y):
        at = 3 * (y * self.width + x)
        return tuple(self._rgb[at:at + 3])

    def colours(self, rect, inset=0):
        """How often each colour occurs in a rectangle [left, top, width, height], less `inset`
        on every side."""
        left, top, width, height = rect
        return collections.Counter(self.pixel(x, y) for y in range(top + inset, top + height - inset)
                                   for x in range(left + inset, left + width - inset))


def text_and_background(picture, rect, inset):
    """A control's background, its commonest colour, and its text: the colour that stands out
    most from the background, whatever smoothing the font is drawn with."""
    counts = picture.colours(rect, inset)
    background = counts.most_common(1)[0][0]
    return max(counts, key=lambda colour: contrast(colour, background)), background


@dataclasses.dataclass
class SchemeCase:
    name: str
    high_contrast: bool  # turned on, once the window is open, through the test build's hook
    window_back: tuple   # the window's, the heading's and the results box's background
    button_face: tuple


SCHEME_CASES = [
    # High Contrast off: the form's own back colour, with dark text and edges that read on it.
    SchemeCase("high_contrast_off", False, FORM_BACK, FORM_BACK),
    # High Contrast turned on while the window is open: the scheme's own colours, at once.
    SchemeCase("high_contrast_turned_on", True, rgb(HIGH_CONTRAST_BLACK[COLOR_WINDOW]),
               rgb(HIGH_CONTRAST_BLACK[COLOR_BTNFACE])),
]


# High Contrast Black's white text, which the form used to put on its light grey-blue.
@pytest.mark.parametrize("case", SCHEME_CASES, ids=lambda case: case.name)
def test_text_reads_in_a_scheme_with_white_text(case, system_colours, test_hooks, start_utility, registry,
                                                 connected, screenshot):
    if case.high_contrast:
        test_hooks.need("HighContrastOn")
    system_colours(HIGH_CONTRAST_BLACK)
    registry.prepare({(TESSARO, 32): {"DisplayVersion": "2.1.0.23"}, (PERIZON, 32): {"DisplayVersion": "2.1.1"}})
    utility = start_utility()
    assert utility.run_restore() == TESSARO.not_needed_line + PERIZON.not_needed_line
    if case.high_contrast:
        test_hooks.set("HighContrastOn", 1)
        utility.setting_change(SPI_SETHIGHCONTRAST)

    rects = {control_id: control["rect"] for control_id, control in controls_by_id(utility.describe()).items()}
    left, top, _, height = rects[LBL]
    window_spot = (left + 10, top + height + 4)  # below the results box, left of the buttons

    def painted(picture):
        return (picture.pixel(*window_spot) == case.window_back
                and all(len(picture.colours(rects[c], inset)) > 1 for c, inset in TEXT_INSET.items()))

    # Wine shows what the window painted a moment later: pictures until it is all there.
    deadline = time.monotonic() + 20
    picture = Picture(screenshot(utility))
    while not painted(picture) and time.monotonic() < deadline:
        picture = Picture(screenshot(utility))

    assert picture.pixel(*window_spot) == case.window_back
    found = {c: text_and_background(picture, rects[c], inset) for c, inset in TEXT_INSET.items()}
    backgrounds = {c: background for c, (_, background) in found.items()}
    assert backgrounds == {TEXT1: case.window_back, LBL: case.window_back,
                           CMD_OK: case.button_face, CMD_ANNULLA: case.button_face}
    unreadable = {c: (text, background, round(contrast(text, background), 2))
                  for c, (text, background) in found.items() if contrast(text, background) < 4.5}
    assert not unreadable
