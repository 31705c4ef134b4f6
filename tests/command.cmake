# Tests of the command area: the scanner and count against glibc, the filter pass with injected
# faults, and the built binary on tables (hostile ones included).
fast_add_gtest(command_test HOSTILE
    command_scan_test.cpp
    command_filter_test.cpp
    command_cli_test.cpp
    command_reference.cpp
    LIBS clean_replace_core fast_formats ZLIB::ZLIB LABEL command)
target_compile_definitions(command_test PRIVATE CLEAN_REPLACE_BIN="$<TARGET_FILE:clean_replace>")
add_dependencies(command_test clean_replace)
