# Tests of the arrays area.
fast_add_gtest(arrays_sort_test arrays_sort.cpp)
fast_add_gtest(arrays_matrix_test arrays_matrix.cpp)
