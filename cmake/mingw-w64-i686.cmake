# Cross-building for 32-bit Windows with Debian's mingw-w64 i686 toolchain,
# running what it builds under Wine.

set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_SYSTEM_VERSION 4.0)
set(ZQ4810_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

# Programs built here run under Wine, and only in tests, never in the build:
# headless, quiet, in a throwaway 32-bit prefix under the build folder (made
# by a test fixture, see tests/windows). Not every host runs 32-bit Wine, so
# every run goes through the host probe first: where it cannot run, the probe
# prints why and exits with ZQ4810_SKIP_STATUS, which each such test declares
# as its SKIP_RETURN_CODE.
get_filename_component(ZQ4810_PROBE_HOST ${CMAKE_CURRENT_LIST_DIR}/../scripts/probe-host ABSOLUTE)
set(ZQ4810_NEEDS_WINE bash ${ZQ4810_PROBE_HOST} exec)
set(ZQ4810_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(ZQ4810_WINE_ENV
    WINEPREFIX=${ZQ4810_WINEPREFIX} WINEARCH=win32 WINEDEBUG=-all
    "WINEDLLOVERRIDES=mscoree,mshtml=" DISPLAY=)
set(CMAKE_CROSSCOMPILING_EMULATOR ${ZQ4810_NEEDS_WINE} ${CMAKE_COMMAND} -E env ${ZQ4810_WINE_ENV} wine)
