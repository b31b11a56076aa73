# Installs the build into a scratch prefix and builds the consumer project
# against it with find_package(ZQ4810). Running the consumer under Wine is a
# test of its own (install.find_package.run), so this part runs on any host.
# Run with -P; BINARY_DIR, SOURCE_DIR, WORK_DIR and TOOLCHAIN are given.
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/run_checked.cmake)

file(REMOVE_RECURSE ${WORK_DIR})
run(${CMAKE_COMMAND} --install ${BINARY_DIR} --prefix ${WORK_DIR}/prefix)
foreach(file bin/2KZQ4810.dll lib/lib2KZQ4810.dll.a lib/2KZQ4810.lib lib/2KZQ4810.def include/2KZQ4810/exports.h
        lib/cmake/ZQ4810/ZQ4810Config.cmake lib/cmake/ZQ4810/ZQ4810ConfigVersion.cmake)
    if(NOT EXISTS ${WORK_DIR}/prefix/${file})
        message(FATAL_ERROR "not installed: ${file}")
    endif()
endforeach()
run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/consumer -B ${WORK_DIR}/build -G Ninja
    -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN} -DZQ4810_DIR=${WORK_DIR}/prefix/lib/cmake/ZQ4810)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
message(STATUS "the installed package builds an application")
