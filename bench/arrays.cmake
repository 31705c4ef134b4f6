# Benchmarks of the arrays area.
fast_add_bench(arrays_bench arrays_sort.cpp)
