"""Fixtures of the end-to-end tests: TEST.exe under Wine, on a private X display.

Every case runs twice, on each build (winekit.builds), with the ids win32 and win64:

  win32  the shipped TEST.exe, the win32 preset's, checked to be the one the release package
         holds (build/release/, kept by scripts/check-release), with the 32-bit report
         component and planted DLLs of the win32-test preset. Its probes go to the real host
         names, so its cases run only in the private network of scripts/probe-network, and only
         where the machine runs 32-bit programs: natively, or through qemu-user's i386 emulator,
         which the session registers for as long as it runs where the kernel runs none and
         nobody else has (scripts/with-i386). Elsewhere they skip, saying which is missing, or
         fail where E2E_REQUIRE_SHIPPED is set, as scripts/test sets it.
  win64  the test build, which also reads the test hooks (the cases that need one run on it
         only).

Run from the repository root, after scripts/test has built and packaged (or the win64, win32
and win32-test presets are built and scripts/check-release has run):

    scripts/probe-network /usr/bin/python3 -m pytest tests/e2e

E2E_BUILDS      the builds to run the cases on (default: "win32 win64")
E2E_REQUIRE_SHIPPED  when set, the shipped build's cases fail rather than skip where it cannot run
E2E_DISPLAY     an X display to use instead of starting Xvfb
E2E_PREFIX      the Wine prefix (default: build/e2e-prefix; made on first use, kept between runs)
E2E_WINEDEBUG   WINEDEBUG for every Wine program (default: -all)

Screenshots go to build/e2e-artifacts/.
"""

import contextlib
import os
import pathlib
import re
import sys

import pytest

REPO_ROOT = pathlib.Path(__file__).resolve().parents[2]
# The Wine tooling the tests share with the scripts: the winekit package under tools/.
sys.path.insert(0, str(REPO_ROOT / "tools"))

from winekit import builds  # noqa: E402
from winekit.driver import Driver  # noqa: E402
from winekit.registry import INTERNET_SETTINGS, TEST_HOOKS_KEY, Registry  # noqa: E402
from winekit.servers import ConnectivityPage, Listener, probe_lock  # noqa: E402
from winekit.utility import Utility  # noqa: E402
from winekit.wine import WineSession, Xvfb, prefix_lock, windows_path  # noqa: E402

BUILDS = os.environ.get("E2E_BUILDS", "win32 win64").split()


def programs_run(build):
    """What the cases run of a build: TEST.exe with its probe addresses, the report component,
    and the DLLs planted beside TEST.exe."""
    return ([build.test_exe, build.probe_addresses, build.report_dll] +
            [build.planted(name) for name in builds.PLANTED_DLLS])


@pytest.fixture(scope="session", autouse=True)
def i386_programs():
    """32-bit programs run for the whole session where the shipped build is among those run,
    through the emulator where the kernel runs none: Wine runs some of its own 32-bit programs
    as it makes the prefix, before any case starts the shipped build."""
    if "win32" not in BUILDS:
        yield
        return
    with builds.emulator_held(REPO_ROOT):
        yield


@pytest.fixture(scope="session")
def win64_build():
    """The win64 test build: its wine_driver.exe operates both builds' windows."""
    win64 = builds.build(REPO_ROOT, "win64")
    missing = win64.missing(programs_run(win64) + [win64.root / "bin" / "wine_driver.exe"])
    if missing:
        pytest.fail("missing: " + "; ".join(missing), pytrace=False)
    return win64


def usable(name, win64_build):
    """The Build of `name` checked as the cases need it; skips or fails saying why not."""
    if name == "win64":
        return win64_build
    shipped = builds.build(REPO_ROOT, "win32")
    problem = builds.shipped_build_problem(REPO_ROOT)
    if problem and os.environ.get("E2E_REQUIRE_SHIPPED"):
        pytest.fail(f"the shipped win32 TEST.exe cannot run here: {problem}", pytrace=False)
    if problem:
        pytest.skip(f"the shipped win32 TEST.exe cannot run here: {problem}")
    missing = shipped.missing(programs_run(shipped))
    if missing:
        pytest.fail("missing: " + "; ".join(missing), pytrace=False)
    problem = builds.release_mismatch(REPO_ROOT) or shipped.unserved_probes()
    if problem:
        pytest.fail(problem, pytrace=False)
    return shipped


@pytest.fixture(scope="session", params=BUILDS)
def build(request, win64_build):
    """The build a case runs on. The session owns its probe addresses: cases that need them
    closed rely on no other run opening them."""
    chosen = usable(request.param, win64_build)
    with contextlib.ExitStack() as held:
        for role in ("site", "search"):
            held.enter_context(probe_lock(chosen.probe(role).loopback()).held())
        yield chosen


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
def wine(display):
    prefix = pathlib.Path(os.environ.get("E2E_PREFIX", REPO_ROOT / "build" / "e2e-prefix")).resolve()
    with prefix_lock(prefix).held():
        session = WineSession(REPO_ROOT, prefix, display)
        session.start()
        # The DPI a case sets is put back when it ends; a session that was killed meanwhile
        # must not leave it to the next one. Wine 10 gives the change to every program only
        # once the server has restarted.
        left = session.run(["reg", "delete", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/f"])
        if left.returncode == 0:
            session.start()
        # So must the test hooks a case sets (the system colours it sets go with the server),
        # and a proxy it names.
        session.run(["reg", "delete", TEST_HOOKS_KEY, "/f"])
        for key, value in ((INTERNET_SETTINGS, "ProxyEnable"), (INTERNET_SETTINGS, "ProxyServer"),
                           (INTERNET_SETTINGS, "AutoConfigURL"),
                           (INTERNET_SETTINGS + r"\Connections", "DefaultConnectionSettings")):
            session.run(["reg", "delete", key, "/v", value, "/f"])
        try:
            yield session
        finally:
            session.stop_server()


@pytest.fixture(scope="session")
def driver(wine, win64_build):
    return Driver(wine, win64_build.root / "bin" / "wine_driver.exe")


@pytest.fixture(scope="session")
def report_component(wine, build):
    """The build's error-report component, registered for the machine (Wine ignores per-user
    classes) by the regsvr32 of its bitness. Only the cases that provoke a report need it."""
    result = wine.run([build.regsvr32, "/s", windows_path(build.report_dll)])
    if result.returncode != 0:
        pytest.fail(f"regsvr32 could not register {build.report_dll}: exit {result.returncode} {result.output}",
                    pytrace=False)
    return build.report_dll


@pytest.fixture
def registry(wine, tmp_path):
    return Registry(wine, tmp_path)


def skip_without_test_hooks(build, hooks):
    if hooks and not build.test_hooks:
        pytest.skip(f"needs the test hook {', '.join(hooks)}: the shipped build has no test hooks, "
                    "only the win64 test build reads them")


class RegistryHooks:
    """The registry test hooks of the build's TEST.exe (builds.TEST_HOOKS, under TEST_HOOKS_KEY)."""

    def __init__(self, build, registry):
        self._build = build
        self._registry = registry
        self.changed = False

    def need(self, *names):
        """Skips the case on a build without test hooks."""
        skip_without_test_hooks(self._build, sorted(names))

    def set(self, name, value):
        assert name in builds.TEST_HOOKS, name
        self.need(name)
        self.changed = True
        self._registry.set_test_hook(name, value)


@pytest.fixture
def test_hooks(build, registry):
    """Sets registry test hooks during a case; they are removed when it ends."""
    hooks = RegistryHooks(build, registry)
    try:
        yield hooks
    finally:
        if hooks.changed:
            registry.clear_test_hooks()


@pytest.fixture
def system_colours(driver):
    """Sets system colours in the Wine session for the programs started from then on:
    system_colours({COLOR_ index: "RRGGBB"}). Every program started later in the session would
    see them too, so the ones they replaced are put back when the case ends."""
    replaced = []

    def set_colours(colours):
        answer = driver("set-sys-colors", colors=",".join(f"{index}={rgb}" for index, rgb in colours.items()))
        replaced.append(answer["old"])

    try:
        yield set_colours
    finally:
        for old in reversed(replaced):
            driver("set-sys-colors", colors=old)


class Network:
    """What answers on the build's two probe addresses during one case; nothing until started."""

    def __init__(self, build):
        self._build = build
        self.site = None
        self.search = None

    def serve_site(self, body="ok", status=200, **options):
        self.site = ConnectivityPage(self._build.probe("site").loopback(), body, status, **options)
        return self.site

    def serve_search(self):
        self.search = Listener(self._build.probe("search").loopback())
        return self.search

    def stop(self):
        for server in (self.site, self.search):
            if server:
                server.stop()


@pytest.fixture
def network(build):
    probes = Network(build)
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
def start_utility(wine, driver, build, registry, tmp_path):
    """Starts the build's TEST.exe (once per call); whatever is still running at the end of the
    case is killed.

    answers     the report component's scripted answers, in order (0 once they are used up);
                None shows the component's dialog
    executable  another copy of TEST.exe to start
    env         more environment variables for it; a test hook among them (PATCH_DPI_FALLBACK)
                skips the case on a build that does not read it
    """
    started = []

    def start(answers=None, executable=None, env=None):
        skip_without_test_hooks(build, sorted(set(env or {}) & set(builds.TEST_HOOKS)))
        if not registry.prepared:
            registry.prepare()
        workdir = tmp_path / f"run{len(started)}"
        workdir.mkdir()
        utility = Utility(wine, driver, executable or build.test_exe, workdir, answers, env)
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
