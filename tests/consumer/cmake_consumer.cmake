# Configure, build and run an out-of-tree CMake project against the installed package:
# cmake -DSOURCE_DIR=... -DBINARY_DIR=... -DPREFIX=... -DGENERATOR=... -DBUILD_TYPE=...
#       -DPROGRAM=<target> -DEXPECTED=<file> [-DARGS=a|b] [-DCOMPILERS=...] [-DCONFIGURE_ARGS=a|b]
#       -P cmake_consumer.cmake
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)
consumer_require(SOURCE_DIR BINARY_DIR PREFIX GENERATOR BUILD_TYPE PROGRAM EXPECTED)

string(REPLACE "|" ";" args "${ARGS}")
string(REPLACE "|" ";" configure_args "${CONFIGURE_ARGS}")
file(REMOVE_RECURSE "${BINARY_DIR}")
consumer_step("configure" "${CMAKE_COMMAND}" -S "${SOURCE_DIR}" -B "${BINARY_DIR}"
              -G "${GENERATOR}" -DCMAKE_BUILD_TYPE=${BUILD_TYPE} "-DCMAKE_PREFIX_PATH=${PREFIX}"
              -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF ${configure_args})

# The package must come from the fresh install, not from anything else on the machine.
file(STRINGS "${BINARY_DIR}/CMakeCache.txt" found REGEX "^fast_DIR:")
string(REGEX REPLACE "^[^=]*=" "" found "${found}")
file(REAL_PATH "${PREFIX}" prefix_real)
file(REAL_PATH "${found}" found_real)
string(FIND "${found_real}/" "${prefix_real}/" at)
if(NOT at EQUAL 0)
    message(FATAL_ERROR "find_package(fast) took ${found}, not the package under ${PREFIX}")
endif()

consumer_step("build" "${CMAKE_COMMAND}" --build "${BINARY_DIR}" --config ${BUILD_TYPE})
find_program(program NAMES ${PROGRAM} PATHS "${BINARY_DIR}" "${BINARY_DIR}/${BUILD_TYPE}"
             NO_DEFAULT_PATH REQUIRED)
consumer_expect_output("${EXPECTED}" "${program}" ${args})
