# Steps shared by the packaging test scripts (run with cmake -P).

# consumer_step(<what> <command>...): run a command; stop the test with its output if it fails.
function(consumer_step what)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
        list(JOIN ARGN " " cmd)
        message(FATAL_ERROR "${what} failed (${rc}):\n${cmd}\n${out}${err}")
    endif()
endfunction()

# consumer_expect_output(<expected-file> <command>...): run a program; its exit status must be 0,
# its standard output byte for byte the expected file and its standard error empty.
function(consumer_expect_output expected)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    file(READ "${expected}" want)
    if(NOT rc EQUAL 0 OR NOT out STREQUAL want OR NOT err STREQUAL "")
        list(JOIN ARGN " " cmd)
        message(FATAL_ERROR "${cmd}\nexit status ${rc}\n--- expected stdout\n${want}"
                            "--- actual stdout\n${out}--- stderr\n${err}")
    endif()
    message(STATUS "output as expected:\n${out}")
endfunction()

# consumer_require(<var>...): every named -D definition must be given.
function(consumer_require)
    foreach(var IN LISTS ARGN)
        if(NOT DEFINED ${var})
            message(FATAL_ERROR "missing -D${var}=...")
        endif()
    endforeach()
endfunction()

# consumer_check_linkage(<program> <shared|static> <libdir> <soversion>): "shared": the program
# names libfast.so.<soversion> and the loader finds it in <libdir>, with the environment this
# script runs it in; "static": the program loads no libfast at all.
function(consumer_check_linkage program linkage libdir soversion)
    find_program(ldd ldd REQUIRED)
    execute_process(COMMAND "${ldd}" "${program}" RESULT_VARIABLE rc OUTPUT_VARIABLE out
                    ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "ldd ${program} failed (${rc}):\n${out}${err}")
    endif()
    string(REPLACE "." "\\." soname "libfast.so.${soversion}")
    if(linkage STREQUAL "static")
        if(out MATCHES "libfast")
            message(FATAL_ERROR "${program} should hold libfast.a, but loads a libfast:\n${out}")
        endif()
    elseif(NOT out MATCHES "[ \t]${soname} => ([^ ]+)")
        message(FATAL_ERROR "${program} does not load libfast.so.${soversion}:\n${out}")
    else()
        file(REAL_PATH "${CMAKE_MATCH_1}" loaded)
        file(REAL_PATH "${libdir}" libdir_real)
        get_filename_component(loaded_dir "${loaded}" DIRECTORY)
        if(NOT loaded_dir STREQUAL libdir_real)
            message(FATAL_ERROR "${program} loads ${CMAKE_MATCH_1}, not the one in ${libdir}")
        endif()
    endif()
    message(STATUS "${program}: ${linkage} libfast as expected")
endfunction()
