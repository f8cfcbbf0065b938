"""Runs TEST.exe under Wine the way a user would, for the end-to-end tests (tests/e2e), the
demonstration (scripts/run) and the benchmark (scripts/bench)."""
