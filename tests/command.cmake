# Tests of the command area: the scanner and count against glibc, the filter pass with injected
# faults, and the built binary on tables (hostile ones included).
add_executable(command_test
    command_scan_test.cpp
    command_filter_test.cpp
    command_cli_test.cpp
    command_reference.cpp)
target_link_libraries(command_test PRIVATE clean_replace_core GTest::gtest GTest::gtest_main fast_warnings)
target_include_directories(command_test PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_definitions(command_test PRIVATE
    FAST_HOSTILE_DIR="${FAST_HOSTILE_DIR}"
    CLEAN_REPLACE_BIN="$<TARGET_FILE:clean_replace>")
add_dependencies(command_test clean_replace)
gtest_discover_tests(command_test DISCOVERY_TIMEOUT 60 PROPERTIES FIXTURES_REQUIRED hostile)
