# Render a man page with every groff warning enabled; any warning fails:
# cmake -DGROFF=<groff> -DPAGE=<page.1> [-DMANDOC=<mandoc>] [-DREQUIRED=ON] -P CheckManPage.cmake
# Without groff the check is skipped, or fails with REQUIRED; mandoc's lint runs when it is given.
if(NOT GROFF)
    if(REQUIRED)
        message(FATAL_ERROR "groff is not installed (Debian: groff-base)")
    endif()
    message("SKIPPED: groff is not installed")
    return()
endif()
execute_process(COMMAND "${GROFF}" -man -ww -z "${PAGE}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT "${out}${err}" STREQUAL "")
    message(FATAL_ERROR "groff -man -ww -z ${PAGE} (${rc}):\n${out}${err}")
endif()
if(MANDOC)
    execute_process(COMMAND "${MANDOC}" -Tlint -W warning "${PAGE}"
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT rc EQUAL 0 OR NOT "${out}${err}" STREQUAL "")
        message(FATAL_ERROR "mandoc -Tlint ${PAGE} (${rc}):\n${out}${err}")
    endif()
endif()
message(STATUS "${PAGE} renders without warnings")
