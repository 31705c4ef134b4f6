# Build a C program with a plain compiler command line from pkg-config, then run it:
# cmake -DPKG_CONFIG=... -DPKGCONFIG_DIR=<prefix>/.../pkgconfig -DCC=... -DSOURCE=<file.c>
#       -DBINARY_DIR=... -DEXPECTED=<file> -DEXPECTED_VERSION=... [-DCFLAGS="-a -b"] [-DARGS=a|b]
#       -P pkg_config_consumer.cmake
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)
consumer_require(PKG_CONFIG PKGCONFIG_DIR CC SOURCE BINARY_DIR EXPECTED EXPECTED_VERSION)

if(NOT PKG_CONFIG)
    message("SKIPPED: pkg-config is not installed")
    return()
endif()
string(REPLACE "|" ";" args "${ARGS}")
separate_arguments(cflags UNIX_COMMAND "${CFLAGS}")
set(ENV{PKG_CONFIG_PATH} "${PKGCONFIG_DIR}")

execute_process(COMMAND "${PKG_CONFIG}" --modversion fast RESULT_VARIABLE rc
                OUTPUT_VARIABLE version ERROR_VARIABLE err OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT rc EQUAL 0 OR NOT version STREQUAL EXPECTED_VERSION)
    message(FATAL_ERROR "pkg-config --modversion fast: '${version}' (${rc}), expected "
                        "'${EXPECTED_VERSION}'\n${err}")
endif()
execute_process(COMMAND "${PKG_CONFIG}" --cflags --libs fast RESULT_VARIABLE rc
                OUTPUT_VARIABLE flags ERROR_VARIABLE err OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "pkg-config --cflags --libs fast failed (${rc})\n${err}")
endif()
message(STATUS "pkg-config --cflags --libs fast: ${flags}")
separate_arguments(flags UNIX_COMMAND "${flags}")

file(REMOVE_RECURSE "${BINARY_DIR}")
file(MAKE_DIRECTORY "${BINARY_DIR}")
get_filename_component(name "${SOURCE}" NAME_WE)
set(program "${BINARY_DIR}/${name}")
consumer_step("compile and link" "${CC}" ${cflags} "${SOURCE}" ${flags} -o "${program}")
consumer_expect_output("${EXPECTED}" "${program}" ${args})
