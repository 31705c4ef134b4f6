# In a fuzz build, each harness of fuzz/ (a target named fuzz_*) also becomes a CTest test that
# replays its committed seed corpus fuzz/corpus/<harness>/ once, without fuzzing: a quick
# regression run (ctest --preset fuzz). The timed fuzzing is cmake/run-fuzzers.sh (make fuzz).
enable_testing()
get_property(_fast_fuzz_targets DIRECTORY ${PROJECT_SOURCE_DIR}/fuzz PROPERTY BUILDSYSTEM_TARGETS)
foreach(_target IN LISTS _fast_fuzz_targets)
    if(NOT _target MATCHES "^fuzz_")
        continue()
    endif()
    set(_corpus ${PROJECT_SOURCE_DIR}/fuzz/corpus/${_target})
    if(NOT IS_DIRECTORY ${_corpus})
        message(WARNING "fuzz harness ${_target} has no seed corpus ${_corpus}")
        continue()
    endif()
    # -runs=0 runs every corpus input once and adds nothing to the folder.
    add_test(NAME fuzz.${_target}.corpus COMMAND ${_target} -runs=0 ${_corpus})
endforeach()
