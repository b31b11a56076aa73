"""The package against lib2KZQ4810.so: one table of calls, each row with the
simulator's settings (ZQ4810_SIM) it needs and the outcome it must give: a
value, or the exception and the library's result. The simulator reads its
settings once, when the library is loaded, so every row runs in a process of
its own, forked before the package is imported. The width rows read the
Windows builds' DLLs where those are built; the README rows run the user's
README's examples as written.

Run by ctest --preset python, which names the shared object (ZQ4810_LIBRARY),
the two DLLs (ZQ4810_WIN32_DLL, ZQ4810_WIN64_DLL), the user's README
(ZQ4810_README, docs/README.md) and the project's version (ZQ4810_VERSION)."""

import contextlib
import ctypes
import enum
import io
import os
import pickle
import pydoc
import re
import shutil
import sys
import tempfile

import pytest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

DLL32 = os.environ.get("ZQ4810_WIN32_DLL", "")
DLL64 = os.environ.get("ZQ4810_WIN64_DLL", "")
README = os.environ.get("ZQ4810_README", "")


def value(v):
    return ("value", v, "")


def device_error(result):
    return ("DeviceError", result, "")


REFUSED = ("ValueError", None, "")
# Refused before the library: no notice.
NOT_OPEN = ("DeviceError", None, r"^the board is not open: call initialize\(\) first$")
# The width check's one error names both widths.
WRONG_WIDTH = ("OSError", None, r"is the (32-bit \(x86\)|64-bit \(x64\)) DLL, but this Python is (64|32)-bit")


def width(dll, bits):
    """The folder's name that library_path chooses for a Python of this width
    when both folders hold dll: only the width decides."""
    import zq4810
    folder = tempfile.mkdtemp()
    try:
        for name in ("x86", "x64"):
            os.mkdir(os.path.join(folder, name))
            shutil.copy(dll, os.path.join(folder, name, "2KZQ4810.dll"))
        return os.path.basename(os.path.dirname(zq4810.library_path(folder, bits)))
    finally:
        shutil.rmtree(folder)


def readme_example(name):
    """The user's README's example after <!-- example: NAME -->."""
    with open(README) as file:
        found = re.search(r"<!-- example: " + name + r" -->\n```python\n(.*?)```", file.read(), re.S)
    assert found, f"{README} has no example {name}"
    return found.group(1)


def readings(code, names):
    """Runs an example: the values it prints for axis 0, in order."""
    printed = io.StringIO()
    with contextlib.redirect_stdout(printed):
        exec(code, names)
    return [int(line.rsplit(" ", 1)[1]) for line in printed.getvalue().splitlines() if line.startswith("axis 0 ")]


def run_readme_package(z):
    return readings(readme_example("python-package"), {"__name__": "__main__"})


def run_readme_ctypes(z):
    """The plain ctypes example, its WinDLL a stand-in that holds it to an
    absolute path of this Python's width and binds the shared object."""
    def win_dll(path):
        assert os.path.isabs(path) and path.endswith(os.path.join("x64", "2KZQ4810.dll")), path
        return ctypes.CDLL(os.environ["ZQ4810_LIBRARY"])
    ctypes.WinDLL = win_dll
    return readings(readme_example("python-ctypes"), {"__name__": "__main__", "__file__": "/opt/app/app.py"})


def without_library(named):
    """A fresh import where ZQ4810_LIBRARY names named (None: unset, so
    that the dynamic loader finds nothing), its help, then a call."""
    if named is None:
        del os.environ["ZQ4810_LIBRARY"]
    else:
        os.environ["ZQ4810_LIBRARY"] = named
    del sys.modules["zq4810"]
    import zq4810
    pydoc.render_doc(zq4810)
    zq4810.initialize()


def after_failed_initialize(z):
    try:
        z.initialize()
    except z.DeviceError:
        pass
    return z.read_position(0)


def block_raises(z):
    """Leaves a with block by an exception, which must go on; then the
    library's own close, which fails for both handles (510) when nothing is
    open any more."""
    try:
        with z.open():
            raise KeyError("in the block")
    except KeyError:
        return z._load().AZQ4810CLOSE()


def with_block(z):
    with z.open() as board:
        board.reset_counter(1)
        return board.failed_axes, board.read_position(1)


def sequence(*steps):
    """The calls in order: the last one's result."""
    return lambda z: [step(z) for step in steps][-1]


ROWS = [
    # (name, ZQ4810_SIM, action on the package, expected outcome, file needed)
    ("first setup", "", lambda z: z.check_if_driver(), value("Registration.FIRST_SETUP"), None),
    ("first setup declined", "answer=no", lambda z: z.check_if_driver(), value("Registration.DECLINED"), None),
    ("registered already", "registered", lambda z: z.check_if_driver(), value("Registration.REGISTERED"), None),
    ("registry fails", "registry-fails", lambda z: z.check_if_driver(), device_error(255), None),
    ("base address", "", lambda z: z.set_base_address(0x300), value(None), None),
    ("base address, registry fails", "registry-fails", lambda z: z.set_base_address(0x300), device_error(255), None),
    # The library itself would write it.
    ("base address beyond the I/O space", "", lambda z: z.set_base_address(0x10000), REFUSED, None),
    ("every axis passes", "", lambda z: z.initialize(), value([]), None),
    ("axis 2 fails its self-test", "axis-fails=2", lambda z: z.initialize(), value([2]), None),
    ("no device", "no-device", lambda z: z.initialize(), device_error(255), None),
    # The self-test leaves its pattern 0xDA5712 in the counter: negative in 24 bits.
    ("the pattern, sign-extended", "", sequence(lambda z: z.initialize(), lambda z: z.read_position(3)),
     value(0xDA5712 - 0x1000000), None),
    ("reset, then read", "", sequence(lambda z: z.initialize(), lambda z: z.reset_counter(1),
                                      lambda z: z.read_position(1)), value(0), None),
    ("axis 4", "", lambda z: z.read_position(4), REFUSED, None),
    # INITIALIZE makes 62 requests: the 63rd is the reset's.
    ("a failed request", "request-fails=63", sequence(lambda z: z.initialize(), lambda z: z.reset_counter(0)),
     device_error(255), None),
    ("multiplier", "", sequence(lambda z: z.initialize(), lambda z: z.set_multiplier(4)), value(None), None),
    ("four failed writes", "requests-fail-from=63", sequence(lambda z: z.initialize(), lambda z: z.set_multiplier(2)),
     device_error(1020), None),
    ("multiplier 3", "", lambda z: z.set_multiplier(3), REFUSED, None),
    ("all modes", "", sequence(lambda z: z.initialize(), lambda z: z.change_mode(4, 5)), value(None), None),
    # The library itself takes these as a write of nothing and of the low 24 bits.
    ("selector 5", "", lambda z: z.change_mode(5, 0), REFUSED, None),
    ("mode 16", "", lambda z: z.change_mode(0, 16), REFUSED, None),
    ("preset", "", sequence(lambda z: z.initialize(), lambda z: z.preset_write(0, -5)), value(None), None),
    ("preset beyond 24 bits", "", lambda z: z.preset_write(0, 1 << 24), REFUSED, None),
    ("close", "", sequence(lambda z: z.initialize(), lambda z: z.close()), value(None), None),
    # Without an open board the library shows a notice for every port request.
    ("read before initialize", "", lambda z: z.read_position(0), NOT_OPEN, None),
    ("reset after close", "", sequence(lambda z: z.initialize(), lambda z: z.close(), lambda z: z.reset_counter(0)),
     NOT_OPEN, None),
    ("close before initialize", "", lambda z: z.close(), NOT_OPEN, None),
    ("read after a failed initialize", "no-device", after_failed_initialize, NOT_OPEN, None),
    ("with block", "axis-fails=2", with_block, value(([2], 0)), None),
    ("with block left by an exception", "", block_raises, value(510), None),
    ("no library found", "", lambda z: without_library(None),
     ("OSError", None, r"lib2KZQ4810\.so.*ZQ4810_LIBRARY"), None),
    ("ZQ4810_LIBRARY names no file", "", lambda z: without_library("/nonexistent/lib2KZQ4810.so"),
     ("OSError", None, r"/nonexistent/lib2KZQ4810\.so.*ZQ4810_LIBRARY"), None),
    ("version", "", lambda z: z.__version__, value(os.environ.get("ZQ4810_VERSION")), None),
    ("remove", "registered", lambda z: z.delete_all(), value(None), None),
    ("service key with subkeys", "registered", lambda z: z.delete(), device_error(255), None),
    ("nothing to remove", "", lambda z: z.delete_all(), device_error(765), None),
    ("32-bit DLL, 32-bit Python", "", lambda z: width(DLL32, 32), value("x86"), DLL32),
    ("64-bit DLL, 64-bit Python", "", lambda z: width(DLL64, 64), value("x64"), DLL64),
    ("32-bit DLL, 64-bit Python", "", lambda z: width(DLL32, 64), WRONG_WIDTH, DLL32),
    ("64-bit DLL, 32-bit Python", "", lambda z: width(DLL64, 32), WRONG_WIDTH, DLL64),
    # The examples print the pattern the self-test left, then 0 after the reset.
    ("README: the package", "", run_readme_package, value([0xDA5712 - 0x1000000, 0]), README),
    ("README: plain ctypes by absolute path", "", run_readme_ctypes, value([0xDA5712 - 0x1000000, 0]), README),
]


def in_child(sim, action):
    """action(zq4810) in a forked process whose simulator has the settings
    sim: (outcome, result, message) and what it wrote to standard error."""
    read_end, write_end = os.pipe()
    errors = tempfile.TemporaryFile()
    pid = os.fork()
    if pid == 0:
        os.close(read_end)
        os.dup2(errors.fileno(), 2)
        try:
            os.environ["ZQ4810_SIM"] = sim
            import zq4810
            try:
                result = action(zq4810)
                # Plain values only: the parent never imports the package.
                if isinstance(result, enum.Enum):
                    result = f"{type(result).__name__}.{result.name}"
                outcome = ("value", result, "")
            except Exception as error:
                outcome = (type(error).__name__, getattr(error, "result", None), str(error))
        except BaseException as error:
            outcome = ("broken", None, repr(error))
        os.write(write_end, pickle.dumps(outcome))
        os._exit(0)
    os.close(write_end)
    with os.fdopen(read_end, "rb") as pipe:
        data = pipe.read()
    os.waitpid(pid, 0)
    errors.seek(0)
    return (pickle.loads(data) if data else ("died", None, "")), errors.read().decode(errors="replace")


@pytest.mark.parametrize("sim, action, expected, needs", [row[1:] for row in ROWS], ids=[row[0] for row in ROWS])
def test_call(sim, action, expected, needs):
    if needs is not None and not os.path.isfile(needs):
        pytest.skip(f"no {needs or 'file'} here (build the win32 and win64 presets)")
    (kind, result, message), errors = in_child(sim, action)
    assert (kind, result) == expected[:2], message
    assert re.search(expected[2], message), message
    if kind == "DeviceError" and result is None:
        # Refused before the library: none of the notices of a request or a
        # close on handles that are not open.
        assert not re.search(r"\] (Ioctl failed|Failed to close)", errors), errors
    elif kind == "DeviceError":
        # Its notice came first.
        assert "[" in errors, "no notice was shown"
