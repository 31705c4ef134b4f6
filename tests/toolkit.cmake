# Tests of the toolkit area.
fast_add_gtest(toolkit_tests
    toolkit_entry.cpp
    toolkit_decode.cpp
    toolkit_decode2.cpp
    toolkit_property.cpp)

# The decoders over the shared hostile files, which the `hostile` fixture writes first.
add_executable(toolkit_hostile_tests toolkit_hostile.cpp)
target_link_libraries(toolkit_hostile_tests PRIVATE fast GTest::gtest GTest::gtest_main fast_warnings)
target_compile_definitions(toolkit_hostile_tests PRIVATE FAST_HOSTILE_DIR="${FAST_HOSTILE_DIR}")
gtest_discover_tests(toolkit_hostile_tests DISCOVERY_TIMEOUT 60
                     PROPERTIES FIXTURES_REQUIRED hostile)
