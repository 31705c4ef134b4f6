#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "fast.h"

namespace {

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};

// Number of indexes lo..hi (hi >= lo) as an unsigned count; false when it is 2^64.
bool span(int64_t lo, int64_t hi, uint64_t *count) {
    return !__builtin_add_overflow(static_cast<uint64_t>(hi) - static_cast<uint64_t>(lo), 1u,
                                   count);
}

// Bytes of `count` elements of `size` bytes, if one allocation can hold them.
bool bytes(uint64_t count, std::size_t size, uint64_t *total) {
    return !__builtin_mul_overflow(count, size, total) && *total <= PTRDIFF_MAX;
}

// The address that `first` takes when indexes start at `index` rather than 0: start minus
// index elements, computed on integers so that no pointer ever leaves its allocation.
// False when that address is outside the address space.
bool offset(const void *start, int64_t index, std::size_t size, uintptr_t *out) {
    int64_t shift;
    return !__builtin_mul_overflow(index, static_cast<int64_t>(size), &shift) &&
           !__builtin_sub_overflow(reinterpret_cast<uintptr_t>(start), shift, out);
}

template <class T>
T **matrix(const char *table_error, const char *block_error, int64_t rl, int64_t rh, int64_t cl,
           int64_t ch) {
    if (rh < rl || ch < cl) return nullptr;
    uint64_t rows, cols, table_bytes, cells, block_bytes;
    std::unique_ptr<T *, FreeDeleter> table;
    if (span(rl, rh, &rows) && bytes(rows, sizeof(T *), &table_bytes))
        table.reset(static_cast<T **>(std::calloc(rows, sizeof(T *))));
    if (!table) {
        std::puts(table_error);
        return nullptr;
    }

    std::unique_ptr<T, FreeDeleter> block;
    if (span(cl, ch, &cols) && !__builtin_mul_overflow(rows, cols, &cells) &&
        bytes(cells, sizeof(T), &block_bytes))
        block.reset(static_cast<T *>(std::calloc(cells, sizeof(T))));
    if (!block) {
        std::puts(block_error);
        return nullptr;
    }

    // Row addresses grow with the row, so checking the first and the last row covers all.
    uintptr_t first_row, last_row, rows_base;
    T *const last_start = block.get() + (rows - 1) * cols;
    if (!offset(block.get(), cl, sizeof(T), &first_row) ||
        !offset(last_start, cl, sizeof(T), &last_row) ||
        !offset(table.get(), rl, sizeof(T *), &rows_base))
        return nullptr;
    const uintptr_t row_bytes = cols * sizeof(T);
    for (uint64_t r = 0; r < rows; ++r)
        table.get()[r] = reinterpret_cast<T *>(first_row + r * row_bytes);

    block.release();
    table.release();
    return reinterpret_cast<T **>(rows_base);
}

}  // namespace

extern "C" {

char **cmatrix(int64_t rl, int64_t rh, int64_t cl, int64_t ch) {
    return matrix<char>("error cmatrix: calloc error No. 1 ", "error cmatrix: calloc error No. 2 ",
                        rl, rh, cl, ch);
}

int32_t **imatrix(int64_t rl, int64_t rh, int64_t cl, int64_t ch) {
    return matrix<int32_t>("error imatrix: calloc error No. 1 ",
                           "error imatrix: calloc error No. 2 ", rl, rh, cl, ch);
}

}  // extern "C"
