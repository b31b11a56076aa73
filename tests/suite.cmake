# The sources of the one test suite, shared by every program that runs it.
set(ZQ4810_SUITE_SOURCES
    support.cpp
    board_test.cpp
    channel_test.cpp
    heap_test.cpp
    registration_test.cpp
    fault_injection_test.cpp
    sim/hardware_test.cpp
    sim/registry_matches_windows_test.cpp
    sim/registry_edges_match_windows_test.cpp)
list(TRANSFORM ZQ4810_SUITE_SOURCES PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
