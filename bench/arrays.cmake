# Benchmarks of the arrays area.
fast_add_bench(bench_arrays arrays_sort.cpp)
