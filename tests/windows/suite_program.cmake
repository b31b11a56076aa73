# The test suite cross-built into a Windows program that links to the real
# 2KZQ4810.dll through its import library: the same sources for the 32-bit
# and the 64-bit DLL (the harness follows the width being built). Included by
# tests/windows and tests/win64.
include(${CMAKE_CURRENT_LIST_DIR}/../suite.cmake)
set(ZQ4810_WINDOWS_SUITE_DIR ${CMAKE_CURRENT_LIST_DIR})

# GoogleTest from the sources Debian installs, built for Windows. It needs
# the posix thread model's C++ library; it runs without threads here.
set(ZQ4810_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources to build for Windows")
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${ZQ4810_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# zq4810_windows_suite(TARGET TEST): the program TARGET, with the simulated
# platform for the DLL's redirected imports (its registry store is the
# system's registry), run as the one ctest test TEST under the build's Wine
# (needing the fixture "wine"). Listing its tests would take a run under
# Wine, at build time or, where Wine cannot run, as a test that fails before
# it can skip; so its own report, REPORT.xml with the other programs'
# reports, holds the result of each test (named relative to the folder it
# runs in: the program takes a Unix absolute path for a relative one).
function(zq4810_windows_suite target test report)
    list(TRANSFORM ZQ4810_SIM_SOURCES PREPEND ${PROJECT_SOURCE_DIR}/ OUTPUT_VARIABLE sim_sources)
    set(dir ${ZQ4810_WINDOWS_SUITE_DIR})
    add_executable(${target}
        ${ZQ4810_SUITE_SOURCES}
        ${sim_sources}
        ${dir}/main.cpp
        ${dir}/heap_counter.cpp
        ${dir}/imports.cpp
        ${dir}/binary_test.cpp)
    target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/include ${ZQ4810_GENERATED_DIR})
    target_link_libraries(${target} PRIVATE ZQ4810::dll zq4810_warnings gtest version)
    target_link_options(${target} PRIVATE -static)
    file(RELATIVE_PATH report ${CMAKE_CURRENT_BINARY_DIR} ${ZQ4810_PROGRAM_REPORTS}/${report}.xml)
    add_test(NAME ${test} COMMAND ${target} --gtest_output=xml:${report}
        WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
    set_tests_properties(${test} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 300 LABELS wine-suite
        SKIP_RETURN_CODE ${ZQ4810_SKIP_STATUS})
endfunction()
