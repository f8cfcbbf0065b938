"""A sample installation of both products, shared by the demonstration and the benchmark.

Tessaro installed by a 64-bit installer (its entry only in the 64-bit view), Perizon by a 32-bit
one; both in versions that still need the restore, their configuration keys present and their
settings missing.
"""

import pathlib
import sys

REPO_ROOT = pathlib.Path(__file__).resolve().parents[1]
# The Wine tooling shared with the end-to-end tests: the winekit package under tools/.
sys.path.insert(0, str(REPO_ROOT / "tools"))

from winekit.registry import PERIZON, TESSARO  # noqa: E402

INSTALLER_ENTRIES = {
    (TESSARO, 64): {"DisplayVersion": "2.1.0.20",
                    "Inno Setup: App Path": r"C:\Program Files\QUADRELL\Tessaro"},
    (PERIZON, 32): {"DisplayVersion": "2.0.5",
                    "Inno Setup: Language": "Italiano"},
}
CONFIGURATION_KEYS = ("Tessaro", "PerizonLimited")
DESCRIPTION = ("Tessaro 2.1.0.20 (64-bit view), Perizon 2.0.5 (32-bit view), configuration keys "
               "Software\\OKRAN\\Tessaro and Software\\OKRAN\\PerizonLimited")


def seed(registry):
    registry.prepare(installer=INSTALLER_ENTRIES, configuration=CONFIGURATION_KEYS)
