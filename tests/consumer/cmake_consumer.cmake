# Configure, build and run an out-of-tree CMake project against the installed package, and check
# which libfast the program took (see consumer_check_linkage):
# cmake -DSOURCE_DIR=... -DBINARY_DIR=... -DPREFIX=... -DLIBDIR=<prefix>/lib -DGENERATOR=...
#       -DBUILD_TYPE=... -DPROGRAM=<target> -DEXPECTED=<file> -DLINKAGE=shared|static
#       -DSOVERSION=... [-DARGS=a|b] [-DCONFIGURE_ARGS=a|b] -P cmake_consumer.cmake
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)
consumer_require(SOURCE_DIR BINARY_DIR PREFIX LIBDIR GENERATOR BUILD_TYPE PROGRAM EXPECTED LINKAGE
                 SOVERSION)
# A shared consumer must find libfast.so through the run path CMake gave it, nothing else.
unset(ENV{LD_LIBRARY_PATH})

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
consumer_check_linkage("${program}" ${LINKAGE} "${LIBDIR}" ${SOVERSION})
consumer_expect_output("${EXPECTED}" "${program}" ${args})
