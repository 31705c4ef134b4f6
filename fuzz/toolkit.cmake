# Fuzz harnesses of the toolkit area.
fast_add_fuzzer(fuzz_decode2 fuzz_decode2.cpp)
fast_add_fuzzer(fuzz_decode fuzz_decode.cpp)
# Compressed input; the harness compresses with zlib, whichever library inflates, and with
# libzstd where the build reads zstd.
find_package(ZLIB REQUIRED)
fast_add_fuzzer(fuzz_decode2_gz fuzz_decode2_gz.cpp)
target_link_libraries(fuzz_decode2_gz PRIVATE ZLIB::ZLIB fast_formats)
target_include_directories(fuzz_decode2_gz PRIVATE ${PROJECT_SOURCE_DIR}/tests)
# The streaming reader against decodeFastq2, on the bytes as they are and compressed.
fast_add_fuzzer(fuzz_stream fuzz_stream.cpp)
target_link_libraries(fuzz_stream PRIVATE ZLIB::ZLIB)
target_include_directories(fuzz_stream PRIVATE ${PROJECT_SOURCE_DIR}/tests)
# The writer on decodeFastq2's entries, read back.
fast_add_fuzzer(fuzz_write fuzz_write.cpp)
target_link_libraries(fuzz_write PRIVATE fast_formats)
# BAM data through the stream, whole and in BGZF blocks of every size.
fast_add_fuzzer(fuzz_bam fuzz_bam.cpp)
target_link_libraries(fuzz_bam PRIVATE ZLIB::ZLIB)
target_include_directories(fuzz_bam PRIVATE ${PROJECT_SOURCE_DIR}/tests)
# Damaged record indexes: refused, or the entries asked for.
fast_add_fuzzer(fuzz_index fuzz_index.cpp)
target_link_libraries(fuzz_index PRIVATE ZLIB::ZLIB)
target_include_directories(fuzz_index PRIVATE ${PROJECT_SOURCE_DIR}/tests)
