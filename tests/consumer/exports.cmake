# The shared library exports exactly the functions that fast.h declares, and the static library
# defines exactly those with C linkage: nothing declared goes missing (say, compiled hidden), no
# C++ symbol escapes, and a declaration the header parse overlooked shows up as an extra:
# cmake -DNM=<nm> -DHEADER=<fast.h> -DSHARED=<libfast.so> -DSTATIC=<libfast.a> -P exports.cmake
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/FastPublicSymbols.cmake)
consumer_require(NM HEADER SHARED STATIC)

fast_public_functions("${HEADER}" declared)
if(NOT declared)
    message(FATAL_ERROR "no function found in ${HEADER}")
endif()

# symbols_of(<out-var> <type-regex> <nm-argument>...): defined global symbols whose nm type
# letter matches, by name.
function(symbols_of out types)
    execute_process(COMMAND "${NM}" ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE text
                    ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "${NM} ${ARGN} failed (${rc}):\n${err}")
    endif()
    string(REGEX MATCHALL "[^\n]+" lines "${text}")
    set(names "")
    foreach(line IN LISTS lines)
        if(line MATCHES "^[0-9a-fA-F]* *(${types}) ([^ ]+)$")
            list(APPEND names "${CMAKE_MATCH_2}")
        endif()
    endforeach()
    list(REMOVE_DUPLICATES names)
    list(SORT names)
    set(${out} ${names} PARENT_SCOPE)
endfunction()

# compare(<what> <names-var>): the names must be the declared functions.
function(compare what names_var)
    if(NOT "${${names_var}}" STREQUAL "${declared}")
        set(missing ${declared})
        set(extra ${${names_var}})
        if(extra)
            list(REMOVE_ITEM missing ${extra})
        endif()
        list(REMOVE_ITEM extra ${declared})
        message(FATAL_ERROR "${what} differ from the functions of ${HEADER}\n"
                            "missing: ${missing}\nextra: ${extra}")
    endif()
endfunction()

symbols_of(exported "[A-Za-z]" -D --defined-only "${SHARED}")
compare("the dynamic symbols of ${SHARED}" exported)
# Code symbols with C linkage (C++ names are mangled, _Z...).
symbols_of(defined "T" -g --defined-only "${STATIC}")
list(FILTER defined EXCLUDE REGEX "^_Z")
compare("the C functions defined in ${STATIC}" defined)
list(LENGTH declared n)
message(STATUS "libfast.so exports the ${n} functions of fast.h and nothing else")
