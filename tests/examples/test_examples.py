"""The user's README's examples as written, taken from docs/README.md after
their markers (<!-- example: NAME -->), one table: the C example and the
Pascal one built on Linux against lib2KZQ4810.so and run on the simulated
board, each printed value held to what the library itself reads; the
README's MinGW lines run as written in a folder laid out like the release
archive from the win32 and win64 builds; the MSVC lines' import libraries
found there; the README's CMake project built for each width with the
mingw-w64 toolchain, the DLL of its width beside the program. The Python and
C# examples run in the bindings' own suites (python, dotnet).

Run by ctest --preset examples, which names the shared object
(ZQ4810_LIBRARY) and the README (ZQ4810_USER_README)."""

import os
import re
import shutil
import subprocess
import sys

import pytest

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
README = os.environ.get("ZQ4810_USER_README", os.path.join(SOURCE, "docs", "README.md"))
LIBRARY = os.environ.get("ZQ4810_LIBRARY", "")
BUILD = {"x86": os.path.join(SOURCE, "build", "win32"), "x64": os.path.join(SOURCE, "build", "win64")}
TRIPLE = {"x86": "i686-w64-mingw32", "x64": "x86_64-w64-mingw32"}
TOOLCHAIN = {"x86": "mingw-w64-i686.cmake", "x64": "mingw-w64-x86_64.cmake"}
MACHINE = {"x86": 0x014C, "x64": 0x8664}


def example(name):
    """The README's code block after <!-- example: NAME -->."""
    with open(README) as file:
        found = re.search(r"<!-- example: " + re.escape(name) + r" -->\n```[a-z]*\n(.*?)```", file.read(), re.S)
    assert found, f"{README} has no example {name}"
    return found.group(1)


def run(command, **options):
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **options)
    return done.returncode, done.stdout


def why(group):
    """What scripts/setup says of a package group that is not here."""
    return run(["bash", os.path.join(SOURCE, "scripts", "setup"), "why", group])[1].strip()


def needs_program(program, group):
    if shutil.which(program) is None:
        pytest.skip(f"no {program} here: {why(group)}")


def readings(output):
    """The values the examples print for axis 0, in order."""
    return [int(line.rsplit(":", 1)[1]) for line in output.splitlines() if line.startswith("axis 0 ")]


def library_readings():
    """What the library itself reads where the examples print: after the
    start, and after the reset. A process of its own, as each example is."""
    code = ("import ctypes, sys\n"
            "z = ctypes.CDLL(sys.argv[1])\n"
            "assert z.AZQ4810INITIALIZE() == 0\n"
            "first = z.AZQ4810READPOSITION(0)\n"
            "assert z.AZQ4810RESETCOUNTER(0) == 0\n"
            "print(first, z.AZQ4810READPOSITION(0))\n")
    status, output = run([sys.executable, "-c", code, LIBRARY])
    assert status == 0, output
    return [int(value) for value in output.split()]


def on_library(command, folder):
    """Runs a program built against lib2KZQ4810.so; its readings must be the
    library's, the first of them beyond 16 bits (the self-test's pattern)."""
    assert os.path.isfile(LIBRARY), f"no lib2KZQ4810.so at '{LIBRARY}' (build the host preset)"
    status, output = run(command, cwd=folder, env=dict(os.environ, LD_LIBRARY_PATH=os.path.dirname(LIBRARY),
                                                       ZQ4810_SIM=""))
    assert status == 0, output
    expected = library_readings()
    assert not -32768 <= expected[0] <= 32767, expected
    assert readings(output) == expected, output


def with_header(folder):
    """exports.h where the README's #include finds it: include/2KZQ4810/."""
    os.makedirs(os.path.join(folder, "include", "2KZQ4810"))
    shutil.copy(os.path.join(SOURCE, "include", "2KZQ4810", "exports.h"), os.path.join(folder, "include", "2KZQ4810"))


def archive_layout(folder):
    """The archive's x86/, x64/, include/ and lib/ from what the win32 and
    win64 builds install, as scripts/release lays them out."""
    for width, build in BUILD.items():
        if not os.path.isfile(os.path.join(build, "bin", "2KZQ4810.dll")):
            pytest.skip(f"no {build}/bin/2KZQ4810.dll (build the win32 and win64 presets)")
    prefix = os.path.join(folder, "..", "install")
    for build in BUILD.values():
        status, output = run(["cmake", "--install", build, "--prefix", prefix])
        assert status == 0, output
    for width, sub in (("x86", ""), ("x64", "x64")):
        os.makedirs(os.path.join(folder, width))
        shutil.copy(os.path.join(prefix, "bin", sub, "2KZQ4810.dll"), os.path.join(folder, width))
        shutil.copytree(os.path.join(prefix, "lib", sub), os.path.join(folder, "lib", width),
                        ignore=shutil.ignore_patterns("cmake", "x64"))
    shutil.copytree(os.path.join(prefix, "include"), os.path.join(folder, "include"))
    shutil.copytree(os.path.join(prefix, "lib", "cmake"), os.path.join(folder, "lib", "cmake"))


def pe_machine(path):
    with open(path, "rb") as file:
        data = file.read(4096)
    header = int.from_bytes(data[0x3C:0x40], "little")
    assert data[header:header + 4] == b"PE\0\0", f"{path} is not a PE file"
    return int.from_bytes(data[header + 4:header + 6], "little")


def imports_the_dll(path, width):
    status, output = run([f"{TRIPLE[width]}-objdump", "-p", path])
    assert status == 0, output
    assert "DLL Name: 2KZQ4810.dll" in output, f"{path} does not import 2KZQ4810.dll"


# ---- the rows, each (scratch folder, argument) -------------------------------

def c_on_library(folder, _):
    needs_program("gcc", "host")
    with_header(folder)
    with open(os.path.join(folder, "app.c"), "w") as file:
        file.write(example("c"))
    status, output = run(["gcc", "-std=c99", "-Wall", "-Werror", "app.c", "-I", "include", LIBRARY, "-o", "app"],
                         cwd=folder)
    assert status == 0, output
    on_library(["./app"], folder)


def pascal_on_library(folder, _):
    """The README's unit and program in Free Pascal's default mode, where an
    Integer is 16 bits: a declaration that is not LongInt prints the
    pattern's low 16 bits. The unit names the Windows DLL; on Linux the same
    name without its extension finds lib2KZQ4810.so."""
    needs_program("fpc", "bindings")
    unit = example("pascal-unit")
    assert unit.count("'2KZQ4810.dll'") == 1, "the unit names its library once, '2KZQ4810.dll'"
    with open(os.path.join(folder, "ZQ4810.pas"), "w") as file:
        file.write(unit.replace("'2KZQ4810.dll'", "'2KZQ4810'"))
    with open(os.path.join(folder, "FirstReading.pas"), "w") as file:
        file.write(example("pascal"))
    # Linked with the C library, which the shared object needs at exit too.
    status, output = run(["fpc", "-vew", f"-Fl{os.path.dirname(LIBRARY)}", "-k-lc", "FirstReading.pas"], cwd=folder)
    assert status == 0, output
    on_library(["./FirstReading"], folder)


def mingw(folder, width):
    """The README's MinGW line of this width, as written, in the archive's
    folder: a program of that width that imports 2KZQ4810.dll."""
    compiler = f"{TRIPLE[width]}-gcc"
    needs_program(compiler, "cross")
    archive_layout(folder)
    with open(os.path.join(folder, "app.c"), "w") as file:
        file.write(example("c"))
    (line,) = [line for line in example("mingw").splitlines() if line.startswith(compiler + " ")]
    status, output = run(line.split(), cwd=folder)
    assert status == 0, f"{line}\n{output}"
    program = os.path.join(folder, "app.exe")
    assert pe_machine(program) == MACHINE[width]
    imports_the_dll(program, width)


def msvc_libraries(folder, _):
    """Each MSVC line names an import library of the archive, one per width."""
    archive_layout(folder)
    named = [re.search(r"(lib\\\S+\.lib)", line).group(1) for line in example("msvc").splitlines()]
    assert sorted(named) == ["lib\\x64\\2KZQ4810.lib", "lib\\x86\\2KZQ4810.lib"], named
    for path in named:
        assert os.path.isfile(os.path.join(folder, *path.split("\\"))), f"{path} is not in the archive"


def cmake_project(folder, width):
    """The README's CMake project, found through ZQ4810_DIR from the mingw-w64
    toolchain: the program of this width, this width's DLL beside it."""
    needs_program(f"{TRIPLE[width]}-gcc", "cross")
    needs_program("ninja", "host")
    archive = os.path.join(folder, "archive")
    os.makedirs(archive)
    archive_layout(archive)
    project = os.path.join(folder, "app")
    os.makedirs(project)
    with open(os.path.join(project, "CMakeLists.txt"), "w") as file:
        file.write(example("cmake"))
    with open(os.path.join(project, "app.c"), "w") as file:
        file.write(example("c"))
    build = os.path.join(folder, "build")
    status, output = run(["cmake", "-S", project, "-B", build, "-G", "Ninja",
                          f"-DCMAKE_TOOLCHAIN_FILE={os.path.join(SOURCE, 'cmake', TOOLCHAIN[width])}",
                          f"-DZQ4810_DIR={os.path.join(archive, 'lib', 'cmake', 'ZQ4810')}"])
    assert status == 0, output
    status, output = run(["cmake", "--build", build])
    assert status == 0, output
    assert pe_machine(os.path.join(build, "app.exe")) == MACHINE[width]
    with open(os.path.join(build, "2KZQ4810.dll"), "rb") as copied, \
            open(os.path.join(archive, width, "2KZQ4810.dll"), "rb") as shipped:
        assert copied.read() == shipped.read(), f"the DLL beside app.exe is not {width}\\2KZQ4810.dll"


ROWS = [
    ("C on lib2KZQ4810.so", c_on_library, None),
    ("Pascal on lib2KZQ4810.so", pascal_on_library, None),
    ("MinGW x86", mingw, "x86"),
    ("MinGW x64", mingw, "x64"),
    ("MSVC import libraries", msvc_libraries, None),
    ("CMake x86", cmake_project, "x86"),
    ("CMake x64", cmake_project, "x64"),
]


@pytest.mark.parametrize("check, argument", [row[1:] for row in ROWS], ids=[row[0] for row in ROWS])
def test_example(tmp_path, check, argument):
    check(str(tmp_path), argument)
