# Benchmarks of the toolkit area.
fast_add_bench(bench_toolkit toolkit_decode.cpp)
# bench/toolkit_bench.sh times this program beside other tools.
add_executable(toolkit_run toolkit_run.cpp)
target_link_libraries(toolkit_run PRIVATE fast fast_warnings)
