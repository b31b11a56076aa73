"""The four-axis counter board from Python, through 2KZQ4810.dll.

On Windows the package loads the DLL of the interpreter's own width from its
own folder, x86/2KZQ4810.dll for a 32-bit Python and x64/2KZQ4810.dll for a
64-bit one, by its absolute path: since Python 3.8 a DLL named without a
folder is looked for neither beside the script nor on PATH. It reads the
file's machine type first, so that a DLL of the other width is one clear
error rather than the system's "not a valid Win32 application" (WinError 193).

On Linux it binds lib2KZQ4810.so, the library built with the simulated
platform (a development build's bindings/lib2KZQ4810.so, named by the
environment variable ZQ4810_LIBRARY or found by the dynamic loader), so that
scripts run without a board.

Every function raises DeviceError where the library reports a failure (255
for each failed step): by then the library has shown the user its notice, a
modal message box that waits for a click. Arguments outside what the board
takes raise ValueError before anything reaches the library. Calls must not
overlap: a program that calls from several threads serialises them.
"""

import ctypes
import enum
import operator
import os
import struct
import sys

__all__ = [
    "DeviceError", "Registration", "library_path",
    "check_if_driver", "set_base_address", "initialize", "read_position",
    "reset_counter", "set_multiplier", "change_mode", "preset_write",
    "close", "delete", "delete_all",
]

# Each failed step of an operation adds this to its result.
FAILURE = 255
AXES = range(4)


class DeviceError(Exception):
    """The library reported a failure, after showing its notice.

    result is the export's result (255, or 510, 765, 1020 when several steps
    failed); failed_steps is how many steps failed."""

    def __init__(self, function, result):
        self.function, self.result = function, result
        self.failed_steps = result // FAILURE
        super().__init__(f"{function} failed with {result}; the library has shown its notice")


class Registration(enum.IntEnum):
    """What check_if_driver found."""
    REGISTERED = 0    # the driver's service key was there already
    FIRST_SETUP = 1   # created now: set the base address, then restart Windows
    DECLINED = -1     # created now and the user answered No: removed again


# The machine types of a PE file's header that a DLL of ours can have.
_MACHINES = {0x014C: "x86", 0x8664: "x64"}
_BITS = {"x86": 32, "x64": 64}


def _machine(path):
    """x86 or x64 for a PE file of that machine, a description otherwise."""
    with open(path, "rb") as file:
        dos = file.read(64)
        if len(dos) < 64 or dos[:2] != b"MZ":
            return "not a Windows DLL"
        file.seek(struct.unpack_from("<I", dos, 0x3C)[0])
        header = file.read(6)
    if len(header) < 6 or header[:4] != b"PE\0\0":
        return "not a Windows DLL"
    machine = struct.unpack_from("<H", header, 4)[0]
    return _MACHINES.get(machine, f"a DLL for machine type 0x{machine:04X}")


def library_path(folder, bits):
    """The 2KZQ4810.dll that a Python of this width (32 or 64) loads from
    folder: folder/x86 or folder/x64, checked to be of that width."""
    width = "x64" if bits == 64 else "x86"
    path = os.path.join(os.path.abspath(folder), width, "2KZQ4810.dll")
    try:
        found = _machine(path)
    except OSError as error:
        raise OSError(f"zq4810: cannot read {path}: {error.strerror}") from None
    if found != width:
        what = f"the {_BITS[found]}-bit ({found}) DLL" if found in _BITS else found
        raise OSError(
            f"zq4810: {path} is {what}, but this Python is {bits}-bit and needs the "
            f"{bits}-bit ({width}) one: x86 holds the 32-bit 2KZQ4810.dll, x64 the 64-bit one")
    return path


def _load():
    if sys.platform == "win32":
        here = os.path.dirname(os.path.abspath(__file__))
        return ctypes.WinDLL(library_path(here, struct.calcsize("P") * 8))
    return ctypes.CDLL(os.environ.get("ZQ4810_LIBRARY", "lib2KZQ4810.so"))


_library = _load()
# The exports and their argument counts: every argument and result is a
# 32-bit signed integer. WinDLL is stdcall on 32-bit Windows, and the one
# calling convention on x64.
for _name, _count in (("AZQ4810CHECKIFDRIVER", 0), ("AZQ4810SETBASEADDRESS", 1),
                      ("AZQ4810INITIALIZE", 0), ("AZQ4810READPOSITION", 1),
                      ("AZQ4810RESETCOUNTER", 1), ("AZQ4810SETMULTIPLIER", 1),
                      ("AZQ4810CHANGEMODE", 2), ("AZQ4810PRWRITE", 2),
                      ("AZQ4810CLOSE", 0), ("AZQ4810DELETE", 0), ("AZQ4810DELETEALL", 0)):
    _function = getattr(_library, _name)
    _function.argtypes = [ctypes.c_int] * _count
    _function.restype = ctypes.c_int
del _name, _count, _function


def _call(name, *arguments):
    return getattr(_library, name)(*arguments)


def _succeed(name, *arguments):
    result = _call(name, *arguments)
    if result != 0:
        raise DeviceError(name, result)


def _within(what, value, allowed):
    value = operator.index(value)
    if value not in allowed:
        raise ValueError(f"{what} {value} is not one of {allowed}" if isinstance(allowed, tuple)
                         else f"{what} {value} is not in {allowed.start}..{allowed.stop - 1}")
    return value


def check_if_driver():
    """Whether the driver is registered; on a first setup the library creates
    the registration and asks the user whether to go on. Needs administrator
    rights."""
    result = _call("AZQ4810CHECKIFDRIVER")
    if result == FAILURE:
        raise DeviceError("AZQ4810CHECKIFDRIVER", result)
    return Registration(result)


def set_base_address(base):
    """Registers the board's base I/O address (0..0xFFFF) for the driver,
    which reads it when Windows starts."""
    _succeed("AZQ4810SETBASEADDRESS", _within("base address", base, range(0x10000)))


def initialize():
    """Opens the device and starts the board: the list of the axes that
    failed their self-test, empty when every axis passed."""
    result = _call("AZQ4810INITIALIZE")
    if result == FAILURE:
        raise DeviceError("AZQ4810INITIALIZE", result)
    return [axis for axis in AXES if result >> axis & 1]


def read_position(axis):
    """The axis's 24-bit count, sign-extended. A failed read is told only by
    the library's notice: the value is then meaningless."""
    return _call("AZQ4810READPOSITION", _within("axis", axis, AXES))


def reset_counter(axis):
    _succeed("AZQ4810RESETCOUNTER", _within("axis", axis, AXES))


def set_multiplier(multiplier):
    """The count multiplier, 1, 2 or 4, of every axis."""
    _succeed("AZQ4810SETMULTIPLIER", _within("multiplier", multiplier, (1, 2, 4)))


def change_mode(selector, mode):
    """Sets mode field selector (0..3), or all four (4), to mode (0..15)."""
    _succeed("AZQ4810CHANGEMODE", _within("selector", selector, range(5)), _within("mode", mode, range(16)))


def preset_write(axis, value):
    """Loads value into the axis's 24-bit preset register: a signed count
    (-8388608..8388607) or its unsigned bits (up to 16777215)."""
    _succeed("AZQ4810PRWRITE", _within("axis", axis, AXES), _within("preset", value, range(-0x800000, 0x1000000)))


def close():
    _succeed("AZQ4810CLOSE")


def delete():
    """Removes the driver's service key, which must have no subkeys left."""
    _succeed("AZQ4810DELETE")


def delete_all():
    """Removes the driver's registration: its Parameters and Enum subkeys and
    the service key. Close the device first."""
    _succeed("AZQ4810DELETEALL")
