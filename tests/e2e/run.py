"""Runs one test module for ctest and tells it honestly what happened.

    python3 run.py test_posting

Every test is listed as it runs (as "python3 -m unittest -v" lists it),
then the exit status says what ctest should report:
  0   every test that ran passed, and at least one ran;
  77  nothing ran: every test was skipped (a web server, the mail server
      or the browser is missing here); ctest reports the module skipped
      (SKIP_RETURN_CODE);
  1   a test failed or broke, or the module could not be loaded.
A module of which only some tests were skipped passes, and its skips are
listed again at the end with their reasons, so that they are not lost in
the output.

With RUK_TEST_DURATIONS=N the N slowest tests are listed as well."""
import os
import sys
import time
import unittest

SKIP_RETURN_CODE = 77


class CountingResult(unittest.TextTestResult):
    """A verbose result that also counts the tests that ran to their end
    and times each test."""

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.passed = 0
        self.durations = []
        self._started = {}

    def startTest(self, test):
        self._started[test] = time.monotonic()
        super().startTest(test)

    def stopTest(self, test):
        super().stopTest(test)
        started = self._started.pop(test, None)
        if started is not None:
            self.durations.append((time.monotonic() - started, test.id()))

    def addSuccess(self, test):
        super().addSuccess(test)
        self.passed += 1

    def addExpectedFailure(self, test, err):
        super().addExpectedFailure(test, err)
        self.passed += 1


def exit_status(result):
    """What ctest is told: see the top of this file."""
    if not result.wasSuccessful():
        return 1
    return 0 if result.passed > 0 else SKIP_RETURN_CODE


def print_skips(result, stream):
    if not result.skipped or result.passed == 0:
        return
    stream.write("\nskipped here (%d of %d):\n" % (len(result.skipped), result.testsRun))
    for test, reason in result.skipped:
        stream.write("  %s: %s\n" % (test.id(), reason))


def print_durations(result, stream, count):
    stream.write("\nslowest tests:\n")
    for seconds, name in sorted(result.durations, reverse=True)[:count]:
        stream.write("  %7.2f s  %s\n" % (seconds, name))


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: run.py MODULE\n")
        return 2
    sys.path.insert(0, os.getcwd())  # as "python3 -m unittest" finds modules
    suite = unittest.defaultTestLoader.loadTestsFromName(argv[1])
    runner = unittest.TextTestRunner(verbosity=2, resultclass=CountingResult)
    result = runner.run(suite)
    print_skips(result, runner.stream)
    count = int(os.environ.get("RUK_TEST_DURATIONS", "0") or 0)
    if count > 0:
        print_durations(result, runner.stream, count)
    status = exit_status(result)
    if status == SKIP_RETURN_CODE:
        runner.stream.write("\nnothing ran here: the module is reported skipped\n")
    runner.stream.flush()
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv))
