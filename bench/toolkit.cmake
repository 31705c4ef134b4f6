# Benchmarks of the toolkit area.
fast_add_bench(bench_toolkit toolkit_decode.cpp)
