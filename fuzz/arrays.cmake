# Fuzz harnesses of the arrays area.
fast_add_fuzzer(fuzz_sort fuzz_sort.cpp)
target_include_directories(fuzz_sort PRIVATE ${PROJECT_SOURCE_DIR}/tests)
