# Install the build tree into a fresh PREFIX: cmake -DBUILD_DIR=... -DPREFIX=... [-DCONFIG=...]
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)
consumer_require(BUILD_DIR PREFIX)

file(REMOVE_RECURSE "${PREFIX}")
set(config "")
if(CONFIG)
    set(config --config "${CONFIG}")
endif()
consumer_step("cmake --install" "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
              ${config})
