# The exports' one list is api/2KZQ4810.def: each line "NAME@N @ORDINAL",
# N the bytes of arguments the 32-bit function removes. Everything else that
# must know the exports takes them from there through this file:
#   ZQ4810_EXPORT_NAMES, ZQ4810_EXPORT_ORDINALS, ZQ4810_EXPORT_ARGUMENTS
#       the eleven, in the .def's order (arguments: 32-bit words);
#   ZQ4810_EXPORT_DEF   the .def itself;
#   ZQ4810_GENERATED_DIR, holding zq4810/export_table.h, a header for C and
#       C++ with one row per export:
#           #define ZQ4810_EXPORTS(ROW) ROW(NAME, ORDINAL, ARGUMENTS) ...
# Configuring again follows any change to the .def.
set(ZQ4810_EXPORT_DEF ${PROJECT_SOURCE_DIR}/api/2KZQ4810.def)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ZQ4810_EXPORT_DEF})
file(STRINGS ${ZQ4810_EXPORT_DEF} export_lines REGEX "^[ \t]+[A-Za-z_]")
set(ZQ4810_EXPORT_NAMES)
set(ZQ4810_EXPORT_ORDINALS)
set(ZQ4810_EXPORT_ARGUMENTS)
set(export_rows)
foreach(line IN LISTS export_lines)
    if(NOT line MATCHES "^[ \t]+([A-Za-z_][A-Za-z0-9_]*)@([0-9]+)[ \t]+@([0-9]+)[ \t]*$")
        message(FATAL_ERROR "${ZQ4810_EXPORT_DEF}: '${line}' is not NAME@N @ORDINAL")
    endif()
    math(EXPR words "${CMAKE_MATCH_2} / 4")
    list(APPEND ZQ4810_EXPORT_NAMES ${CMAKE_MATCH_1})
    list(APPEND ZQ4810_EXPORT_ORDINALS ${CMAKE_MATCH_3})
    list(APPEND ZQ4810_EXPORT_ARGUMENTS ${words})
    string(APPEND export_rows "    ROW(\"${CMAKE_MATCH_1}\", ${CMAKE_MATCH_3}, ${words}) \\\n")
endforeach()
list(LENGTH ZQ4810_EXPORT_NAMES export_count)
if(NOT export_count EQUAL 11)
    message(FATAL_ERROR "${ZQ4810_EXPORT_DEF}: ${export_count} exports found, 11 expected")
endif()
set(ZQ4810_GENERATED_DIR ${PROJECT_BINARY_DIR}/generated)
file(CONFIGURE OUTPUT ${ZQ4810_GENERATED_DIR}/zq4810/export_table.h CONTENT
"/* The eleven exports, made from api/2KZQ4810.def when the build is configured:
 * ROW(name, ordinal, 32-bit arguments). Do not edit: edit the .def. */
#ifndef ZQ4810_EXPORT_TABLE_H
#define ZQ4810_EXPORT_TABLE_H
#define ZQ4810_EXPORTS(ROW) \\
${export_rows}
#endif
" @ONLY)
unset(export_lines)
unset(export_rows)
