# Benchmarks of the toolkit area.
fast_add_bench(bench_toolkit toolkit_decode.cpp)
# bench/toolkit_bench.sh times this program beside other tools.
add_executable(toolkit_run toolkit_run.cpp)
target_link_libraries(toolkit_run PRIVATE fast fast_warnings)
# bench/stream_bench.sh times the streaming reader's loop beside the kseq loop, which is built
# only where the Debian package libhts-dev put htslib/kseq.h; the script says so when it is not.
add_executable(stream_count stream_count.c)
target_link_libraries(stream_count PRIVATE fast fast_warnings)
add_executable(index_tool index_tool.c)
target_link_libraries(index_tool PRIVATE fast fast_warnings)
find_path(FAST_KSEQ_INCLUDE_DIR htslib/kseq.h)
find_package(ZLIB)
if(FAST_KSEQ_INCLUDE_DIR AND ZLIB_FOUND)
    add_executable(kseq_count kseq_count.c)
    target_include_directories(kseq_count PRIVATE ${FAST_KSEQ_INCLUDE_DIR})
    target_link_libraries(kseq_count PRIVATE ZLIB::ZLIB fast_warnings)
else()
    message(STATUS "htslib/kseq.h or zlib not found: no kseq_count, the stream benchmark skips it")
endif()
