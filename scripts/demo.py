#!/usr/bin/env python3
"""The utility out of the box: a sample installation of Tessaro and Perizon in a throw-away Wine
prefix, the connectivity page served on loopback, the report component registered, TEST.exe
started. Run through scripts/run, which builds first and starts this in scripts/probe-network's
private network.

It runs the shipped build, the win32 preset's TEST.exe, under WoW64 where it can: where this
machine runs 32-bit programs (natively, or through qemu-user's emulator, which scripts/run has
registered, and then it says so) and the private network was made, which maps the program's real
probe host names to loopback. Otherwise it runs the win64 test build and says why.

With a display (DISPLAY set) you press Ok yourself and close the window when done. Without one
(or with --headless, or with a display reached over TCP, which the private network cannot
reach) the script presses Ok, prints the results box and the values written, and saves a
screenshot of the window to build/demo/screenshot.png.
"""

import argparse
import os
import pathlib
import shutil
import subprocess
import sys
import time

import sample
from sample import REPO_ROOT
from winekit import builds  # noqa: E402
from winekit.driver import Driver  # noqa: E402
from winekit.registry import Registry  # noqa: E402
from winekit.servers import ConnectivityPage  # noqa: E402
from winekit.utility import Utility  # noqa: E402
from winekit.wine import WineSession, Xvfb, windows_path  # noqa: E402

DEMO = REPO_ROOT / "build" / "demo"
DESKTOP = (900, 220)  # Wine's own desktop window, so that the screenshot has a caption bar


def say(text):
    print(text, flush=True)


def use_wine_desktop(wine, scratch):
    """Every program of the prefix runs in one Wine desktop window of DESKTOP's size."""
    width, height = DESKTOP
    reg = scratch / "desktop.reg"
    reg.write_text("Windows Registry Editor Version 5.00\r\n\r\n"
                   "[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]\r\n\"Desktop\"=\"Default\"\r\n\r\n"
                   "[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]\r\n"
                   f"\"Default\"=\"{width}x{height}\"\r\n", encoding="utf-16")
    wine.run(["regedit", "/S", windows_path(reg)])


def print_settings(registry):
    say("\nValues written under HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion:")
    for product, values in registry.settings().items():
        if not values:
            say(f"  {product.name}: (no settings key)")
            continue
        for name, value in values.items():
            say(f"  {product.name}\\{name} = {value.data!r} ({value.type})")


def programs_run(build):
    """What the demo runs of a build: TEST.exe with its probe addresses, and the report component.
    scripts/run builds these, and the test build's wine_driver.exe, and nothing else."""
    return [build.test_exe, build.probe_addresses, build.report_dll]


def chosen_build():
    """The shipped build where it can run here, else the win64 test build, saying why."""
    shipped = builds.build(REPO_ROOT, "win32")
    problem = builds.shipped_build_problem(REPO_ROOT)
    missing = [] if problem else shipped.missing(programs_run(shipped))
    if missing:
        problem = "it is not built: " + "; ".join(missing)
    problem = problem or shipped.unserved_probes()
    if not problem:
        return shipped
    say(f"The shipped win32 TEST.exe cannot run here ({problem}): running the win64 test build instead.")
    return builds.build(REPO_ROOT, "win64")


def reached_over_tcp(display):
    """True for a display such as "localhost:10.0" (an SSH-forwarded one), False for ":0"."""
    host = display.rsplit(":", 1)[0]
    return host not in ("", "unix") and not host.startswith("/")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--headless", action="store_true", help="press Ok without asking, even with a display")
    parser.add_argument("--seed", metavar="FILE.reg", type=pathlib.Path,
                        help="a registry file of your own to import instead of the sample installation")
    options = parser.parse_args()
    if options.seed and not options.seed.is_file():
        sys.exit(f"{options.seed} does not exist")
    headless = options.headless or not os.environ.get("DISPLAY")
    if (not headless and os.environ.get("PATCH_PROBE_NETWORK") == "private"
            and reached_over_tcp(os.environ["DISPLAY"])):
        say(f"DISPLAY={os.environ['DISPLAY']} is reached over TCP, and the private network the probes run "
            "in has no way out to it: running headless.")
        headless = True

    build = chosen_build()
    test_build = builds.build(REPO_ROOT, "win64")
    driver_exe = test_build.root / "bin" / "wine_driver.exe"
    missing = build.missing(programs_run(build)) + test_build.missing([driver_exe])
    if missing:
        sys.exit(f"missing: {'; '.join(missing)}. scripts/run builds them")
    say(f"TEST.exe: {build.test_exe.relative_to(REPO_ROOT)} "
        f"({'the shipped build' if build.name == 'win32' else 'the test build'}), "
        f"SHA-256 {builds.sha256(build.test_exe)}")
    emulated = builds.emulated(REPO_ROOT) if build.bits == 32 else None
    if emulated:
        say(f"It runs emulated: this machine's kernel runs no 32-bit programs, so Wine's 32-bit half runs "
            f"{emulated.removeprefix('emulated ')} (qemu-user).")

    prefix = DEMO / "wineprefix"
    scratch = DEMO / "scratch"
    shutil.rmtree(DEMO, ignore_errors=True)
    scratch.mkdir(parents=True)

    xvfb = Xvfb() if headless else None
    display = xvfb.display if xvfb else os.environ["DISPLAY"]
    wine = WineSession(REPO_ROOT, prefix, display)
    page = None
    try:
        say(f"Making a throw-away Wine prefix in {prefix.relative_to(REPO_ROOT)} ...")
        wine.start()
        wine.run([build.regsvr32, "/s", windows_path(build.report_dll)])
        registry = Registry(wine, scratch)
        if options.seed:
            registry.prepare()  # the products' keys start from nothing
            result = wine.run(["regedit", "/S", windows_path(options.seed)])
            if result.returncode != 0:
                sys.exit(f"regedit could not import {options.seed}: {result.output}")
            say(f"Registry seeded from {options.seed}.")
        else:
            sample.seed(registry)
            say(f"Sample installation: {sample.DESCRIPTION}.")
        site = build.probe("site")
        address, port = site.loopback()
        page = ConnectivityPage((address, port), "ok")
        say(f"Connectivity page {site.url}/controlloconnessione served on {address}:{port}")
        if headless:
            use_wine_desktop(wine, scratch)
            wine.stop_server()  # the desktop is chosen when the prefix's first window opens
            wine.start()

        driver = Driver(wine, driver_exe)
        # Without a display nobody could answer a report: the component answers "skip".
        utility = Utility(wine, driver, build.test_exe, scratch, answers=[5] * 20 if headless else None)
        if not headless:
            say("\nTEST.exe is running: press Ok, then Chiudi.")
            utility.wait_exit(timeout=24 * 3600)
            print_settings(registry)
            return 0

        say("Pressing Ok ...")
        results = utility.run_restore()
        say("\nResults box:")
        for line in results.split("\r\n"):
            if line:
                say("  " + line)
        time.sleep(0.5)  # let Wine paint the new lines before the picture
        shot = DEMO / "screenshot.png"
        width, height = DESKTOP
        subprocess.run(["import", "-display", display, "-window", "root", "-crop", f"{width}x{height}+0+0",
                        "+repage", str(shot)], check=True, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        say(f"\nScreenshot: {shot.relative_to(REPO_ROOT)}")
        reports = [call for call in utility.report_calls() if call["member"] == "ReportError"]
        if reports:
            say(f"{len(reports)} failure(s) went to the report component, answered with 5 (skip); "
                f"see {utility.report_log.relative_to(REPO_ROOT)}")
        utility.click_chiudi()
        utility.wait_exit()
        print_settings(registry)
        return 0
    finally:
        if page:
            page.stop()
        wine.stop_server()
        if xvfb:
            xvfb.stop()


if __name__ == "__main__":
    sys.exit(main())
