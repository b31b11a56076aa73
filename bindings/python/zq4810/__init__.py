"""The four-axis counter board from Python, through 2KZQ4810.dll.

    with zq4810.open() as board:        # initialises; closes when the block ends
        board.reset_counter(0)
        print(board.read_position(0))

On Windows the package loads the DLL of the interpreter's own width from its
own folder, x86/2KZQ4810.dll for a 32-bit Python and x64/2KZQ4810.dll for a
64-bit one, by its absolute path: since Python 3.8 a DLL named without a
folder is looked for neither beside the script nor on PATH. It reads the
file's machine type first, so that a DLL of the other width is one clear
error rather than the system's "not a valid Win32 application" (WinError 193).

On Linux it binds lib2KZQ4810.so, the library built with the simulated
platform (a development build's bindings/lib2KZQ4810.so, found by the dynamic
loader), so that scripts run without a board. On either system the
environment variable ZQ4810_LIBRARY, naming the library file, overrides
where it is looked for.

The library is loaded at the first call, not at import: importing the package
(and help(zq4810)) works where the library is missing, and the first call
then raises OSError saying where it was looked for.

Every function raises DeviceError where the library reports a failure (255
for each failed step): by then the library has shown the user its notice, a
modal message box that waits for a click. The counter calls (read_position,
reset_counter, set_multiplier, change_mode, preset_write) need the board open:
before initialize() has succeeded, or after close(), they raise DeviceError
without reaching the library, which would otherwise show a notice for every
port request and return nonsense. Arguments outside what the board takes
raise ValueError before anything reaches the library. Calls must not overlap:
a program that calls from several threads serialises them.
"""

import ctypes
import enum
import io
import operator
import os
import struct
import sys
from typing import List, Optional, Tuple, Union

__version__ = "1.0.0"

# open() is left out: a star import would hide the built-in open.
__all__ = [
    "DeviceError", "Registration", "Board", "library_path",
    "check_if_driver", "set_base_address", "initialize", "read_position",
    "reset_counter", "set_multiplier", "change_mode", "preset_write",
    "close", "delete", "delete_all",
]

# Each failed step of an operation adds this to its result.
FAILURE = 255
AXES = range(4)
NOT_OPEN = "the board is not open: call initialize() first"

# The exports and their argument counts: every argument and result is a
# 32-bit signed integer.
_EXPORTS = (("AZQ4810CHECKIFDRIVER", 0), ("AZQ4810SETBASEADDRESS", 1),
            ("AZQ4810INITIALIZE", 0), ("AZQ4810READPOSITION", 1),
            ("AZQ4810RESETCOUNTER", 1), ("AZQ4810SETMULTIPLIER", 1),
            ("AZQ4810CHANGEMODE", 2), ("AZQ4810PRWRITE", 2),
            ("AZQ4810CLOSE", 0), ("AZQ4810DELETE", 0), ("AZQ4810DELETEALL", 0))


class DeviceError(Exception):
    """The library reported a failure, after showing its notice; or a counter
    call was refused because the board is not open.

    result is the export's result (255, or 510, 765, 1020 when several steps
    failed), None for a refused call; failed_steps is how many steps failed."""

    def __init__(self, function: str, result: Optional[int], message: Optional[str] = None) -> None:
        self.function, self.result = function, result
        self.failed_steps = 0 if result is None else result // FAILURE
        super().__init__(message or f"{function} failed with {result}; the library has shown its notice")


class Registration(enum.IntEnum):
    """What check_if_driver found."""
    REGISTERED = 0    # the driver's service key was there already
    FIRST_SETUP = 1   # created now: set the base address, then restart Windows
    DECLINED = -1     # created now and the user answered No: removed again


# The machine types of a PE file's header that a DLL of ours can have.
_MACHINES = {0x014C: "x86", 0x8664: "x64"}
_BITS = {"x86": 32, "x64": 64}


def _machine(path: str) -> str:
    """x86 or x64 for a PE file of that machine, a description otherwise."""
    with io.open(path, "rb") as file:
        dos = file.read(64)
        if len(dos) < 64 or dos[:2] != b"MZ":
            return "not a Windows DLL"
        file.seek(struct.unpack_from("<I", dos, 0x3C)[0])
        header = file.read(6)
    if len(header) < 6 or header[:4] != b"PE\0\0":
        return "not a Windows DLL"
    machine = struct.unpack_from("<H", header, 4)[0]
    return _MACHINES.get(machine, f"a DLL for machine type 0x{machine:04X}")


def _checked(path: str, bits: int) -> str:
    """path, once its machine type is found to be that of a Python of this
    width (32 or 64)."""
    width = "x64" if bits == 64 else "x86"
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


def library_path(folder: str, bits: int) -> str:
    """The 2KZQ4810.dll that a Python of this width (32 or 64) loads from
    folder: folder/x86 or folder/x64, checked to be of that width."""
    width = "x64" if bits == 64 else "x86"
    return _checked(os.path.join(os.path.abspath(folder), width, "2KZQ4810.dll"), bits)


_library = None


def _open_library() -> ctypes.CDLL:
    """The library, from ZQ4810_LIBRARY or where this system's copy lies;
    OSError saying where it was looked for when it cannot be loaded."""
    named = os.environ.get("ZQ4810_LIBRARY")
    hint = "set the environment variable ZQ4810_LIBRARY to the library file's full path"
    if sys.platform == "win32":
        bits = struct.calcsize("P") * 8
        here = os.path.dirname(os.path.abspath(__file__))
        try:
            path = _checked(os.path.abspath(named), bits) if named else library_path(here, bits)
            # WinDLL is stdcall on 32-bit Windows, and the one calling
            # convention on x64.
            return ctypes.WinDLL(path)
        except OSError as error:
            where = "which ZQ4810_LIBRARY names" if named else "the package's own copy"
            raise OSError(f"{error} ({where}); reinstall the package, or {hint} "
                          f"(a {bits}-bit 2KZQ4810.dll)") from None
    path = os.path.abspath(named) if named else "lib2KZQ4810.so"
    try:
        return ctypes.CDLL(path)
    except OSError as error:
        where = ("which ZQ4810_LIBRARY names" if named else
                 "looked for by the dynamic loader: LD_LIBRARY_PATH and the system's library folders")
        raise OSError(f"zq4810: cannot load {path} ({where}): {error}; {hint}, "
                      "e.g. a development build's build/host/bindings/lib2KZQ4810.so") from None


def _load() -> ctypes.CDLL:
    """The library, loaded at the first call; a failed load is tried again at
    the next one, so that setting ZQ4810_LIBRARY then helps."""
    global _library
    if _library is None:
        library = _open_library()
        for name, count in _EXPORTS:
            function = getattr(library, name)
            function.argtypes = [ctypes.c_int] * count
            function.restype = ctypes.c_int
        _library = library
    return _library


# Where the device stands, as the library's own handles do: closed (at load
# and after close()), open (after a successful initialize()), or failed (an
# initialize() failed: the read handle may have opened, and close() releases
# it).
_CLOSED, _OPEN, _FAILED = "closed", "open", "failed"
_state = _CLOSED


def _call(name: str, *arguments: int) -> int:
    return getattr(_load(), name)(*arguments)


def _counter(name: str, *arguments: int) -> int:
    """A call that sends port requests: refused unless the board is open."""
    if _state != _OPEN:
        raise DeviceError(name, None, NOT_OPEN)
    return _call(name, *arguments)


def _succeed(result: int, name: str) -> None:
    if result != 0:
        raise DeviceError(name, result)


def _within(what: str, value: int, allowed: Union[range, Tuple[int, ...]]) -> int:
    value = operator.index(value)
    if value not in allowed:
        raise ValueError(f"{what} {value} is not one of {allowed}" if isinstance(allowed, tuple)
                         else f"{what} {value} is not in {allowed.start}..{allowed.stop - 1}")
    return value


def check_if_driver() -> Registration:
    """Whether the driver is registered; on a first setup the library creates
    the registration and asks the user whether to go on. Needs administrator
    rights."""
    result = _call("AZQ4810CHECKIFDRIVER")
    if result == FAILURE:
        raise DeviceError("AZQ4810CHECKIFDRIVER", result)
    return Registration(result)


def set_base_address(base: int) -> None:
    """Registers the board's base I/O address (0..0xFFFF) for the driver,
    which reads it when Windows starts."""
    _succeed(_call("AZQ4810SETBASEADDRESS", _within("base address", base, range(0x10000))), "AZQ4810SETBASEADDRESS")


def initialize() -> List[int]:
    """Opens the device and starts the board: the list of the axes that
    failed their self-test, empty when every axis passed. Calling it again
    reopens the device and starts the board afresh."""
    global _state
    result = _call("AZQ4810INITIALIZE")
    if result == FAILURE:
        _state = _FAILED
        raise DeviceError("AZQ4810INITIALIZE", result)
    _state = _OPEN
    return [axis for axis in AXES if result >> axis & 1]


def read_position(axis: int) -> int:
    """The axis's (0..3) 24-bit count, sign-extended. A failed read is told
    only by the library's notice: the value is then meaningless."""
    return _counter("AZQ4810READPOSITION", _within("axis", axis, AXES))


def reset_counter(axis: int) -> None:
    """Sets the axis's (0..3) counter to zero."""
    _succeed(_counter("AZQ4810RESETCOUNTER", _within("axis", axis, AXES)), "AZQ4810RESETCOUNTER")


def set_multiplier(multiplier: int) -> None:
    """The count multiplier, 1, 2 or 4, of every axis."""
    _succeed(_counter("AZQ4810SETMULTIPLIER", _within("multiplier", multiplier, (1, 2, 4))), "AZQ4810SETMULTIPLIER")


def change_mode(selector: int, mode: int) -> None:
    """Sets mode field selector (0..3), or all four (4), to mode (0..15)."""
    _succeed(_counter("AZQ4810CHANGEMODE", _within("selector", selector, range(5)), _within("mode", mode, range(16))),
             "AZQ4810CHANGEMODE")


def preset_write(axis: int, value: int) -> None:
    """Loads value into the axis's (0..3) 24-bit preset register: a signed
    count (-8388608..8388607) or its unsigned bits (up to 16777215)."""
    axis, value = _within("axis", axis, AXES), _within("preset", value, range(-0x800000, 0x1000000))
    _succeed(_counter("AZQ4810PRWRITE", axis, value), "AZQ4810PRWRITE")


def close() -> None:
    """Closes the device. Refused, like the counter calls, when nothing was
    opened: the library would show a notice for each handle."""
    global _state
    if _state == _CLOSED:
        raise DeviceError("AZQ4810CLOSE", None, NOT_OPEN)
    # The library leaves both handles closed whatever its close reports.
    _state = _CLOSED
    _succeed(_call("AZQ4810CLOSE"), "AZQ4810CLOSE")


def delete() -> None:
    """Removes the driver's service key, which must have no subkeys left."""
    _succeed(_call("AZQ4810DELETE"), "AZQ4810DELETE")


def delete_all() -> None:
    """Removes the driver's registration: its Parameters and Enum subkeys and
    the service key. Close the device first."""
    _succeed(_call("AZQ4810DELETEALL"), "AZQ4810DELETEALL")


class Board:
    """The board that open() has initialised, as a context manager: leaving
    the with block closes it, also when the block raised. Its methods are the
    package's counter calls and close()."""

    def __init__(self, failed_axes: List[int]) -> None:
        self.failed_axes = failed_axes  # what initialize() returned

    def __enter__(self) -> "Board":
        return self

    def __exit__(self, *exception: object) -> None:
        # The block may have closed it already.
        if _state != _CLOSED:
            close()

    read_position = staticmethod(read_position)
    reset_counter = staticmethod(reset_counter)
    set_multiplier = staticmethod(set_multiplier)
    change_mode = staticmethod(change_mode)
    preset_write = staticmethod(preset_write)
    close = staticmethod(close)


# Named as gzip.open and tarfile.open are.
def open() -> Board:
    """Initialises the board (initialize()) and returns it as a Board, for a
    with statement that closes it at the end. The axes that failed their
    self-test are its failed_axes."""
    return Board(initialize())
