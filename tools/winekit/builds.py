"""The two builds of TEST.exe that the end-to-end tests, scripts/run and scripts/bench run.

win32  the shipped program: the win32 preset's TEST.exe, the very file the release packages,
       run under WoW64 as on 64-bit Windows. Its probes go to the real host names
       (build/win32/probe-addresses.txt), so it runs only inside scripts/probe-network, where
       those names are loopback addresses of the tests' own. The 32-bit programs beside it (the
       report component with its test hooks, the planted DLLs, the bench's yardsticks)
       come from the win32-test preset; build/win32 holds only what ships.
win64  the test build: x86_64, its probes on 127.0.0.1, the test hooks compiled in, the 32-bit
       registry view asked for with KEY_WOW64_32KEY.
"""

import contextlib
import dataclasses
import hashlib
import ipaddress
import os
import pathlib
import socket
import subprocess
import time
import urllib.parse
import zipfile

# The hooks of TEST.exe that only the test build reads: an environment variable, and a value
# under registry.TEST_HOOKS_KEY that the running program reads each time it chooses its colours.
TEST_HOOKS = ("PATCH_DPI_FALLBACK", "HighContrastOn")

# The DLLs that tests/e2e/planted builds, each named as the System32 DLL it stands in for.
PLANTED_DLLS = ("wininet.dll", "winhttp.dll", "uxtheme.dll", "urlmon.dll", "version.dll")


@dataclasses.dataclass(frozen=True)
class ProbeAddress:
    """Where one probe of a build goes, from its configuration."""
    url: str

    @property
    def host(self):
        return urllib.parse.urlsplit(self.url).hostname

    @property
    def port(self):
        return urllib.parse.urlsplit(self.url).port or 80

    def loopback(self):
        """(address, port) to serve this probe on: the host's address, which must be loopback."""
        try:
            address = socket.gethostbyname(self.host)
        except OSError as error:
            raise LookupError(f"{self.host} does not resolve ({error})") from None
        if not ipaddress.ip_address(address).is_loopback:
            raise LookupError(f"{self.host} resolves to {address}, which is not loopback")
        return address, self.port


@dataclasses.dataclass(frozen=True)
class Build:
    name: str                  # the preset: "win32" or "win64"
    root: pathlib.Path         # its build folder
    companions: pathlib.Path   # the folder with the report component, the planted DLLs and the bench
    bits: int
    test_hooks: bool           # reads TEST_HOOKS

    @property
    def test_exe(self):
        return self.root / "bin" / "TEST.exe"

    @property
    def report_dll(self):
        return self.companions / "report" / "VBGuardReport.dll"

    @property
    def probe_addresses(self):
        """Where its probes go (read by probe())."""
        return self.root / "probe-addresses.txt"

    def planted(self, name):
        """The planted DLL that stands in for System32's `name` (one of PLANTED_DLLS)."""
        return self.companions / "planted" / name

    def bench_program(self, name):
        return self.companions / "bench" / name

    @property
    def regsvr32(self):
        """regsvr32 of the component's bitness: a 32-bit DLL is registered by the 32-bit one."""
        return r"C:\windows\syswow64\regsvr32.exe" if self.bits == 32 else "regsvr32"

    def probe(self, role):
        """The ProbeAddress of "site" (the maker's server) or "search" (the search engine)."""
        configured = self.probe_addresses
        for line in configured.read_text().splitlines():
            found, _, url = line.partition(" ")
            if found == role:
                return ProbeAddress(url.strip())
        raise LookupError(f"{configured} names no {role} probe")

    def unserved_probes(self):
        """None when both probes of this build go to loopback addresses here; otherwise why not."""
        try:
            for role in ("site", "search"):
                self.probe(role).loopback()
        except (LookupError, OSError) as error:
            return f"the {role} probe cannot be served here: {error}"
        return None

    def missing(self, programs):
        """Those of `programs` (files of this build: its TEST.exe, its companions) that are not
        built, each with how to build it. Each caller names what it runs itself."""
        def preset(path):
            return self.name if path.is_relative_to(self.root) else self.companions.name
        return [f"{path} (cmake --preset {preset(path)} && cmake --build --preset {preset(path)} -j2)"
                for path in programs if not path.is_file()]


def build(repo_root, name):
    """The Build of preset `name`, "win32" (shipped) or "win64" (the test build)."""
    folder = pathlib.Path(repo_root) / "build"
    if name == "win32":
        return Build("win32", folder / "win32", folder / "win32-test", 32, test_hooks=False)
    if name == "win64":
        return Build("win64", folder / "win64", folder / "win64", 64, test_hooks=True)
    raise ValueError(f"no build {name!r}")


def how_32bit_programs_run(repo_root):
    """(how, why not): how 32-bit programs run here, "native" or "emulated through EMULATOR"
    (scripts/runs-32bit), with None for why not; or None and why they do not run."""
    result = subprocess.run([str(pathlib.Path(repo_root) / "scripts" / "runs-32bit")], stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=60)
    said = result.stdout.decode(errors="replace").strip()
    if result.returncode != 0:
        return None, said or "scripts/runs-32bit failed"
    if not os.path.exists("/usr/lib/wine/wine"):
        return None, "Wine's 32-bit loader is not installed (Debian package wine32:i386; scripts/install-deps)"
    return said, None


def runs_32bit_programs(repo_root):
    """None when this machine runs 32-bit programs, natively or emulated; otherwise why not."""
    return how_32bit_programs_run(repo_root)[1]


def emulated(repo_root):
    """How 32-bit programs run where that is through an emulator ("emulated through ..."), else
    None. A time or a memory figure taken then measures the emulator too, not the program alone."""
    how = how_32bit_programs_run(repo_root)[0]
    return how if how and how.startswith("emulated") else None


@contextlib.contextmanager
def emulator_held(repo_root):
    """Where this kernel runs no 32-bit programs and nothing has registered an emulator for them,
    has scripts/with-i386 register qemu-user's for as long as the block runs (it says so in one
    line); it goes when the block ends, or when this process does, however it ends."""
    how, _ = how_32bit_programs_run(repo_root)
    if how or not os.path.exists("/usr/lib/wine/wine"):
        yield
        return
    # The holder runs cat on a pipe of ours: the pipe closes when this process ends, whatever
    # ends it, and with it cat and the registration.
    holder = subprocess.Popen([str(pathlib.Path(repo_root) / "scripts" / "with-i386"), "cat"],
                              stdin=subprocess.PIPE, stdout=subprocess.DEVNULL)
    try:
        deadline = time.monotonic() + 60
        while holder.poll() is None and runs_32bit_programs(repo_root) and time.monotonic() < deadline:
            time.sleep(0.2)
        yield
    finally:
        holder.stdin.close()
        try:
            holder.wait(timeout=30)
        except subprocess.TimeoutExpired:
            holder.terminate()


def private_network_problem():
    """None inside scripts/probe-network's private network, which has loopback only; otherwise
    why this process is not in one."""
    told = os.environ.get("PATCH_PROBE_NETWORK", "")
    if told.startswith("unavailable: "):
        return "no private network for the probes: " + told[len("unavailable: "):]
    with open("/proc/net/dev") as devices:
        interfaces = [line.split(":", 1)[0].strip() for line in devices.read().splitlines()[2:] if ":" in line]
    if interfaces != ["lo"]:
        return (f"not inside a private network for the probes (interfaces {', '.join(interfaces)}): "
                "run through scripts/probe-network")
    return None


def shipped_build_problem(repo_root):
    """None when the shipped win32 TEST.exe can run here with its probes on loopback; otherwise
    which of the two it lacks: a machine that runs 32-bit programs, or the private network."""
    return runs_32bit_programs(repo_root) or private_network_problem()


def sha256(path):
    return hashlib.sha256(pathlib.Path(path).read_bytes()).hexdigest()


def release_zip(repo_root):
    """The unsigned release package that scripts/check-release keeps in build/release/."""
    repo_root = pathlib.Path(repo_root)
    name = (repo_root / "build" / "win32" / "package-name.txt").read_text().strip()
    return repo_root / "build" / "release" / f"{name}.zip"


def release_mismatch(repo_root):
    """None when the shipped build's TEST.exe is the one in the release package, by the SHA-256
    of its SHA256SUMS; otherwise what differs or is missing."""
    try:
        package = release_zip(repo_root)
    except OSError as error:
        return f"the win32 build has no package name ({error})"
    if not package.is_file():
        return f"{package} is missing: scripts/check-release, run by scripts/test, keeps it there"
    with zipfile.ZipFile(package) as archive:
        sums = archive.read("SHA256SUMS").decode()
    listed = {line.split()[-1].lstrip("*"): line.split()[0] for line in sums.splitlines() if line.strip()}
    if "TEST.exe" not in listed:
        return f"{package.name}'s SHA256SUMS lists no TEST.exe"
    built = build(repo_root, "win32").test_exe
    built_sha256 = sha256(built)
    if listed["TEST.exe"] != built_sha256:
        return (f"{built} has SHA-256 {built_sha256}, but {package.name} ships {listed['TEST.exe']}: "
                "build and package again (scripts/test)")
    return None
