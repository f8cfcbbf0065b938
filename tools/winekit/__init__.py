"""Runs TEST.exe under Wine the way a user would, for the end-to-end tests."""
