# Benchmarks of the toolkit area.
fast_add_bench(toolkit_bench toolkit_decode.cpp)
