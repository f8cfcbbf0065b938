#!/usr/bin/env python3
"""The benchmark: TEST.exe against yardsticks of its own bitness, measured under the same Wine
in one session, reported as ratios. Run through scripts/bench, which builds first and starts
this in scripts/probe-network's private network.

  start      TEST.exe's start until its window is visible / a bare Win32 window program's,
             the fastest of three starts each in every round, taken in turn
  run        Ok until the results box is written (connectivity page answering at once, the
             sample installation) / the same platform calls made directly by a minimal program
  memory     TEST.exe's peak working set after a run / the minimal program's
  size       the shipped 32-bit TEST.exe, stripped

Two sections: the shipped win32 TEST.exe under WoW64 against 32-bit yardsticks (the win32-test
preset's), where this machine runs 32-bit programs natively and the private network was made
(where they run only through an emulator, the emulator's time would be measured: the shipped
build is then not measured, saying why), and the win64 test build against 64-bit ones. Each round measures TEST.exe and its yardstick one right
after the other; a ratio is the median of the rounds' own ratios, so that how busy the machine
is from one moment to the next cancels out.

Writes the tables to build/bench/results.md.
"""

import json
import os
import statistics
import sys

import sample
from sample import REPO_ROOT
from winekit import builds  # noqa: E402
from winekit.registry import Registry  # noqa: E402
from winekit.servers import ConnectivityPage  # noqa: E402
from winekit.wine import WineSession, Xvfb, windows_path  # noqa: E402

OUT = REPO_ROOT / "build" / "bench"
ROUNDS = 21
# Starts per program in a round: the round takes the fastest of each (bench/launcher.cpp).
START_TRIES = 3
# The launcher measures both builds from outside: the 64-bit one reads 32-bit processes too.
LAUNCHER = builds.build(REPO_ROOT, "win64").bench_program("launcher.exe")

TARGETS = {"start": 1.5, "run": 1.3, "memory": 1.2}
SIZE_LIMIT = 450 * 1024
HEADINGS = {"win32": "win32 (shipped)", "win64": "win64 (test build)"}


def measure(wine, program, *args):
    result = wine.run([program, *args], timeout=1800)
    lines = [line for line in result.output.splitlines() if line.startswith("{")]
    if result.returncode != 0 or not lines:
        sys.exit(f"{program.name} failed (exit {result.returncode}): {result.output}")
    return json.loads(lines[-1])


def measure_build(wine, registry, build):
    """{measure: [(TEST.exe's figure, the yardstick's), one per counted round]}."""
    test_exe = windows_path(build.test_exe)
    bare = windows_path(build.bench_program("bare_window.exe"))
    site = build.probe("site")
    page = ConnectivityPage(site.loopback(), "ok")
    rounds = {"start": [], "run": [], "memory": []}
    try:
        # One round first, not counted: Wine loads the build's libraries from disk once.
        starts = measure(wine, LAUNCHER, "starts", ROUNDS + 1, START_TRIES, test_exe, "PatchQUADRELLForm1",
                         bare, "BareWindow")
        rounds["start"] = [tuple(pair) for pair in starts["rounds"][1:]]
        for round_number in range(ROUNDS + 1):
            sample.seed(registry)
            run = measure(wine, LAUNCHER, "run", test_exe)
            if run["results_length"] == 0:
                sys.exit(f"{build.test_exe} wrote no results: the run failed")
            sample.seed(registry)
            calls = measure(wine, build.bench_program("platform_calls.exe"), site.url + "/controlloconnessione")
            if round_number > 0:
                rounds["run"].append((run["run_ms"], calls["elapsed_ms"]))
                rounds["memory"].append((run["peak_working_set"], calls["peak_working_set"]))
    finally:
        page.stop()
    return rounds


def section(build, rounds):
    """The markdown of one build's section, and whether every target was met."""
    lines = [f"## {HEADINGS[build.name]}", "",
             "| measure | TEST.exe | yardstick | ratio | middle half of the rounds | target | |",
             "|---|---|---|---|---|---|---|"]
    names = {"start": ("start to window shown", "bare window"), "run": ("Ok to results written", "same calls, direct"),
             "memory": ("peak working set", "same calls, direct")}
    met = True
    for measure_name, pairs in rounds.items():
        ratios = sorted(ours / theirs for ours, theirs in pairs)
        ratio = statistics.median(ratios)
        low, _, high = statistics.quantiles(ratios, n=4)
        ours = statistics.median(p[0] for p in pairs)
        theirs = statistics.median(p[1] for p in pairs)
        shown = (lambda v: f"{v / 2**20:.1f} MiB") if measure_name == "memory" else (lambda v: f"{v:.0f} ms")
        target = TARGETS[measure_name]
        met = met and ratio <= target
        label, yardstick = names[measure_name]
        lines.append(f"| {label} | {shown(ours)} | {shown(theirs)} ({yardstick}) | {ratio:.2f} | "
                     f"{low:.2f} to {high:.2f} | ≤ {target} | {'met' if ratio <= target else 'missed'} |")
    if build.name == "win32":
        row, size_met = size_row()
        lines.append(row)
        met = met and size_met
    lines += ["", f"{ROUNDS} rounds after one not counted; {build.test_exe.relative_to(REPO_ROOT)}, "
              f"SHA-256 {builds.sha256(build.test_exe)}."]
    return "\n".join(lines), met


def size_row():
    """The shipped TEST.exe's size as a table row, and whether it is within its limit."""
    size = builds.build(REPO_ROOT, "win32").test_exe.stat().st_size
    met = size < SIZE_LIMIT
    return (f"| 32-bit TEST.exe, stripped | {size / 1024:.0f} KB | | | | < {SIZE_LIMIT // 1024} KB | "
            f"{'met' if met else 'missed'} |"), met


def main():
    shipped, test_build = builds.build(REPO_ROOT, "win32"), builds.build(REPO_ROOT, "win64")
    problem = builds.shipped_build_problem(REPO_ROOT) or shipped.unserved_probes()
    emulated = None if problem else builds.emulated(REPO_ROOT)
    if emulated:
        problem = (f"32-bit programs run here only {emulated}, and an emulated time or working set "
                   "measures the emulator, not TEST.exe")
    to_measure = [test_build] if problem else [shipped, test_build]
    # What the bench runs: the launcher, and of each build measured its TEST.exe with its probe
    # addresses and its two yardsticks; the shipped TEST.exe's size is reported in any case.
    missing = test_build.missing([LAUNCHER]) + shipped.missing([shipped.test_exe])
    for build in to_measure:
        missing += build.missing([build.test_exe, build.probe_addresses, build.bench_program("bare_window.exe"),
                                  build.bench_program("platform_calls.exe")])
    if missing:
        sys.exit(f"missing: {'; '.join(dict.fromkeys(missing))}. scripts/bench builds them")
    if problem:
        print(f"Measuring the win64 test build only: the shipped win32 TEST.exe cannot run here ({problem}).")
    OUT.mkdir(parents=True, exist_ok=True)
    (OUT / "scratch").mkdir(exist_ok=True)

    xvfb = Xvfb()
    wine = WineSession(REPO_ROOT, OUT / "wineprefix", xvfb.display)
    try:
        wine.start()
        registry = Registry(wine, OUT / "scratch")
        measured = {build.name: measure_build(wine, registry, build) for build in to_measure}
    finally:
        wine.stop_server()
        xvfb.stop()

    texts, all_met = [], True
    if problem:
        texts.append(f"## {HEADINGS['win32']}\n\nNot measured: {problem}.\n\n"
                     "| measure | TEST.exe | | | | target | |\n|---|---|---|---|---|---|---|\n" + size_row()[0])
    for build in to_measure:
        text, met = section(build, measured[build.name])
        texts.append(text)
        all_met = all_met and met
    note = (f"Under Wine on {os.uname().machine}: the sample installation, the connectivity page answering at "
            "once. A ratio is the median of the rounds' own ratios, TEST.exe's figure over its yardstick's "
            "in the same round; the middle half is the range of the rounds' ratios between the first and "
            "the third quartile.")
    report = "\n\n".join(texts) + "\n\n" + note + "\n"
    (OUT / "results.md").write_text(report)
    print(report)
    print("All within their targets." if all_met else "Some measure misses its target.")
    return 0


if __name__ == "__main__":
    sys.exit(main())
