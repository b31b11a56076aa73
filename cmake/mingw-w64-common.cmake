# What both mingw-w64 toolchain files share, for the triple they set
# (ZQ4810_MINGW_TRIPLE). The posix thread model is the one whose C++ library
# has std::mutex (the test framework needs it); the DLL itself uses neither
# threads nor a C runtime, so it builds with either.
set(CMAKE_SYSTEM_NAME Windows)
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

# The status of a test that this host cannot run: each test that needs Wine
# declares it as its SKIP_RETURN_CODE.
set(ZQ4810_SKIP_STATUS 77)
