"""The release archive as a user gets it: unpacked into a fresh folder, one
table of checks. Its files are exactly the ones listed; every PE file's
machine is its folder's; SHA256SUMS holds; each driver's signature verifies,
fails on a copy with one byte changed, and taken off leaves the build's own
file; the drivers keep the rules memory integrity reads from a file; the
CMake package builds an application of each width; the end-to-end run under
Wine passes on the unpacked files; each wheel is tagged for its Windows and
holds the package with the DLL of that width; README.md is the user's README,
and every archive path it and INSTALL.md name is in the archive; and the
release command makes the same bytes again.

Run after scripts/release (scripts/test does both):
    pytest-3 -p no:cacheprovider tests/release
ZQ4810_RELEASE_ARCHIVE names the archive (by default the one in
build/release); the builds it came from are build/win32 and build/win64."""

import glob
import hashlib
import os
import re
import shutil
import struct
import subprocess
import zipfile

import pytest

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = {"x86": os.path.join(SOURCE, "build", "win32"), "x64": os.path.join(SOURCE, "build", "win64")}
TOOLCHAIN = {"x86": "mingw-w64-i686.cmake", "x64": "mingw-w64-x86_64.cmake"}
MACHINE = {"x86": 0x014C, "x64": 0x8664}
DRIVERS = [f"{width}/drivers/{variant}/ZQ4810.sys" for width in ("x86", "x64") for variant in ("board", "simulated")]
WIDTH_FILES = ["2KZQ4810.dll", "zq4810.exe", "drivers/board/ZQ4810.sys", "drivers/simulated/ZQ4810.sys"]
LIB_FILES = ["lib2KZQ4810.dll.a", "2KZQ4810.lib", "2KZQ4810.def"]
# The platform tag of the Python wheel for each width.
WHEEL_TAG = {"x86": "win32", "x64": "win_amd64"}


def archive_path():
    named = os.environ.get("ZQ4810_RELEASE_ARCHIVE")
    if named:
        return named
    found = glob.glob(os.path.join(SOURCE, "build", "release", "2KZQ4810-*-windows.zip"))
    assert len(found) == 1, f"one archive expected in build/release, found {found}: run scripts/release"
    return found[0]


def version(root):
    """The version in the name of the archive's folder, 2KZQ4810-VERSION-windows."""
    return os.path.basename(root)[len("2KZQ4810-"):-len("-windows")]


def wheel_name(root, width):
    return f"zq4810-{version(root)}-py3-none-{WHEEL_TAG[width]}.whl"


def expected_files(root):
    return sorted(
        ["INSTALL.md", "README.md", "SHA256SUMS", "driver-certificate.cer", "include/2KZQ4810/exports.h",
         "lib/cmake/ZQ4810/ZQ4810Config.cmake", "lib/cmake/ZQ4810/ZQ4810ConfigVersion.cmake",
         "bindings/dotnet/ZQ4810.cs", "bindings/python/pyproject.toml", "bindings/python/zq4810/__init__.py",
         "bindings/python/zq4810/x86/2KZQ4810.dll", "bindings/python/zq4810/x64/2KZQ4810.dll",
         f"bindings/python/{wheel_name(root, 'x86')}", f"bindings/python/{wheel_name(root, 'x64')}"]
        + [f"{width}/{file}" for width in ("x86", "x64") for file in WIDTH_FILES]
        + [f"lib/{width}/{file}" for width in ("x86", "x64") for file in LIB_FILES])


@pytest.fixture(scope="module")
def unpacked(tmp_path_factory):
    """The archive's one folder, unpacked into a fresh one."""
    folder = tmp_path_factory.mktemp("unpacked")
    with zipfile.ZipFile(archive_path()) as archive:
        archive.extractall(folder)
    (top,) = os.listdir(folder)
    return os.path.join(folder, top)


def read(path):
    with open(path, "rb") as file:
        return file.read()


def pe(path):
    """(machine, section alignment, DLL characteristics, [(section, flags)])."""
    data = read(path)
    assert data[:2] == b"MZ", f"{path} is not a PE file"
    header = struct.unpack_from("<I", data, 0x3C)[0]
    assert data[header:header + 4] == b"PE\0\0", f"{path} is not a PE file"
    machine, count, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, header + 4)
    optional = header + 24
    alignment = struct.unpack_from("<I", data, optional + 32)[0]
    dll_characteristics = struct.unpack_from("<H", data, optional + 70)[0]
    table = optional + optional_size
    sections = [(data[at:at + 8].rstrip(b"\0").decode(), struct.unpack_from("<I", data, at + 36)[0])
                for at in range(table, table + 40 * count, 40)]
    return machine, alignment, dll_characteristics, sections


def run(*command, **options):
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **options)
    return done.returncode, done.stdout


# ---- the checks, each (unpacked folder, argument) ---------------------------

def contents(root, _):
    found = sorted(os.path.relpath(os.path.join(folder, name), root)
                   for folder, _, names in os.walk(root) for name in names)
    assert found == expected_files(root)


def machine(root, file):
    width = "x64" if "x64/" in file else "x86"
    assert pe(os.path.join(root, file))[0] == MACHINE[width], f"{file} is not an {width} file"


def checksums(root, _):
    status, output = run("sha256sum", "--check", "--strict", "SHA256SUMS", cwd=root)
    assert status == 0, output
    listed = sorted(line.split("  ", 1)[1] for line in read(os.path.join(root, "SHA256SUMS")).decode().splitlines())
    assert listed == [f for f in expected_files(root) if f != "SHA256SUMS"]


def certificate(root):
    """The archive's certificate as PEM, for osslsigncode's trust."""
    pem = os.path.join(root, "..", "driver-certificate.pem")
    status, output = run("openssl", "x509", "-inform", "DER", "-in", os.path.join(root, "driver-certificate.cer"),
                         "-out", pem)
    assert status == 0, output
    return pem


def signature_verifies(root, driver):
    status, output = run("osslsigncode", "verify", "-CAfile", certificate(root), "-in", os.path.join(root, driver))
    assert status == 0 and "Signature verification: ok" in output, output


def changed_byte_fails(root, driver):
    data = bytearray(read(os.path.join(root, driver)))
    data[len(data) // 4] ^= 0x01  # inside the code, ahead of the signature
    changed = os.path.join(root, "..", "changed.sys")
    with open(changed, "wb") as file:
        file.write(data)
    status, output = run("osslsigncode", "verify", "-CAfile", certificate(root), "-in", changed)
    assert status != 0, f"a copy with one byte changed still verifies:\n{output}"


def unsigned_is_the_build(root, driver):
    bare = os.path.join(root, "..", "unsigned.sys")
    if os.path.exists(bare):
        os.remove(bare)
    status, output = run("osslsigncode", "remove-signature", "-in", os.path.join(root, driver), "-out", bare)
    assert status == 0, output
    width, _, variant, _ = driver.split("/")
    built = os.path.join(BUILD[width], "driver", variant, "ZQ4810.sys")
    assert read(bare) == read(built), f"{driver} without its signature is not {built}"


def memory_integrity_rules(root, driver):
    """What memory integrity asks of a driver's file: page-aligned sections,
    none both writable and executable, the image NX-compatible."""
    _, alignment, characteristics, sections = pe(os.path.join(root, driver))
    assert alignment % 4096 == 0, f"section alignment {alignment:#x}"
    assert characteristics & 0x0100, "not marked NX-compatible"
    both = [name for name, flags in sections if flags & 0x80000000 and flags & 0x20000000]
    assert not both, f"writable and executable: {both}"


def cmake_consumer(root, width):
    """An application's build with find_package(ZQ4810) against the unpacked
    tree: a program of this width, with this width's DLL copied beside it."""
    build = os.path.join(root, "..", f"consumer-{width}")
    status, output = run("cmake", "-S", os.path.join(SOURCE, "tests", "windows", "consumer"), "-B", build, "-G", "Ninja",
                         f"-DCMAKE_TOOLCHAIN_FILE={os.path.join(SOURCE, 'cmake', TOOLCHAIN[width])}",
                         f"-DZQ4810_DIR={os.path.join(root, 'lib', 'cmake', 'ZQ4810')}")
    assert status == 0, output
    status, output = run("cmake", "--build", build)
    assert status == 0, output
    assert pe(os.path.join(build, "consumer.exe"))[0] == MACHINE[width]
    assert read(os.path.join(build, "2KZQ4810.dll")) == read(os.path.join(root, width, "2KZQ4810.dll"))


def end_to_end(root, width):
    """tests/e2e/run on the unpacked drivers, DLL and tool (with the build's
    test application): 64-bit Wine with the unpacked 32-bit files under
    WOW64, or 32-bit Wine where the host runs it."""
    files = [os.path.join(root, width, f) for f in ("drivers/simulated/ZQ4810.sys", "drivers/board/ZQ4810.sys",
                                                    "2KZQ4810.dll")]
    files += [os.path.join(BUILD[width], "bin", "zq4810_e2e.exe"), os.path.join(root, width, "zq4810.exe"),
              os.path.join(root, "..", f"e2e-{width}")]
    e2e = os.path.join(SOURCE, "tests", "e2e", "run")
    if width == "x64":
        status, output = run("bash", e2e, "--win64", "--wow64", os.path.join(root, "x86"), *files)
    else:
        status, output = run("bash", os.path.join(SOURCE, "scripts", "probe-host"), "exec", "bash", e2e, *files)
    if status == 77:
        pytest.skip(next((line for line in output.splitlines() if line.startswith("skipped: ")), output)[9:])
    assert status == 0, output


def wheel(root, width):
    """The wheel for this width: tagged for its Windows in its name (what pip
    chooses by) and its WHEEL file, holding the package with this width's
    DLL only."""
    with zipfile.ZipFile(os.path.join(root, "bindings", "python", wheel_name(root, width))) as archive:
        names = sorted(archive.namelist())
        package = [n for n in names if not n.startswith("zq4810-")]
        assert package == ["zq4810/__init__.py", f"zq4810/{width}/2KZQ4810.dll"], names
        for name in package:
            assert archive.read(name) == read(os.path.join(root, "bindings", "python", name)), name
        assert archive.read(f"zq4810/{width}/2KZQ4810.dll") == read(os.path.join(root, width, "2KZQ4810.dll"))
        tags = [line for line in archive.read(f"zq4810-{version(root)}.dist-info/WHEEL").decode().splitlines()
                if line.startswith("Tag: ")]
        assert tags == [f"Tag: py3-none-{WHEEL_TAG[width]}"], tags


def documents(root, name):
    """The user's documents as shipped, and every file or folder of the
    archive they name (`x64\\2KZQ4810.dll`, `lib\\cmake\\ZQ4810\\`, ...) there."""
    source = {"README.md": "docs/README.md", "INSTALL.md": "docs/INSTALL.md"}[name]
    text = read(os.path.join(root, name))
    assert text == read(os.path.join(SOURCE, source)), f"{name} is not {source}"
    named = set(re.findall(r"`((?:x86|x64|lib|include|bindings)\\[^`\s]*)`", text.decode()))
    assert named, f"{name} names no file of the archive"
    missing = sorted(path for path in named if not os.path.exists(os.path.join(root, *path.split("\\"))))
    assert not missing, f"{name} names what the archive does not hold: {missing}"


def same_again(root, _):
    again = os.path.join(root, "..", "again")
    status, output = run("bash", os.path.join(SOURCE, "scripts", "release"), "--output", again)
    assert status == 0, output
    first = archive_path()
    second = os.path.join(again, os.path.basename(first))
    assert hashlib.sha256(read(second)).hexdigest() == hashlib.sha256(read(first)).hexdigest(), \
        f"{second} differs from {first}"
    shutil.rmtree(again)


ROWS = ([("contents", contents, None)]
        + [(f"machine {file}", machine, file)
           for file in [f"{w}/{f}" for w in ("x86", "x64") for f in WIDTH_FILES]
           + ["bindings/python/zq4810/x86/2KZQ4810.dll", "bindings/python/zq4810/x64/2KZQ4810.dll"]]
        + [("SHA256SUMS", checksums, None)]
        + [(f"{check.__name__.replace('_', ' ')} {driver}", check, driver) for driver in DRIVERS
           for check in (signature_verifies, changed_byte_fails, unsigned_is_the_build, memory_integrity_rules)]
        + [(f"CMake package {width}", cmake_consumer, width) for width in ("x86", "x64")]
        + [(f"wheel {width}", wheel, width) for width in ("x86", "x64")]
        + [(f"paths in {name}", documents, name) for name in ("README.md", "INSTALL.md")]
        + [(f"end to end {width}", end_to_end, width) for width in ("x64", "x86")]
        + [("the same archive again", same_again, None)])


@pytest.mark.parametrize("check, argument", [row[1:] for row in ROWS], ids=[row[0] for row in ROWS])
def test_release(unpacked, check, argument):
    check(unpacked, argument)
