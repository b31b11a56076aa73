# The sources of the one test suite, shared by every program that runs it.
set(ZQ4810_SUITE_SOURCES
    support.cpp
    board_model_test.cpp
    board_test.cpp
    channel_test.cpp
    heap_test.cpp
    registration_test.cpp
    registry_test.cpp
    registry_edges_test.cpp
    fault_injection_test.cpp)
list(TRANSFORM ZQ4810_SUITE_SOURCES PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
