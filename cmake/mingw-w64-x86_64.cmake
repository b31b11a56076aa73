# Cross-building for 64-bit Windows with Debian's mingw-w64 x86_64 toolchain.

set(CMAKE_SYSTEM_PROCESSOR x86_64)
# The first Windows that ran x64 programs.
set(CMAKE_SYSTEM_VERSION 5.2)
set(ZQ4810_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

# Programs built here run under 64-bit Wine, headless and quiet, in a prefix
# of their own under the build folder that the tests make when they first
# need it (never the build). On Debian the plain wine command starts the
# 32-bit loader, so the 64-bit one is named; the runner skips a test where it
# is missing.
set(ZQ4810_WINEPREFIX ${CMAKE_BINARY_DIR}/wine64prefix)
set(ZQ4810_WINE_ENV
    WINEPREFIX=${ZQ4810_WINEPREFIX} WINEARCH=win64 WINEDEBUG=-all
    "WINEDLLOVERRIDES=mscoree,mshtml=" DISPLAY=)
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_COMMAND} -E env ${ZQ4810_WINE_ENV} bash ${CMAKE_CURRENT_LIST_DIR}/wine64-run)
