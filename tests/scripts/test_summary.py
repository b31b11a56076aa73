"""scripts/test-summary on small hand-made reports: the verdict comes from
the reports' statuses and elements, whatever the tests printed."""

import os
import subprocess
import sys

import pytest

SUMMARY = os.path.join(os.path.dirname(__file__), "..", "..", "scripts", "test-summary")


def ctest(*cases):
    return '<?xml version="1.0" encoding="UTF-8"?>\n<testsuite name="(empty)">' + "".join(cases) + "</testsuite>"


def case(name, status, inner="", output=""):
    out = f"<system-out>{output}</system-out>" if output else ""
    return f'<testcase name="{name}" classname="{name}" status="{status}">{inner}{out}</testcase>'


def skipped(code):
    return f'<skipped message="{code}"/>'


GTEST_SKIP = ('<testsuites><testsuite name="Heap"><testcase name="Counts" classname="Heap" status="run" '
              'result="skipped"><skipped message="heap_test.cpp:42&#x0A;no allocation hook"/></testcase>'
              '</testsuite></testsuites>')

# (files written, suites given, exit status, a line the table must hold, its last line)
ROWS = {
    "passed, though it printed a skip line": (
        {"host.xml": ctest(case("a", "run", output="skipped: not really"))}, ["host"],
        0, None, "1 passed, 0 failed, 0 skipped"),
    "failed, though it printed a skip line": (
        {"host.xml": ctest(case("a", "fail", '<failure message="Failed"/>', "skipped: not really"))}, ["host"],
        1, "    FAILED: a: Failed", "0 passed, 1 failed, 0 skipped"),
    "skipped by its skip code, with our reason": (
        {"host.xml": ctest(case("a", "notrun", skipped("SKIP_RETURN_CODE=77"), "x\nskipped: needs Wine\n"))}, ["host"],
        0, "    skipped 1: needs Wine (a)", "0 passed, 0 failed, 1 skipped"),
    "skipped, the reason from its gtest report": (
        {"host.xml": ctest(case("Heap.Counts", "notrun", skipped("SKIP_REGULAR_EXPRESSION_MATCHED"))),
         "results/gtest/host/Heap.Counts.xml": GTEST_SKIP}, ["host"],
        0, "    skipped 1: no allocation hook (Heap.Counts)", "0 passed, 0 failed, 1 skipped"),
    "not run for a failed fixture is a failure": (
        {"host.xml": ctest(case("a", "notrun", skipped("Fixture dependency failed")))}, ["host"],
        1, "    FAILED: a: Fixture dependency failed", "0 passed, 1 failed, 0 skipped"),
    "a report of no test": (
        {"host.xml": ctest()}, ["host"], 1, "    FAILED: host: its report holds no test", "0 passed, 1 failed, 0 skipped"),
    "a suite that could not run here, and why": (
        {"win32.skip": "no cross toolchain; run as root: bash scripts/setup all"}, ["win32"],
        0, "    skipped 1: no cross toolchain; run as root: bash scripts/setup all (win32)", "0 passed, 0 failed, 1 skipped"),
    "a fuzz target's finding fails its own row": (
        {"fuzz.status": "failed", "fuzz-verdicts": "library passed 20 900 5 6\nx64-board failed 10 50 7 8\n"}, ["fuzz"],
        1, "    FAILED: x64-board: a finding: its input is in build/fuzz/artifacts/", "1 passed, 1 failed, 0 skipped"),
    "no suites": ({}, [], 1, None, "no suites ran"),
}


@pytest.mark.parametrize("files, suites, status, line, last", ROWS.values(), ids=ROWS.keys())
def test_summary(tmp_path, files, suites, status, line, last):
    for name, text in files.items():
        path = tmp_path / ("results" if "/" not in name else "") / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(text)
    (tmp_path / "results").mkdir(exist_ok=True)
    run = subprocess.run([sys.executable, SUMMARY, "results", *suites], cwd=tmp_path, capture_output=True, text=True)
    table = run.stdout.splitlines()
    assert (run.returncode, table[-1]) == (status, last), run.stdout + run.stderr
    assert line is None or line in table, run.stdout
