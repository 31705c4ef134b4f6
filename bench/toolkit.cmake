# Benchmarks of the toolkit area.
