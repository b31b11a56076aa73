# find_package(ZQ4810) for applications that use 2KZQ4810.dll: one imported
# target, ZQ4810::ZQ4810, carrying the DLL (its location, so that
# $<TARGET_RUNTIME_DLLS:app> names it and a build can copy it beside the
# program), the import library for the compiler in use (its implib), and the
# headers (#include <2KZQ4810/exports.h>).
#
# One installation may hold both architectures: the 32-bit files in bin/ and
# lib/, the 64-bit ones in bin/x64/ and lib/x64/. The release archive keeps
# them in x86/ and lib/x86/, x64/ and lib/x64/. A build gets the DLL its
# programs can load, by its pointer size.
get_filename_component(_zq4810_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(_zq4810_bits 64)
    set(_zq4810_width x64)
    set(_zq4810_bin "${_zq4810_prefix}/bin/x64")
    set(_zq4810_lib "${_zq4810_prefix}/lib/x64")
else()
    set(_zq4810_bits 32)
    set(_zq4810_width x86)
    set(_zq4810_bin "${_zq4810_prefix}/bin")
    set(_zq4810_lib "${_zq4810_prefix}/lib")
endif()
# Only the archive has lib/x86/ (an installation's 32-bit files lie in lib/).
if(EXISTS "${_zq4810_prefix}/lib/x86")
    set(_zq4810_bin "${_zq4810_prefix}/${_zq4810_width}")
    set(_zq4810_lib "${_zq4810_prefix}/lib/${_zq4810_width}")
endif()

if(NOT EXISTS "${_zq4810_bin}/2KZQ4810.dll")
    set(ZQ4810_FOUND FALSE)
    set(ZQ4810_NOT_FOUND_MESSAGE
        "this installation holds no ${_zq4810_bits}-bit 2KZQ4810.dll (${_zq4810_bin}); install the build of that architecture into it")
elseif(NOT TARGET ZQ4810::ZQ4810)
    add_library(ZQ4810::ZQ4810 SHARED IMPORTED)
    if(MSVC OR CMAKE_C_SIMULATE_ID STREQUAL "MSVC" OR CMAKE_CXX_SIMULATE_ID STREQUAL "MSVC")
        set(_zq4810_implib "${_zq4810_lib}/2KZQ4810.lib")
    else()
        set(_zq4810_implib "${_zq4810_lib}/lib2KZQ4810.dll.a")
    endif()
    set_target_properties(ZQ4810::ZQ4810 PROPERTIES
        IMPORTED_LOCATION "${_zq4810_bin}/2KZQ4810.dll"
        IMPORTED_IMPLIB "${_zq4810_implib}"
        INTERFACE_INCLUDE_DIRECTORIES "${_zq4810_prefix}/include")
    unset(_zq4810_implib)
endif()
unset(_zq4810_bits)
unset(_zq4810_width)
unset(_zq4810_bin)
unset(_zq4810_lib)
unset(_zq4810_prefix)
