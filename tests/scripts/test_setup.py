"""scripts/setup's decisions against a fake apt-get, dpkg and id put first on
PATH, so that nothing on this machine is installed or looked at: what apt
does, what setup prints and exits with, and what the closing table then
shows for a suite that needs the group."""

import os
import subprocess
import sys

import pytest

SOURCE = os.path.join(os.path.dirname(__file__), "..", "..")
SETUP = os.path.join(SOURCE, "scripts", "setup")
SUMMARY = os.path.join(SOURCE, "scripts", "test-summary")

# The fakes keep their state in files beside them: the packages not
# installed, those apt cannot install, and a log of every call.
FAKE_DPKG = r"""#!/bin/sh
case $1 in
    -s) grep -qx "$2" "$FAKE/missing" && exit 1
        echo "Package: $2"; echo "Status: install ok installed" ;;
    --print-foreign-architectures) cat "$FAKE/architectures" 2>/dev/null ;;
    --add-architecture) echo "$2" >>"$FAKE/architectures"; echo "dpkg $*" >>"$FAKE/log" ;;
esac
"""
FAKE_APT = r"""#!/bin/sh
echo "apt-get $*" >>"$FAKE/log"
case $1 in
    update)
        [ -s "$FAKE/update-failures" ] || exit 0
        sed -i 1d "$FAKE/update-failures"
        echo "E: Failed to fetch http://mirror/i386/Packages.xz  File has unexpected size (1 != 2). Mirror sync in progress?"
        exit 100 ;;
    install)
        for package; do
            if grep -qx "$package" "$FAKE/broken"; then
                echo "Some packages could not be installed."
                echo "E: Unable to correct problems, you have held broken packages."
                exit 100
            fi
        done
        for package; do sed -i "\|^$package\$|d" "$FAKE/missing"; done ;;
esac
"""
FAKE_ID = "#!/bin/sh\necho 1000\n"

HELD = "Unable to correct problems, you have held broken packages."
RERUN = "rerun as root: bash scripts/setup all"
FETCH = "Failed to fetch http://mirror/i386/Packages.xz  File has unexpected size (1 != 2). Mirror sync in progress?"

# (packages missing, packages apt cannot install, update failures, 32-bit
#  programs run, root, CI) -> (setup's exit status, lines it must print,
#  (suite, groups) checked, the closing table's line for it, the table's
#  last line), and apt calls that must not happen.
ROWS = {
    "all present: nothing asked of apt": (
        dict(missing=[], broken=[], update_failures=0),
        (0, ["setup: host: present", "setup: wine32: present", "setup: release: present"]),
        ("release", ["cross", "release"]), None, None, ["apt-get"]),
    "a failed index update is a warning, tried once more, then the lists there are": (
        dict(missing=["wine64", "osslsigncode"], broken=[], update_failures=2),
        (0, ["setup: WARNING: apt-get update failed: " + FETCH,
             "setup: WARNING: apt-get update failed again: " + FETCH,
             "setup: WARNING: going on with the package lists there are",
             "setup: wine64: installed (wine64)", "setup: release: installed (osslsigncode)"]),
        ("release", ["cross", "release"]), None, None, []),
    "one group apt cannot install leaves the others installed; its suites are skips": (
        dict(missing=["wine32:i386", "osslsigncode", "libunicorn-dev"], broken=["osslsigncode"], update_failures=1),
        (1, ["setup: WARNING: apt-get update failed: " + FETCH, "setup: emulator: installed (libunicorn-dev)",
             "setup: wine32: installed (wine32:i386)", "setup: release: could not be installed: " + HELD]),
        ("release", ["cross", "release"]),
        f"    skipped 1: the release group: could not be installed: {HELD}; {RERUN} (release)",
        "0 passed, 0 failed, 1 skipped", []),
    "under CI a group the shipped binaries' tests need is a failure": (
        dict(missing=["g++-mingw-w64-i686"], broken=["g++-mingw-w64-i686"], update_failures=0, ci=True),
        (1, ["setup: cross: could not be installed: " + HELD]),
        ("emulated", ["host", "cross", "emulator"]),
        f"    FAILED: emulated: the cross group: could not be installed: {HELD}; {RERUN} (required under CI)",
        "0 passed, 1 failed, 0 skipped", []),
    "under CI 32-bit Wine that cannot be installed is a skip": (
        dict(missing=["wine32:i386"], broken=["wine32:i386"], update_failures=0, ci=True),
        (1, ["setup: wine32: could not be installed: " + HELD]),
        ("win32 wine", ["wine32"]),
        f"    skipped 1: the wine32 group: could not be installed: {HELD}; {RERUN} (win32 wine)",
        "0 passed, 0 failed, 1 skipped", []),
    "no 32-bit programs here: 32-bit Wine is never asked for": (
        dict(missing=["wine32:i386"], broken=["wine32:i386"], update_failures=0, runs32=False),
        (0, ["setup: wine32: not for this host: 32-bit execution turned off by ZQ4810_HOST_32BIT=no"]),
        ("win32 wine", ["wine32"]),
        "    skipped 1: the wine32 group: not for this host: 32-bit execution turned off by ZQ4810_HOST_32BIT=no"
        " (win32 wine)", "0 passed, 0 failed, 1 skipped", ["apt-get", "dpkg --add-architecture"]),
    "i386 packages on a host without the architecture add it first": (
        dict(missing=["wine32:i386"], broken=[], update_failures=0, architectures=""),
        (0, ["setup: wine32: installed (wine32:i386)"]),
        ("release", ["release"]), None, None, []),
    "not root: the missing packages and the one command that installs them": (
        dict(missing=["mono-mcs", "fp-compiler"], broken=[], update_failures=0, root=False),
        (1, ["setup: bindings: missing: mono-mcs fp-compiler not installed; run as root: bash scripts/setup all",
             "setup: missing packages: fp-compiler mono-mcs; run as root to install them: bash scripts/setup all"]),
        ("dotnet", ["bindings"]),
        "    skipped 1: the bindings group: mono-mcs fp-compiler not installed; run as root: bash scripts/setup all"
        " (dotnet)", "0 passed, 0 failed, 1 skipped", ["apt-get"]),
}


@pytest.mark.parametrize("given, setup, needs, line, last, never", ROWS.values(), ids=ROWS.keys())
def test_setup(tmp_path, given, setup, needs, line, last, never):
    fake = tmp_path / "fake"
    fake.mkdir()
    for name, text in (("dpkg", FAKE_DPKG), ("apt-get", FAKE_APT)) + ((("id", FAKE_ID),) if not given.get("root", True) else ()):
        (fake / name).write_text(text)
        (fake / name).chmod(0o755)
    (fake / "missing").write_text("".join(p + "\n" for p in given["missing"]))
    (fake / "broken").write_text("".join(p + "\n" for p in given["broken"]))
    (fake / "update-failures").write_text("x\n" * given["update_failures"])
    (fake / "architectures").write_text(given.get("architectures", "i386\n"))
    (fake / "log").write_text("")
    env = dict(os.environ, PATH=f"{fake}:{os.environ['PATH']}", FAKE=str(fake),
               ZQ4810_SETUP_REPORT=str(tmp_path / "setup-report"),
               ZQ4810_HOST_32BIT="yes" if given.get("runs32", True) else "no")
    env.pop("CI", None)
    if given.get("ci"):
        env["CI"] = "true"
    done = subprocess.run(["bash", SETUP, "all"], env=env, capture_output=True, text=True)
    printed = (done.stdout + done.stderr).splitlines()
    status, lines = setup
    assert done.returncode == status, "\n".join(printed)
    for expected in lines:
        assert expected in printed, "\n".join(printed)
    log = (fake / "log").read_text()
    for call in never:
        assert call not in log, log
    if given.get("architectures") == "":
        assert log.index("dpkg --add-architecture i386") < log.index("apt-get install"), log

    # A later run for one group keeps what this one said of the others.
    subprocess.run(["bash", SETUP, "demo"], env=env, capture_output=True)
    results = tmp_path / "results"
    results.mkdir()
    suite, groups = needs
    subprocess.run(["bash", SETUP, "needs", str(results), suite, *groups], env=env, capture_output=True)
    table = subprocess.run([sys.executable, SUMMARY, str(results), suite], capture_output=True, text=True)
    rows = table.stdout.splitlines()
    if line is None:
        # Every group there: the suite would run, and the table, given no
        # report of it, counts it as a failure, never as a pass.
        assert rows[-1] == "0 passed, 1 failed, 0 skipped", table.stdout
    else:
        assert line in rows and rows[-1] == last, table.stdout
