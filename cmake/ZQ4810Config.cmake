# find_package(ZQ4810) for applications that use 2KZQ4810.dll: one imported
# target, ZQ4810::ZQ4810, carrying the DLL, the import library for the
# compiler in use, and the headers (#include <2KZQ4810/exports.h>).
get_filename_component(_zq4810_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)

if(NOT TARGET ZQ4810::ZQ4810)
    add_library(ZQ4810::ZQ4810 SHARED IMPORTED)
    if(MSVC OR CMAKE_C_SIMULATE_ID STREQUAL "MSVC" OR CMAKE_CXX_SIMULATE_ID STREQUAL "MSVC")
        set(_zq4810_implib "${_zq4810_prefix}/lib/2KZQ4810.lib")
    else()
        set(_zq4810_implib "${_zq4810_prefix}/lib/lib2KZQ4810.dll.a")
    endif()
    set_target_properties(ZQ4810::ZQ4810 PROPERTIES
        IMPORTED_LOCATION "${_zq4810_prefix}/bin/2KZQ4810.dll"
        IMPORTED_IMPLIB "${_zq4810_implib}"
        INTERFACE_INCLUDE_DIRECTORIES "${_zq4810_prefix}/include")
    unset(_zq4810_implib)
endif()
unset(_zq4810_prefix)
