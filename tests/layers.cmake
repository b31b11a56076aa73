# Holds the layers to their order: each folder of the library, the board
# model, the platform seam and the driver may include only what lies below it
# (api -> install, board -> channel -> common -> platform), and none of them
# the simulated platform. At the bottom, include/: the public header
# (2KZQ4810/exports.h, the contract every caller holds) and the shared facts
# (zq4810/: result values, registry paths), which the library, the simulator,
# the tool and the tests may all include, and which include nothing else. Run as a test:
#   cmake -DSOURCE_DIR=<source tree> -P tests/layers.cmake
# Fails with every include that breaks the table below.

# Folder, then what its files may include: a folder (ending in /) or a file.
set(folders include api install board channel common model platform platform/sim driver)
set(allowed_include include/)
set(allowed_api api/ install/ board/ channel/ common/ include/)
set(allowed_install install/ common/ platform/win32.h include/)
set(allowed_board board/ channel/ common/ include/)
set(allowed_channel channel/ common/ platform/win32.h include/)
set(allowed_common common/ platform/win32.h include/)
# Freestanding: not even the C library.
set(allowed_model model/)
set(freestanding_model TRUE)
set(allowed_platform)
# The simulator takes the registration's paths from the shared facts.
set(allowed_platform/sim platform/sim/ platform/win32.h model/ include/)
set(allowed_driver driver/ model/)

set(broken 0)
foreach(folder IN LISTS folders)
    if(folder STREQUAL "platform")
        # The seam itself; platform/sim/ has its own row.
        file(GLOB files RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/platform/*.h ${SOURCE_DIR}/platform/*.cpp)
    else()
        file(GLOB_RECURSE files RELATIVE ${SOURCE_DIR}
            ${SOURCE_DIR}/${folder}/*.h ${SOURCE_DIR}/${folder}/*.c ${SOURCE_DIR}/${folder}/*.cpp)
        # A folder's own tests are not part of it.
        list(FILTER files EXCLUDE REGEX "/tests/")
    endif()
    foreach(file IN LISTS files)
        get_filename_component(directory ${file} DIRECTORY)
        file(STRINGS ${SOURCE_DIR}/${file} includes REGEX "^[ \t]*#[ \t]*include")
        foreach(line IN LISTS includes)
            if(line MATCHES "\"([^\"]+)\"")
                set(target ${CMAKE_MATCH_1})
                if(NOT target MATCHES "/")
                    set(target ${directory}/${target}) # beside the including file
                elseif(target MATCHES "^(2KZQ4810|zq4810)/")
                    set(target include/${target}) # found through include/
                endif()
                set(fits FALSE)
                foreach(allowed IN LISTS allowed_${folder})
                    string(LENGTH "${allowed}" length)
                    string(SUBSTRING "${target}" 0 ${length} start)
                    if(target STREQUAL allowed OR (allowed MATCHES "/$" AND start STREQUAL allowed))
                        set(fits TRUE)
                    endif()
                endforeach()
                if(NOT fits)
                    message(SEND_ERROR "${file}: includes ${target}, which ${folder}/ may not reach")
                    math(EXPR broken "${broken} + 1")
                endif()
            elseif(freestanding_${folder})
                message(SEND_ERROR "${file}: ${line}: ${folder}/ is freestanding and includes no system header")
                math(EXPR broken "${broken} + 1")
            endif()
        endforeach()
    endforeach()
endforeach()

if(broken GREATER 0)
    message(FATAL_ERROR "${broken} include(s) against the layers")
endif()
message(STATUS "every include of ${folders} points down the layers")
