"""Golden job logs shared by the Python tests (and, through merge_job_test, the
C++ ones): tests/golden/*.log, UTF-8, one log line per line. "<time>" stands
for a time text."""
import os
import re

GOLDEN = os.environ["ZANTREL_GOLDEN"]
ANY_TIME = "<time>"
TIME = re.compile(r"(1[0-2]|[1-9])月([1-9]|[12][0-9]|3[01])日(1?[0-9]|2[0-3])時([1-5]?[0-9])分([1-5]?[0-9]|60)秒")


def golden_log(name):
    with open(os.path.join(GOLDEN, name), encoding="utf-8") as f:
        return f.read().split("\n")[:-1]


def assert_log(testcase, actual, expected):
    """Compares a log line by line; "<time>" in the expectation matches a time text."""
    testcase.assertEqual(len(actual), len(expected), "\n".join(actual))
    for i, (a, e) in enumerate(zip(actual, expected)):
        if ANY_TIME in e:
            prefix = e[: e.index(ANY_TIME)]
            testcase.assertTrue(a.startswith(prefix) and TIME.fullmatch(a[len(prefix):]), f"line {i}: {a}")
        else:
            testcase.assertEqual(a, e, f"line {i}")
