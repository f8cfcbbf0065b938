"""Wine for the end-to-end tests and the scripts: one prefix and one X display per session.

Wine's helper processes (wineserver, services, explorer) inherit the output handles of the
program that started them and keep them open, so nothing here reads a Wine program's output
through a pipe: it goes to a file, read once the program has ended.
"""

import contextlib
import fcntl
import functools
import os
import pathlib
import re
import select
import shutil
import subprocess
import sys
import tempfile
import threading
import time

WINE64 = "/usr/lib/wine/wine64"
WINESERVER = next(
    (p for p in ("/usr/lib/wine/wineserver64", "/usr/lib/wine/wineserver") if os.path.exists(p)),
    "/usr/lib/wine/wineserver",
)


# What Wine's start.exe prints when it could not create the process it was asked to start.
LAUNCH_FAILURE = "Application could not be started"


class WinekitError(RuntimeError):
    """The Wine tooling itself could not do what was asked."""


@functools.cache
def wine_version():
    """Wine's version as (major, minor): (8, 0) on Debian 12, (10, 0) on Debian 13."""
    try:
        output = subprocess.run([WINE64, "--version"], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, timeout=60).stdout.decode(errors="replace")
    except OSError as error:
        raise WinekitError(f"cannot run {WINE64}: {error}") from None
    found = re.search(r"wine-(\d+)\.(\d+)", output)
    if not found:
        raise WinekitError(f"{WINE64} --version named no version: {output!r}")
    return int(found[1]), int(found[2])


def windows_path(path):
    """The path as Windows programs under Wine see it: drive Z: is the root of the file system."""
    return "Z:" + str(pathlib.Path(path).resolve()).replace("/", "\\")


class Xvfb:
    """A private X server on a free display: 1280 x 800, 24 bits, 96 DPI, no window manager."""

    def __init__(self):
        if not shutil.which("Xvfb"):
            raise WinekitError("Xvfb is not installed (Debian package xvfb)")
        read_end, write_end = os.pipe()
        try:
            # -displayfd picks a free display and writes its number once the server is ready.
            self._process = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x800x24", "-dpi", "96",
                 "-nolisten", "tcp"],
                pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL)
        finally:
            os.close(write_end)
        try:
            number = self._read_display_number(read_end)
        except Exception:
            self.stop()
            raise
        finally:
            os.close(read_end)
        self.display = ":" + number

    def _read_display_number(self, fd, timeout=30):
        text = b""
        deadline = time.monotonic() + timeout
        while not text.endswith(b"\n"):
            remaining = deadline - time.monotonic()
            if remaining <= 0 or not select.select([fd], [], [], remaining)[0]:
                raise WinekitError("Xvfb did not start")
            chunk = os.read(fd, 64)
            if not chunk:
                raise WinekitError("Xvfb ended before naming its display")
            text += chunk
        return text.decode().strip()

    def stop(self):
        if self._process.poll() is None:
            self._process.terminate()
            try:
                self._process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self._process.kill()
                self._process.wait()


class MachineLock:
    """An exclusive lock shared by every process on this machine, through a file in the
    temporary folder. It may be taken again by the process that holds it: it is released when
    every acquire has had its release."""

    def __init__(self, name, what):
        self.path = pathlib.Path(tempfile.gettempdir()) / name
        self._what = what
        self._guard = threading.Lock()
        self._count = 0
        self._file = None

    def acquire(self, wait=900):
        with self._guard:
            if self._count == 0:
                self._file = self._lock_file(wait)
            self._count += 1

    def release(self):
        with self._guard:
            self._count -= 1
            if self._count == 0:
                fcntl.flock(self._file, fcntl.LOCK_UN)
                self._file.close()
                self._file = None

    @contextlib.contextmanager
    def held(self, wait=900):
        self.acquire(wait)
        try:
            yield
        finally:
            self.release()

    def _lock_file(self, wait):
        lock = open(self.path, "a")
        deadline = time.monotonic() + wait
        told = False
        while True:
            try:
                fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
                return lock
            except BlockingIOError:
                if time.monotonic() >= deadline:
                    lock.close()
                    raise WinekitError(f"another run kept {self._what} for {wait} s ({self.path})") from None
                if not told:
                    # Past pytest's capture: a wait here would otherwise look like a hang.
                    sys.__stderr__.write(f"\nwaiting for another run to free {self._what}...\n")
                    told = True
                time.sleep(0.5)


def prefix_lock(prefix):
    """One test session at a time per prefix: a session starts by stopping the prefix's server."""
    prefix = pathlib.Path(prefix).resolve()
    name = "patchquadrell-wineprefix-" + str(prefix).strip("/").replace("/", "_") + ".lock"
    return MachineLock(name, f"the Wine prefix {prefix}")


class Completed:
    def __init__(self, returncode, output):
        self.returncode = returncode
        self.output = output


class WineSession:
    """Runs Windows programs in the session's prefix on the session's display: 64-bit ones,
    and 32-bit ones under WoW64 where the machine runs them (the 64-bit loader hands them on)."""

    def __init__(self, repo_root, prefix, display):
        self.repo_root = pathlib.Path(repo_root)
        self.prefix = pathlib.Path(prefix)
        env = dict(os.environ)
        env.update({
            "WINEPREFIX": str(self.prefix),
            "WINEDEBUG": os.environ.get("E2E_WINEDEBUG", "-all"),
            # Never offer to install Wine's .NET and HTML runtimes.
            "WINEDLLOVERRIDES": "mscoree,mshtml=",
            "DISPLAY": display,
            # A fixed locale: the utility reads numbers with the user's separators.
            "LC_ALL": "C.UTF-8",
            "LANG": "C.UTF-8",
        })
        for name in ("VBGUARD_REPORT_ANSWERS", "VBGUARD_REPORT_LOG", "WAYLAND_DISPLAY"):
            env.pop(name, None)
        self.env = env

    def start(self):
        """Makes the prefix on first use and starts its server, detached from any pipe."""
        # A server left by an interrupted session may still serve a display that is gone.
        self.stop_server()
        self.prefix.parent.mkdir(parents=True, exist_ok=True)
        script = self.repo_root / "scripts" / "wine-env.sh"
        result = subprocess.run(
            ["bash", "-c", 'source "$1" && ensure_wine_prefix', "bash", str(script)],
            env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL, timeout=300)
        if result.returncode != 0 or not (self.prefix / "system.reg").exists():
            raise WinekitError(f"cannot make the Wine prefix {self.prefix}")

    def stop_server(self):
        subprocess.run([WINESERVER, "-k"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)

    def run(self, args, timeout=60, never_ran=lambda result: False):
        """Runs a program to its end; its output (stdout and stderr) comes back as text.

        A program named without a path (regedit, regsvr32) is started by Wine's start.exe, which
        now and then fails to create the process and says so; the program never ran, so it is
        started again, up to two more times. So it is when `never_ran` says so of what it gave.
        """
        for attempt in range(3):
            result = self._run_once(args, timeout)
            if LAUNCH_FAILURE not in result.output and not never_ran(result):
                break
            time.sleep(0.5 * (attempt + 1))
        return result

    def _run_once(self, args, timeout):
        with tempfile.TemporaryFile() as output:
            try:
                returncode = subprocess.run(
                    [WINE64, *map(str, args)], env=self.env, stdin=subprocess.DEVNULL,
                    stdout=output, stderr=subprocess.STDOUT, timeout=timeout).returncode
            except subprocess.TimeoutExpired as error:
                raise WinekitError(f"{args[0]} did not end within {timeout} s") from error
            output.seek(0)
            return Completed(returncode, output.read().decode("utf-8", "replace"))

    def spawn(self, args, log_path, extra_env=None):
        """Starts a program and leaves it running; its output goes to log_path."""
        env = dict(self.env)
        env.update(extra_env or {})
        with open(log_path, "wb") as log:
            return subprocess.Popen([WINE64, *map(str, args)], env=env, stdin=subprocess.DEVNULL,
                                    stdout=log, stderr=subprocess.STDOUT)
