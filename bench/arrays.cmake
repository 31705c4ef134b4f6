# Benchmarks of the arrays area.
