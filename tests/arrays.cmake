# Tests of the arrays area.
fast_add_gtest(arrays_sort_test arrays_sort.cpp)
# The sort tests once more with the integer sorts built without their AVX2 path, as processors
# without AVX2, and other processors, run them: this copy of radix_sort.cpp stands in for the
# library's.
fast_add_gtest(arrays_sort_scalar_test arrays_sort.cpp ${PROJECT_SOURCE_DIR}/src/fast/arrays/radix_sort.cpp
               SUFFIX .scalar)
target_compile_definitions(arrays_sort_scalar_test PRIVATE FAST_SORT_VECTOR=0)
fast_add_gtest(arrays_matrix_test arrays_matrix.cpp)
