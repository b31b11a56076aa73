# The win32 build: the real 2KZQ4810.dll from the library's sources, its two
# import libraries, its installation, and the test suite run on it under Wine.
# Included from the top-level CMakeLists.txt when cross-building for Windows.

enable_language(RC)
find_program(ZQ4810_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 REQUIRED)

# Programs and the DLL in one folder, so that Wine finds the DLL beside
# whatever runs it.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)

set(ZQ4810_DEF ${PROJECT_SOURCE_DIR}/api/2KZQ4810.def)

# The DLL. A module, not a shared library: its import libraries come from the
# .def below, never from the linker (ld's own, under --kill-at, names the
# functions without their @N and stdcall callers fail to link).
configure_file(api/2KZQ4810.rc.in ${PROJECT_BINARY_DIR}/2KZQ4810.rc @ONLY)
add_library(zq4810_dll MODULE ${ZQ4810_LIBRARY_SOURCES} ${PROJECT_BINARY_DIR}/2KZQ4810.rc ${ZQ4810_DEF})
set_target_properties(zq4810_dll PROPERTIES OUTPUT_NAME 2KZQ4810 PREFIX "" SUFFIX .dll)
target_link_libraries(zq4810_dll PRIVATE zq4810_library_options)
# Small and self-contained: no C runtime, so nothing may call memcpy or
# memset behind the code's back, and no unwind tables for exceptions that
# never happen. Functions get sections of their own so that the linker drops
# what no export reaches; data does not, since on this target that would move
# the zero-filled module state out of .bss into file-backed .data. Arguments
# are pushed rather than stored into a frame reserved up front, and the stack
# is kept at the 4-byte alignment 32-bit Windows guarantees rather than
# realigned to 16: both make the code markedly smaller. No frame reaches the
# guard page (the build refuses one that would), so no stack probes are
# needed either.
target_compile_options(zq4810_dll PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:-Os -ffreestanding -fno-tree-loop-distribute-patterns
    -fno-asynchronous-unwind-tables -fno-unwind-tables -fno-stack-protector
    -ffunction-sections -malign-data=abi -fno-ident
    -mno-accumulate-outgoing-args -mpreferred-stack-boundary=2
    -mno-stack-arg-probe -fomit-frame-pointer -Wframe-larger-than=4000>)
# No entry point: nothing of the library runs on load or unload. It imports
# the nine system functions it calls and nothing else, and asks for no more
# than Windows NT 4.0.
target_link_options(zq4810_dll PRIVATE
    -nostdlib -s
    -Wl,-e,0 -Wl,--kill-at -Wl,--gc-sections -Wl,--no-insert-timestamp
    -Wl,--major-os-version,4 -Wl,--minor-os-version,0
    -Wl,--major-subsystem-version,4 -Wl,--minor-subsystem-version,0)
target_link_libraries(zq4810_dll PRIVATE kernel32 advapi32 user32 gcc)
set_property(TARGET zq4810_dll PROPERTY LINK_DEPENDS ${ZQ4810_DEF})

# The import libraries, from the .def with the decorated names kept for the
# callers (-k drops the @N from the name looked up in the DLL), the target
# programs link and the installation.
set(ZQ4810_DLLTOOL_FLAGS -k)
set(ZQ4810_LLVM_MACHINE i386)
set(ZQ4810_ARCH_DIR "")
include(cmake/dll_package.cmake)

enable_testing()
if(ZQ4810_BUILD_TESTS)
    add_subdirectory(tests)
endif()
