"""Runs TEST.exe under Wine the way a user would, for the end-to-end tests, the demonstration
(scripts/run) and the benchmark (scripts/bench)."""
