#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "fast.h"

namespace {

struct Bounds {
    int64_t rl, rh, cl, ch;
};

// Writes a distinct value through m[i][j], then reads the block back in one linear walk:
// row i must start (i - rl) rows into the block and column j sit (j - cl) into its row.
template <class T>
void walk(T **m, const Bounds &b) {
    const int64_t cols = b.ch - b.cl + 1, cells = (b.rh - b.rl + 1) * cols;
    for (int64_t i = b.rl; i <= b.rh; ++i)
        for (int64_t j = b.cl; j <= b.ch; ++j) {
            ASSERT_EQ(T{0}, m[i][j]);
            m[i][j] = static_cast<T>((i - b.rl) * cols + (j - b.cl) + 1);
        }
    const T *block = &m[b.rl][b.cl];
    for (int64_t k = 0; k < cells; ++k) ASSERT_EQ(static_cast<T>(k + 1), block[k]) << k;
}

TEST(Matrix, IndexesRowsAndBlockAlike) {
    const Bounds cases[] = {
        {1, 3, 1, 4},
        {0, 0, 0, 9},
        {0, 4, 1, 5},
        {-3, 2, -7, -1},
        {5, 5, -2, -2},
        {-1000, -990, 10000, 10003},
        {0, 300, 0, 2},
        {int64_t{1} << 32, (int64_t{1} << 32) + 2, -(int64_t{1} << 33), -(int64_t{1} << 33) + 1}};
    for (const auto &b : cases) {
        SCOPED_TRACE(std::to_string(b.rl) + ".." + std::to_string(b.rh) + " x " +
                     std::to_string(b.cl) + ".." + std::to_string(b.ch));
        char **c = cmatrix(b.rl, b.rh, b.cl, b.ch);
        int32_t **m = imatrix(b.rl, b.rh, b.cl, b.ch);
        ASSERT_NE(nullptr, c);
        ASSERT_NE(nullptr, m);
        walk(c, b);
        walk(m, b);
        free(&c[b.rl][b.cl]);
        free(&c[b.rl]);
        free(&m[b.rl][b.cl]);
        free(&m[b.rl]);
    }
}

TEST(Matrix, RefusesBoundsItCannotAllocate) {
    constexpr int64_t kBig = int64_t{1} << 61, kMax = INT64_MAX, kMin = INT64_MIN,
                      kFar = int64_t{1} << 50;
    struct {
        Bounds b;
        std::string c_message, i_message;
    } const cases[] = {
        {{3, 2, 0, 0}, "", ""},  // inverted bounds
        {{0, 0, 5, 4}, "", ""},
        {{kMax, kMax, 0, 0}, "", ""},  // origins outside the address space
        {{0, 0, kMax, kMax}, "", ""},
        {{kFar, kFar, 0, 0}, "", ""},
        {{0, 0, kFar, kFar}, "", ""},
        {{kMin, kMax, 0, 0},
         "error cmatrix: calloc error No. 1 \n",  // 2^64 rows
         "error imatrix: calloc error No. 1 \n"},
        {{0, kBig - 1, 0, 0},
         "error cmatrix: calloc error No. 1 \n",  // 2^64 table bytes
         "error imatrix: calloc error No. 1 \n"},
        {{0, 1, kMin, kMax},
         "error cmatrix: calloc error No. 2 \n",  // 2^64 columns
         "error imatrix: calloc error No. 2 \n"},
        {{0, 3, 0, kMax / 2},
         "error cmatrix: calloc error No. 2 \n",  // 2^64 cells
         "error imatrix: calloc error No. 2 \n"},
        {{0, 0, 0, kBig - 1}, "", "error imatrix: calloc error No. 2 \n"},  // 2^63 bytes
    };
    for (const auto &t : cases) {
        const Bounds &b = t.b;
        ::testing::internal::CaptureStdout();
        int32_t **m = imatrix(b.rl, b.rh, b.cl, b.ch);
        EXPECT_EQ(nullptr, m);
        EXPECT_EQ(t.i_message, ::testing::internal::GetCapturedStdout());
        if (t.c_message.empty() && !t.i_message.empty()) continue;  // fits as bytes
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(nullptr, cmatrix(b.rl, b.rh, b.cl, b.ch));
        EXPECT_EQ(t.c_message, ::testing::internal::GetCapturedStdout());
    }
}

}  // namespace
