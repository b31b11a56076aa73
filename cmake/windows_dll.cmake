# What both Windows builds make: the DLL from the library's sources, its two
# import libraries from the .def, the target that programs of the build link,
# and the installation with a package configuration for find_package(ZQ4810).
# Included by cmake/win32.cmake and cmake/win64.cmake, which set before it:
#   ZQ4810_DEF               the .def the DLL is linked with
#   ZQ4810_DLL_OPTIONS       the width's own compile options of the DLL
#   ZQ4810_DLL_LINK_OPTIONS  the width's own link options
#   ZQ4810_WINDOWS_VERSION   the oldest Windows asked for (major;minor)
#   ZQ4810_DLLTOOL_FLAGS     flags of both dlltools (the 32-bit build's -k)
#   ZQ4810_LLVM_MACHINE      llvm-dlltool's machine
#   ZQ4810_ARCH_DIR          the folder below bin/ and lib/ for this width
#                            ("" for 32-bit, "/x64")

# The DLL. A module, not a shared library: its import libraries come from the
# .def below, never from the linker (ld's own, under --kill-at, names the
# functions without their @N and stdcall callers fail to link).
configure_file(api/2KZQ4810.rc.in ${PROJECT_BINARY_DIR}/2KZQ4810.rc @ONLY)
add_library(zq4810_dll MODULE ${ZQ4810_LIBRARY_SOURCES} ${PROJECT_BINARY_DIR}/2KZQ4810.rc ${ZQ4810_DEF})
set_target_properties(zq4810_dll PROPERTIES OUTPUT_NAME 2KZQ4810 PREFIX "" SUFFIX .dll)
target_link_libraries(zq4810_dll PRIVATE zq4810_library_options)
# Small and self-contained: no C runtime, so nothing may call memcpy or
# memset behind the code's back. Functions get sections of their own so that
# the linker drops what no export reaches; data does not, since that would
# move the zero-filled module state out of .bss into file-backed .data. No
# frame pointer: it costs every function level three instructions. No frame
# reaches the guard page (the build refuses one that would), so no stack
# probes are needed either.
target_compile_options(zq4810_dll PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:-Os -ffreestanding -fno-tree-loop-distribute-patterns
    -fno-stack-protector -ffunction-sections -malign-data=abi -fno-ident
    -mno-stack-arg-probe -fomit-frame-pointer -Wframe-larger-than=4000 ${ZQ4810_DLL_OPTIONS}>)
# No entry point: nothing of the library runs on load or unload. It imports
# the nine system functions it calls and nothing else, and asks for no newer
# Windows than the oldest of its width.
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/maps)
list(GET ZQ4810_WINDOWS_VERSION 0 major)
list(GET ZQ4810_WINDOWS_VERSION 1 minor)
target_link_options(zq4810_dll PRIVATE
    -nostdlib -s
    -Wl,-e,0 ${ZQ4810_DLL_LINK_OPTIONS} -Wl,--gc-sections -Wl,--no-insert-timestamp
    -Wl,--major-os-version,${major} -Wl,--minor-os-version,${minor}
    -Wl,--major-subsystem-version,${major} -Wl,--minor-subsystem-version,${minor}
    # The linker's map names the functions of the stripped image, for
    # scripts/coverage; it changes no byte of the DLL.
    -Wl,-Map,${PROJECT_BINARY_DIR}/maps/2KZQ4810.dll.map)
target_link_libraries(zq4810_dll PRIVATE kernel32 advapi32 user32 gcc)
set_property(TARGET zq4810_dll PROPERTY LINK_DEPENDS ${ZQ4810_DEF})

# GNU dlltool names the archive's members and symbols after the output's
# path as given: run in the output's folder, it gives every build the same
# bytes wherever the build lies.
set(ZQ4810_IMPLIB_GNU ${PROJECT_BINARY_DIR}/lib/lib2KZQ4810.dll.a)
set(ZQ4810_IMPLIB_MSVC ${PROJECT_BINARY_DIR}/lib/2KZQ4810.lib)
add_custom_command(
    OUTPUT ${ZQ4810_IMPLIB_GNU} ${ZQ4810_IMPLIB_MSVC}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/lib
    COMMAND ${CMAKE_DLLTOOL} ${ZQ4810_DLLTOOL_FLAGS} -d ${ZQ4810_DEF} -l lib2KZQ4810.dll.a
    COMMAND ${ZQ4810_LLVM_DLLTOOL} -m ${ZQ4810_LLVM_MACHINE} ${ZQ4810_DLLTOOL_FLAGS} -d ${ZQ4810_DEF}
            -l ${ZQ4810_IMPLIB_MSVC}
    DEPENDS ${ZQ4810_DEF}
    WORKING_DIRECTORY ${PROJECT_BINARY_DIR}/lib
    COMMENT "Import libraries of 2KZQ4810.dll (${ZQ4810_LLVM_MACHINE})"
    VERBATIM)
add_custom_target(zq4810_implibs ALL DEPENDS ${ZQ4810_IMPLIB_GNU} ${ZQ4810_IMPLIB_MSVC} zq4810_dll)

# What a program of this build links to use the DLL as an application does:
# target_link_libraries(app PRIVATE ZQ4810::dll).
add_library(zq4810_dll_import INTERFACE)
add_library(ZQ4810::dll ALIAS zq4810_dll_import)
target_include_directories(zq4810_dll_import INTERFACE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/include)
target_link_libraries(zq4810_dll_import INTERFACE ${ZQ4810_IMPLIB_GNU})
add_dependencies(zq4810_dll_import zq4810_implibs)

# Installation. The header and the package configuration are the same for
# both widths, and one prefix can hold both: the package picks by the pointer
# size of the build that asks for it.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)
install(TARGETS zq4810_dll LIBRARY DESTINATION ${CMAKE_INSTALL_BINDIR}${ZQ4810_ARCH_DIR})
install(FILES ${ZQ4810_IMPLIB_GNU} ${ZQ4810_IMPLIB_MSVC} ${ZQ4810_DEF}
    DESTINATION ${CMAKE_INSTALL_LIBDIR}${ZQ4810_ARCH_DIR})
install(FILES include/2KZQ4810/exports.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/2KZQ4810)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ZQ4810ConfigVersion.cmake
    COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES cmake/ZQ4810Config.cmake ${PROJECT_BINARY_DIR}/ZQ4810ConfigVersion.cmake
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/ZQ4810)
