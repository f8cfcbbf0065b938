"""What the utility withstands: DLLs planted beside it, clicks and a logoff that arrive while a run
is in progress, a report of a value too long for any screen, and a screen too small for the form."""

import shutil
import time

import pytest

from winekit import builds
from winekit.registry import PERIZON, PRODUCTS, TESSARO, Value
from winekit.utility import CMD_ANNULLA, CMD_OK, DPI_FUNCTIONS
from winekit.wine import wine_version

NO_CONNECTION = "Non è stata rilevata nessuna connessione Internet"
FOLDER = r"C:\Program Files (x86)\QUADRELL\Tessaro"


@pytest.mark.parametrize("name", builds.PLANTED_DLLS)
def test_a_system_dll_beside_the_program_is_never_loaded(name, start_utility, build, network, registry, tmp_path):
    # TEST.exe run from a Downloads folder that also holds a DLL named as one of System32's, which
    # leaves a marker when loaded. Wine is told to prefer a DLL found beside the program, as
    # Windows does for one that is no KnownDLL. The utility loads wininet itself, and winhttp for
    # the user's proxy; uxtheme comes with the first window, urlmon with the HTTP request object;
    # nothing of the utility's may load version.
    if name == "version.dll" and wine_version() < (10, 0):
        # Wine 8's user32 loads version.dll from the program's folder by itself, in a bare window
        # program too, before any of the program's code runs: the marker would tell nothing about
        # TEST.exe. Wine 10's user32 no longer does. Both load imm32.dll that way, so it is never
        # planted.
        pytest.skip(f"Wine {'.'.join(map(str, wine_version()))}'s user32 itself loads version.dll "
                    "from the program's folder; Wine 10 is needed to show that TEST.exe does not")
    downloads = tmp_path / "Downloads"
    downloads.mkdir()
    shutil.copy(build.test_exe, downloads)
    shutil.copy(build.planted(name), downloads)
    stem = name.removesuffix(".dll")
    overrides = {"WINEDLLOVERRIDES": f"mscoree,mshtml=;{stem}=n,b"}
    if name == "wininet.dll":
        # Nothing answers: the run reaches both wininet probes, and the planted wininet would
        # answer them with a connection.
        utility = start_utility(executable=downloads / "TEST.exe", env=overrides)
        assert utility.click_ok()["message_box"], "the planted DLL's answer was taken for a connection"
        assert utility.message_box()["text"] == NO_CONNECTION
    else:
        network.serve_site("ok")
        registry.prepare({(TESSARO, 32): {"DisplayVersion": "2.1.0.22", TESSARO.installer_value: FOLDER},
                          (PERIZON, 32): {"DisplayVersion": "2.1.0", PERIZON.installer_value: "italiano"}},
                         ("Tessaro", "Perizon"))
        utility = start_utility(executable=downloads / "TEST.exe", env=overrides)
        assert utility.run_restore() == TESSARO.success_line + PERIZON.success_line
        assert registry.settings() == {TESSARO: {"InstallPath": Value("REG_SZ", FOLDER)},
                                       PERIZON: {"Lingua": Value("REG_SZ", "italiano")}}
    assert not (downloads / f"planted-{stem}-loaded").exists()


def test_clicks_dispatched_during_a_run_start_nothing(start_utility, network):
    # The no-connection message is a modal loop inside the run: clicks dispatched there must not
    # start a second run, and a close waits for the run to end.
    utility = start_utility()
    assert utility.click_ok()["message_box"]
    utility.notify_click(CMD_OK)
    utility.notify_click(CMD_ANNULLA)
    utility.close("wm_close")
    utility.notify_click(CMD_OK)  # dispatched after the close was asked for: still nothing

    boxes = [w for w in utility.windows() if w["class"] == "#32770"]
    assert [box["caption"] for box in boxes] == ["PatchQUADRELL-Windows10"]
    assert utility.running()
    utility.press(utility.message_box(), "OK")
    assert utility.wait_exit() == 0


def test_a_logoff_during_a_run_is_agreed_to_at_once(start_utility, registry, network, driver):
    # Windows asks every window at logoff and, once all have agreed, may end the process at any
    # moment. The window agrees while the page keeps the run waiting (the driver gives it five
    # seconds, as Windows does before it lists the programs that hold the session). The process is
    # then ended as Windows would, at some moment after that: here once the run has moved on from
    # the page to the connection test. Each setting is one value written in one call, so each
    # product holds the value it had or the restored one, whatever the moment.
    site = network.serve_site("ok", silent_for=8)
    had = {TESSARO: Value("REG_SZ", r"C:\Vecchia cartella"), PERIZON: Value("REG_SZ", "english")}
    registry.prepare({(TESSARO, 32): {"DisplayVersion": "2.1.0.22", TESSARO.installer_value: FOLDER},
                      (PERIZON, 32): {"DisplayVersion": "2.1.0", PERIZON.installer_value: "italiano"}},
                     ("Tessaro", "Perizon"),
                     {product: {product.settings_value: value.data} for product, value in had.items()})
    restored = {TESSARO: Value("REG_SZ", FOLDER), PERIZON: Value("REG_SZ", "italiano")}
    utility = start_utility()
    driver("click", hwnd=utility.hwnd, id=CMD_OK)  # posted: the run goes on while the test asks
    assert _within(20, lambda: site.requests), "the run never asked for the page"
    assert utility.query_end_session() is True
    assert utility.results() == "", "the answer waited for the run"
    assert _within(20, lambda: site.connections > 1), "the run never moved on from the page"
    utility.kill()
    left = registry.settings()
    for product in PRODUCTS:
        assert left[product] in ({product.settings_value: had[product]},
                                 {product.settings_value: restored[product]}), product


def _within(seconds, condition):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.2)
    return True


def test_the_report_of_a_very_long_value_fits_the_screen(start_utility, registry, connected, report_component,
                                                         driver):
    # A version of three parts, the last 40,000 digits long: the gate wants four, so the report
    # shows the failure with its locals, that value among them, and waits for the user.
    registry.prepare({(TESSARO, 32): {"DisplayVersion": "2.1." + "9" * 40_000}}, ("Tessaro",))
    utility = start_utility()
    assert utility.click_ok()["message_box"]

    dialog = next(w for w in utility.windows() if w["class"] == "#32770")
    assert dialog["owner"] == utility.hwnd
    left, top, right, bottom = dialog["window"]
    area_left, area_top, area_right, area_bottom = dialog["work_area"]
    assert area_left <= left and right <= area_right and area_top <= top and bottom <= area_bottom, dialog
    described = driver("describe", hwnd=dialog["hwnd"])
    origin_x, origin_y = described["client_origin"]
    buttons = [c for c in described["controls"] if c["class"] == "Button"]
    assert [b["text"].replace("&", "") for b in buttons] == ["Interrompi", "Riprova", "Ignora"]
    for button in buttons:  # a control's rectangle: left, top, width, height in its window's client area
        b_left, b_top = origin_x + button["rect"][0], origin_y + button["rect"][1]
        b_right, b_bottom = b_left + button["rect"][2], b_top + button["rect"][3]
        assert left <= b_left and b_right <= right and top <= b_top and b_bottom <= bottom, button



def _system_dpi(registry, wine, driver, dpi):
    _serve_dpi(registry, wine, driver, dpi)
    try:
        yield
    finally:
        _serve_dpi(registry, wine, driver, None)


def _serve_dpi(registry, wine, driver, dpi):
    """Has Wine serve `dpi` (None: its default, 96) to the programs started from now on, and
    returns once a program started then sees it on its monitor too; the case's TEST.exe ends.

    Wine 10 gives a LogPixels written while the server runs to new programs' system DPI only:
    their windows and monitors stay at 96 until the server restarts (Wine 8 gave it everywhere at
    once). So the server is restarted. Even then the monitors' DPI is the one from before for a
    while: Wine keeps it with the display devices in the registry, and the new server's desktop
    process writes it anew only once it has started. A TEST.exe that reads it first is laid out
    for the old DPI (under load, the 150 % case once got the 96 DPI client area, 812 x 126). So a
    program is asked until it sees the DPI both for the system and on the monitor."""
    wanted = dpi or 96
    seen = None
    for _ in range(3):
        registry.set_system_dpi(dpi)
        wine.start()
        # The desktop process starts with the first program; under emulation or load it takes
        # seconds, never this long.
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            seen = driver("dpi")
            if seen["system"] == wanted and seen["monitor"] == wanted:
                return
            time.sleep(0.5)
    pytest.fail(f"Wine does not serve {wanted} DPI: a program started after the server's restart sees "
                f"{seen['system']} for the system and {seen['monitor']} on the monitor")


@pytest.fixture
def dpi_150_percent(registry, wine, driver):
    yield from _system_dpi(registry, wine, driver, 144)


@pytest.fixture
def dpi_200_percent(registry, wine, driver):
    yield from _system_dpi(registry, wine, driver, 192)


def test_at_150_percent_the_form_is_laid_out_at_that_dpi_inside_the_frame_it_gets(start_utility, dpi_150_percent):
    # The window's outer size is worked out with the frame Windows draws for it (at the window's
    # DPI under per-monitor v2, at the system DPI otherwise): a frame worked out otherwise would
    # leave a client area larger or smaller than the form's 12,180 x 1,890 twips.
    assert start_utility().describe()["client"] == [1218, 189]


@pytest.mark.parametrize("dpi_functions", DPI_FUNCTIONS)
def test_at_200_percent_on_a_1280_pixel_screen_the_window_fits(start_utility, dpi_200_percent, dpi_functions):
    # At 200 % the form is 1,624 pixels wide: it is laid out as large as the work area allows.
    utility = start_utility(env=DPI_FUNCTIONS[dpi_functions])
    window = utility.describe()
    left, top, right, bottom = window["window"]
    area_left, area_top, area_right, area_bottom = next(
        w["work_area"] for w in utility.windows() if w["hwnd"] == window["hwnd"])
    assert area_left <= left and right <= area_right and area_top <= top and bottom <= area_bottom, window
    client_width, client_height = window["client"]
    assert client_width > 812 * 1.5  # larger than at 100 %, so still scaled for the screen
    for control in window["controls"]:  # left, top, width, height in the client area
        c_left, c_top, c_width, c_height = control["rect"]
        assert 0 <= c_left and c_left + c_width <= client_width and c_top + c_height <= client_height, control
