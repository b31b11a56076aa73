# The win64 build: the 64-bit 2KZQ4810.dll from the library's sources, its two
# import libraries, its installation beside the 32-bit one, and the checks of
# the binaries that need no Wine. Included from the top-level CMakeLists.txt
# when cross-building for 64-bit Windows.

enable_language(RC)
find_program(ZQ4810_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 REQUIRED)

set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)

# One list of names and ordinals serves both architectures. The 32-bit one
# writes each stdcall name with its decoration (NAME@N), which --kill-at
# drops from the export; x64 has one calling convention and decorates
# nothing, so the linker and dlltool need the bare names there. They are
# taken from api/2KZQ4810.def at configure time (cmake/exports.cmake).
set(ZQ4810_DEF ${PROJECT_BINARY_DIR}/2KZQ4810.def)
set(def "; Names and ordinals of the exports of the 64-bit DLL, undecorated.\nLIBRARY \"2KZQ4810.dll\"\nEXPORTS\n")
foreach(name ordinal IN ZIP_LISTS ZQ4810_EXPORT_NAMES ZQ4810_EXPORT_ORDINALS)
    string(APPEND def "    ${name} @${ordinal}\n")
endforeach()
file(CONFIGURE OUTPUT ${ZQ4810_DEF} CONTENT "${def}" @ONLY)
unset(def)

# The 64-bit DLL keeps its unwind tables: on x64 every function that calls
# another must have them, or a debugger, a crash dump or an exception raised
# in a system call cannot walk back through it.
set(ZQ4810_DLL_OPTIONS "")
set(ZQ4810_DLL_LINK_OPTIONS "")
set(ZQ4810_WINDOWS_VERSION 5 2) # the first x64 Windows
# The import libraries from the undecorated .def, the target programs link,
# and the installation: the 64-bit files in x64 folders of their own beside
# the 32-bit ones.
set(ZQ4810_DLLTOOL_FLAGS "")
set(ZQ4810_LLVM_MACHINE i386:x86-64)
set(ZQ4810_ARCH_DIR /x64)
include(cmake/windows_dll.cmake)

enable_testing()
if(ZQ4810_BUILD_TESTS)
    add_subdirectory(tests/win64)
endif()
