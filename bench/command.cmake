# Benchmarks of the command area.
