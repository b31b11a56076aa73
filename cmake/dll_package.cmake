# What both Windows builds make around the DLL: its two import libraries from
# the .def, the target that programs of the build link, and the installation
# with a package configuration for find_package(ZQ4810). Included by
# cmake/win32.cmake and cmake/win64.cmake, which set before it:
#   ZQ4810_DEF               the .def the DLL is linked with
#   ZQ4810_DLLTOOL_FLAGS     flags of both dlltools (the 32-bit build's -k)
#   ZQ4810_LLVM_MACHINE      llvm-dlltool's machine
#   ZQ4810_ARCH_DIR          the folder below bin/ and lib/ for this width
#                            ("" for 32-bit, "/x64")

set(ZQ4810_IMPLIB_GNU ${PROJECT_BINARY_DIR}/lib/lib2KZQ4810.dll.a)
set(ZQ4810_IMPLIB_MSVC ${PROJECT_BINARY_DIR}/lib/2KZQ4810.lib)
add_custom_command(
    OUTPUT ${ZQ4810_IMPLIB_GNU} ${ZQ4810_IMPLIB_MSVC}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/lib
    COMMAND ${CMAKE_DLLTOOL} ${ZQ4810_DLLTOOL_FLAGS} -d ${ZQ4810_DEF} -l ${ZQ4810_IMPLIB_GNU}
    COMMAND ${ZQ4810_LLVM_DLLTOOL} -m ${ZQ4810_LLVM_MACHINE} ${ZQ4810_DLLTOOL_FLAGS} -d ${ZQ4810_DEF}
            -l ${ZQ4810_IMPLIB_MSVC}
    DEPENDS ${ZQ4810_DEF}
    COMMENT "Import libraries of 2KZQ4810.dll (${ZQ4810_LLVM_MACHINE})"
    VERBATIM)
add_custom_target(zq4810_implibs ALL DEPENDS ${ZQ4810_IMPLIB_GNU} ${ZQ4810_IMPLIB_MSVC} zq4810_dll)

# What a program of this build links to use the DLL as an application does:
# target_link_libraries(app PRIVATE ZQ4810::dll).
add_library(zq4810_dll_import INTERFACE)
add_library(ZQ4810::dll ALIAS zq4810_dll_import)
target_include_directories(zq4810_dll_import INTERFACE ${PROJECT_SOURCE_DIR})
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
install(FILES api/exports.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/2KZQ4810)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ZQ4810ConfigVersion.cmake
    COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES cmake/ZQ4810Config.cmake ${PROJECT_BINARY_DIR}/ZQ4810ConfigVersion.cmake
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/ZQ4810)
