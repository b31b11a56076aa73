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
# taken from api/2KZQ4810.def at configure time, and configuring again
# follows any change to it.
set(ZQ4810_DEF_SOURCE ${PROJECT_SOURCE_DIR}/api/2KZQ4810.def)
set(ZQ4810_DEF ${PROJECT_BINARY_DIR}/2KZQ4810.def)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ZQ4810_DEF_SOURCE})
file(STRINGS ${ZQ4810_DEF_SOURCE} def_lines)
set(def "; Names and ordinals of the exports of the 64-bit DLL, undecorated.\n")
set(def_exports 0)
foreach(line IN LISTS def_lines)
    if(line MATCHES "^[ \t]*;")
        continue()
    endif()
    if(line MATCHES "^([ \t]+)([A-Za-z_][A-Za-z0-9_]*)@[0-9]+([ \t]+@[0-9]+)[ \t]*$")
        set(line "${CMAKE_MATCH_1}${CMAKE_MATCH_2}${CMAKE_MATCH_3}")
        math(EXPR def_exports "${def_exports} + 1")
    elseif(line MATCHES "@[0-9]+[ \t]+@")
        message(FATAL_ERROR "${ZQ4810_DEF_SOURCE}: cannot undecorate '${line}'")
    endif()
    string(APPEND def "${line}\n")
endforeach()
if(NOT def_exports EQUAL 11)
    message(FATAL_ERROR "${ZQ4810_DEF_SOURCE}: ${def_exports} exports found, 11 expected")
endif()
file(CONFIGURE OUTPUT ${ZQ4810_DEF} CONTENT "${def}" @ONLY)
unset(def)
unset(def_lines)

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
