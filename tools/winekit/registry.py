"""The registry keys the utility reads and writes, seeded and read back with regedit.

A 64-bit regedit sees HKLM\\Software as the 64-bit view; the 32-bit view of the same keys is
HKLM\\Software\\Wow6432Node. Every case starts from the same state: the two installer entries
in both views, HKCU\\Software\\OKRAN and the two settings keys are deleted, then what the case
needs is written, all in one regedit run.
"""

import dataclasses
import re

from .wine import WinekitError, windows_path

HKLM = "HKEY_LOCAL_MACHINE"
HKCU = "HKEY_CURRENT_USER"
UNINSTALL = r"Microsoft\Windows\CurrentVersion\Uninstall"
VIEW_ROOTS = {32: HKLM + r"\Software\Wow6432Node", 64: HKLM + r"\Software"}
CONFIGURATION_ROOT = HKCU + r"\Software\OKRAN"
SETTINGS_PARENT = HKCU + r"\Software\Microsoft\Windows\CurrentVersion"
# The user's Internet Options.
INTERNET_SETTINGS = HKCU + r"\Software\Microsoft\Windows\CurrentVersion\Internet Settings"
# Where the test build's TEST.exe reads its registry test hooks (builds.TEST_HOOKS).
TEST_HOOKS_KEY = HKCU + r"\Software\PatchQUADRELL-Test"


@dataclasses.dataclass(frozen=True)
class Product:
    name: str
    entry: str             # the installer's entry under ...\Uninstall
    installer_value: str   # the value copied from the entry
    settings_value: str    # the value it is copied to, under SETTINGS_PARENT\<name>

    def __repr__(self):
        return self.name

    def entry_key(self, view):
        return rf"{VIEW_ROOTS[view]}\{UNINSTALL}\{self.entry}"

    @property
    def settings_key(self):
        return rf"{SETTINGS_PARENT}\{self.name}"

    @property
    def success_line(self):
        return f"Il ripristino del Software QUADRELL {self.name} è andato a buon fine.\r\n"

    @property
    def not_needed_line(self):
        return f"Il ripristino del Software QUADRELL {self.name} non è stato necessario.\r\n"

    @property
    def problem_line(self):
        return (f"E' stato rilevato un problema durante il ripristino del Software QUADRELL {self.name}, "
                "si è pregati di ritentare o procedere con la reinstallazione.\r\n")


# Two closing braces in Tessaro's entry name: that is the name the utility opens.
TESSARO = Product("Tessaro", "{E2A68D5C-555B-4C3A-8505-137A33019415}}_is1", "Inno Setup: App Path", "InstallPath")
PERIZON = Product("Perizon", "QUADRELL Perizon_is1", "Inno Setup: Language", "Lingua")
PRODUCTS = (TESSARO, PERIZON)


@dataclasses.dataclass(frozen=True)
class Value:
    type: str   # "REG_SZ", "REG_DWORD", "REG_EXPAND_SZ", "REG_MULTI_SZ", "REG_BINARY" or "hex(N)"
    data: object


def _reg_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def _reg_line(name, data):
    if isinstance(data, int):
        return f"{_reg_string(name)}=dword:{data:08x}"
    return f"{_reg_string(name)}={_reg_string(data)}"


def _reg_file_text(sections):
    return "Windows Registry Editor Version 5.00\r\n\r\n" + "".join(s + "\r\n\r\n" for s in sections)


def _parse_string(text, start):
    """The quoted string at text[start]; gives it and the index after its closing quote."""
    out, i = [], start + 1
    escapes = {"\\": "\\", '"': '"', "n": "\n", "r": "\r", "0": "\0", "t": "\t"}
    while text[i] != '"':
        if text[i] == "\\":
            out.append(escapes.get(text[i + 1], text[i + 1]))
            i += 2
        else:
            out.append(text[i])
            i += 1
    return "".join(out), i + 1


def _decode_hex(kind, data):
    raw = bytes(int(b, 16) for b in data.replace(" ", "").split(",") if b)
    if kind in ("hex(2)", "hex(7)"):
        text = raw.decode("utf-16-le").rstrip("\0") if kind == "hex(2)" else raw.decode("utf-16-le")
        if kind == "hex(2)":
            return Value("REG_EXPAND_SZ", text)
        return Value("REG_MULTI_SZ", [s for s in text.split("\0") if s])
    if kind == "hex":
        return Value("REG_BINARY", raw)
    if kind == "hex(4)" and len(raw) == 4:
        return Value("REG_DWORD", int.from_bytes(raw, "little"))
    return Value(kind, raw)


def parse_reg_export(text):
    """{key path: {value name ("" for the default): Value}} from regedit's export format."""
    keys = {}
    current = None
    # Hex data continues on the next line after a trailing backslash.
    lines = re.sub(r"\\\r?\n\s*", "", text).splitlines()
    for line in lines:
        if line.startswith("[") and line.endswith("]"):
            current = keys.setdefault(line[1:-1], {})
            continue
        if current is None or not line or line[0] not in '"@':
            continue
        if line[0] == "@":
            name, rest = "", line[2:]
        else:
            name, after = _parse_string(line, 0)
            rest = line[after + 1:]
        if rest.startswith('"'):
            current[name] = Value("REG_SZ", _parse_string(rest, 0)[0])
        elif rest.startswith("dword:"):
            current[name] = Value("REG_DWORD", int(rest[6:], 16))
        else:
            kind, _, data = rest.partition(":")
            current[name] = _decode_hex(kind, data)
    return keys


class Registry:
    """Seeds the keys of a case and reads them back, in the session's prefix."""

    def __init__(self, wine, scratch):
        self._wine = wine
        self._scratch = scratch
        self.prepared = False
        self.last_failure = None

    def _regedit(self, *args):
        # Wine's regedit ends with 0 whatever happens, so any other code means it was ended
        # from outside before it did its work (seen once, just after the server's restart).
        # Every import and export here gives the same result when done again.
        return self._wine.run(["regedit", *args], never_ran=lambda result: result.returncode != 0)

    def prepare(self, installer=None, configuration=(), settings=None):
        """Resets the keys the utility touches, then writes:
        installer      {(product, view): {value name: text or int}}: installer entries
        configuration  names of HKCU\\Software\\OKRAN subkeys to create ("Tessaro", "PerizonLimited"...)
        settings       {product: {value name: text or int}}: settings keys that exist beforehand
        """
        sections = []
        for product in PRODUCTS:
            for view in VIEW_ROOTS:
                sections.append(f"[-{product.entry_key(view)}]")
            sections.append(f"[-{product.settings_key}]")
        sections.append(f"[-{CONFIGURATION_ROOT}]")
        for (product, view), values in (installer or {}).items():
            sections.append("\r\n".join([f"[{product.entry_key(view)}]"] +
                                        [_reg_line(n, d) for n, d in values.items()]))
        for name in configuration:
            sections.append(rf"[{CONFIGURATION_ROOT}\{name}]")
        for product, values in (settings or {}).items():
            sections.append("\r\n".join([f"[{product.settings_key}]"] +
                                        [_reg_line(n, d) for n, d in values.items()]))
        self._import("seed.reg", sections, "import the seed")
        self.prepared = True

    def _import(self, name, sections, what):
        path = self._scratch / name
        # regedit reads UTF-16 files whole, so any path or name survives intact.
        path.write_bytes(b"\xff\xfe" + _reg_file_text(sections).encode("utf-16-le"))
        result = self._regedit("/S", windows_path(path))
        if result.returncode != 0:
            raise WinekitError(f"regedit could not {what} (exit {result.returncode:#x}): {result.output}")

    def set_system_dpi(self, dpi):
        """The DPI Wine gives the programs started from now on; None gives back its default (96)."""
        data = "-" if dpi is None else f"dword:{dpi:08x}"
        self._import("dpi.reg", [rf'[{HKCU}\Control Panel\Desktop]' + f'\r\n"LogPixels"={data}'], "set the DPI")

    def set_user_proxy(self, server=None, script=None):
        """The user's Internet Options: a proxy server set by hand ("host:port") and a proxy
        script's address; neither gives back no proxy. Written as Windows writes them: the values
        under Internet Settings, which WinINet reads, and Connections\\DefaultConnectionSettings,
        which WinHTTP reads."""
        if server is None and script is None:
            self._import("proxy.reg", [f'[{INTERNET_SETTINGS}]\r\n"ProxyEnable"=dword:00000000\r\n'
                                       '"ProxyServer"=-\r\n"AutoConfigURL"=-',
                                       f'[{INTERNET_SETTINGS}\\Connections]\r\n"DefaultConnectionSettings"=-'],
                         "remove the proxy")
            return

        def counted(text):
            return len(text or "").to_bytes(4, "little") + (text or "").encode("ascii")

        # Version 0x46, a change counter, the flags (direct, by hand, script), the proxy, its
        # bypass list and the script's address, then what Windows keeps of detection.
        flags = 1 | (2 if server else 0) | (4 if script else 0)
        settings = (b"\x46\0\0\0" + (1).to_bytes(4, "little") + flags.to_bytes(4, "little") +
                    counted(server) + counted("") + counted(script) + bytes(32))
        values = [f'"ProxyEnable"=dword:{1 if server else 0:08x}']
        values += [f'"ProxyServer"={_reg_string(server)}'] if server else []
        values += [f'"AutoConfigURL"={_reg_string(script)}'] if script else []
        data = ",".join(f"{byte:02x}" for byte in settings)
        self._import("proxy.reg", ["\r\n".join([f"[{INTERNET_SETTINGS}]"] + values),
                                   f'[{INTERNET_SETTINGS}\\Connections]\r\n"DefaultConnectionSettings"=hex:{data}'],
                     "set the proxy")

    def set_test_hook(self, name, value):
        """A registry test hook of the test build (a REG_DWORD under TEST_HOOKS_KEY): a running
        TEST.exe reads it the next time it matters."""
        self._import("hook.reg", [f"[{TEST_HOOKS_KEY}]\r\n{_reg_line(name, value)}"], f"set the test hook {name}")

    def clear_test_hooks(self):
        self._import("hooks.reg", [f"[-{TEST_HOOKS_KEY}]"], "remove the test hooks")

    def export(self, key):
        """Every key at and below `key` with its values; None when regedit exported nothing
        (the key does not exist)."""
        path = self._scratch / "export.reg"
        if path.exists():
            path.unlink()
        result = self._regedit("/E", windows_path(path), key)
        if not path.exists():
            self.last_failure = result.output
            return None
        return parse_reg_export(path.read_bytes().decode("utf-16"))

    def settings(self):
        """{product: {value name: Value} or None when its settings key does not exist}."""
        keys = self.export(SETTINGS_PARENT)
        if keys is None:  # the parent always exists: regedit itself failed
            raise WinekitError(f"regedit could not export {SETTINGS_PARENT}: {self.last_failure!r}")
        return {product: keys.get(product.settings_key) for product in PRODUCTS}
