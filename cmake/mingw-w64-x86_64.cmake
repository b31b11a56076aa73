# Cross-building for 64-bit Windows with Debian's mingw-w64 x86_64 toolchain.
#
# The same thread model as the i686 build (posix: the test framework needs
# std::mutex); the DLL uses neither threads nor a C runtime.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
# The first Windows that ran x64 programs.
set(CMAKE_SYSTEM_VERSION 5.2)

set(ZQ4810_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZQ4810_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZQ4810_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ZQ4810_MINGW_TRIPLE}-windres)
set(CMAKE_DLLTOOL ${ZQ4810_MINGW_TRIPLE}-dlltool)
set(CMAKE_FIND_ROOT_PATH /usr/${ZQ4810_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The toolchain's kernel-mode headers, for anything built for kernel mode.
set(ZQ4810_MINGW_DDK_INCLUDE_DIR /usr/${ZQ4810_MINGW_TRIPLE}/include/ddk)

# Programs built here run under 64-bit Wine, headless and quiet, in a prefix
# of their own under the build folder that the tests make when they first
# need it (never the build). On Debian the plain wine command starts the
# 32-bit loader, so the 64-bit one is named; the runner skips a test where it
# is missing.
# The status of a test that this host cannot run, as the i686 build has it.
set(ZQ4810_SKIP_STATUS 77)
set(ZQ4810_WINEPREFIX ${CMAKE_BINARY_DIR}/wine64prefix)
set(ZQ4810_WINE_ENV
    WINEPREFIX=${ZQ4810_WINEPREFIX} WINEARCH=win64 WINEDEBUG=-all
    "WINEDLLOVERRIDES=mscoree,mshtml=" DISPLAY=)
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_COMMAND} -E env ${ZQ4810_WINE_ENV} bash ${CMAKE_CURRENT_LIST_DIR}/wine64-run)
