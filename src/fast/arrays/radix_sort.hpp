// Sorting integer keys that have no companion arrays. Nothing moves with such keys, so every
// method that sorts leaves the same array, bit for bit; these take the fastest we have.
#ifndef FAST_RADIX_SORT_HPP
#define FAST_RADIX_SORT_HPP

#include <cstdint>

namespace fast {

// Sorts key[0 .. n - 1] into non-decreasing order in place: no allocation, nothing read or
// written outside the range, and nothing touched when n <= 1.
void radixSort(int32_t n, int32_t *key) noexcept;
void radixSort(int32_t n, int64_t *key) noexcept;

}  // namespace fast

#endif  // FAST_RADIX_SORT_HPP
