"""wine_driver.exe from Python: one subcommand per run, one JSON answer."""

import json

from .wine import WinekitError


class DriverError(WinekitError):
    pass


class Driver:
    def __init__(self, wine, executable):
        self._wine = wine
        self._executable = executable

    def __call__(self, command, run_timeout=120, **options):
        """Runs a subcommand; options become "--name value" (class_ gives --class).
        run_timeout (seconds) bounds the driver's own run."""
        args = [self._executable, command]
        for name, value in options.items():
            args += ["--" + name.rstrip("_").replace("_", "-"), str(value)]
        result = self._wine.run(args, timeout=run_timeout)
        if result.returncode != 0 and not result.output.strip():
            # Ended without a word: the program answers every command, failures included, so
            # it never got to run it (seen once in many runs under Wine). Run it once more.
            result = self._wine.run(args, timeout=run_timeout)
        lines = [line for line in result.output.splitlines() if line.startswith("{")]
        if not lines:
            raise DriverError(f"wine_driver {command}: no answer (exit {result.returncode}): {result.output!r}")
        answer = json.loads(lines[-1])
        if not answer.get("ok"):
            raise DriverError(f"wine_driver {command}: {answer.get('error')}")
        return answer
