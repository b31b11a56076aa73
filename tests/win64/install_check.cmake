# Installs the win64 build into a scratch prefix and builds the consumer
# project against it with find_package(ZQ4810): the program must be a 64-bit
# one with the 64-bit DLL beside it, and a 32-bit build must be told that the
# prefix holds no 32-bit DLL. Given WIN32_BINARY_DIR, the win32 build goes
# into the same prefix as well, and each architecture's build must get its
# own DLL. Building only: running the programs needs Wine.
# Run with -P; BINARY_DIR, SOURCE_DIR, WORK_DIR, TOOLCHAIN and OBJDUMP are
# given, WIN32_BINARY_DIR and WIN32_TOOLCHAIN for both architectures.
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/run_checked.cmake)

# Builds the consumer with a toolchain; the program must have the PE magic
# given and the installed DLL named, byte for byte, beside it.
function(consumer name toolchain magic dll)
    set(build ${WORK_DIR}/${name})
    run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${build} -G Ninja
        -DCMAKE_TOOLCHAIN_FILE=${toolchain} -DZQ4810_DIR=${WORK_DIR}/prefix/lib/cmake/ZQ4810)
    run(${CMAKE_COMMAND} --build ${build})
    execute_process(COMMAND ${OBJDUMP} -p ${build}/consumer.exe OUTPUT_VARIABLE headers RESULT_VARIABLE result)
    if(NOT result EQUAL 0 OR NOT headers MATCHES "\nMagic[ \t]+${magic}[ \t\n]" OR NOT headers MATCHES "DLL Name: 2KZQ4810.dll")
        message(FATAL_ERROR "${name}: consumer.exe is not a program of magic ${magic} that imports 2KZQ4810.dll")
    endif()
    file(SHA256 ${build}/2KZQ4810.dll beside)
    file(SHA256 ${WORK_DIR}/prefix/${dll} installed)
    if(NOT beside STREQUAL installed)
        message(FATAL_ERROR "${name}: the DLL beside the program is not ${dll}")
    endif()
    message(STATUS "${name}: a program of magic ${magic}, with ${dll}")
endfunction()

function(expect_installed)
    foreach(file ${ARGN})
        if(NOT EXISTS ${WORK_DIR}/prefix/${file})
            message(FATAL_ERROR "not installed: ${file}")
        endif()
    endforeach()
endfunction()

set(i686_toolchain ${CMAKE_CURRENT_LIST_DIR}/../../cmake/mingw-w64-i686.cmake)
if(DEFINED WIN32_BINARY_DIR AND NOT EXISTS ${WIN32_BINARY_DIR}/bin/2KZQ4810.dll)
    message("skipped: no win32 build in ${WIN32_BINARY_DIR} (build the win32 preset first)")
    return()
endif()

file(REMOVE_RECURSE ${WORK_DIR})
run(${CMAKE_COMMAND} --install ${BINARY_DIR} --prefix ${WORK_DIR}/prefix)
expect_installed(bin/x64/2KZQ4810.dll lib/x64/lib2KZQ4810.dll.a lib/x64/2KZQ4810.lib lib/x64/2KZQ4810.def
    include/2KZQ4810/exports.h lib/cmake/ZQ4810/ZQ4810Config.cmake lib/cmake/ZQ4810/ZQ4810ConfigVersion.cmake)

if(NOT DEFINED WIN32_BINARY_DIR)
    consumer(x64 ${TOOLCHAIN} 020b bin/x64/2KZQ4810.dll)
    # No 32-bit files here: a 32-bit build must not get the 64-bit DLL.
    execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/i686 -G Ninja
                    -DCMAKE_TOOLCHAIN_FILE=${i686_toolchain} -DZQ4810_DIR=${WORK_DIR}/prefix/lib/cmake/ZQ4810
                    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(result EQUAL 0 OR NOT output MATCHES "holds no 32-bit 2KZQ4810.dll")
        message(FATAL_ERROR "a 32-bit build was not refused by a prefix without the 32-bit DLL:\n${output}")
    endif()
    message(STATUS "i686: refused, the prefix holds no 32-bit DLL")
else()
    run(${CMAKE_COMMAND} --install ${WIN32_BINARY_DIR} --prefix ${WORK_DIR}/prefix)
    expect_installed(bin/2KZQ4810.dll lib/lib2KZQ4810.dll.a lib/2KZQ4810.lib lib/2KZQ4810.def)
    consumer(x64 ${TOOLCHAIN} 020b bin/x64/2KZQ4810.dll)
    consumer(i686 ${WIN32_TOOLCHAIN} 010b bin/2KZQ4810.dll)
endif()
