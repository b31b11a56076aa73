"""Each check of check-binary fails on a copy of a built file made wrong for
it, with its own message: a check that cannot fail proves nothing.

The build's folder and width come from ZQ4810_BUILD and ZQ4810_WIDTH (the
Windows builds' ctest sets them)."""

import os
import pathlib
import subprocess

import pefile
import pytest

HERE = pathlib.Path(__file__).resolve().parent
CHECK = HERE / "check-binary"
DEF = HERE.parent.parent / "api" / "2KZQ4810.def"
BUILD = pathlib.Path(os.environ.get("ZQ4810_BUILD", "build/win32"))
WIDTH = os.environ.get("ZQ4810_WIDTH", "32")
OTHER_MACHINE = 0x8664 if WIDTH == "32" else 0x14C


# Each change takes the file's bytes and gives the wrong file's.

def header(field, value):
    """A field of the file header or the optional header, as a structure."""
    def change(data):
        pe = pefile.PE(data=data)
        target = pe.FILE_HEADER if hasattr(pe.FILE_HEADER, field) else pe.OPTIONAL_HEADER
        setattr(target, field, value(getattr(target, field)))
        return bytes(pe.write())
    return change


def directory(name, address):
    def change(data):
        pe = pefile.PE(data=data)
        pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY[name]].VirtualAddress = address
        return bytes(pe.write())
    return change


def text(old, new):
    """The first occurrence of a text (8-bit, or UTF-16 with utf16) replaced."""
    def change(data):
        at = data.find(old)
        assert at >= 0, old
        return data[:at] + new + data[at + len(new):]
    return change


def appended(count):
    return lambda data: data + bytes(count)


DLL, BOARD, SIMULATED = "bin/2KZQ4810.dll", "driver/board/ZQ4810.sys", "driver/simulated/ZQ4810.sys"
CLIENT = "bin/zq4810_client_mingw.exe"
CALLS = ["AZQ4810CHANGEMODE", "AZQ4810PRWRITE", "AZQ4810READPOSITION", "AZQ4810RESETCOUNTER", "AZQ4810SETMULTIPLIER"]
DLL_FLAG = 0x2000

# (what, file, the check's arguments after the file, the change, what the check must say)
CASES = [
    ("the other width's machine", DLL, ["dll"], header("Machine", lambda _: OTHER_MACHINE), "image (machine 0x"),
    ("not a DLL", DLL, ["dll"], header("Characteristics", lambda v: v & ~DLL_FLAG), "not marked as a DLL"),
    ("an entry point", DLL, ["dll"], header("AddressOfEntryPoint", lambda _: 0x1000), "has an entry point"),
    ("thread-local callbacks", DLL, ["dll"], directory("IMAGE_DIRECTORY_ENTRY_TLS", 0x1000), "TLS directory"),
    ("a newer Windows asked for", DLL, ["dll"], header("MajorOperatingSystemVersion", lambda v: v + 1),
     "OperatingSystemVersion is"),
    ("an export renamed", DLL, ["dll"], text(b"AZQ4810CLOSE", b"AZQ4810CLOSX"), "exports (name: ordinal)"),
    ("a tenth import", DLL, ["dll"], text(b"MessageBoxA", b"MessageBoxW"), "not the nine system functions"),
    ("the version resource's file name", DLL, ["dll"],
     text("2KZQ4810.dll".encode("utf-16-le"), "2KZQ4811.dll".encode("utf-16-le")), "'2KZQ4811.dll', not"),
    ("too large", DLL, ["dll"], appended(4096), "bytes, over"),
    ("a driver with the DLL flag", BOARD, ["driver", "board"], header("Characteristics", lambda v: v | DLL_FLAG),
     "carries the DLL flag"),
    ("a driver not native", BOARD, ["driver", "board"], header("Subsystem", lambda _: 2), "not a native-subsystem"),
    ("a driver importing from elsewhere", BOARD, ["driver", "board"], text(b"ntoskrnl.exe", b"ntoskrnX.exe"),
     "imports from ntoskrnx.exe"),
    ("the simulated variant taken for the board", SIMULATED, ["driver", "board"], None,
     "imports KeQueryPerformanceCounter"),
    ("the board variant taken for the simulated", BOARD, ["driver", "simulated"], None,
     "the simulated variant" if WIDTH == "64" else "the simulated variant imports the port functions"),
    ("a client missing a function", CLIENT, ["client"] + CALLS[:4], None, "from 2KZQ4810.dll, not"),
    ("a client with a C runtime", CLIENT, ["client", "--only"] + CALLS, None, "imports from other DLLs"),
]


@pytest.mark.parametrize("what, name, arguments, change, said", CASES, ids=[c[0] for c in CASES])
def test_each_check_fails_on_a_file_made_wrong_for_it(tmp_path, what, name, arguments, change, said):
    original = BUILD / name
    if not original.exists():
        pytest.skip("not built: %s" % original)
    wrong = tmp_path / original.name
    data = original.read_bytes()
    wrong.write_bytes(change(data) if change else data)
    kind, rest = arguments[0], arguments[1:]
    command = [str(CHECK), kind, WIDTH, str(wrong)] + (rest if kind != "dll" else [str(DEF)])
    result = subprocess.run(command, capture_output=True, text=True)
    assert result.returncode == 1, result.stdout + result.stderr
    assert said in result.stderr, result.stderr
