# The install tree holds exactly the expected files, and the exported package carries none of the
# project's own build settings: cmake -DPREFIX=... -DEXPECTED=path|path|... -P installed_files.cmake
# (fastTargets-<config>.cmake stands for the per-configuration file, whatever the configuration).
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)
consumer_require(PREFIX EXPECTED)

string(REPLACE "|" ";" expected "${EXPECTED}")
list(SORT expected)
file(GLOB_RECURSE actual LIST_DIRECTORIES false RELATIVE "${PREFIX}" "${PREFIX}/*")
list(TRANSFORM actual REPLACE "fastTargets-[a-z]+\\.cmake$" "fastTargets-<config>.cmake")
list(SORT actual)
if(NOT actual STREQUAL expected)
    set(missing ${expected})
    list(REMOVE_ITEM missing ${actual})
    set(extra ${actual})
    list(REMOVE_ITEM extra ${expected})
    message(FATAL_ERROR "installed files differ\nmissing: ${missing}\nunexpected: ${extra}")
endif()

file(GLOB targets "${PREFIX}/*/cmake/fast/fastTargets*.cmake" "${PREFIX}/*/*/cmake/fast/fastTargets*.cmake")
foreach(file IN LISTS targets)
    file(READ "${file}" text)
    if(text MATCHES "fast_warnings|-W(all|extra|pedantic|error)")
        message(FATAL_ERROR "${file} exports the project's warning settings: ${CMAKE_MATCH_0}")
    endif()
endforeach()
message(STATUS "installed: ${actual}")
