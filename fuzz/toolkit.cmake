# Fuzz harnesses of the toolkit area.
fast_add_fuzzer(fuzz_decode2 fuzz_decode2.cpp)
fast_add_fuzzer(fuzz_decode fuzz_decode.cpp)
