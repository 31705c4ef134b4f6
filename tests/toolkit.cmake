# Tests of the toolkit area.
fast_add_gtest(toolkit_tests
    toolkit_entry.cpp
    toolkit_decode.cpp
    toolkit_decode2.cpp
    toolkit_property.cpp
    toolkit_writer.cpp
    LIBS ZLIB::ZLIB fast_formats LABEL toolkit)

# The decoders over the shared hostile files, which the `hostile` fixture writes first.
fast_add_gtest(toolkit_hostile_tests HOSTILE toolkit_hostile.cpp LIBS ZLIB::ZLIB fast_formats
               LABEL toolkit)

# The streaming example built in the tree, on a pair whose second file (two entries, from a pipe)
# ends first: the stream's reason on standard error after the pairs before it, and status 1.
add_test(NAME example.stream_fastq_second_ends_first
         COMMAND sh -c "head -n 8 \"$1\" | \"$0\" \"$1\" -; echo \"status $?\""
                 $<TARGET_FILE:stream_fastq> ${PROJECT_SOURCE_DIR}/examples/reads.fq)
set_tests_properties(example.stream_fastq_second_ends_first PROPERTIES
                     PASS_REGULAR_EXPRESSION "the second file ended first, after 2 entries\nstatus 1")
