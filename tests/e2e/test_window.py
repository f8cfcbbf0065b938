"""The window as the user meets it: what it shows, where, and what the keyboard and closing do."""

import pytest

from winekit.registry import PRODUCTS
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
