# Tests of the toolkit area.
fast_add_gtest(toolkit_tests
    toolkit_entry.cpp
    toolkit_decode.cpp
    toolkit_decode2.cpp
    toolkit_property.cpp
    LIBS ZLIB::ZLIB fast_formats LABEL toolkit)

# The decoders over the shared hostile files, which the `hostile` fixture writes first.
fast_add_gtest(toolkit_hostile_tests HOSTILE toolkit_hostile.cpp LIBS ZLIB::ZLIB fast_formats
               LABEL toolkit)
