// Uses the C interface from C++17 with standard containers: a companion-array sort on 64-bit keys,
// the string sort and an offset-indexed matrix released by its documented rule. (Its columns start
// at 0: gcc 12 takes free(&m[rl][cl]) with cl != 0 for a freed interior pointer and warns.)
#include <fast.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

int main() {
    if (std::strcmp(FAST_VERSION_STRING, FAST_PACKAGE_VERSION) != 0) {
        std::printf("fast.h says %s, the package says %s\n", FAST_VERSION_STRING,
                    FAST_PACKAGE_VERSION);
        return 1;
    }

    std::vector<int64_t> keys = {5000000000, -7, 42, -5000000000, 0, 9, 3, 1000000, -1, 8};
    std::vector<int32_t> ids(keys.size());
    for (size_t i = 0; i < ids.size(); ++i) ids[i] = static_cast<int32_t>(i);
    ArraySort_Mix(static_cast<int32_t>(keys.size()), keys.data(), ids.data());
    std::printf("ArraySort_Mix:");
    for (size_t i = 0; i < keys.size(); ++i) std::printf(" %lld/%d", (long long)keys[i], ids[i]);
    std::printf("\n");

    char slots[5][16] = {"delta", "alpha", "echo", "bravo", "charlie"};
    char *strings[5];
    int32_t order[5];
    for (int32_t i = 0; i < 5; ++i) {
        strings[i] = slots[i];
        order[i] = i;
    }
    ArraySort_String(5, strings, order);
    std::printf("ArraySort_String:");
    for (int32_t i = 0; i < 5; ++i) std::printf(" %s/%d", strings[i], order[i]);
    std::printf("\n");

    int32_t **m = imatrix(-1, 1, 0, 2);
    if (m == nullptr) return 1;
    const int32_t *block = &m[-1][0];
    int32_t nonzero = 0;
    for (int32_t k = 0; k < 9; ++k) nonzero += block[k] != 0;
    for (int32_t i = -1; i <= 1; ++i)
        for (int32_t j = 0; j <= 2; ++j) m[i][j] = i * 100 + j;
    std::printf("imatrix[-1..1][0..2]: %d non-zero at first, block", nonzero);
    for (int32_t k = 0; k < 9; ++k) std::printf(" %d", block[k]);
    std::printf("\n");
    std::free(&m[-1][0]);
    std::free(&m[-1]);
    return 0;
}
