#!/usr/bin/env python3
"""The benchmark: TEST.exe against yardsticks built the same way, measured under the same Wine
in one session, reported as ratios. Run through scripts/bench, which builds first.

  start      TEST.exe's start until its window is visible / a bare Win32 window program's
  run        Ok until the results box is written (connectivity page answering at once, the
             sample installation) / the same platform calls made directly by a minimal program
  memory     TEST.exe's peak working set after a run / the minimal program's
  size       the shipped 32-bit TEST.exe, stripped

Writes the table to build/bench/results.md.
"""

import json
import os
import statistics
import sys

import sample
from sample import REPO_ROOT
from winekit.registry import Registry  # noqa: E402
from winekit.servers import ConnectivityPage  # noqa: E402
from winekit.wine import WineSession, Xvfb, windows_path  # noqa: E402

BUILD = REPO_ROOT / "build" / "win64"
SHIPPED = REPO_ROOT / "build" / "win32" / "bin" / "TEST.exe"
OUT = REPO_ROOT / "build" / "bench"
ROUNDS = 7

TARGETS = {"start": 1.5, "run": 1.3, "memory": 1.2}
SIZE_LIMIT = 450 * 1024


def measure(wine, *args):
    result = wine.run([BUILD / "bench" / args[0], *args[1:]], timeout=180)
    lines = [line for line in result.output.splitlines() if line.startswith("{")]
    if result.returncode != 0 or not lines:
        sys.exit(f"{args[0]} failed (exit {result.returncode}): {result.output}")
    return json.loads(lines[-1])


def main():
    for program in (BUILD / "bin" / "TEST.exe", BUILD / "bench" / "launcher.exe", SHIPPED):
        if not program.is_file():
            sys.exit(f"{program} is missing: run scripts/bench, which builds it")
    OUT.mkdir(parents=True, exist_ok=True)
    (OUT / "scratch").mkdir(exist_ok=True)

    xvfb = Xvfb()
    wine = WineSession(REPO_ROOT, OUT / "wineprefix", xvfb.display)
    page = ConnectivityPage("ok")
    try:
        wine.start()
        registry = Registry(wine, OUT / "scratch")
        test_exe = windows_path(BUILD / "bin" / "TEST.exe")
        bare = windows_path(BUILD / "bench" / "bare_window.exe")
        page_address = "http://127.0.0.1:47801/controlloconnessione"

        samples = {"test_start": [], "bare_start": [], "test_run": [], "calls_run": [], "test_memory": [],
                   "calls_memory": []}
        # One round of each first, not counted: Wine loads its libraries from disk once.
        for round_number in range(ROUNDS + 1):
            counted = round_number > 0
            start_test = measure(wine, "launcher.exe", "start", test_exe, "PatchQUADRELLForm1")
            start_bare = measure(wine, "launcher.exe", "start", bare, "BareWindow")
            sample.seed(registry)
            run = measure(wine, "launcher.exe", "run", test_exe)
            if run["results_length"] == 0:
                sys.exit("TEST.exe wrote no results: the run failed")
            sample.seed(registry)
            calls = measure(wine, "platform_calls.exe", page_address)
            if counted:
                samples["test_start"].append(start_test["start_ms"])
                samples["bare_start"].append(start_bare["start_ms"])
                samples["test_run"].append(run["run_ms"])
                samples["calls_run"].append(calls["elapsed_ms"])
                samples["test_memory"].append(run["peak_working_set"])
                samples["calls_memory"].append(calls["peak_working_set"])
    finally:
        page.stop()
        wine.stop_server()
        xvfb.stop()

    median = {name: statistics.median(values) for name, values in samples.items()}
    size = SHIPPED.stat().st_size
    rows = [
        ("start to window shown", f"{median['test_start']:.0f} ms", f"{median['bare_start']:.0f} ms (bare window)",
         median["test_start"] / median["bare_start"], TARGETS["start"]),
        ("Ok to results written", f"{median['test_run']:.0f} ms", f"{median['calls_run']:.0f} ms (same calls, direct)",
         median["test_run"] / median["calls_run"], TARGETS["run"]),
        ("peak working set", f"{median['test_memory'] / 2**20:.1f} MiB",
         f"{median['calls_memory'] / 2**20:.1f} MiB (same calls, direct)",
         median["test_memory"] / median["calls_memory"], TARGETS["memory"]),
    ]
    lines = ["| measure | TEST.exe | yardstick | ratio | target |", "|---|---|---|---|---|"]
    for name, ours, theirs, ratio, target in rows:
        lines.append(f"| {name} | {ours} | {theirs} | {ratio:.2f} | ≤ {target} |")
    lines.append(f"| 32-bit TEST.exe, stripped | {size / 1024:.0f} KB | | | < {SIZE_LIMIT // 1024} KB |")
    table = "\n".join(lines)
    note = (f"Medians of {ROUNDS} rounds under Wine ({os.uname().machine}), after one round not counted; "
            "the sample installation, the connectivity page answering at once.")
    (OUT / "results.md").write_text(table + "\n\n" + note + "\n")
    print(table)
    print()
    print(note)
    within = all(ratio <= target for _, _, _, ratio, target in rows) and size < SIZE_LIMIT
    print("All within their targets." if within else "Some measure misses its target.")
    return 0


if __name__ == "__main__":
    sys.exit(main())
