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
