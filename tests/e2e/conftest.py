"""Fixtures of the end-to-end tests: TEST.exe under Wine, on a private X display.

Run from the repository root, after `cmake --preset win64 && cmake --build --preset win64 -j2`:

    /usr/bin/python3 -m pytest tests/e2e

E2E_BUILD_DIR   the win64 build to test (default: build/win64)
E2E_DISPLAY     an X display to use instead of starting Xvfb
E2E_PREFIX      the Wine prefix (default: build/e2e-prefix; made on first use, kept between runs)
E2E_WINEDEBUG   WINEDEBUG for every Wine program (default: -all)

Screenshots go to build/e2e-artifacts/.
"""

import os
import pathlib
import re
import sys

import pytest

REPO_ROOT = pathlib.Path(__file__).resolve().parents[2]
# The Wine tooling the tests share with the scripts: the winekit package under tools/.
sys.path.insert(0, str(REPO_ROOT / "tools"))

from winekit.driver import Driver  # noqa: E402
from winekit.registry import Registry  # noqa: E402
from winekit.servers import ConnectivityPage, Listener, probe_addresses  # noqa: E402
from winekit.utility import Utility  # noqa: E402
from winekit.wine import WineSession, Xvfb, prefix_lock, windows_path  # noqa: E402

BUILD_HINT = "build it with: cmake --preset win64 && cmake --build --preset win64 -j2"


@pytest.fixture(scope="session")
def build_dir():
    build = pathlib.Path(os.environ.get("E2E_BUILD_DIR", REPO_ROOT / "build" / "win64"))
    for program in ("bin/TEST.exe", "bin/wine_driver.exe"):
        if not (build / program).is_file():
            pytest.fail(f"{build / program} is missing; {BUILD_HINT}", pytrace=False)
    return build


@pytest.fixture(scope="session")
def display():
    given = os.environ.get("E2E_DISPLAY")
    if given:
        yield given
        return
    server = Xvfb()
    try:
        yield server.display
    finally:
        server.stop()


@pytest.fixture(scope="session")
def wine(display, build_dir):
    prefix = pathlib.Path(os.environ.get("E2E_PREFIX", REPO_ROOT / "build" / "e2e-prefix"))
    # The session owns the prefix and the probe addresses: cases that need the addresses
    # closed rely on no other run opening them.
    with prefix_lock(prefix).held(), probe_addresses.held():
        session = WineSession(REPO_ROOT, prefix, display)
        session.start()
        # The DPI a case sets is put back when it ends; a session that was killed meanwhile
        # must not leave it to the next one.
        session.run(["reg", "delete", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/f"])
        try:
            yield session
        finally:
            session.stop_server()


@pytest.fixture(scope="session")
def driver(wine, build_dir):
    return Driver(wine, build_dir / "bin" / "wine_driver.exe")


@pytest.fixture(scope="session")
def report_component(wine, build_dir):
    """The error-report component, registered for the machine (Wine ignores per-user classes).
    Only the cases that provoke a report need it."""
    dll = build_dir / "report" / "VBGuardReport.dll"
    if not dll.is_file():
        pytest.fail(f"{dll} is missing; {BUILD_HINT}", pytrace=False)
    result = wine.run(["regsvr32", "/s", windows_path(dll)])
    if result.returncode != 0:
        pytest.fail(f"regsvr32 could not register {dll}: exit {result.returncode} {result.output}",
                    pytrace=False)
    return dll


@pytest.fixture
def registry(wine, tmp_path):
    return Registry(wine, tmp_path)


class Network:
    """What answers on the two probe addresses during one case; nothing until started."""

    def __init__(self):
        self.site = None
        self.search = None

    def serve_site(self, body="ok", status=200, **options):
        self.site = ConnectivityPage(body, status, **options)
        return self.site

    def serve_search(self):
        self.search = Listener()
        return self.search

    def stop(self):
        for server in (self.site, self.search):
            if server:
                server.stop()


@pytest.fixture
def network():
    probes = Network()
    try:
        yield probes
    finally:
        probes.stop()


@pytest.fixture
def connected(network):
    """The connectivity page says "ok"."""
    return network.serve_site("ok")


@pytest.fixture
def artifacts():
    folder = REPO_ROOT / "build" / "e2e-artifacts"
    folder.mkdir(parents=True, exist_ok=True)
    return folder


@pytest.fixture
def start_utility(wine, driver, build_dir, registry, tmp_path):
    """Starts TEST.exe (once per call); whatever is still running at the end of the case is killed.

    answers     the report component's scripted answers, in order (0 once they are used up);
                None shows the component's dialog
    executable  another copy of TEST.exe to start
    env         more environment variables for it
    """
    started = []

    def start(answers=None, executable=None, env=None):
        if not registry.prepared:
            registry.prepare()
        workdir = tmp_path / f"run{len(started)}"
        workdir.mkdir()
        utility = Utility(wine, driver, executable or build_dir / "bin" / "TEST.exe", workdir, answers, env)
        started.append(utility)
        return utility

    yield start
    for utility in started:
        utility.kill()


@pytest.fixture
def screenshot(artifacts, request):
    """Saves a PNG of the utility's window under build/e2e-artifacts, named after the case."""
    def take(utility, suffix=""):
        name = re.sub(r"[^A-Za-z0-9_.-]+", "_", request.node.name) + suffix + ".png"
        utility.screenshot(artifacts / name)
        return artifacts / name
    return take
