# Benchmarks of the command area: bench/command_bench.sh drives these two programs and the
# built clean_replace over one generated table.
add_executable(command_gen command_gen.cpp)
add_executable(command_fscanf_ref command_fscanf_ref.cpp)
target_link_libraries(command_gen PRIVATE fast_warnings)
target_link_libraries(command_fscanf_ref PRIVATE fast_warnings)
