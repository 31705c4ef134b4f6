# Build a C program with a plain compiler command line from pkg-config, then run it:
# cmake -DPKG_CONFIG=... -DPKGCONFIG_DIR=<prefix>/.../pkgconfig -DCC=... -DSOURCE=<file.c>
#       -DBINARY_DIR=... -DEXPECTED=<file> -DEXPECTED_VERSION=... -DLINKAGE=shared|static
#       -DSOVERSION=... [-DCFLAGS="-a -b"] [-DARGS=a|b] -P pkg_config_consumer.cmake
# shared: `pkg-config --libs`, run with LD_LIBRARY_PATH at the library directory, as a user of a
# private prefix would. static: `pkg-config --static --libs` with -lfast turned into -l:libfast.a
# (the linker would take libfast.so beside it), so the private libraries must suffice.
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)
consumer_require(PKG_CONFIG PKGCONFIG_DIR CC SOURCE BINARY_DIR EXPECTED EXPECTED_VERSION LINKAGE
                 SOVERSION)

if(NOT PKG_CONFIG)
    message(FATAL_ERROR "pkg-config is not installed (scripts/install-deps test installs it)")
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
set(query --cflags --libs fast)
if(LINKAGE STREQUAL "static")
    list(PREPEND query --static)
endif()
execute_process(COMMAND "${PKG_CONFIG}" ${query} RESULT_VARIABLE rc
                OUTPUT_VARIABLE flags ERROR_VARIABLE err OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND "${PKG_CONFIG}" --variable=libdir fast RESULT_VARIABLE rc2
                OUTPUT_VARIABLE libdir ERROR_VARIABLE err2 OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT rc EQUAL 0 OR NOT rc2 EQUAL 0)
    message(FATAL_ERROR "pkg-config ${query} failed (${rc}, ${rc2})\n${err}${err2}")
endif()
list(JOIN query " " shown)
message(STATUS "pkg-config ${shown}: ${flags}")
separate_arguments(flags UNIX_COMMAND "${flags}")
if(LINKAGE STREQUAL "static")
    list(TRANSFORM flags REPLACE "^-lfast$" "-l:libfast.a")
    unset(ENV{LD_LIBRARY_PATH})
else()
    set(ENV{LD_LIBRARY_PATH} "${libdir}")
endif()

file(REMOVE_RECURSE "${BINARY_DIR}")
file(MAKE_DIRECTORY "${BINARY_DIR}")
get_filename_component(name "${SOURCE}" NAME_WE)
set(program "${BINARY_DIR}/${name}")
consumer_step("compile and link" "${CC}" ${cflags} "${SOURCE}" ${flags} -o "${program}")
consumer_check_linkage("${program}" ${LINKAGE} "${libdir}" ${SOVERSION})
consumer_expect_output("${EXPECTED}" "${program}" ${args})
