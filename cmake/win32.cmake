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

# The 32-bit DLL's own options: no unwind tables for exceptions that never
# happen; arguments pushed rather than stored into a frame reserved up front,
# and the stack kept at the 4-byte alignment 32-bit Windows guarantees rather
# than realigned to 16: both make the code markedly smaller. The stdcall
# names are exported undecorated.
set(ZQ4810_DLL_OPTIONS -fno-asynchronous-unwind-tables -fno-unwind-tables
    -mno-accumulate-outgoing-args -mpreferred-stack-boundary=2)
set(ZQ4810_DLL_LINK_OPTIONS -Wl,--kill-at)
set(ZQ4810_WINDOWS_VERSION 4 0) # Windows NT 4.0

# The import libraries, from the .def with the decorated names kept for the
# callers (-k drops the @N from the name looked up in the DLL), the target
# programs link and the installation.
set(ZQ4810_DLLTOOL_FLAGS -k)
set(ZQ4810_LLVM_MACHINE i386)
set(ZQ4810_ARCH_DIR "")
include(cmake/windows_dll.cmake)

enable_testing()
if(ZQ4810_BUILD_TESTS)
    add_subdirectory(tests)
endif()
