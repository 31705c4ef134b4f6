# Fuzz harnesses of the command area: the scanner and the whole filter, each differential
# against a plain fscanf/printf reference. Filter inputs that start with a compressed format's
# magic go through the input layer, as the command reads them.
foreach(_harness fuzz_scan fuzz_filter)
    fast_add_fuzzer(${_harness} ${_harness}.cpp ${PROJECT_SOURCE_DIR}/tests/command_reference.cpp)
    target_link_libraries(${_harness} PRIVATE clean_replace_core)
    target_include_directories(${_harness} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
endforeach()
