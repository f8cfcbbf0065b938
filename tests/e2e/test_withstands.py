"""What the utility withstands: a DLL planted beside it, and clicks that arrive while a run is in
progress."""

import shutil

from winekit.utility import CMD_ANNULLA, CMD_OK

NO_CONNECTION = "Non è stata rilevata nessuna connessione Internet"


def test_a_wininet_dll_beside_the_program_is_never_loaded(start_utility, build_dir, network, tmp_path):
    # TEST.exe run from a Downloads folder that also holds a wininet.dll. The planted DLL answers
    # every connection test with success and leaves a marker when loaded; Wine is told to prefer
    # a DLL found beside the program, as Windows does for a DLL that is not always System32's.
    downloads = tmp_path / "Downloads"
    downloads.mkdir()
    shutil.copy(build_dir / "bin" / "TEST.exe", downloads)
    shutil.copy(build_dir / "planted" / "wininet.dll", downloads)
    utility = start_utility(executable=downloads / "TEST.exe",
                            env={"WINEDLLOVERRIDES": "mscoree,mshtml=;wininet=n,b"})

    click = utility.click_ok()  # nothing answers: the run reaches both wininet probes
    assert click["message_box"], "the planted DLL's answer was taken for a connection"
    assert utility.message_box()["text"] == NO_CONNECTION
    assert not (downloads / "planted-wininet-loaded").exists()


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
