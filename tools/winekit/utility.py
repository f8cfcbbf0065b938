"""TEST.exe as a user sees it: its window, its controls, its message boxes and its end."""

import json
import subprocess

from .wine import WinekitError, windows_path

WINDOW_CLASS = "PatchQUADRELLForm1"
CAPTION = "Ripristina Prodotti"
APP_TITLE = "PatchQUADRELL-Windows10"
HEADING = ("Ripristino prodotti QUADRELL (solo per utenti in possesso di Sistema Operativo "
           "Microsoft Windows 10):")

# Control identifiers.
TEXT1, LBL, CMD_OK, CMD_ANNULLA = 100, 101, 102, 103

# What the test build is told to take away of the DPI functions (PATCH_DPI_FALLBACK): nothing,
# what Windows 10 1507 lacks (user32's per-window ones), or shcore's per-monitor one as well.
DPI_FUNCTIONS = {"all": {}, "as_on_1507": {"PATCH_DPI_FALLBACK": "1507"},
                 "none": {"PATCH_DPI_FALLBACK": "screen"}}

# A restore run reads WMI and MSXML under Wine: seconds, not minutes.
RUN_TIMEOUT_MS = 120_000


class Utility:
    """One TEST.exe process, started with its own report script and log."""

    def __init__(self, wine, driver, executable, workdir, answers=None, env=None):
        self._wine = wine
        self._driver = driver
        self.report_log = workdir / "report.jsonl"
        env = {**(env or {}), "VBGUARD_REPORT_LOG": windows_path(self.report_log)}
        if answers is not None:
            env["VBGUARD_REPORT_ANSWERS"] = ",".join(str(a) for a in answers)
        log = workdir / "TEST.log"
        self.process = wine.spawn([executable], log, env)
        try:
            found = driver("wait-window", class_=WINDOW_CLASS, caption=CAPTION, timeout=30000)
        except WinekitError as error:
            ended = self.process.poll()
            self.kill()
            raise WinekitError(f"TEST.exe showed no window ({error}); "
                               f"{'it ended with ' + str(ended) if ended is not None else 'it was running'}; "
                               f"its output: {log.read_text(errors='replace')!r}") from None
        self.hwnd = found["hwnd"]
        self.pid = found["pid"]

    # --- reading
    def describe(self):
        return self._driver("describe", hwnd=self.hwnd)

    def text(self, control_id):
        return self._driver("text", hwnd=self.hwnd, id=control_id)["text"]

    def results(self):
        """The results box, byte for byte (its lines end in CR LF)."""
        return self.text(LBL)

    def heading(self):
        return self.text(TEXT1)

    def focus(self):
        return self._driver("focus", hwnd=self.hwnd)["id"]

    # --- acting
    def click_ok(self):
        """Clicks "Ok" and waits for the run to end, or for a message box to open during it."""
        return self._driver("click", hwnd=self.hwnd, id=CMD_OK, wait=RUN_TIMEOUT_MS,
                            run_timeout=RUN_TIMEOUT_MS // 1000 + 30)

    def run_restore(self):
        """Clicks "Ok", expects the run to end without a message box, and gives the results box."""
        click = self.click_ok()
        if not click["completed"]:
            box = self.message_box() if click["message_box"] else None
            raise AssertionError(f"the run did not end normally; message box: {box}")
        return self.results()

    def click_chiudi(self):
        self._driver("click", hwnd=self.hwnd, id=CMD_ANNULLA)

    def key(self, name):
        return self._driver("key", hwnd=self.hwnd, key=name)

    def click_into(self, control_id):
        """A click into a control; gives the control that has the focus afterwards."""
        return self._driver("click-into", hwnd=self.hwnd, id=control_id)["id"]

    def type_into(self, control_id, characters):
        return self._driver("type", hwnd=self.hwnd, id=control_id, chars=characters)

    def setting_change(self, action):
        """WM_SETTINGCHANGE for the setting numbered `action` (an SPI_SET... value), as Windows
        sends it when the user changes that setting; returns once the window has handled it."""
        return self._driver("setting-change", hwnd=self.hwnd, action=action)

    def query_end_session(self):
        """Asks the window, as Windows does at logoff, whether the session may end."""
        return self._driver("query-end-session", hwnd=self.hwnd)["may_end"]

    def close(self, how="wm_close"):
        self._driver("close", hwnd=self.hwnd, how=how)

    def message_box(self, timeout_ms=20000):
        return self._driver("message-box", pid=self.pid, timeout=timeout_ms)

    def notify_click(self, control_id):
        """A button's click notification, posted as it would arrive inside a modal loop; returns
        once the utility has dispatched it."""
        return self._driver("notify", hwnd=self.hwnd, id=control_id)

    def windows(self):
        """The process's visible top-level windows."""
        return self._driver("windows", pid=self.pid)["windows"]

    def press(self, box, button):
        self._driver("press", hwnd=box["hwnd"], button=button)

    # --- the process
    def running(self):
        return self.process.poll() is None

    def wait_exit(self, timeout=30):
        """The exit code, once the process has ended."""
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError(f"TEST.exe still runs {timeout} s later") from None

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()

    def report_calls(self):
        """The calls made on report objects, as the report component logged them."""
        if not self.report_log.exists():
            return []
        with open(self.report_log, encoding="utf-8") as log:
            return [json.loads(line) for line in log if line.strip()]

    def screenshot(self, path):
        """A PNG of the screen cropped to the window. Without a window manager nobody draws
        the frame, so what shows of the window is its client area."""
        window = self.describe()
        left, top = window["client_origin"]
        width, height = window["client"]
        subprocess.run(
            ["import", "-display", self._wine.env["DISPLAY"], "-window", "root",
             "-crop", f"{width}x{height}+{left}+{top}", "+repage", str(path)],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            timeout=60, check=True)
